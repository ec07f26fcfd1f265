// SHVConfig's methods: the settings dialog, the configuration blob, and the
// configurations of the network policies.
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

// Hands the blob out in task memory the caller frees; on failure the
// outputs stay untouched.
HRESULT hand_out(const std::string& blob, const char* method, UINT16* count, BYTE** data) {
  if (blob.size() > max_blob_size) {
    KLOG(lvl_error, "%s: the configuration blob of %u bytes does not fit in %u", method,
         static_cast<unsigned>(blob.size()), static_cast<unsigned>(max_blob_size));
    return HRESULT_FROM_WIN32(ERROR_ARITHMETIC_OVERFLOW);
  }
  auto* buffer = static_cast<BYTE*>(CoTaskMemAlloc(blob.size()));
  if (buffer == nullptr) return E_OUTOFMEMORY;
  std::memcpy(buffer, blob.data(), blob.size());
  *count = static_cast<UINT16>(blob.size());
  *data = buffer;
  return S_OK;
}

lstr_t blob_of(UINT16 count, const BYTE* data) {
  return data != nullptr ? lstr_t(reinterpret_cast<const char*>(data), count) : lstr_t("", 0);
}

// A blob written to the store: S_OK, or what kept it out (and what became of
// the settings written before).
HRESULT saved(const char* method, const shv_settings::write_report_t& report) {
  if (report.error == ERROR_SUCCESS) return S_OK;
  if (kern_n::log_enabled(lvl_error)) KLOG(lvl_error, "%s: %s", method, shv_settings::describe(report).c_str());
  return HRESULT_FROM_WIN32(report.error);
}

}  // namespace

HRESULT SHVConfig::QueryInterface(REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_INapComponentConfig) ||
      IsEqualIID(riid, IID_INapComponentConfig2) || IsEqualIID(riid, IID_INapComponentConfig3)) {
    *object = static_cast<INapComponentConfig3*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
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
    // The console knows no answer but S_OK for a dialog that could not be
    // shown: edit_settings has logged why.
    return edit_settings(module_handle(), parent, registry).read;
  } catch (...) {
    return com_failure("INapComponentConfig::InvokeUI");
  }
}

HRESULT SHVConfig::GetConfig(UINT16* count, BYTE** data) {
  if (count == nullptr || data == nullptr) return E_POINTER;
  try {
    return hand_out(shv_settings::to_blob(shv_settings::read_stored()), "INapComponentConfig::GetConfig", count, data);
  } catch (...) {
    return com_failure("INapComponentConfig::GetConfig");
  }
}

HRESULT SHVConfig::SetConfig(UINT16 count, BYTE* data) {
  if (data == nullptr && count != 0) return E_POINTER;
  try {
    return saved("INapComponentConfig::SetConfig", shv_settings::save(blob_of(count, data)));
  } catch (...) {
    return com_failure("INapComponentConfig::SetConfig");
  }
}

HRESULT SHVConfig::IsRemoteConfigSupported(BOOL* supported, UINT8* type) {
  if (supported == nullptr || type == nullptr) return E_POINTER;
  *supported = TRUE;
  *type = remoteConfigTypeConfigBlob;
  return S_OK;
}

HRESULT SHVConfig::InvokeUIForMachine(HWND, CountedString*) { return E_NOTIMPL; }

HRESULT SHVConfig::InvokeUIFromConfigBlob(HWND parent, UINT16 in_count, BYTE* in_data, UINT16* out_count,
                                          BYTE** out_data, BOOL* changed) {
  if (out_count == nullptr || out_data == nullptr || changed == nullptr || (in_data == nullptr && in_count != 0)) {
    return E_POINTER;
  }
  *out_count = 0;
  *out_data = nullptr;
  *changed = FALSE;
  try {
    const shv_settings::values_t given = shv_settings::from_blob(blob_of(in_count, in_data));
    blob_source_t blob(given);
    const dialog_hook_user_t hook;
    const HRESULT shown = edit_settings(module_handle(), parent, blob).first_failure();
    if (FAILED(shown) || !blob.kept()) return shown;
    const HRESULT hr = hand_out(shv_settings::to_blob(*blob.kept()), "INapComponentConfig2::InvokeUIFromConfigBlob",
                                out_count, out_data);
    if (SUCCEEDED(hr)) *changed = *blob.kept() != given ? TRUE : FALSE;
    return hr;
  } catch (...) {
    return com_failure("INapComponentConfig2::InvokeUIFromConfigBlob");
  }
}

HRESULT SHVConfig::NewConfig(UINT32 id) {
  if (id == 0) return E_INVALIDARG;
  try {
    const DWORD rc = shv_settings::create_configuration(id, shv_settings::read_stored());
    if (rc == ERROR_ALREADY_EXISTS) return NAP_E_SHV_CONFIG_EXISTED;
    return rc == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(rc);
  } catch (...) {
    return com_failure("INapComponentConfig3::NewConfig");
  }
}

HRESULT SHVConfig::DeleteConfig(UINT32 id) {
  if (id == 0) return E_INVALIDARG;
  try {
    const DWORD rc = shv_settings::delete_configuration(id);
    if (rc == ERROR_FILE_NOT_FOUND) return NAP_E_SHV_CONFIG_NOT_FOUND;
    return rc == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(rc);
  } catch (...) {
    return com_failure("INapComponentConfig3::DeleteConfig");
  }
}

HRESULT SHVConfig::DeleteAllConfig() {
  try {
    const DWORD rc = shv_settings::delete_all_configurations();
    return rc == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(rc);
  } catch (...) {
    return com_failure("INapComponentConfig3::DeleteAllConfig");
  }
}

HRESULT SHVConfig::GetConfigFromID(UINT32 id, UINT16* count, BYTE** data) {
  if (id == 0) return GetConfig(count, data);
  if (count == nullptr || data == nullptr) return E_POINTER;
  try {
    return hand_out(shv_settings::to_blob(shv_settings::read_stored(id)), "INapComponentConfig3::GetConfigFromID",
                    count, data);
  } catch (...) {
    return com_failure("INapComponentConfig3::GetConfigFromID");
  }
}

HRESULT SHVConfig::SetConfigToID(UINT32 id, UINT16 count, BYTE* data) {
  if (id == 0) return SetConfig(count, data);
  if (data == nullptr && count != 0) return E_POINTER;
  try {
    // The blob first: a malformed one is the caller's fault, whatever the
    // store's state.
    shv_settings::from_blob(blob_of(count, data));
    if (!shv_settings::find_stored(id)) return NAP_E_SHV_CONFIG_NOT_FOUND;
    const shv_settings::write_report_t report = shv_settings::save(blob_of(count, data), id);
    // Deleted meanwhile: no write makes it again.
    if (report.error == ERROR_FILE_NOT_FOUND) return NAP_E_SHV_CONFIG_NOT_FOUND;
    return saved(string_format("INapComponentConfig3::SetConfigToID of configuration %u", static_cast<unsigned>(id))
                     .c_str(),
                 report);
  } catch (...) {
    return com_failure("INapComponentConfig3::SetConfigToID");
  }
}

}  // namespace shv_cfg
