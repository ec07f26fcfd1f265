// healthval's exports, class factory, registration and component information
// through the built module.
#include <clocale>
#include <cstring>

#include "kern/unicode.h"

#include "healthval_fixture.h"
#include "eventually.h"
#include "registry_values.h"

namespace {

using test_support::call_export;
using test_support::central_sim_t;
using test_support::healthval_fixture;

typedef HRESULT(STDMETHODCALLTYPE* get_class_object_fn)(REFCLSID, REFIID, LPVOID*);

get_class_object_fn get_class_object(HMODULE module) {
  return reinterpret_cast<get_class_object_fn>(reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
}

// A value as the checks below spell it: its text, "dword:N", "(no key)" or
// "(no value)".
std::u16string value_of(HKEY root, const char16_t* path, const char16_t* name) {
  if (!test_support::key_exists(root, path)) return u"(no key)";
  const auto value = test_support::reg_value(root, path, name ? name : u"");
  if (!value) return u"(no value)";
  if (value->type == REG_DWORD) return u"dword:" + to_wide(std::to_string(value->number()));
  return value->text();
}

bool key_exists(const char16_t* path) { return test_support::key_exists(HKEY_CLASSES_ROOT, path); }

TEST_F(healthval_fixture, registration_writes_the_script_and_the_nap_record) {
  const std::string module = to_narrow(value_of(HKEY_CLASSES_ROOT, u"CLSID\\{60d48d71-1c65-4775-a2c2-2e331632914d}\\InprocServer32", nullptr));
  EXPECT_NE(module.find("libhealthval.so"), std::string::npos) << module;
  EXPECT_EQ(value_of(HKEY_CLASSES_ROOT, u"Vexor.SHV", nullptr), u"VexorLabs SHV object");
  EXPECT_EQ(value_of(HKEY_CLASSES_ROOT, u"Vexor.SHV\\CLSID", nullptr), u"{60d48d71-1c65-4775-a2c2-2e331632914d}");
  const char16_t clsid[] = u"CLSID\\{60d48d71-1c65-4775-a2c2-2e331632914d}";
  EXPECT_EQ(value_of(HKEY_CLASSES_ROOT, clsid, nullptr), u"Vexor System Health Validator");
  EXPECT_EQ(value_of(HKEY_CLASSES_ROOT, clsid, u"AppID"), u"{162cb876-e4cb-424e-abc3-bd87de5f29d9}");
  EXPECT_EQ(value_of(HKEY_CLASSES_ROOT, u"CLSID\\{60d48d71-1c65-4775-a2c2-2e331632914d}\\ProgID", nullptr), u"Vexor.SHV");
  EXPECT_EQ(value_of(HKEY_CLASSES_ROOT, u"CLSID\\{60d48d71-1c65-4775-a2c2-2e331632914d}\\InprocServer32", u"ThreadingModel"),
            u"Both");
  const char16_t appid[] = u"AppID\\{162cb876-e4cb-424e-abc3-bd87de5f29d9}";
  EXPECT_EQ(value_of(HKEY_CLASSES_ROOT, appid, nullptr), u"healthval");
  EXPECT_EQ(value_of(HKEY_CLASSES_ROOT, appid, u"AuthenticationLevel"), u"dword:0");
  EXPECT_EQ(value_of(HKEY_CLASSES_ROOT, appid, u"DllSurrogate"), u"");
  EXPECT_EQ(value_of(HKEY_CLASSES_ROOT, appid, u"RunAs"), u"Interactive User");
  EXPECT_EQ(value_of(HKEY_CLASSES_ROOT, u"AppID\\healthval.DLL", u"AppID"), u"{162cb876-e4cb-424e-abc3-bd87de5f29d9}");
  const char16_t record[] = u"SOFTWARE\\NapServer\\SystemHealthValidators\\0073FA02";
  EXPECT_EQ(value_of(HKEY_LOCAL_MACHINE, record, u"FriendlyName"), u"Vexor System Health Validator");
  EXPECT_EQ(value_of(HKEY_LOCAL_MACHINE, record, u"Description"), u"Vexor System Health Validator");
  EXPECT_EQ(value_of(HKEY_LOCAL_MACHINE, record, u"Version"), u"1.0.0.1");
  EXPECT_EQ(value_of(HKEY_LOCAL_MACHINE, record, u"VendorName"), u"Vexor Labs, Ltd.");
  EXPECT_EQ(value_of(HKEY_LOCAL_MACHINE, record, u"InfoClsid"), u"{60D48D71-1C65-4775-A2C2-2E331632914D}");
  EXPECT_EQ(value_of(HKEY_LOCAL_MACHINE, record, u"ConfigClsid"), u"{0C5C9CEC-1FF7-42E3-AC8F-4D9BAE296C5D}");

  validator_.reset();
  ASSERT_EQ(call_export(healthval_, "DllUnregisterServer"), S_OK);
  EXPECT_FALSE(key_exists(u"Vexor.SHV"));
  EXPECT_FALSE(key_exists(clsid));
  EXPECT_FALSE(key_exists(appid));
  EXPECT_FALSE(key_exists(u"AppID\\healthval.DLL"));
  EXPECT_TRUE(key_exists(u"CLSID"));
  EXPECT_EQ(value_of(HKEY_LOCAL_MACHINE, record, u"Id"), u"(no key)");

  // Unregistering when the NAP server does not know the id: its error, keys left.
  ASSERT_EQ(call_export(healthval_, "DllRegisterServer"), S_OK);
  ASSERT_EQ(RegDeleteTreeW(HKEY_LOCAL_MACHINE, plat::wstr(record)), ERROR_SUCCESS);
  EXPECT_EQ(call_export(healthval_, "DllUnregisterServer"), static_cast<HRESULT>(0x80270006));
  EXPECT_TRUE(key_exists(clsid));
  EXPECT_NE(module_log().find("Unable to unregister System Health Validator because of error 0x80270006"), std::string::npos);
}

TEST_F(healthval_fixture, registration_without_the_nap_server_writes_the_keys_and_fails) {
  validator_.reset();
  ASSERT_EQ(call_export(healthval_, "DllUnregisterServer"), S_OK);
  ASSERT_EQ(call_export(napsdk_, "DllUnregisterServer"), S_OK);
  EXPECT_EQ(call_export(healthval_, "DllRegisterServer"), REGDB_E_CLASSNOTREG);
  EXPECT_TRUE(key_exists(u"CLSID\\{60d48d71-1c65-4775-a2c2-2e331632914d}\\InprocServer32"));
  EXPECT_NE(module_log().find("Unable to create INapServerManagement instance because of error 0x80040154"),
            std::string::npos);
}

TEST_F(healthval_fixture, class_factory_results) {
  auto get = get_class_object(healthval_);
  ASSERT_NE(get, nullptr);
  void* out = reinterpret_cast<void*>(1);
  const CLSID configurator = {0x0C5C9CEC, 0x1FF7, 0x42E3, {0xAC, 0x8F, 0x4D, 0x9B, 0xAE, 0x29, 0x6C, 0x5D}};
  EXPECT_EQ(get(configurator, IID_IClassFactory, &out), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(get(CLSID_SHVValidator, IID_IClassFactory, nullptr), E_POINTER);
  base_n::com_ptr_t<IClassFactory> factory;
  ASSERT_EQ(get(CLSID_SHVValidator, IID_IClassFactory, factory.out_void()), S_OK);
  base_n::com_ptr_t<IClassFactory> same;
  ASSERT_EQ(get(CLSID_SHVValidator, IID_IClassFactory, same.out_void()), S_OK);
  EXPECT_EQ(factory.get(), same.get()) << "one cached factory";
  void* object = nullptr;
  EXPECT_EQ(factory->CreateInstance(reinterpret_cast<IUnknown*>(factory.get()), IID_IUnknown, &object), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IClassFactory, &object), E_NOINTERFACE);
  base_n::com_ptr_t<INapComponentInfo> info;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_INapComponentInfo, info.out_void()), S_OK);
  base_n::com_ptr_t<INapSystemHealthValidator> as_validator;
  EXPECT_EQ(info->QueryInterface(IID_INapSystemHealthValidator, as_validator.out_void()), S_OK);

  // Objects, factory references and server locks each keep the module.
  validator_.reset();
  info.reset();
  as_validator.reset();
  EXPECT_EQ(call_export(healthval_, "DllCanUnloadNow"), S_FALSE) << "factory held";
  factory.reset();
  same.reset();
  EXPECT_EQ(call_export(healthval_, "DllCanUnloadNow"), S_OK);
  ASSERT_EQ(get(CLSID_SHVValidator, IID_IClassFactory, factory.out_void()), S_OK);
  factory->LockServer(TRUE);
  factory.reset();
  EXPECT_EQ(call_export(healthval_, "DllCanUnloadNow"), S_FALSE) << "server lock";
  ASSERT_EQ(get(CLSID_SHVValidator, IID_IClassFactory, factory.out_void()), S_OK);
  factory->LockServer(FALSE);
  factory.reset();
  EXPECT_EQ(call_export(healthval_, "DllCanUnloadNow"), S_OK);
}

struct locale_case_t {
  LCID locale;
  const char16_t* friendly_name;
};

TEST_F(healthval_fixture, component_information_by_language) {
  base_n::com_ptr_t<INapComponentInfo> info;
  ASSERT_EQ(validator_->QueryInterface(IID_INapComponentInfo, info.out_void()), S_OK);
  MessageId ids[4] = {};
  EXPECT_EQ(info->GetFriendlyName(&ids[0]), S_OK);
  EXPECT_EQ(info->GetDescription(&ids[1]), S_OK);
  EXPECT_EQ(info->GetVendorName(&ids[2]), S_OK);
  EXPECT_EQ(info->GetVersion(&ids[3]), S_OK);
  EXPECT_EQ(std::vector<MessageId>(ids, ids + 4), (std::vector<MessageId>{307, 306, 308, 309}));
  MessageId untouched = 77;
  EXPECT_EQ(info->ConvertErrorCodeToMessageId(E_FAIL, &untouched), E_NOTIMPL);
  EXPECT_EQ(untouched, 77u);

  auto text = [&](MessageId id, HRESULT* hr) {
    CountedString* s = nullptr;
    *hr = info->GetLocalizedString(id, &s);
    std::u16string out = s && s->string ? std::u16string(plat::u16(s->string), s->length) : u"";
    if (s) {
      CoTaskMemFree(s->string);
      CoTaskMemFree(s);
    }
    return out;
  };
  const LCID saved = GetThreadLocale();
  const locale_case_t cases[] = {
      {0x0409, u"Vexor System Health Validator"},
      {0x0C07, u"Vexor System Health Validator"},  // German (Austria): the German entry
      {0x0419, u"Vexor System Health Validator"},  // Russian carries the English texts
      {0x0402, u"Vexor System Health Validator"},
      {0x0C0A, u"Validador de Integridad del Sistema de Vexor"},
      {0x041B, u"Vexor modul kontroly správnej činnosti systému"},
  };
  HRESULT hr;
  for (const locale_case_t& c : cases) {
    SetThreadLocale(c.locale);
    EXPECT_EQ(text(307, &hr), c.friendly_name) << std::hex << c.locale;
    EXPECT_EQ(hr, S_OK);
  }
  SetThreadLocale(0x0C07);
  EXPECT_EQ(text(306, &hr), u"Vexor System Health Validator verifiziert den Sicherheitsstatus der Antivirus-Komponenten.");
  SetThreadLocale(0x0402);
  EXPECT_EQ(text(306, &hr), u"Vexor System Health Validator проверява здравословното състояние на антивирусните компоненти.");
  SetThreadLocale(0x0411);  // Japanese: none of its own, the English texts
  EXPECT_EQ(text(307, &hr), u"Vexor System Health Validator");
  EXPECT_EQ(hr, S_OK);
  SetThreadLocale(0x0409);
  text(305, &hr);
  EXPECT_EQ(hr, E_INVALIDARG);
  EXPECT_EQ(text(100, &hr), u"healthval");

  CountedString* path = nullptr;
  UINT32 icon = 0;
  ASSERT_EQ(info->GetIcon(&path, &icon), S_OK);
  EXPECT_EQ(icon, 400u);
  const std::string file = to_narrow(std::u16string(plat::u16(path->string), path->length));
  EXPECT_EQ(file[0], '/');
  EXPECT_NE(file.find("libhealthval.so"), std::string::npos);
  CoTaskMemFree(path->string);
  CoTaskMemFree(path);
  SetThreadLocale(saved);
}

TEST_F(healthval_fixture, the_request_limit_is_128) {
  central_sim_t sim;
  use_server(sim);
  std::mutex lock;
  std::condition_variable changed;
  int inside = 0;
  bool release = false;
  auto gate = [&] {
    std::unique_lock<std::mutex> guard(lock);
    ++inside;
    changed.notify_all();
    changed.wait(guard, [&] { return release; });
  };
  naphost::call_log_t log;
  std::vector<std::unique_ptr<naphost::nap_request_t>> requests;
  std::vector<std::unique_ptr<naphost::nap_callback_t>> callbacks;
  for (int i = 0; i < 129; ++i) {
    requests.push_back(std::make_unique<naphost::nap_request_t>(soh_with_record("1 limit-" + std::to_string(i) + " d"), false, log));
    requests.back()->set_gate(gate);
    callbacks.push_back(std::make_unique<naphost::nap_callback_t>(log));
  }
  for (int i = 0; i < 128; ++i) {
    ASSERT_EQ(validator_->Validate(requests[i].get(), 0, callbacks[i].get()), E_PENDING) << i;
  }
  {
    std::unique_lock<std::mutex> guard(lock);
    ASSERT_TRUE(changed.wait_for(guard, std::chrono::seconds(30), [&] { return inside == 128; }));
  }
  EXPECT_EQ(validator_->Validate(requests[128].get(), 0, callbacks[128].get()), static_cast<HRESULT>(0x80070235));
  EXPECT_EQ(requests[128]->references(), 1) << "a refused request takes no reference";
  EXPECT_EQ(callbacks[128]->references(), 1);
  EXPECT_EQ(call_export(healthval_, "DllCanUnloadNow"), S_FALSE);
  {
    std::lock_guard<std::mutex> guard(lock);
    release = true;
  }
  changed.notify_all();
  for (int i = 0; i < 128; ++i) ASSERT_TRUE(callbacks[i]->wait(std::chrono::seconds(30))) << i;
  // Once the workers are done the next request is admitted again.
  requests[128]->set_gate(nullptr);
  ASSERT_EQ(validator_->Validate(requests[128].get(), 0, callbacks[128].get()), E_PENDING);
  ASSERT_TRUE(callbacks[128]->wait(std::chrono::seconds(30)));
  // The refusal is told by a worker after its OnComplete, once.
  EXPECT_TRUE(test_support::eventually([&] { return !events(1003).empty(); }));
  EXPECT_EQ(events(1003), std::vector<std::string>{"{\"source\":\"Vexor System Health Validator\",\"type\":\"warning\","
                                                    "\"id\":1003,\"strings\":[\"1\"]}"});
  for (int i = 0; i <= 128; ++i) {
    test_support::eventually([&] { return requests[i]->references() == 1 && callbacks[i]->references() == 1; });
    EXPECT_EQ(requests[i]->references(), 1) << i;
    EXPECT_EQ(callbacks[i]->references(), 1) << i;
  }
}

}  // namespace
