// SHVConfig's methods: the settings dialog and the configuration blob.
#include "cfg/shv_config.h"

#include <cstring>
#include <string>

#include "cfg/com_failure.h"
#include "cfg/dialog_hook.h"
#include "cfg/settings_dialog.h"
#include "common/settings.h"
#include "kern/logger.h"
#include "kern/strings.h"

#ifndef ERROR_ARITHMETIC_OVERFLOW
#define ERROR_ARITHMETIC_OVERFLOW 534L
#endif

namespace shv_cfg {

namespace {
constexpr size_t max_blob_size = 0xFFFF;

// Which settings of a blob are in the store and which are not, and why.
void log_partial_save(const shv_settings::write_report_t& report) {
  if (!kern_n::log_enabled(lvl_error)) return;
  std::string stored;
  for (const char* name : report.stored) stored += std::string(stored.empty() ? "" : ", ") + name;
  std::string failed;
  for (const auto& [name, error] : report.failed) {
    failed += string_format("%s%s (error %lu)", failed.empty() ? "" : ", ", name, static_cast<unsigned long>(error));
  }
  KLOG(lvl_error, "INapComponentConfig::SetConfig: %u of %u settings stored (%s); not stored: %s",
       static_cast<unsigned>(report.stored.size()), static_cast<unsigned>(report.stored.size() + report.failed.size()),
       stored.empty() ? "none" : stored.c_str(), failed.c_str());
}

}  // namespace

HRESULT SHVConfig::QueryInterface(REFIID riid, void** object) {
  return base_n::query_single<INapComponentConfig>(this, riid, IID_INapComponentConfig, object);
}

HRESULT SHVConfig::IsUISupported(BOOL* supported) {
  if (supported == nullptr) return E_POINTER;
  *supported = TRUE;
  return S_OK;
}

HRESULT SHVConfig::InvokeUI(HWND parent) {
  try {
    // The system's dialog code finds the template through the host's
    // FindResourceW; routed to ours it picks the thread's language. The
    // hook goes with the last dialog of the process, also when the dialog
    // code throws.
    const dialog_hook_user_t hook;
    registry_source_t registry;
    return edit_settings(module_handle(), parent, registry);
  } catch (...) {
    return com_failure("INapComponentConfig::InvokeUI");
  }
}

HRESULT SHVConfig::GetConfig(UINT16* count, BYTE** data) {
  if (count == nullptr || data == nullptr) return E_POINTER;
  try {
    const std::string blob = shv_settings::to_blob(shv_settings::read_stored());
    if (blob.size() > max_blob_size) {
      KLOG(lvl_error, "INapComponentConfig::GetConfig: the configuration blob of %u bytes does not fit in %u",
           static_cast<unsigned>(blob.size()), static_cast<unsigned>(max_blob_size));
      return HRESULT_FROM_WIN32(ERROR_ARITHMETIC_OVERFLOW);
    }
    auto* buffer = static_cast<BYTE*>(CoTaskMemAlloc(blob.size()));
    if (buffer == nullptr) return E_OUTOFMEMORY;
    std::memcpy(buffer, blob.data(), blob.size());
    *count = static_cast<UINT16>(blob.size());
    *data = buffer;
    return S_OK;
  } catch (...) {
    return com_failure("INapComponentConfig::GetConfig");
  }
}

HRESULT SHVConfig::SetConfig(UINT16 count, BYTE* data) {
  if (data == nullptr && count != 0) return E_POINTER;
  try {
    const std::string blob = data != nullptr ? std::string(reinterpret_cast<const char*>(data), count) : std::string();
    const shv_settings::write_report_t report = shv_settings::save(lstr_t(blob.data(), blob.size()));
    if (report.failed.empty()) return S_OK;
    log_partial_save(report);
    return HRESULT_FROM_WIN32(report.first_error());
  } catch (...) {
    return com_failure("INapComponentConfig::SetConfig");
  }
}

}  // namespace shv_cfg
