// The SoH wire codec against byte vectors checked by hand, and its rejection
// of every kind of malformed input.
#include <gtest/gtest.h>

#include "platform/soh/soh_wire.h"

namespace {

using bytes_t = std::vector<uint8_t>;
using namespace soh_wire;

// Our validator's list: System-Health-Id 0x0073FA02 and the record "1 abc def".
const bytes_t our_list = {0x00, 0x02, 0x00, 0x04, 0x00, 0x73, 0xFA, 0x02,              // SHID
                          0x00, 0x07, 0x00, 0x0D, 0x00, 0x73, 0xFA, 0x02,              // VS, vendor
                          '1',  ' ',  'a',  'b',  'c',  ' ',  'd',  'e',  'f'};

// The system's entry: its id and a one-byte Microsoft vendor-specific value.
const bytes_t system_list = {0x00, 0x02, 0x00, 0x04, 0x00, 0x01, 0x37, 0x00,
                             0x00, 0x07, 0x00, 0x05, 0x00, 0x00, 0x01, 0x37, 0xAA};

bytes_t message_type1() {
  bytes_t m = {0x00, 0x07, 0x00, 0x32, 0x00, 0x00, 0x01, 0x37, 0x00, 0x01, 0x00, 0x2A};
  m.insert(m.end(), system_list.begin(), system_list.end());
  m.insert(m.end(), our_list.begin(), our_list.end());
  return m;
}

std::string error_of(const bytes_t& b, bool message) {
  try {
    if (message) {
      decode_message(b.data(), b.size());
    } else {
      decode_attributes(b.data(), b.size());
    }
  } catch (const format_error& e) {
    return e.what();
  }
  return "(accepted)";
}

TEST(soh_wire, attribute_list_both_ways) {
  const auto attributes = decode_attributes(our_list.data(), our_list.size());
  ASSERT_EQ(attributes.size(), 2u);
  EXPECT_EQ(attributes[0], make_system_health_id(0x0073FA02));
  EXPECT_EQ(attributes[1], make_vendor_specific(0x0073FA02, "1 abc def"));
  EXPECT_EQ(encode_attributes(attributes), our_list);

  // A response: id, then one compliance result code 0x80270050.
  const bytes_t response = {0x00, 0x02, 0x00, 0x04, 0x00, 0x73, 0xFA, 0x02,
                            0x00, 0x04, 0x00, 0x04, 0x80, 0x27, 0x00, 0x50};
  EXPECT_EQ(encode_attributes({make_system_health_id(0x0073FA02), make_result_codes(4, {0x80270050})}), response);
  const bytes_t failure = {0x00, 0x02, 0x00, 0x04, 0x00, 0x73, 0xFA, 0x02, 0x00, 0x0E, 0x00, 0x01, 0x05};
  EXPECT_EQ(encode_attributes({make_system_health_id(0x0073FA02), make_failure_category(5)}), failure);
  EXPECT_EQ(decode_attributes(failure.data(), failure.size())[1].value, bytes_t{5});
}

TEST(soh_wire, whole_message_both_ways) {
  const bytes_t bytes = message_type1();
  const message_t m = decode_message(bytes.data(), bytes.size());
  EXPECT_EQ(m.inner_type, 1);
  ASSERT_EQ(m.entries.size(), 2u);
  EXPECT_EQ(m.entries[0].id(), system_entry_id);
  ASSERT_NE(m.find(0x0073FA02), nullptr);
  EXPECT_EQ(m.find(0x0073FA02)->attributes[1], make_vendor_specific(0x0073FA02, "1 abc def"));
  EXPECT_EQ(m.find(0x00123456), nullptr);
  EXPECT_EQ(encode_message(m), bytes);

  // With the mode sub-header: 34 more bytes, lengths grow by 34.
  message_t with_mode = m;
  with_mode.inner_type = 2;
  for (int i = 0; i < 24; ++i) with_mode.correlation_id[i] = static_cast<uint8_t>(i);
  with_mode.intent = 1;
  const bytes_t encoded = encode_message(with_mode);
  ASSERT_EQ(encoded.size(), bytes.size() + 34);
  EXPECT_EQ(encoded[3], 0x32 + 34);
  EXPECT_EQ(encoded[11], 0x2A + 34);
  EXPECT_EQ((bytes_t(encoded.begin() + 12, encoded.begin() + 20)), (bytes_t{0x00, 0x07, 0x00, 0x1E, 0x00, 0x00, 0x01, 0x37}));
  EXPECT_EQ(encoded[12 + 8 + 24], 1);  // intent
  EXPECT_EQ(encoded[12 + 8 + 25], 0);  // content type
  EXPECT_EQ(decode_message(encoded.data(), encoded.size()), with_mode);
}

TEST(soh_wire, every_truncation_is_rejected) {
  const bytes_t bytes = message_type1();
  for (size_t n = 0; n < bytes.size(); ++n) {
    EXPECT_NE(error_of(bytes_t(bytes.begin(), bytes.begin() + n), true), "(accepted)") << n;
  }
  for (size_t n = 0; n < our_list.size(); ++n) {
    if (n == 8) continue;  // the id alone is a complete list
    EXPECT_NE(error_of(bytes_t(our_list.begin(), our_list.begin() + n), false), "(accepted)") << n;
  }
}

TEST(soh_wire, malformed_messages) {
  bytes_t trailing = message_type1();
  trailing.push_back(0);
  EXPECT_EQ(error_of(trailing, true), "SoH header: length 50 but 51 bytes follow");
  bytes_t vendor = message_type1();
  vendor[7] = 0x38;
  EXPECT_EQ(error_of(vendor, true), "SoH header: vendor must be 0x137");
  bytes_t inner = message_type1();
  inner[9] = 3;
  EXPECT_EQ(error_of(inner, true), "SoH header: inner type must be 1 or 2");
  bytes_t inner_length = message_type1();
  inner_length[11] = 0x29;
  EXPECT_EQ(error_of(inner_length, true), "SoH header: inner length 41 but 42 bytes follow");
  // An attribute whose length runs past its enclosing message.
  bytes_t overrun = message_type1();
  overrun[12 + 8 + 3] = 0x40;  // the system's vendor-specific length
  EXPECT_EQ(error_of(overrun, true), "truncated attribute value: 64 bytes needed, 30 left");
  // Entries must start with their id.
  bytes_t headless = {0x00, 0x07, 0x00, 0x0D, 0x00, 0x00, 0x01, 0x37, 0x00, 0x01, 0x00, 0x05,
                      0x00, 0x0E, 0x00, 0x01, 0x05};
  EXPECT_EQ(error_of(headless, true), "an SoH entry must start with its System-Health-Id");
  bytes_t empty = {0x00, 0x07, 0x00, 0x08, 0x00, 0x00, 0x01, 0x37, 0x00, 0x01, 0x00, 0x00};
  EXPECT_EQ(error_of(empty, true), "an SoH message without entries");
}

TEST(soh_wire, malformed_attributes) {
  auto list_with = [](bytes_t attribute) {
    bytes_t b(our_list.begin(), our_list.begin() + 8);
    b.insert(b.end(), attribute.begin(), attribute.end());
    return b;
  };
  EXPECT_EQ(error_of(list_with({0x00, 0x07, 0x00, 0x03, 0x00, 0x73, 0xFA}), false),
            "attribute 1 (type 7): vendor-specific value shorter than its vendor id");
  EXPECT_EQ(error_of(list_with({0x00, 0x04, 0x00, 0x06, 1, 2, 3, 4, 5, 6}), false),
            "attribute 1 (type 4): result codes must be a positive multiple of 4 bytes");
  EXPECT_EQ(error_of(list_with({0x00, 0x0D, 0x00, 0x00}), false),
            "attribute 1 (type 13): result codes must be a positive multiple of 4 bytes");
  EXPECT_EQ(error_of(list_with({0x00, 0x0E, 0x00, 0x02, 5, 5}), false),
            "attribute 1 (type 14): failure category must be 1 byte");
  EXPECT_EQ(error_of(list_with({0x80, 0x07, 0x00, 0x04, 0, 0, 0, 0}), false),
            "attribute 1 (type 32775): the M and R bits must be 0");
  EXPECT_EQ(error_of(list_with({0x00, 0x02, 0x00, 0x04, 0, 0, 0, 1}), false), "a second System-Health-Id in one SoH");
  EXPECT_EQ(error_of({0x00, 0x02, 0x00, 0x03, 0x00, 0x73, 0xFA}, false),
            "attribute 0 (type 2): System-Health-Id must be 4 bytes");
  EXPECT_EQ(error_of({0x00, 0x0E, 0x00, 0x01, 0x05}, false), "an SoH must start with its System-Health-Id");
  EXPECT_EQ(error_of({}, false), "an SoH must start with its System-Health-Id");
  // Unknown types are kept whatever their content.
  EXPECT_EQ(decode_attributes(list_with({0x00, 0x63, 0x00, 0x01, 9}).data(), 13).size(), 2u);
  // Limits of the NAP system.
  bytes_t big = list_with({0x00, 0x07, 0x0F, 0xA1, 0x00, 0x73, 0xFA, 0x02});
  big.resize(8 + 4 + 4001, 'x');
  EXPECT_EQ(error_of(big, false), "attribute 1 (type 7): longer than 4000 bytes");
  bytes_t many(our_list.begin(), our_list.begin() + 8);
  for (int i = 0; i < 100; ++i) many.insert(many.end(), {0x00, 0x0E, 0x00, 0x01, 0x01});
  EXPECT_EQ(error_of(many, false), "more than 100 attributes in one SoH");
}

}  // namespace
