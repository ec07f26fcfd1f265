// The components' class ids as the NAP server's and the console's
// registrations hold them: the one place their literal values are kept.
#include <gtest/gtest.h>

#include <string>

#include "common/component_ids.h"
#include "platform/wide.h"

namespace {

std::u16string text_of(const CLSID& id) {
  OLECHAR buffer[64] = {};
  EXPECT_EQ(StringFromGUID2(id, buffer, 64), 39);
  return plat::u16(buffer);
}

TEST(component_ids, are_the_registered_class_ids) {
  EXPECT_EQ(text_of(CLSID_SHVValidator), u"{60D48D71-1C65-4775-A2C2-2E331632914D}");
  EXPECT_EQ(text_of(CLSID_SHVConfig), u"{0C5C9CEC-1FF7-42E3-AC8F-4D9BAE296C5D}");
}

}  // namespace
