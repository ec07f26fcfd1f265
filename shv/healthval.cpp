// healthval's exports and entry point.
#include "platform/dll_entry.h"
#include "shv/shv_module.h"

namespace {
BOOL entry(HINSTANCE module, DWORD reason, LPVOID reserved) { return SHVModule::entry(module, reason, reserved); }
}  // namespace

SHV_DLL_ENTRY(entry)

SHV_DLL_EXPORT HRESULT STDMETHODCALLTYPE DllCanUnloadNow() { return SHVModule::can_unload_now(); }

SHV_DLL_EXPORT HRESULT STDMETHODCALLTYPE DllGetClassObject(REFCLSID clsid, REFIID riid, LPVOID* object) {
  if (plat::module_attach_failed()) return E_UNEXPECTED;
  return SHVModule::get_class_object(clsid, riid, object);
}

SHV_DLL_EXPORT HRESULT STDMETHODCALLTYPE DllRegisterServer() {
  if (plat::module_attach_failed()) return E_UNEXPECTED;
  return SHVModule::register_server();
}

SHV_DLL_EXPORT HRESULT STDMETHODCALLTYPE DllUnregisterServer() {
  if (plat::module_attach_failed()) return E_UNEXPECTED;
  return SHVModule::unregister_server();
}
