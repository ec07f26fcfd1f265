// The interface and class ids of the test in-process server.
#pragma once

#include "platform/com.h"

namespace test_support {

// {5A1B0C3D-7E2F-4A10-9B8C-0D1E2F3A4B5C}
inline constexpr CLSID clsid_test_counter = {0x5A1B0C3D, 0x7E2F, 0x4A10, {0x9B, 0x8C, 0x0D, 0x1E, 0x2F, 0x3A, 0x4B, 0x5C}};
// {5A1B0C3D-7E2F-4A10-9B8C-0D1E2F3A4B5D}: registered to the same module, which does not serve it
inline constexpr CLSID clsid_not_served = {0x5A1B0C3D, 0x7E2F, 0x4A10, {0x9B, 0x8C, 0x0D, 0x1E, 0x2F, 0x3A, 0x4B, 0x5D}};
// {0E4F6A71-33C2-4D5E-8F90-A1B2C3D4E5F6}
inline constexpr IID iid_test_counter = {0x0E4F6A71, 0x33C2, 0x4D5E, {0x8F, 0x90, 0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0xF6}};

struct test_counter_t : public IUnknown {
  // Adds one to the object's count and returns it.
  virtual HRESULT STDMETHODCALLTYPE Increment(LONG* value) = 0;
};

}  // namespace test_support
