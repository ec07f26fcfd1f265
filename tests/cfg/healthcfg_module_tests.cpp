// healthcfg's module and SHVConfig's blob methods, through the real module.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <new>
#include <vector>

#include "base/api_hook.h"
#include "base/module_info.h"
#include "common/settings.h"
#include "healthcfg_fixture.h"
#include "store_refusals.h"

namespace test_support {
namespace {

const std::u16string clsid_key = u"CLSID\\{0C5C9CEC-1FF7-42e3-AC8F-4D9BAE296C5D}";
const std::u16string appid_key = u"AppID\\{73D1100C-337E-4de7-84B9-8F5B10202693}";

std::string make_blob(uint32_t version, const std::u16string& name, uint32_t port, uint32_t timeout, uint32_t cache,
                      uint32_t validate) {
  std::string b;
  for (uint32_t v : {version, static_cast<uint32_t>(name.size() * 2), port, timeout, cache, validate}) {
    b.append(reinterpret_cast<const char*>(&v), 4);
  }
  for (char16_t c : name) {
    b += static_cast<char>(c & 0xFF);
    b += static_cast<char>(c >> 8);
  }
  return b;
}

using healthcfg_module = healthcfg_test;

TEST_F(healthcfg_module, registration_writes_the_class_and_application_keys) {
  const std::u16string module_path = base_n::module_path(module_);
  EXPECT_EQ(reg_value(HKEY_CLASSES_ROOT, clsid_key, u"")->text(), u"Vexor System Health Configurator");
  EXPECT_EQ(reg_value(HKEY_CLASSES_ROOT, clsid_key, u"AppID")->text(), u"{73D1100C-337E-4de7-84B9-8F5B10202693}");
  EXPECT_EQ(reg_value(HKEY_CLASSES_ROOT, clsid_key, u"LocalizedString")->text(), u"@" + module_path + u",-100");
  EXPECT_EQ(reg_value(HKEY_CLASSES_ROOT, clsid_key + u"\\InprocServer32", u"")->text(), module_path);
  EXPECT_EQ(reg_value(HKEY_CLASSES_ROOT, clsid_key + u"\\InprocServer32", u"ThreadingModel")->text(), u"Neutral");
  const auto elevation = reg_value(HKEY_CLASSES_ROOT, clsid_key + u"\\Elevation", u"Enabled");
  ASSERT_TRUE(elevation);
  EXPECT_EQ(elevation->type, REG_DWORD);
  EXPECT_EQ(elevation->number(), 1u);
  EXPECT_EQ(reg_value(HKEY_CLASSES_ROOT, appid_key, u"")->text(), u"healthcfg");
  const auto surrogate = reg_value(HKEY_CLASSES_ROOT, appid_key, u"DllSurrogate");
  ASSERT_TRUE(surrogate);
  EXPECT_EQ(surrogate->type, REG_SZ);
  EXPECT_EQ(surrogate->text(), u"");
  EXPECT_EQ(reg_value(HKEY_CLASSES_ROOT, u"AppID\\healthcfg.dll", u"AppID")->text(),
            u"{73D1100C-337E-4de7-84B9-8F5B10202693}");
}

TEST_F(healthcfg_module, unregistration_removes_its_keys_but_not_clsid_and_appid) {
  ASSERT_EQ(module_export(module_, "DllUnregisterServer")(), S_OK);
  EXPECT_FALSE(key_exists(HKEY_CLASSES_ROOT, clsid_key));
  EXPECT_FALSE(key_exists(HKEY_CLASSES_ROOT, appid_key));
  EXPECT_FALSE(key_exists(HKEY_CLASSES_ROOT, u"AppID\\healthcfg.dll"));
  EXPECT_TRUE(key_exists(HKEY_CLASSES_ROOT, u"CLSID"));
  EXPECT_TRUE(key_exists(HKEY_CLASSES_ROOT, u"AppID"));
}

TEST_F(healthcfg_module, class_objects_and_unloading) {
  auto get = reinterpret_cast<LPFNGETCLASSOBJECT>(reinterpret_cast<void*>(GetProcAddress(module_, "DllGetClassObject")));
  auto can_unload = module_export(module_, "DllCanUnloadNow");
  ASSERT_NE(get, nullptr);
  EXPECT_EQ(get(CLSID_SHVConfig, IID_IClassFactory, nullptr), E_POINTER);
  void* object = reinterpret_cast<void*>(1);
  EXPECT_EQ(get(clsid_nap_soh_processor, IID_IClassFactory, &object), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(can_unload(), S_FALSE) << "the fixture's object is alive";
  void* other = nullptr;
  EXPECT_EQ(config_->QueryInterface(IID_INapComponentInfo, &other), E_NOINTERFACE);
  EXPECT_EQ(other, nullptr);
  config_.reset();
  EXPECT_EQ(can_unload(), S_OK);
  base_n::com_ptr_t<IClassFactory> factory;
  ASSERT_EQ(get(CLSID_SHVConfig, IID_IClassFactory, factory.out_void()), S_OK);
  EXPECT_EQ(factory->LockServer(TRUE), S_OK);
  factory.reset();
  EXPECT_EQ(can_unload(), S_FALSE) << "a server lock";
  base_n::com_ptr_t<IClassFactory> again;
  ASSERT_EQ(get(CLSID_SHVConfig, IID_IClassFactory, again.out_void()), S_OK);
  EXPECT_EQ(again->LockServer(FALSE), S_OK);
  again.reset();
  EXPECT_EQ(can_unload(), S_OK);
}

TEST_F(healthcfg_module, the_ui_is_supported) {
  BOOL supported = FALSE;
  EXPECT_EQ(config_->IsUISupported(&supported), S_OK);
  EXPECT_EQ(supported, TRUE);
  EXPECT_EQ(config_->IsUISupported(nullptr), E_POINTER);
}

TEST_F(healthcfg_module, get_config_without_a_key_gives_the_default_blob) {
  ASSERT_FALSE(key_exists(HKEY_LOCAL_MACHINE, settings_key));
  const std::string b = blob();
  ASSERT_EQ(b.size(), 24u);
  EXPECT_EQ(b, make_blob(2, u"", 2193, 10000, 10000, 1));
  EXPECT_FALSE(key_exists(HKEY_LOCAL_MACHINE, settings_key)) << "reading creates nothing";
}

TEST_F(healthcfg_module, get_config_null_outputs) {
  UINT16 count = 7;
  BYTE* data = nullptr;
  EXPECT_EQ(config_->GetConfig(nullptr, &data), E_POINTER);
  EXPECT_EQ(config_->GetConfig(&count, nullptr), E_POINTER);
  EXPECT_EQ(count, 7);
}

TEST_F(healthcfg_module, get_then_set_config_leaves_the_values_as_they_were) {
  shv_settings::write("server_name", u"central.example");
  shv_settings::write("server_port", 4000u);
  shv_settings::write("server_timeout", 1234u);
  shv_settings::write("cache_time", 60u);
  shv_settings::write("validate", 7u);
  std::string b = blob();
  EXPECT_EQ(b, make_blob(2, u"central.example", 4000, 1234, 60, 7));
  ASSERT_EQ(config_->SetConfig(static_cast<UINT16>(b.size()), reinterpret_cast<BYTE*>(b.data())), S_OK);
  EXPECT_EQ(blob(), b);
  EXPECT_EQ(reg_value(HKEY_LOCAL_MACHINE, settings_key, u"ServerName")->type, REG_SZ);
  EXPECT_EQ(reg_value(HKEY_LOCAL_MACHINE, settings_key, u"ValidationEnabled")->number(), 7u);
}

TEST_F(healthcfg_module, set_config_with_an_empty_name_stores_an_empty_string) {
  shv_settings::write("server_name", u"old.example");
  std::string b = make_blob(2, u"", 1, 2, 3, 0);
  ASSERT_EQ(config_->SetConfig(static_cast<UINT16>(b.size()), reinterpret_cast<BYTE*>(b.data())), S_OK);
  const auto name = reg_value(HKEY_LOCAL_MACHINE, settings_key, u"ServerName");
  ASSERT_TRUE(name);
  EXPECT_EQ(name->type, REG_SZ);
  EXPECT_EQ(name->text(), u"");
  EXPECT_EQ(shv_settings::read_number("server_port"), 1u);
  EXPECT_EQ(shv_settings::read_number("validate"), 0u);
}

TEST_F(healthcfg_module, a_rejected_blob_is_invalid_argument_and_writes_nothing) {
  std::string short_blob = make_blob(2, u"", 1, 2, 3, 1).substr(0, 23);
  EXPECT_EQ(config_->SetConfig(23, reinterpret_cast<BYTE*>(short_blob.data())), E_INVALIDARG);
  std::string wrong_length = make_blob(2, u"ab", 1, 2, 3, 1);
  wrong_length.pop_back();
  wrong_length.pop_back();
  EXPECT_EQ(config_->SetConfig(static_cast<UINT16>(wrong_length.size()), reinterpret_cast<BYTE*>(wrong_length.data())),
            E_INVALIDARG);
  std::string version_1 = make_blob(1, u"ab", 1, 2, 3, 1);
  EXPECT_EQ(config_->SetConfig(static_cast<UINT16>(version_1.size()), reinterpret_cast<BYTE*>(version_1.data())),
            E_INVALIDARG);
  const debug_output_t debug(store_.dir());
  EXPECT_EQ(config_->SetConfig(0, nullptr), E_INVALIDARG) << "an empty blob is too short";
  // One clause per line.
  EXPECT_TRUE(debug.has("INapComponentConfig::SetConfig failed because of \n")) << debug.text();
  EXPECT_TRUE(debug.has("  size mismatch\n")) << debug.text();
  EXPECT_EQ(config_->SetConfig(24, nullptr), E_POINTER);
  EXPECT_FALSE(key_exists(HKEY_LOCAL_MACHINE, settings_key));
}

TEST_F(healthcfg_module, a_blob_over_65535_bytes_is_an_error_not_a_cut_count) {
  // 32755 code units: 24 + 65510 = 65534 bytes, the largest even blob.
  shv_settings::write("server_name", std::u16string(32755, u'x'));
  UINT16 count = 0;
  BYTE* data = nullptr;
  ASSERT_EQ(config_->GetConfig(&count, &data), S_OK);
  EXPECT_EQ(count, 65534);
  CoTaskMemFree(data);

  shv_settings::write("server_name", std::u16string(32756, u'x'));
  const debug_output_t debug(store_.dir());
  count = 5;
  data = reinterpret_cast<BYTE*>(&count);
  EXPECT_EQ(config_->GetConfig(&count, &data), HRESULT_FROM_WIN32(534));
  EXPECT_EQ(count, 5) << "outputs untouched";
  EXPECT_EQ(data, reinterpret_cast<BYTE*>(&count));
  EXPECT_TRUE(debug.has("INapComponentConfig::GetConfig: the configuration blob of 65536 bytes does not fit in 65535"))
      << debug.text();
}

// The configurations of network policies, as the console keeps them.
TEST_F(healthcfg_module, configurations_per_network_policy) {
  base_n::com_ptr_t<INapComponentConfig3> third;
  ASSERT_EQ(config_->QueryInterface(IID_INapComponentConfig3, third.out_void()), S_OK);
  BOOL remote = FALSE;
  UINT8 type = 0;
  EXPECT_EQ(third->IsRemoteConfigSupported(&remote, &type), S_OK);
  EXPECT_EQ(remote, TRUE);
  EXPECT_EQ(type, remoteConfigTypeConfigBlob);
  EXPECT_EQ(third->InvokeUIForMachine(nullptr, nullptr), E_NOTIMPL);
  auto blob_of = [&](UINT32 id) {
    UINT16 count = 0;
    BYTE* data = nullptr;
    EXPECT_EQ(third->GetConfigFromID(id, &count, &data), S_OK) << id;
    std::string out(reinterpret_cast<const char*>(data), count);
    CoTaskMemFree(data);
    return out;
  };
  auto set = [&](UINT32 id, std::string b) {
    return third->SetConfigToID(id, static_cast<UINT16>(b.size()), reinterpret_cast<BYTE*>(b.data()));
  };

  shv_settings::write("server_name", u"office.example");
  shv_settings::write("server_timeout", 1500u);
  const std::string office = blob();
  EXPECT_EQ(third->NewConfig(5), S_OK);
  EXPECT_EQ(blob_of(5), office) << "a copy of the default";
  EXPECT_EQ(third->NewConfig(5), NAP_E_SHV_CONFIG_EXISTED);
  const std::string vpn = make_blob(2, u"vpn.example", 2200, 800, 30, 1);
  EXPECT_EQ(set(5, vpn), S_OK);
  EXPECT_EQ(blob_of(5), vpn);
  EXPECT_EQ(blob(), office) << "each configuration is its own";
  EXPECT_EQ(blob_of(0), office) << "0 is the default";
  EXPECT_EQ(set(5, vpn.substr(0, 23)), E_INVALIDARG);
  EXPECT_EQ(blob_of(5), vpn);

  UINT16 count = 3;
  BYTE* data = nullptr;
  EXPECT_EQ(third->GetConfigFromID(6, &count, &data), NAP_E_SHV_CONFIG_NOT_FOUND);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(third->GetConfigFromID(5, nullptr, &data), E_POINTER);
  EXPECT_EQ(set(6, vpn), NAP_E_SHV_CONFIG_NOT_FOUND);
  EXPECT_FALSE(shv_settings::find_stored(6)) << "setting an unknown id makes none";
  EXPECT_EQ(third->NewConfig(0), E_INVALIDARG);
  EXPECT_EQ(third->DeleteConfig(0), E_INVALIDARG);
  EXPECT_EQ(third->DeleteConfig(6), NAP_E_SHV_CONFIG_NOT_FOUND);

  EXPECT_EQ(third->NewConfig(6), S_OK);
  EXPECT_EQ(third->DeleteConfig(5), S_OK);
  EXPECT_EQ(third->GetConfigFromID(5, &count, &data), NAP_E_SHV_CONFIG_NOT_FOUND);
  EXPECT_EQ(blob_of(6), office);
  EXPECT_EQ(third->DeleteAllConfig(), S_OK);
  EXPECT_EQ(third->GetConfigFromID(6, &count, &data), NAP_E_SHV_CONFIG_NOT_FOUND);
  EXPECT_EQ(third->DeleteAllConfig(), S_OK) << "none left";
  EXPECT_EQ(blob(), office) << "the default stays";
}

// The module's task allocations go through its import of CoTaskMemAlloc (the
// stand-in's, in libplatform.so, under its C++ name): redirected, the
// allocation fails as it would without memory.
void* no_memory(SIZE_T) { return nullptr; }

TEST_F(healthcfg_module, get_config_without_memory_for_the_buffer_is_out_of_memory) {
  const std::string path = base_n::module_file_name(module_);
  UINT16 count = 9;
  BYTE* data = nullptr;
  {
    base_n::api_hook_t hook(reinterpret_cast<const void*>(&no_memory), path.c_str(), "libplatform.so", "_Z14CoTaskMemAllocm",
                            base_n::api_hook_t::policy_throw);
    ASSERT_NE(hook.slot(), nullptr);
    EXPECT_EQ(config_->GetConfig(&count, &data), E_OUTOFMEMORY);
  }
  EXPECT_EQ(count, 9);
  EXPECT_EQ(data, nullptr);
  EXPECT_EQ(config_->GetConfig(&count, &data), S_OK) << "restored";
  CoTaskMemFree(data);
}

// Every allocation of the module (its import of operator new) fails: each
// configuration method answers E_OUTOFMEMORY, none lets the exception out.
[[noreturn]] void* no_new(size_t) { throw std::bad_alloc(); }

TEST_F(healthcfg_module, configuration_methods_without_memory_return_out_of_memory) {
  base_n::com_ptr_t<INapComponentConfig3> third;
  ASSERT_EQ(config_->QueryInterface(IID_INapComponentConfig3, third.out_void()), S_OK);
  ASSERT_EQ(third->NewConfig(5), S_OK);
  std::string b = blob();
  UINT16 count = 0;
  BYTE* data = nullptr;
  const std::string path = base_n::module_file_name(module_);
  std::vector<HRESULT> results;
  bool thrown = false;
  {
    base_n::api_hook_t hook(reinterpret_cast<const void*>(&no_new), path.c_str(), "libstdc++.so.6", "_Znwm",
                            base_n::api_hook_t::policy_throw);
    ASSERT_NE(hook.slot(), nullptr);
    try {
      results.push_back(third->NewConfig(7));
      results.push_back(third->GetConfigFromID(5, &count, &data));
      results.push_back(third->SetConfigToID(5, static_cast<UINT16>(b.size()), reinterpret_cast<BYTE*>(b.data())));
      results.push_back(third->DeleteConfig(5));
      results.push_back(third->DeleteAllConfig());
    } catch (...) {
      thrown = true;
    }
  }
  EXPECT_FALSE(thrown) << "an exception crossed the COM boundary after " << results.size() << " calls";
  EXPECT_EQ(results, std::vector<HRESULT>(5, E_OUTOFMEMORY));
  EXPECT_TRUE(shv_settings::find_stored(5)) << "nothing deleted";
}

// A copy of the module under a path of exactly length UTF-16 units (base_dir
// is much shorter and ASCII), whose folders are named in Cyrillic and Chinese
// letters: two and three bytes each in UTF-8, one unit each in UTF-16.
std::u16string module_copy_at_length(const std::string& source, const std::string& base_dir, size_t length) {
  const std::u16string file = u"/libhealthcfg.so";
  std::u16string dir(base_dir.begin(), base_dir.end());
  dir += u"/\u0422\u0435\u0441\u0442 \u6D4B\u8BD5";  // "Test" in Russian, then in Chinese
  size_t remaining = length - dir.size() - file.size();
  for (char16_t letter = u'\u0434'; remaining > 0; letter = letter == u'\u0434' ? u'\u6587' : u'\u0434') {
    // Components of at most 80 units (240 bytes), never leaving a single one over.
    const size_t take = remaining <= 81 ? remaining : (remaining - 81 == 1 ? 80 : 81);
    dir += u"/" + std::u16string(take - 1, letter);
    remaining -= take;
  }
  const std::u16string path = dir + file;
  std::filesystem::create_directories(std::filesystem::path(dir));
  std::filesystem::copy_file(source, std::filesystem::path(path), std::filesystem::copy_options::overwrite_existing);
  return path;
}

TEST_F(healthcfg_module, registration_keeps_a_path_outside_the_code_page_and_counts_260_in_utf16_units) {
  const std::string source = base_n::module_file_name(module_);
  ASSERT_EQ(module_export(module_, "DllUnregisterServer")(), S_OK);
  for (size_t length : {259u, 260u}) {
    const std::u16string path = module_copy_at_length(source, store_.dir() + "/p" + std::to_string(length), length);
    ASSERT_EQ(path.size(), length);
    HMODULE copy = LoadLibraryA(std::filesystem::path(path).string().c_str());
    ASSERT_NE(copy, nullptr);
    const HRESULT hr = module_export(copy, "DllRegisterServer")();
    if (length == 259) {
      EXPECT_EQ(hr, S_OK);
      EXPECT_EQ(reg_value(HKEY_CLASSES_ROOT, clsid_key + u"\\InprocServer32", u"")->text(), path);
      EXPECT_EQ(reg_value(HKEY_CLASSES_ROOT, clsid_key, u"LocalizedString")->text(), u"@" + path + u",-100");
      // The console finds and loads the server by what was registered.
      base_n::com_ptr_t<INapComponentConfig> through_registration;
      EXPECT_EQ(CoCreateInstance(CLSID_SHVConfig, nullptr, CLSCTX_INPROC_SERVER, IID_INapComponentConfig,
                                 through_registration.out_void()),
                S_OK);
      through_registration.reset();
      EXPECT_EQ(module_export(copy, "DllUnregisterServer")(), S_OK);
    } else {
      EXPECT_EQ(hr, static_cast<HRESULT>(0x8007007A));
      EXPECT_FALSE(key_exists(HKEY_CLASSES_ROOT, clsid_key)) << "nothing written";
    }
    // The copy stays loaded: its logger sink and utility binding live as
    // long as the process, as they do for any loaded component.
  }
}

// A store that the administrator may read but not write: the stand-in's
// store file without write bits.
TEST_F(healthcfg_module, set_config_into_a_store_that_refuses_writes_says_so_and_stops) {
  shv_settings::write("server_name", u"old.example");
  const std::string before = blob();
  ASSERT_EQ(chmod(store_.path().c_str(), 0444), 0);
  const debug_output_t debug(store_.dir());
  std::string b = make_blob(2, u"new.example", 2000, 1, 5, 1);
  EXPECT_EQ(config_->SetConfig(static_cast<UINT16>(b.size()), reinterpret_cast<BYTE*>(b.data())),
            static_cast<HRESULT>(0x80070005));
  EXPECT_TRUE(debug.has("INapComponentConfig::SetConfig: nothing stored: server_name refused (error 5)\n"))
      << debug.text();
  EXPECT_EQ(blob(), before);
}

// One value refused part-way, for the default configuration and a network
// policy's: either the old configuration or the new one, never a mix.
TEST_F(healthcfg_module, set_config_refused_part_way_keeps_the_old_configuration) {
  base_n::com_ptr_t<INapComponentConfig3> third;
  ASSERT_EQ(config_->QueryInterface(IID_INapComponentConfig3, third.out_void()), S_OK);
  shv_settings::write("server_name", u"old.example");
  ASSERT_EQ(third->NewConfig(3), S_OK);
  const std::string before = blob();
  test_support::store_refusals_t refusals;
  refusals.refuse_set(u"ServerTimeout");
  const debug_output_t debug(store_.dir());
  std::string b = make_blob(2, u"new.example", 2000, 1, 5, 1);
  EXPECT_EQ(config_->SetConfig(static_cast<UINT16>(b.size()), reinterpret_cast<BYTE*>(b.data())),
            static_cast<HRESULT>(0x80070005));
  EXPECT_EQ(third->SetConfigToID(3, static_cast<UINT16>(b.size()), reinterpret_cast<BYTE*>(b.data())),
            static_cast<HRESULT>(0x80070005));
  EXPECT_EQ(blob(), before);
  UINT16 count = 0;
  BYTE* data = nullptr;
  ASSERT_EQ(third->GetConfigFromID(3, &count, &data), S_OK);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(data), count), before);
  CoTaskMemFree(data);
  EXPECT_TRUE(debug.has("INapComponentConfig::SetConfig: nothing stored: server_timeout refused (error 5); put back: "
                        "server_port, server_name"))
      << debug.text();
}

// A creation cut short whose clean-up fails too: reported, and what it left
// is no configuration until a NewConfig makes it whole.
TEST_F(healthcfg_module, new_config_refused_part_way_leaves_no_configuration) {
  base_n::com_ptr_t<INapComponentConfig3> third;
  ASSERT_EQ(config_->QueryInterface(IID_INapComponentConfig3, third.out_void()), S_OK);
  const debug_output_t debug(store_.dir());
  UINT16 count = 0;
  BYTE* data = nullptr;
  {
    test_support::store_refusals_t refusals;
    refusals.refuse_set(u"CacheTime");
    refusals.refuse_remove(u"ServerName");
    EXPECT_EQ(third->NewConfig(6), static_cast<HRESULT>(0x80070005));
    EXPECT_TRUE(debug.has("Unable to remove the half-made configuration 6 because of")) << debug.text();
    EXPECT_EQ(third->GetConfigFromID(6, &count, &data), NAP_E_SHV_CONFIG_NOT_FOUND);
  }
  EXPECT_EQ(third->NewConfig(6), S_OK);
  ASSERT_EQ(third->GetConfigFromID(6, &count, &data), S_OK);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(data), count), blob());
  CoTaskMemFree(data);
}

// The blob is the caller's to get right: refused as such even where the
// configuration cannot be read.
TEST_F(healthcfg_module, set_config_to_id_refuses_a_malformed_blob_before_reading_the_store) {
  base_n::com_ptr_t<INapComponentConfig3> third;
  ASSERT_EQ(config_->QueryInterface(IID_INapComponentConfig3, third.out_void()), S_OK);
  ASSERT_EQ(third->NewConfig(3), S_OK);
  ASSERT_EQ(chmod(store_.path().c_str(), 0000), 0);
  std::string bad(23, '\0');
  EXPECT_EQ(third->SetConfigToID(3, static_cast<UINT16>(bad.size()), reinterpret_cast<BYTE*>(bad.data())),
            E_INVALIDARG);
  ASSERT_EQ(chmod(store_.path().c_str(), 0644), 0);
}

TEST_F(healthcfg_module, get_config_of_a_key_that_cannot_be_read_is_an_error_not_the_defaults) {
  shv_settings::write("server_port", 4000u);  // the key exists, four values are missing
  EXPECT_EQ(blob(), make_blob(2, u"", 4000, 10000, 10000, 1)) << "missing values are their defaults";
  ASSERT_EQ(chmod(store_.path().c_str(), 0000), 0);
  UINT16 count = 7;
  BYTE* data = nullptr;
  EXPECT_EQ(config_->GetConfig(&count, &data), static_cast<HRESULT>(0x80070005)) << "access denied";
  ASSERT_EQ(chmod(store_.path().c_str(), 0644), 0);
  test_support::write_file(store_.path(), std::string(5000, 'x'));
  EXPECT_EQ(config_->GetConfig(&count, &data), HRESULT_FROM_WIN32(1009)) << "a damaged store";
  EXPECT_EQ(count, 7);
  EXPECT_EQ(data, nullptr);
}

}  // namespace
}  // namespace test_support
