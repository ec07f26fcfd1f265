// The NAP SDK stand-in's module: its exports, and its registry script that
// makes the three classes known to CoCreateInstance.
#include "base/registry_script.h"
#include "base/module_info.h"
#include "platform/linux/napsdk/napsdk.h"

#define NAPSDK_EXPORT extern "C" __attribute__((visibility("default")))

namespace napsdk {

base_n::module_locks_t& locks() {
  static base_n::module_locks_t instance;
  return instance;
}

namespace {

const char registry_script[] = R"(HKCR
{
  NoRemove CLSID
  {
    ForceRemove {AA160628-8775-46E3-837C-F7A2AE66E2F5} = s 'NAP SoH processor'
    {
      InprocServer32 = s '%MODULE%'
      {
        val ThreadingModel = s 'Both'
      }
    }
    ForceRemove {E8140D53-6535-46A5-B8A1-DA6C571DA9B9} = s 'NAP SoH constructor'
    {
      InprocServer32 = s '%MODULE%'
      {
        val ThreadingModel = s 'Both'
      }
    }
    ForceRemove {BFCB2C6D-04AA-4FB9-BC72-58E1AF64BE39} = s 'NAP server management'
    {
      InprocServer32 = s '%MODULE%'
      {
        val ThreadingModel = s 'Both'
      }
    }
  }
})";

HRESULT run_script(bool do_register) {
  const std::string path = base_n::module_file_name(base_n::module_of_address(reinterpret_cast<const void*>(&locks)));
  return base_n::run_registry_script(registry_script, {{"MODULE", base_n::rgs_quote(path)}}, do_register);
}

}  // namespace
}  // namespace napsdk

NAPSDK_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, LPVOID* object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (IsEqualCLSID(clsid, clsid_nap_soh_processor)) return napsdk::create_soh_processor(riid, object);
  if (IsEqualCLSID(clsid, clsid_nap_soh_constructor)) return napsdk::create_soh_constructor(riid, object);
  if (IsEqualCLSID(clsid, clsid_nap_server_management)) return napsdk::create_server_management(riid, object);
  return CLASS_E_CLASSNOTAVAILABLE;
}

NAPSDK_EXPORT HRESULT DllCanUnloadNow() { return napsdk::locks().count.load() == 0 ? S_OK : S_FALSE; }

NAPSDK_EXPORT HRESULT DllRegisterServer() { return napsdk::run_script(true); }

NAPSDK_EXPORT HRESULT DllUnregisterServer() { return napsdk::run_script(false); }
