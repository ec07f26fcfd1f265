// Registry scripts run against the real registry store: what registration
// writes, what unregistration leaves, and failures as HRESULTs.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "base/registry_script.h"
#include "platform/com.h"
#include "capture_logger.h"
#include "registry_fixture.h"
#include "registry_values.h"

namespace {

using test_support::capture_logger_t;

const char script[] = R"(HKCR
{
  Test.Object = s 'Test object'
  {
    CLSID = s '{11111111-2222-3333-4444-555555555555}'
  }
  NoRemove CLSID
  {
    ForceRemove {11111111-2222-3333-4444-555555555555} = s 'Test'
    {
      InprocServer32 = s '%MODULE%'
      {
        val ThreadingModel = s 'Both'
      }
    }
  }
  NoRemove AppID
  {
    '{99999999-2222-3333-4444-555555555555}' = s 'test'
    {
      val AuthenticationLevel = d '0'
    }
  }
})";

bool key_exists(const char16_t* path) { return test_support::key_exists(HKEY_CLASSES_ROOT, path); }

std::u16string string_value(const char16_t* path, const char16_t* name) {
  if (!key_exists(path)) return u"(no key)";
  const auto value = test_support::reg_value(HKEY_CLASSES_ROOT, path, name ? name : u"");
  return value ? value->text() : u"(no value)";
}

const base_n::rgs_replacements_t replacements = {{"MODULE", "/opt/test/libtest.so"}};

TEST(registry_script_run, registers_and_unregisters) {
  test_support::temp_store_t store;
  ASSERT_EQ(base_n::run_registry_script(script, replacements, true), S_OK);
  EXPECT_EQ(string_value(u"Test.Object", nullptr), u"Test object");
  EXPECT_EQ(string_value(u"Test.Object\\CLSID", nullptr), u"{11111111-2222-3333-4444-555555555555}");
  const char16_t inproc[] = u"CLSID\\{11111111-2222-3333-4444-555555555555}\\InprocServer32";
  EXPECT_EQ(string_value(inproc, nullptr), u"/opt/test/libtest.so");
  EXPECT_EQ(string_value(inproc, u"ThreadingModel"), u"Both");

  // A stale subkey under a ForceRemove key is gone after registering again.
  HKEY stale = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, plat::wstr(u"CLSID\\{11111111-2222-3333-4444-555555555555}\\Stale"),
                            0, nullptr, 0, KEY_WRITE, nullptr, &stale, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(stale);
  // A neighbour under the NoRemove key must survive everything.
  HKEY other = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, plat::wstr(u"CLSID\\{other}"), 0, nullptr, 0, KEY_WRITE, nullptr,
                            &other, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(other);
  ASSERT_EQ(base_n::run_registry_script(script, replacements, true), S_OK);
  EXPECT_FALSE(key_exists(u"CLSID\\{11111111-2222-3333-4444-555555555555}\\Stale"));

  ASSERT_EQ(base_n::run_registry_script(script, replacements, false), S_OK);
  EXPECT_FALSE(key_exists(u"Test.Object"));
  EXPECT_FALSE(key_exists(u"CLSID\\{11111111-2222-3333-4444-555555555555}"));
  EXPECT_FALSE(key_exists(u"AppID\\{99999999-2222-3333-4444-555555555555}"));
  EXPECT_TRUE(key_exists(u"CLSID"));
  EXPECT_TRUE(key_exists(u"AppID"));
  EXPECT_TRUE(key_exists(u"CLSID\\{other}"));
  // Unregistering again finds nothing to remove and still succeeds.
  EXPECT_EQ(base_n::run_registry_script(script, replacements, false), S_OK);
}

TEST(registry_script_run, failures_come_back_as_hresults) {
  test_support::temp_store_t store;
  capture_logger_t log(lvl_error);
  EXPECT_EQ(base_n::run_registry_script("HKCR { k = x 'y' }", {}, true), DISP_E_EXCEPTION);
  EXPECT_EQ(log.messages(),
            std::vector<std::string>{"[registry script] line 1: expected a value type (s, d or b), found \"x\""});
  EXPECT_FALSE(key_exists(u"k"));

  // A store that cannot be written.
  ASSERT_EQ(base_n::run_registry_script(script, replacements, true), S_OK);
  chmod(store.path().c_str(), 0444);
  EXPECT_EQ(base_n::run_registry_script(script, replacements, true), HRESULT_FROM_WIN32(5));
}

}  // namespace
