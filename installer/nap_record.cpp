// Withdraws the validator's record from the NAP server through its management
// class, as the validator's own DllUnregisterServer does.
#include "installer/nap_record.h"


#include "base/com_apartment.h"
#include "base/com_ptr.h"
#include "platform/nap_sdk.h"
#include "shv/shv_result.h"

namespace setup_n {

HRESULT withdraw_nap_record() {
  const base_n::com_apartment_t apartment(COINIT_MULTITHREADED);
  base_n::com_ptr_t<INapServerManagement> management;
  HRESULT hr = CoCreateInstance(clsid_nap_server_management, nullptr, CLSCTX_INPROC_SERVER,
                                IID_INapServerManagement, management.out_void());
  if (FAILED(hr)) return hr;
  hr = management->UnregisterSystemHealthValidator(shv_id);
  return hr == NAP_E_NOT_REGISTERED ? S_OK : hr;
}

}  // namespace setup_n
