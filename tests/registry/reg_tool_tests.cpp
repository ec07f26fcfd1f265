// The reg tool as an administrator runs it: reg.exe's syntax, output layout,
// messages and exit status, and the bytes it leaves in the store.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>
#include <tuple>
#include <vector>

#include "platform/win32.h"
#include "tests/support/registry_fixture.h"
#include "tests/support/registry_values.h"

namespace {

using test_support::run_result_t;

const char not_found[] = "ERROR: The system was unable to find the specified registry key or value.\n";
const char done[] = "The operation completed successfully.\n";
const char key[] = "HKLM\\SOFTWARE\\VexorLabs\\REDIVEVE\\Settings";

class reg_tool : public ::testing::Test {
 protected:
  run_result_t reg(const std::vector<std::string>& args, const std::string& input = "") {
    return test_support::run_reg(args, input);
  }
  // Type and bytes of a value through the registry calls.
  bool value(const char16_t* key_path, const char16_t* name, DWORD& type, std::string& data) {
    const auto found = test_support::reg_value(HKEY_LOCAL_MACHINE, key_path, name);
    if (found) std::tie(type, data) = std::tie(found->type, found->bytes);
    return found.has_value();
  }
  bool key_exists(const char16_t* key_path) { return test_support::key_exists(HKEY_LOCAL_MACHINE, key_path); }
  test_support::temp_store_t store;
  const char16_t* settings = u"SOFTWARE\\VexorLabs\\REDIVEVE\\Settings";
};

TEST_F(reg_tool, add_stores_each_type_as_its_bytes) {
  struct {
    std::vector<std::string> args;
    const char16_t* name;
    DWORD type;
    std::string bytes;
  } cases[] = {
      {{"/v", "ServerName", "/d", "abc"}, u"ServerName", REG_SZ, std::string("a\0b\0c\0\0\0", 8)},
      {{"/v", "ServerPort", "/t", "REG_DWORD", "/d", "2193"}, u"ServerPort", REG_DWORD,
       std::string("\x91\x08\0\0", 4)},
      {{"/v", "Hex", "/t", "reg_dword", "/d", "0xFFFFFFFF"}, u"Hex", REG_DWORD,
       std::string("\xff\xff\xff\xff", 4)},
      {{"/v", "Path", "/t", "REG_EXPAND_SZ", "/d", "%x%"}, u"Path", REG_EXPAND_SZ,
       std::string("%\0x\0%\0\0\0", 8)},
      {{"/v", "List", "/t", "REG_MULTI_SZ", "/d", "a\\0bc"}, u"List", REG_MULTI_SZ,
       std::string("a\0\0\0b\0c\0\0\0\0\0", 12)},
      {{"/v", "Sep", "/t", "REG_MULTI_SZ", "/s", ",", "/d", "a,b"}, u"Sep", REG_MULTI_SZ,
       std::string("a\0\0\0b\0\0\0\0\0", 10)},
      {{"/v", "Bin", "/t", "REG_BINARY", "/d", "00ff7A"}, u"Bin", REG_BINARY,
       std::string("\0\xff\x7a", 3)},
      {{"/ve", "/d", "default"}, u"", REG_SZ, std::string("d\0e\0f\0a\0u\0l\0t\0\0\0", 16)},
      {{"/v", "Empty"}, u"Empty", REG_SZ, std::string("\0\0", 2)},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"add", key};
    args.insert(args.end(), c.args.begin(), c.args.end());
    args.push_back("/f");
    const run_result_t r = reg(args);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, done);
    DWORD type = 0;
    std::string data;
    ASSERT_TRUE(value(settings, c.name, type, data));
    EXPECT_EQ(type, c.type);
    EXPECT_EQ(data, c.bytes);
  }
}

TEST_F(reg_tool, query_prints_the_layout_of_reg_exe) {
  ASSERT_EQ(reg({"add", key, "/v", "ServerName", "/d", "abc"}).status, 0);
  ASSERT_EQ(reg({"add", key, "/v", "ServerPort", "/t", "REG_DWORD", "/d", "2193"}).status, 0);
  ASSERT_EQ(reg({"add", key, "/v", "List", "/t", "REG_MULTI_SZ", "/d", "x\\0y"}).status, 0);
  ASSERT_EQ(reg({"add", key, "/v", "Bin", "/t", "REG_BINARY", "/d", "0aff"}).status, 0);
  ASSERT_EQ(reg({"add", key, "/ve", "/d", "dflt"}).status, 0);
  ASSERT_EQ(reg({"add", std::string(key) + "\\Sub"}).status, 0);

  const std::string head = "HKEY_LOCAL_MACHINE\\SOFTWARE\\VexorLabs\\REDIVEVE\\Settings";
  const std::string values =
      "    ServerName    REG_SZ    abc\n"
      "    ServerPort    REG_DWORD    0x891\n"
      "    List    REG_MULTI_SZ    x\\0y\n"
      "    Bin    REG_BINARY    0AFF\n"
      "    (Default)    REG_SZ    dflt\n";
  run_result_t r = reg({"query", key});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "\n" + head + "\n" + values + "\n" + head + "\\Sub\n");

  r = reg({"query", key, "/v", "ServerPort"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "\n" + head + "\n    ServerPort    REG_DWORD    0x891\n\n");
  r = reg({"query", key, "/ve"});
  EXPECT_EQ(r.out, "\n" + head + "\n    (Default)    REG_SZ    dflt\n\n");

  r = reg({"query", "HKEY_LOCAL_MACHINE\\SOFTWARE\\VexorLabs", "/s"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\VexorLabs\n\n"
                   "HKEY_LOCAL_MACHINE\\SOFTWARE\\VexorLabs\\REDIVEVE\n\n" +
                       head + "\n" + values + "\n" + head + "\\Sub\n\n");

  r = reg({"query", "HKLM\\SOFTWARE", "/v", "ServerName", "/s"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "\n" + head + "\n    ServerName    REG_SZ    abc\n\nEnd of search: 1 match(es) found.\n");
}

TEST_F(reg_tool, classes_root_names_the_same_keys_as_software_classes) {
  ASSERT_EQ(reg({"add", "HKCR\\CLSID\\{60d48d71}\\InprocServer32", "/ve", "/d", "x.dll"}).status, 0);
  const run_result_t r = reg({"query", "HKLM\\SOFTWARE\\Classes\\CLSID\\{60D48D71}\\InprocServer32", "/ve"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\CLSID\\{60D48D71}\\InprocServer32\n"
                   "    (Default)    REG_SZ    x.dll\n\n");
  EXPECT_EQ(reg({"query", "HKEY_CLASSES_ROOT\\CLSID"}).out,
            "\nHKEY_CLASSES_ROOT\\CLSID\\{60d48d71}\n");
}

TEST_F(reg_tool, missing_keys_and_values_exit_1_with_the_not_found_text) {
  ASSERT_EQ(reg({"add", key, "/v", "A", "/d", "1"}).status, 0);
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"query", "HKLM\\SOFTWARE\\Nothing"},
           {"query", key, "/v", "B"},
           {"query", key, "/ve"},
           {"query", "HKLM\\SOFTWARE", "/v", "B", "/s"},
           {"delete", key, "/v", "B", "/f"},
           {"delete", "HKLM\\SOFTWARE\\Nothing", "/f"},
           {"delete", "HKLM\\SOFTWARE\\Nothing", "/va", "/f"}}) {
    const run_result_t r = reg(args);
    EXPECT_EQ(r.status, 1) << args[1];
    EXPECT_EQ(r.err, not_found) << args[1];
    EXPECT_EQ(r.out, "") << args[1];
  }
}

TEST_F(reg_tool, malformed_command_lines_are_refused_and_change_nothing) {
  const std::string syntax_add = "ERROR: Invalid syntax.\nType \"REG ADD /?\" for usage.\n";
  const std::string bad_key_add = "ERROR: Invalid key name.\nType \"REG ADD /?\" for usage.\n";
  const struct {
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {{"add", key, "/v", "N", "/t", "REG_DWORD", "/d", "12x"}, syntax_add},
      {{"add", key, "/v", "N", "/t", "REG_DWORD", "/d", "4294967296"}, syntax_add},
      {{"add", key, "/v", "N", "/t", "REG_DWORD", "/d", "-1"}, syntax_add},
      {{"add", key, "/v", "N", "/t", "REG_DWORD", "/d", "0x"}, syntax_add},
      {{"add", key, "/v", "N", "/t", "REG_BINARY", "/d", "abc"}, syntax_add},
      {{"add", key, "/v", "N", "/t", "REG_BINARY", "/d", "zz"}, syntax_add},
      {{"add", key, "/v", "N", "/t", "REG_MULTI_SZ", "/d", "a\\0\\0b"}, syntax_add},
      {{"add", key, "/v", "N", "/t", "REG_QWORD", "/d", "1"}, syntax_add},
      {{"add", key, "/v", "N", "/t", "REG_SZ", "/s", ",", "/d", "a"}, syntax_add},
      {{"add", key, "/v"}, syntax_add},
      {{"add", key, "/v", "N", "/ve"}, syntax_add},
      {{"add", key, "/v", "N", "/d", "1", "/d", "2"}, syntax_add},
      {{"add", key, "/x"}, syntax_add},
      {{"add", key, "stray"}, syntax_add},
      {{"add"}, syntax_add},
      {{"add", "HKCU\\Software\\X"}, bad_key_add},
      {{"add", "HKLM\\\\SOFTWARE"}, bad_key_add},
      {{"add", "SOFTWARE\\X"}, bad_key_add},
      {{"query", key, "/f"}, "ERROR: Invalid syntax.\nType \"REG QUERY /?\" for usage.\n"},
      {{"delete", key, "/va", "/v", "x"}, "ERROR: Invalid syntax.\nType \"REG DELETE /?\" for usage.\n"},
      {{"frobnicate", key}, "ERROR: Invalid syntax.\nType \"REG /?\" for usage.\n"},
      {{}, "ERROR: Invalid syntax.\nType \"REG /?\" for usage.\n"},
  };
  for (const auto& c : cases) {
    const run_result_t r = reg(c.args);
    const std::string shown = c.args.empty() ? "(none)" : c.args.back();
    EXPECT_EQ(r.status, 1) << shown;
    EXPECT_EQ(r.err, c.err) << shown;
  }
  EXPECT_FALSE(key_exists(settings));
  EXPECT_FALSE(std::filesystem::exists(store.path()));
}

TEST_F(reg_tool, an_existing_value_is_overwritten_only_when_confirmed) {
  ASSERT_EQ(reg({"add", key, "/v", "V", "/d", "one"}).status, 0);
  run_result_t r = reg({"add", key, "/v", "V", "/d", "two"}, "no\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "Value V exists, overwrite (Yes/No)? The operation was canceled by the user.\n");
  DWORD type = 0;
  std::string data;
  ASSERT_TRUE(value(settings, u"V", type, data));
  EXPECT_EQ(data, std::string("o\0n\0e\0\0\0", 8));
  // No answer at all is no.
  EXPECT_EQ(reg({"add", key, "/v", "V", "/d", "two"}).status, 1);
  r = reg({"add", key, "/v", "V", "/d", "two"}, "yes\n");
  EXPECT_EQ(r.status, 0);
  ASSERT_TRUE(value(settings, u"V", type, data));
  EXPECT_EQ(data, std::string("t\0w\0o\0\0\0", 8));
}

TEST_F(reg_tool, delete_removes_values_or_the_whole_key) {
  ASSERT_EQ(reg({"add", key, "/v", "A", "/d", "1"}).status, 0);
  ASSERT_EQ(reg({"add", key, "/v", "B", "/d", "2"}).status, 0);
  ASSERT_EQ(reg({"add", key, "/ve", "/d", "3"}).status, 0);
  ASSERT_EQ(reg({"add", std::string(key) + "\\Sub", "/v", "C", "/d", "4"}).status, 0);
  DWORD type = 0;
  std::string data;

  run_result_t r = reg({"delete", key, "/v", "A"}, "n\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(value(settings, u"A", type, data));
  r = reg({"delete", key, "/v", "A"}, "y\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, std::string("Delete the registry value A (Yes/No)? ") + done);
  EXPECT_FALSE(value(settings, u"A", type, data));

  EXPECT_EQ(reg({"delete", key, "/ve", "/f"}).out, done);
  EXPECT_FALSE(value(settings, u"", type, data));
  EXPECT_TRUE(value(settings, u"B", type, data));

  ASSERT_EQ(reg({"add", key, "/v", "D", "/d", "5"}).status, 0);
  EXPECT_EQ(reg({"delete", key, "/va", "/f"}).status, 0);
  EXPECT_FALSE(value(settings, u"B", type, data));
  EXPECT_FALSE(value(settings, u"D", type, data));
  EXPECT_TRUE(value(u"SOFTWARE\\VexorLabs\\REDIVEVE\\Settings\\Sub", u"C", type, data));

  r = reg({"delete", "HKLM\\SOFTWARE\\VexorLabs"}, "no\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(key_exists(settings));
  r = reg({"delete", "HKLM\\SOFTWARE\\VexorLabs", "/f"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, done);
  EXPECT_FALSE(key_exists(u"SOFTWARE\\VexorLabs"));
  EXPECT_TRUE(key_exists(u"SOFTWARE"));
  // The hive itself is not deleted.
  r = reg({"delete", "HKLM", "/f"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "ERROR: Access is denied.\n");
}

TEST_F(reg_tool, store_failures_are_reported_with_their_system_text) {
  ASSERT_EQ(reg({"add", key, "/v", "A", "/d", "1"}).status, 0);
  ASSERT_EQ(chmod(store.path().c_str(), 0444), 0);
  run_result_t r = reg({"add", key, "/v", "A", "/d", "2", "/f"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "ERROR: Access is denied.\n");
  EXPECT_EQ(reg({"delete", key, "/f"}).err, "ERROR: Access is denied.\n");
  r = reg({"query", key, "/v", "A"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("    A    REG_SZ    1\n"), std::string::npos);

  test_support::write_file(store.dir() + "/bad.db", "garbage, not a store");
  setenv("SHV_REGISTRY", (store.dir() + "/bad.db").c_str(), 1);
  r = reg({"query", key});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "ERROR: The configuration registry database is corrupt.\n");
  EXPECT_EQ(test_support::read_file(store.dir() + "/bad.db"), "garbage, not a store");
}

}  // namespace
