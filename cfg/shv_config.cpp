// SHVConfig's methods: the settings dialog and the configuration blob.
#include "cfg/shv_config.h"

#include <cstring>
#include <string>

#include "base/api_hook.h"
#include "base/resources.h"
#include "cfg/com_failure.h"
#include "cfg/settings_dialog.h"
#include "common/settings.h"
#include "kern/logger.h"

#ifndef ERROR_ARITHMETIC_OVERFLOW
#define ERROR_ARITHMETIC_OVERFLOW 534L
#endif

namespace shv_cfg {

namespace {
constexpr size_t max_blob_size = 0xFFFF;
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
    // hook goes with this scope, also when the dialog code throws.
    const base_n::api_hook_t hook(reinterpret_cast<const void*>(&base_n::find_resource<WCHAR>), nullptr,
                                  "kernel32.dll", "FindResourceW", base_n::api_hook_t::policy_log);
    show_settings_dialog(module_handle(), parent);
  } catch (...) {
    com_failure("INapComponentConfig::InvokeUI");
  }
  return S_OK;
}

HRESULT SHVConfig::GetConfig(UINT16* count, BYTE** data) {
  if (count == nullptr || data == nullptr) return E_POINTER;
  try {
    std::string blob;
    shv_settings::load(blob);
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
    shv_settings::save(lstr_t(blob.data(), blob.size()));
    return S_OK;
  } catch (...) {
    return com_failure("INapComponentConfig::SetConfig");
  }
}

}  // namespace shv_cfg
