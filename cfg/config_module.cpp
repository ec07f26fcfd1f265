// SHVConfigModule: the module's handle and lock count, its registry script,
// its entry point and its four COM exports.
#include "cfg/config_module.h"

#include <atomic>
#include <new>

#include "base/module_info.h"
#include "base/registry_script.h"
#include "cfg/shv_config.h"
#include "common/nap_common.h"
#include "kern/unicode.h"
#include "platform/dll_entry.h"

namespace shv_cfg {

namespace {

std::atomic<HMODULE> recorded{nullptr};

// The module path the registry script names is limited as the system's
// module file names are.
constexpr DWORD max_module_path = 260;

const char registry_script[] = R"(HKCR
{
  NoRemove CLSID
  {
    ForceRemove {0C5C9CEC-1FF7-42e3-AC8F-4D9BAE296C5D} = s 'Vexor System Health Configurator'
    {
      val AppID = s '{73D1100C-337E-4de7-84B9-8F5B10202693}'
      val LocalizedString = s '@%MODULE%,-100'
      InprocServer32 = s '%MODULE%'
      {
        val ThreadingModel = s 'Neutral'
      }
      Elevation
      {
        val Enabled = d '1'
      }
    }
  }
  NoRemove AppID
  {
    '{73D1100C-337E-4de7-84B9-8F5B10202693}' = s 'healthcfg'
    {
      val DllSurrogate = s ''
    }
    'healthcfg.dll'
    {
      val AppID = s '{73D1100C-337E-4de7-84B9-8F5B10202693}'
    }
  }
})";

BOOL entry(HINSTANCE module, DWORD reason, LPVOID reserved) {
  set_module_handle(module);
  napcommon::init_logger();
  if (reason == DLL_PROCESS_ATTACH) return napcommon::attach_component(module) ? TRUE : FALSE;
  if (reason == DLL_PROCESS_DETACH && reserved == nullptr) napcommon::release_component();  // unloaded
  return TRUE;
}

}  // namespace

HMODULE module_handle() {
  if (HMODULE m = recorded.load()) return m;
  return base_n::module_of_address(reinterpret_cast<const void*>(&module_handle));
}

void set_module_handle(HMODULE module) { recorded.store(module); }

base_n::module_locks_t& module_locks() {
  static base_n::module_locks_t locks;
  return locks;
}

HRESULT update_registry(bool do_register) {
  // Wide: an install folder outside the system code page is registered as
  // it is named, and the limit counts UTF-16 units as the system does.
  const std::u16string path = base_n::module_path(module_handle());
  if (path.empty()) return HRESULT_FROM_WIN32(GetLastError());
  if (path.size() >= max_module_path) return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
  std::string raw;
  try {
    from_unicode_to_cp(raw, path, CP_UTF8);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_FAIL;
  }
  return base_n::run_registry_script(registry_script, {{"MODULE", base_n::rgs_quote(raw)}, {"Module_Raw", raw}},
                                     do_register);
}

}  // namespace shv_cfg

SHV_DLL_ENTRY(shv_cfg::entry)

SHV_DLL_EXPORT HRESULT STDMETHODCALLTYPE DllCanUnloadNow() {
  return shv_cfg::module_locks().count.load() == 0 ? S_OK : S_FALSE;
}

SHV_DLL_EXPORT HRESULT STDMETHODCALLTYPE DllGetClassObject(REFCLSID clsid, REFIID riid, LPVOID* object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (plat::module_attach_failed()) return E_UNEXPECTED;
  if (!IsEqualCLSID(clsid, CLSID_SHVConfig)) return CLASS_E_CLASSNOTAVAILABLE;
  return base_n::get_class_factory<shv_cfg::SHVConfig, &shv_cfg::module_locks>(riid, object);
}

SHV_DLL_EXPORT HRESULT STDMETHODCALLTYPE DllRegisterServer() {
  if (plat::module_attach_failed()) return E_UNEXPECTED;
  return shv_cfg::update_registry(true);
}

SHV_DLL_EXPORT HRESULT STDMETHODCALLTYPE DllUnregisterServer() {
  if (plat::module_attach_failed()) return E_UNEXPECTED;
  return shv_cfg::update_registry(false);
}
