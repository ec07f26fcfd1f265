// Registry scripts: the grammar, replacements, quoting, and clear errors for
// malformed scripts.
#include <gtest/gtest.h>

#include "base/registry_script.h"
#include "kern/exceptions.h"

namespace {

using base_n::parse_registry_script;
using base_n::rgs_key_t;

std::string error_of(const std::string& text, const base_n::rgs_replacements_t& r = {}) {
  try {
    parse_registry_script(text, r);
  } catch (const parse_exception_shell_t& e) {
    return e.what();
  }
  return "(parsed)";
}

std::vector<uint8_t> sz(const std::u16string& s) {
  std::vector<uint8_t> out;
  for (char16_t c : s) {
    out.push_back(static_cast<uint8_t>(c));
    out.push_back(static_cast<uint8_t>(c >> 8));
  }
  out.push_back(0);
  out.push_back(0);
  return out;
}

TEST(registry_script, parses_keys_values_and_modes) {
  const std::string script = R"(
HKCR
{
  Vexor.SHV = s 'VexorLabs SHV object'
  {
    CLSID = s '{60d48d71-1c65-4775-a2c2-2e331632914d}'
  }
  NoRemove CLSID
  {
    ForceRemove {60d48d71-1c65-4775-a2c2-2e331632914d} = s 'Vexor System Health Validator'
    {
      val AppID = s '%APPID%'
      InprocServer32 = s '%MODULE%'
      {
        val ThreadingModel = s 'Both'
      }
    }
  }
  NoRemove AppID
  {
    '{162cb876-e4cb-424e-abc3-bd87de5f29d9}' = s 'healthval'
    {
      val AuthenticationLevel = d '0'
      val DllSurrogate = s ''
      val Flags = d '0x10'
      val Blob = b '00ff7A'
    }
    Delete Obsolete
  }
}
HKLM { }
)";
  const auto roots = parse_registry_script(script, {{"MODULE", "/opt/it''s/libhealthval.so"}, {"APPID", "{x}"}});
  ASSERT_EQ(roots.size(), 2u);
  EXPECT_EQ(roots[0].root, HKEY_CLASSES_ROOT);
  EXPECT_EQ(roots[1].root, HKEY_LOCAL_MACHINE);
  EXPECT_TRUE(roots[1].keys.empty());
  const auto& keys = roots[0].keys;
  ASSERT_EQ(keys.size(), 3u);
  EXPECT_EQ(keys[0].name, u"Vexor.SHV");
  EXPECT_EQ(keys[0].default_value->data, sz(u"VexorLabs SHV object"));
  EXPECT_EQ(keys[1].mode, rgs_key_t::mode_t::no_remove);
  const rgs_key_t& clsid = keys[1].subkeys.at(0);
  EXPECT_EQ(clsid.mode, rgs_key_t::mode_t::force_remove);
  EXPECT_EQ(clsid.name, u"{60d48d71-1c65-4775-a2c2-2e331632914d}");
  EXPECT_EQ(clsid.values.at(0).name, u"AppID");
  EXPECT_EQ(clsid.values.at(0).data, sz(u"{x}"));
  EXPECT_EQ(clsid.subkeys.at(0).default_value->data, sz(u"/opt/it's/libhealthval.so"));
  EXPECT_EQ(clsid.subkeys.at(0).values.at(0).data, sz(u"Both"));
  const rgs_key_t& appid = keys[2].subkeys.at(0);
  EXPECT_EQ(appid.name, u"{162cb876-e4cb-424e-abc3-bd87de5f29d9}");
  EXPECT_EQ(appid.values.at(0).type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(appid.values.at(0).data, (std::vector<uint8_t>{0, 0, 0, 0}));
  EXPECT_EQ(appid.values.at(1).data, sz(u""));
  EXPECT_EQ(appid.values.at(2).data, (std::vector<uint8_t>{0x10, 0, 0, 0}));
  EXPECT_EQ(appid.values.at(3).type, static_cast<DWORD>(REG_BINARY));
  EXPECT_EQ(appid.values.at(3).data, (std::vector<uint8_t>{0x00, 0xff, 0x7a}));
  EXPECT_EQ(keys[2].subkeys.at(1).mode, rgs_key_t::mode_t::remove);
}

TEST(registry_script, quoting_and_percent) {
  EXPECT_EQ(base_n::rgs_quote("C:\\it's"), "C:\\it''s");
  const auto roots = parse_registry_script("HKCR { 'a b' = s '100%% sure, it''s' }", {});
  EXPECT_EQ(roots[0].keys[0].name, u"a b");
  EXPECT_EQ(roots[0].keys[0].default_value->data, sz(u"100% sure, it's"));
  // UTF-8 text becomes UTF-16.
  const auto umlaut = parse_registry_script("HKCR { k = s 'Grüße' }", {});
  EXPECT_EQ(umlaut[0].keys[0].default_value->data, sz(u"Grüße"));
}

TEST(registry_script, malformed_scripts_name_the_line) {
  EXPECT_EQ(error_of("HKCU { }"), "line 1: expected a root key (HKCR or HKLM), found \"HKCU\"");
  EXPECT_EQ(error_of("HKCR\n{\n  k = s 'x'\n"), "unexpected end of script");
  EXPECT_EQ(error_of("HKCR { k = s 'unterminated }"), "line 1: unterminated quoted text");
  EXPECT_EQ(error_of("HKCR {\n k = q 'x' }"), "line 2: expected a value type (s, d or b), found \"q\"");
  EXPECT_EQ(error_of("HKCR { k = s x }"), "line 1: expected quoted value data, found \"x\"");
  EXPECT_EQ(error_of("HKCR { k { val = s 'x' } }"), "line 1: expected =, found \"s\"");
  EXPECT_EQ(error_of("HKCR { k { val n = d '4294967296' } }"),
            "line 1: expected a 32-bit number, found \"4294967296\"");
  EXPECT_EQ(error_of("HKCR { k { val n = d '-1' } }"), "line 1: expected a 32-bit number, found \"-1\"");
  EXPECT_EQ(error_of("HKCR { k { val n = d '0x1G' } }"), "line 1: expected a 32-bit number, found \"0x1G\"");
  EXPECT_EQ(error_of("HKCR { k { val n = b 'abc' } }"), "line 1: expected an even number of hex digits, found \"abc\"");
  EXPECT_EQ(error_of("HKCR { k = s '%MISSING%' }"), "line 1: no replacement for %MISSING%");
  EXPECT_EQ(error_of("HKCR { k = s '%oops' }"), "line 1: unterminated %name%");
  EXPECT_EQ(error_of("HKCR { = }"), "line 1: expected a key name, found \"=\"");
  EXPECT_EQ(error_of("HKCR { } }"), "line 1: expected a root key (HKCR or HKLM), found \"}\"");
}

}  // namespace
