// What the NAP server shows about the validator: message ids, localized texts
// and the icon, from healthval's own resources.
#include "base/module_info.h"
#include "base/resources.h"
#include "common/nap_common.h"
#include "kern/logger.h"
#include "kern/unicode.h"
#include "shv/module_state.h"
#include "shv/shv_validator.h"

namespace {
const char icon_name[] = "INapComponentInfo::GetIcon";
const char string_name[] = "INapComponentInfo::GetLocalizedString";

// A positive Win32 error as an HRESULT; zero and negative values unchanged.
HRESULT hresult_of_last_error() {
  const DWORD error = GetLastError();
  return static_cast<HRESULT>(error) <= 0 ? static_cast<HRESULT>(error)
                                          : static_cast<HRESULT>(0x80070000u | (error & 0xFFFFu));
}
}  // namespace

HRESULT SHVValidator::GetFriendlyName(MessageId* id) {
  *id = shv_resources::friendly_name;
  return S_OK;
}

HRESULT SHVValidator::GetDescription(MessageId* id) {
  *id = shv_resources::description;
  return S_OK;
}

HRESULT SHVValidator::GetVendorName(MessageId* id) {
  *id = shv_resources::vendor_name;
  return S_OK;
}

HRESULT SHVValidator::GetVersion(MessageId* id) {
  *id = shv_resources::version;
  return S_OK;
}

HRESULT SHVValidator::GetIcon(CountedString** path, UINT32* icon_id) {
  KLOG(lvl_info, "%s: begins", icon_name);
  HRESULT status;
  char16_t buffer[260];
  const DWORD length = GetModuleFileNameW(shv::module_handle(), plat::wstr(buffer), 260);
  if (length == 0) {
    status = hresult_of_last_error();
  } else {
    status = napcommon::AllocCountedString(path, plat::wstr(buffer));
    if (SUCCEEDED(status)) {
      *icon_id = shv_resources::icon;
      status = S_OK;
    }
  }
  KLOG(lvl_info, "%s: ends with status %08X", icon_name, static_cast<unsigned>(status));
  return status;
}

HRESULT SHVValidator::ConvertErrorCodeToMessageId(HRESULT, MessageId*) {
  KLOG(lvl_warning, "INapComponentInfo::ConvertErrorCodeToMessageId: not implemented");
  return E_NOTIMPL;
}

HRESULT SHVValidator::GetLocalizedString(MessageId id, CountedString** text) {
  KLOG(lvl_info, "%s: begins", string_name);
  const std::u16string value = base_n::load_string_resource(id, shv::module_handle(), std::u16string());
  const HRESULT status =
      value.empty() ? E_INVALIDARG : napcommon::AllocCountedString(text, plat::wstr(value.c_str()));
  KLOG(lvl_info, "%s: ends with status %08X", string_name, static_cast<unsigned>(status));
  return status;
}
