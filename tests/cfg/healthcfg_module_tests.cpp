// healthcfg's module and SHVConfig's blob methods, through the real module.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <new>

#include "base/api_hook.h"
#include "base/module_info.h"
#include "common/settings.h"
#include "healthcfg_fixture.h"

namespace cfg_test {
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
  const std::string path = base_n::module_file_name(module_);
  const std::u16string module_path(path.begin(), path.end());
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
  EXPECT_EQ(get(clsid_shv_config, IID_IClassFactory, nullptr), E_POINTER);
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
  ASSERT_EQ(get(clsid_shv_config, IID_IClassFactory, factory.out_void()), S_OK);
  EXPECT_EQ(factory->LockServer(TRUE), S_OK);
  factory.reset();
  EXPECT_EQ(can_unload(), S_FALSE) << "a server lock";
  base_n::com_ptr_t<IClassFactory> again;
  ASSERT_EQ(get(clsid_shv_config, IID_IClassFactory, again.out_void()), S_OK);
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

// A copy of the module under a path of exactly length characters (base_dir
// is much shorter).
std::string module_copy_at_length(const std::string& source, const std::string& base_dir, size_t length) {
  const std::string file = "/libhealthcfg.so";
  std::string dir = base_dir;
  size_t remaining = length - base_dir.size() - file.size();
  while (remaining > 0) {
    // Components of at most 100 characters, never leaving a single one over.
    const size_t take = remaining <= 101 ? remaining : (remaining - 101 == 1 ? 100 : 101);
    dir += "/" + std::string(take - 1, 'd');
    remaining -= take;
  }
  std::filesystem::create_directories(dir);
  const std::string path = dir + file;
  std::filesystem::copy_file(source, path, std::filesystem::copy_options::overwrite_existing);
  return path;
}

TEST_F(healthcfg_module, a_module_path_of_260_characters_fails_registration) {
  const std::string source = base_n::module_file_name(module_);
  ASSERT_EQ(module_export(module_, "DllUnregisterServer")(), S_OK);
  for (size_t length : {259u, 260u}) {
    const std::string path = module_copy_at_length(source, store_.dir() + "/p" + std::to_string(length), length);
    ASSERT_EQ(path.size(), length);
    HMODULE copy = LoadLibraryA(path.c_str());
    ASSERT_NE(copy, nullptr);
    const HRESULT hr = module_export(copy, "DllRegisterServer")();
    if (length == 259) {
      EXPECT_EQ(hr, S_OK);
      EXPECT_EQ(reg_value(HKEY_CLASSES_ROOT, clsid_key + u"\\InprocServer32", u"")->text(),
                std::u16string(path.begin(), path.end()));
      EXPECT_EQ(module_export(copy, "DllUnregisterServer")(), S_OK);
    } else {
      EXPECT_EQ(hr, static_cast<HRESULT>(0x8007007A));
      EXPECT_FALSE(key_exists(HKEY_CLASSES_ROOT, clsid_key)) << "nothing written";
    }
    // The copy stays loaded: its logger sink and utility binding live as
    // long as the process, as they do for any loaded component.
  }
}

}  // namespace
}  // namespace cfg_test
