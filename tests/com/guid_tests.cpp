// GUID text form, HRESULT helpers and the task allocator of the COM seam.
#include <gtest/gtest.h>

#include <string>

#include "platform/com.h"

namespace {

const GUID validator_class = {0x60d48d71, 0x1c65, 0x4775, {0xa2, 0xc2, 0x2e, 0x33, 0x16, 0x32, 0x91, 0x4d}};

std::u16string print(const GUID& g) {
  OLECHAR buffer[64];
  const int n = StringFromGUID2(g, buffer, 64);
  EXPECT_EQ(n, 39);
  return n > 0 ? std::u16string(buffer, static_cast<size_t>(n - 1)) : std::u16string();
}

TEST(guid_text, parses_either_case_and_prints_upper_case) {
  CLSID a{}, b{};
  ASSERT_EQ(CLSIDFromString(u"{60d48d71-1c65-4775-a2c2-2e331632914d}", &a), S_OK);
  ASSERT_EQ(CLSIDFromString(u"{60D48D71-1C65-4775-A2C2-2E331632914D}", &b), S_OK);
  EXPECT_TRUE(IsEqualGUID(a, validator_class));
  EXPECT_TRUE(a == b);
  EXPECT_EQ(print(a), u"{60D48D71-1C65-4775-A2C2-2E331632914D}");
  // Mixed case as it appears in registry scripts.
  ASSERT_EQ(CLSIDFromString(u"{0C5C9CEC-1FF7-42e3-AC8F-4D9BAE296C5D}", &a), S_OK);
  EXPECT_EQ(a.Data1, 0x0C5C9CECu);
  EXPECT_EQ(a.Data3, 0x42e3u);
  EXPECT_EQ(a.Data4[7], 0x5Du);
}

TEST(guid_text, round_trips_extreme_values) {
  const GUID all_ones = {0xFFFFFFFF, 0xFFFF, 0xFFFF, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}};
  for (const GUID& g : {GUID_NULL, all_ones, validator_class, IID_IUnknown, IID_IClassFactory}) {
    const std::u16string text = print(g);
    GUID back{};
    ASSERT_EQ(IIDFromString(text.c_str(), &back), S_OK);
    EXPECT_TRUE(back == g);
  }
  EXPECT_EQ(print(GUID_NULL), u"{00000000-0000-0000-0000-000000000000}");
  EXPECT_EQ(print(IID_IClassFactory), u"{00000001-0000-0000-C000-000000000046}");
}

TEST(guid_text, rejects_malformed_text_and_keeps_the_output) {
  const char16_t* malformed[] = {
      u"",
      u"{",
      u"60d48d71-1c65-4775-a2c2-2e331632914d",     // no braces
      u"{60d48d71-1c65-4775-a2c2-2e331632914d",    // no closing brace
      u"60d48d71-1c65-4775-a2c2-2e331632914d}",    // no opening brace
      u"{60d48d71-1c65-4775-a2c2-2e331632914d} ",  // trailing blank
      u" {60d48d71-1c65-4775-a2c2-2e331632914d}",  // leading blank
      u"{60d48d71-1c65-4775-a2c2-2e331632914d}x",  // trailing text
      u"{60d48d7g-1c65-4775-a2c2-2e331632914d}",   // not a hex digit
      u"{60d48d71_1c65-4775-a2c2-2e331632914d}",   // wrong separator
      u"{60d48d71-1c65-4775-a2c22e331632914d}",    // separator missing
      u"{60d48d71-1c65-4775-a2c2-2e331632914}",    // one digit short
      u"{60d48d711c65-4775-a2c2-2e331632914d-}",   // separator moved
      u"{+0d48d71-1c65-4775-a2c2-2e331632914d}",   // sign
      u"{60d48d71-1c65-4775-a2c2-2e33163291\x0664d}",  // non-ASCII digit
      u"{{60d48d71-1c65-4775-a2c2-2e331632914d}}",
  };
  for (const char16_t* text : malformed) {
    CLSID clsid = validator_class;
    EXPECT_EQ(CLSIDFromString(text, &clsid), CO_E_CLASSSTRING);
    EXPECT_TRUE(clsid == validator_class);
    IID iid = validator_class;
    EXPECT_EQ(IIDFromString(text, &iid), E_INVALIDARG);
    EXPECT_TRUE(iid == validator_class);
  }
  IID iid{};
  EXPECT_EQ(IIDFromString(nullptr, &iid), E_INVALIDARG);
  EXPECT_EQ(CLSIDFromString(u"{60d48d71-1c65-4775-a2c2-2e331632914d}", nullptr), E_INVALIDARG);
}

TEST(guid_text, printing_needs_room_for_the_terminator) {
  OLECHAR buffer[39];
  EXPECT_EQ(StringFromGUID2(validator_class, buffer, 38), 0);
  EXPECT_EQ(StringFromGUID2(validator_class, nullptr, 39), 0);
  EXPECT_EQ(StringFromGUID2(validator_class, buffer, 39), 39);
  EXPECT_EQ(buffer[38], u'\0');
}

TEST(hresult, success_failure_and_win32_codes) {
  EXPECT_TRUE(SUCCEEDED(S_OK));
  EXPECT_TRUE(SUCCEEDED(S_FALSE));
  EXPECT_FALSE(FAILED(S_FALSE));
  EXPECT_TRUE(FAILED(E_FAIL));
  EXPECT_TRUE(FAILED(REGDB_E_CLASSNOTREG));
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED), E_ACCESSDENIED);
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INVALID_PARAMETER), E_INVALIDARG);
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), static_cast<HRESULT>(0x80070002u));
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND), static_cast<HRESULT>(0x8007007Eu));
  EXPECT_EQ(HRESULT_FROM_WIN32(0), S_OK);  // success stays success
  EXPECT_EQ(HRESULT_CODE(E_ACCESSDENIED), 5);
  EXPECT_EQ(HRESULT_FACILITY(E_ACCESSDENIED), FACILITY_WIN32);
}

TEST(task_allocator, memory_is_usable_and_resizable) {
  auto* p = static_cast<char*>(CoTaskMemAlloc(16));
  ASSERT_NE(p, nullptr);
  std::memcpy(p, "0123456789abcdef", 16);
  p = static_cast<char*>(CoTaskMemRealloc(p, 4096));
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(std::string(p, 16), "0123456789abcdef");
  CoTaskMemFree(p);
  CoTaskMemFree(nullptr);  // allowed, as on Windows
}

}  // namespace
