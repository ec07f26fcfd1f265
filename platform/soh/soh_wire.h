// Statements of health as bytes on the wire: one validator's attribute list
// (big-endian TLVs starting with its System-Health-Id) and a whole SoH message
// as a client sends it (header, optional mode sub-header, one entry per
// health agent). Every length is checked against its enclosing length and the
// buffer; malformed input throws soh_wire::format_error, never reads past the
// end.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace soh_wire {

class format_error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum attribute_type_t : uint16_t {
  system_health_id = 2,
  compliance_result_codes = 4,
  vendor_specific = 7,
  error_codes = 13,
  failure_category = 14,
};

// Limits of the NAP system.
constexpr size_t max_attributes = 100;
constexpr size_t max_attribute_size = 4000;
constexpr uint32_t microsoft_vendor = 0x00000137;
constexpr uint32_t system_entry_id = 0x00013700;

struct attribute_t {
  uint16_t type = 0;
  std::vector<uint8_t> value;  // as on the wire (big-endian fields)

  bool operator==(const attribute_t&) const = default;
};

// One health agent's (or the system's) entry: its attributes, the first being
// its System-Health-Id.
struct entry_t {
  std::vector<attribute_t> attributes;
  uint32_t id() const;  // the System-Health-Id value
  bool operator==(const entry_t&) const = default;
};

struct message_t {
  uint16_t inner_type = 1;  // 1: no mode sub-header; 2: with it
  std::array<uint8_t, 24> correlation_id{};
  uint8_t intent = 0;
  std::vector<entry_t> entries;

  // The entry of a validator, or null.
  const entry_t* find(uint32_t id) const;
  bool operator==(const message_t&) const = default;
};

// One attribute list. Requires the System-Health-Id first with length 4 and
// checks the layouts of the types the system knows; other types are kept as
// they are.
// Checks one attribute's layout and size (index names it in the message).
void check_attribute(const attribute_t& attribute, size_t index);

std::vector<attribute_t> decode_attributes(const uint8_t* data, size_t size);
std::vector<uint8_t> encode_attributes(const std::vector<attribute_t>& attributes);

message_t decode_message(const uint8_t* data, size_t size);
std::vector<uint8_t> encode_message(const message_t& message);

// Value helpers.
attribute_t make_system_health_id(uint32_t id);
attribute_t make_vendor_specific(uint32_t vendor, const std::string& data);
attribute_t make_result_codes(uint16_t type, const std::vector<uint32_t>& codes);
attribute_t make_failure_category(uint8_t category);
uint32_t read_u32(const std::vector<uint8_t>& value, size_t offset);

}  // namespace soh_wire
