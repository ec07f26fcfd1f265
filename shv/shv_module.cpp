// healthval's module object: unload query, cached class factory, registration.
#include "shv/shv_module.h"

#include <new>

#include "base/com_object.h"
#include "base/com_ptr.h"
#include "base/module_info.h"
#include "base/registry_script.h"
#include "common/nap_common.h"
#include "kern/lazy.h"
#include "kern/logger.h"
#include "net/unload.h"
#include "platform/dll_entry.h"
#include "shv/event_log.h"
#include "shv/event_source_key.h"
#include "shv/module_state.h"
#include "shv/settings_events.h"
#include "shv/request_counter.h"
#include "shv/shv_registry_script.h"
#include "shv/shv_validator.h"

namespace {

// The cached class factory: created once, held by the module for its life.
// It holds a module lock while anyone besides the module holds it.
class validator_factory_t final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    return base_n::query_single<IClassFactory>(this, riid, IID_IClassFactory, object);
  }
  ULONG STDMETHODCALLTYPE AddRef() override {
    const ULONG now = references_.fetch_add(1) + 1;
    if (now == 2) shv::module_lock();  // the first reference besides the module's
    return now;
  }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG now = references_.fetch_sub(1) - 1;
    if (now == 1) shv::module_unlock();
    return now;  // the module's own reference is never given back
  }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    SHVValidator* validator = new (std::nothrow) SHVValidator();
    if (validator == nullptr) return E_OUTOFMEMORY;
    validator->AddRef();
    const HRESULT hr = validator->QueryInterface(riid, object);
    validator->Release();  // a failed QueryInterface destroys it here
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    if (lock) {
      shv::module_lock();
    } else {
      shv::module_unlock();
    }
    return S_OK;
  }

 private:
  std::atomic<ULONG> references_{1};  // the module's
};

// Made on the first DllGetClassObject, given back at unload.
kern_n::lazy_t<validator_factory_t> factory;

// Runs f with the thread locale set to the system default, as class-table
// registration does.
template <class F>
HRESULT with_system_locale(F f) {
  const LCID saved = GetThreadLocale();
  SetThreadLocale(GetSystemDefaultLCID());
  const HRESULT hr = f();
  SetThreadLocale(saved);
  return hr;
}

// The class table has one class with neither a registry script nor
// categories of its own: registering it writes nothing.
HRESULT register_class_table(bool) { return S_OK; }

// The NAP server's management object; a failure is logged.
HRESULT create_management(base_n::com_ptr_t<INapServerManagement>& management) {
  const HRESULT hr = CoCreateInstance(clsid_nap_server_management, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_INapServerManagement, management.out_void());
  if (FAILED(hr)) {
    KLOG(lvl_error, "Unable to create INapServerManagement instance because of error 0x%08X", static_cast<unsigned>(hr));
  }
  return hr;
}

// The events a registration function queued are written when it returns,
// on every way out.
struct events_at_return_t {
  events_at_return_t() = default;
  events_at_return_t(const events_at_return_t&) = delete;
  events_at_return_t& operator=(const events_at_return_t&) = delete;
  ~events_at_return_t() { shv::events::write_pending(); }
};

// The outcome of a registration with the NAP server, as an event.
void report_registration(HRESULT hr, shv::events::id_t done, shv::events::id_t failed) {
  if (SUCCEEDED(hr)) {
    shv::events::report(done, shv::events::type_t::information, {});
  } else {
    shv::events::report(failed, shv::events::type_t::error, {shv::events::hex(static_cast<uint32_t>(hr))});
  }
}

HRESULT run_script(bool do_register) {
  const std::string path = base_n::module_file_name(shv::module_handle());
  return base_n::run_registry_script(shv::registry_script(),
                                     {{"Module", base_n::rgs_quote(path)}, {"Module_Raw", path},
                                      {"MODULE", base_n::rgs_quote(path)}, {"APPID", ""}},
                                     do_register);
}

}  // namespace

HRESULT SHVModule::can_unload_now() {
  if (shv::request_thread_count().load() != 0 || shv::module_lock_count() != 0 || shv::live_workers().load() != 0) {
    return S_FALSE;
  }
  return S_OK;
}

HRESULT SHVModule::get_class_object(REFCLSID clsid, REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (!IsEqualCLSID(clsid, CLSID_SHVValidator)) return CLASS_E_CLASSNOTAVAILABLE;
  validator_factory_t* f = nullptr;
  try {
    f = &factory.get();
  } catch (...) {
    return E_OUTOFMEMORY;
  }
  return f->QueryInterface(riid, object);
}

HRESULT SHVModule::register_server() {
  const events_at_return_t events;
  KLOG(lvl_info, "[DllRegisterServer] Registering System Health Validator");
  HRESULT hr = with_system_locale([] { return register_class_table(true); });
  if (FAILED(hr)) {
    KLOG(lvl_error, "[DllRegisterServer] Unable to register ATL module because of error 0x%08X", static_cast<unsigned>(hr));
    return hr;
  }
  hr = run_script(true);
  if (FAILED(hr)) {
    KLOG(lvl_error, "[DllRegisterServer] Unable to update registry from resource because of error 0x%08X",
         static_cast<unsigned>(hr));
    return hr;
  }
  hr = shv::register_event_source(base_n::module_path(shv::module_handle()));
  if (FAILED(hr)) {
    KLOG(lvl_error, "[DllRegisterServer] Unable to register the event source because of error 0x%08X",
         static_cast<unsigned>(hr));
    return hr;
  }
  hr = register_shv();
  if (SUCCEEDED(hr)) KLOG(lvl_info, "[DllRegisterServer] System Health Validator successfully registered");
  return hr;
}

HRESULT SHVModule::unregister_server() {
  const events_at_return_t events;
  KLOG(lvl_info, "[DllUnregisterServer] Unregistering System Health Validator");
  HRESULT hr = unresister_shv();
  if (FAILED(hr)) return hr;
  hr = with_system_locale([] { return register_class_table(false); });
  if (FAILED(hr)) {
    KLOG(lvl_error, "[DllRegisterServer] Unable to unregister ATL module because of error 0x%08X", static_cast<unsigned>(hr));
    return hr;
  }
  hr = run_script(false);
  if (FAILED(hr)) {
    KLOG(lvl_error, "[DllRegisterServer] Unable to unregister from resources because of error 0x%08X",
         static_cast<unsigned>(hr));
    return hr;
  }
  // The unregistration's own event is written first, while the source
  // still names the texts.
  shv::events::write_pending();
  hr = shv::unregister_event_source();
  if (FAILED(hr)) {
    KLOG(lvl_error, "[DllUnregisterServer] Unable to remove the event source because of error 0x%08X",
         static_cast<unsigned>(hr));
    return hr;
  }
  KLOG(lvl_info, "[DllUnregisterServer] System Health Validator successfully unregistered");
  return S_OK;
}

HRESULT SHVModule::register_shv() {
  base_n::com_ptr_t<INapServerManagement> management;
  HRESULT hr = create_management(management);
  if (FAILED(hr)) {
    report_registration(hr, shv::events::registered, shv::events::registration_failed);
    return hr;
  }
  {
    napcommon::nap_reginfo_t info;
    info.id = shv_id;
    info.infoClsid = CLSID_SHVValidator;
    info.configClsid = CLSID_SHVConfig;
    const char16_t* texts[] = {u"Vexor System Health Validator", u"Vexor System Health Validator", u"1.0.0.1",
                               u"Vexor Labs, Ltd."};
    CountedString* fields[] = {&info.friendlyName, &info.description, &info.version, &info.vendorName};
    for (int i = 0; i < 4 && SUCCEEDED(hr); ++i) {
      hr = napcommon::FillCountedString(plat::wstr(texts[i]), fields[i]);
      if (FAILED(hr)) {
        KLOG(lvl_error, "Unable to register System Health Validator because of preparing info failed with 0x%08X",
             static_cast<unsigned>(hr));
      }
    }
    if (SUCCEEDED(hr)) {
      hr = management->RegisterSystemHealthValidator(&info, &CLSID_SHVValidator);
      if (FAILED(hr)) {
        KLOG(lvl_error, "Unable to register System Health Validator because of error 0x%08X", static_cast<unsigned>(hr));
      } else {
        KLOG(lvl_info, "System Health Validator registered successfully");
      }
    }
  }  // the record's strings are freed before the management object goes
  report_registration(hr, shv::events::registered, shv::events::registration_failed);
  return hr;
}

HRESULT SHVModule::unresister_shv() {
  base_n::com_ptr_t<INapServerManagement> management;
  HRESULT hr = create_management(management);
  if (FAILED(hr)) {
    report_registration(hr, shv::events::unregistered, shv::events::unregistration_failed);
    return hr;
  }
  hr = management->UnregisterSystemHealthValidator(shv_id);
  if (SUCCEEDED(hr)) {
    KLOG(lvl_info, "System Health Validator unregistered successfully");
  } else {
    KLOG(lvl_error, "Unable to unregister System Health Validator because of error 0x%08X", static_cast<unsigned>(hr));
  }
  report_registration(hr, shv::events::unregistered, shv::events::unregistration_failed);
  return hr;
}

BOOL SHVModule::entry(HINSTANCE module, DWORD reason, LPVOID reserved) {
  shv::set_module_handle(module);
  napcommon::init_logger();
  if (reason == DLL_PROCESS_ATTACH) {
    if (!napcommon::attach_component(module)) return FALSE;
    shv::settings_events::install();
    return TRUE;
  }
  if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
    // Unloaded: nobody holds the factory any more (DllCanUnloadNow agreed).
    factory.release();
    shv::settings_events::uninstall();
    dns::release_at_unload();
    napcommon::release_component();
  }
  return TRUE;
}
