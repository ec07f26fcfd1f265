// The SoH wire codec: every read goes through one bounds-checked cursor.
#include "platform/soh/soh_wire.h"

#include <algorithm>
#include <cstring>

namespace soh_wire {

namespace {

// A read cursor over [data, data + size) that never reads past its end.
class cursor_t {
 public:
  cursor_t(const uint8_t* data, size_t size) : p_(data), left_(size) {}
  size_t left() const { return left_; }
  const uint8_t* position() const { return p_; }
  uint16_t u16(const char* what) {
    need(2, what);
    const uint16_t v = static_cast<uint16_t>(p_[0] << 8 | p_[1]);
    skip(2);
    return v;
  }
  uint32_t u32(const char* what) {
    need(4, what);
    const uint32_t v = static_cast<uint32_t>(p_[0]) << 24 | static_cast<uint32_t>(p_[1]) << 16 |
                       static_cast<uint32_t>(p_[2]) << 8 | p_[3];
    skip(4);
    return v;
  }
  uint8_t u8(const char* what) {
    need(1, what);
    const uint8_t v = p_[0];
    skip(1);
    return v;
  }
  // A sub-cursor over the next n bytes, which this cursor then skips.
  cursor_t take(size_t n, const char* what) {
    need(n, what);
    cursor_t sub(p_, n);
    skip(n);
    return sub;
  }
  void need(size_t n, const char* what) const {
    if (n > left_) {
      throw format_error(std::string("truncated ") + what + ": " + std::to_string(n) + " bytes needed, " +
                         std::to_string(left_) + " left");
    }
  }

 private:
  void skip(size_t n) {
    p_ += n;
    left_ -= n;
  }
  const uint8_t* p_;
  size_t left_;
};

void put_u16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v >> 8));
  out.push_back(static_cast<uint8_t>(v));
}

void put_u32(std::vector<uint8_t>& out, uint32_t v) {
  put_u16(out, static_cast<uint16_t>(v >> 16));
  put_u16(out, static_cast<uint16_t>(v));
}

}  // namespace

void check_attribute(const attribute_t& a, size_t index) {
  const size_t n = a.value.size();
  const std::string where = "attribute " + std::to_string(index) + " (type " + std::to_string(a.type) + ")";
  if (a.type & 0xC000) throw format_error(where + ": the M and R bits must be 0");
  if (n > max_attribute_size) throw format_error(where + ": longer than " + std::to_string(max_attribute_size) + " bytes");
  switch (a.type) {
    case system_health_id:
      if (n != 4) throw format_error(where + ": System-Health-Id must be 4 bytes");
      break;
    case vendor_specific:
      if (n < 4) throw format_error(where + ": vendor-specific value shorter than its vendor id");
      break;
    case compliance_result_codes:
    case error_codes:
      if (n == 0 || n % 4 != 0) throw format_error(where + ": result codes must be a positive multiple of 4 bytes");
      break;
    case failure_category:
      if (n != 1) throw format_error(where + ": failure category must be 1 byte");
      break;
    default:
      break;  // other types are length-prefixed and kept as they are
  }
}

namespace {

// Reads TLVs until the cursor is empty.
std::vector<attribute_t> read_tlvs(cursor_t& c) {
  std::vector<attribute_t> out;
  while (c.left() > 0) {
    attribute_t a;
    a.type = c.u16("attribute type");
    const uint16_t length = c.u16("attribute length");
    cursor_t value = c.take(length, "attribute value");
    a.value.assign(value.position(), value.position() + length);
    check_attribute(a, out.size());
    out.push_back(std::move(a));
  }
  return out;
}

void write_tlvs(std::vector<uint8_t>& out, const std::vector<attribute_t>& attributes) {
  for (const attribute_t& a : attributes) {
    if (a.value.size() > 0xFFFF) throw format_error("attribute value longer than 65535 bytes");
    put_u16(out, a.type);
    put_u16(out, static_cast<uint16_t>(a.value.size()));
    out.insert(out.end(), a.value.begin(), a.value.end());
  }
}

void check_entry(const std::vector<attribute_t>& attributes) {
  if (attributes.empty() || attributes.front().type != system_health_id) {
    throw format_error("an SoH must start with its System-Health-Id");
  }
  if (attributes.size() > max_attributes) {
    throw format_error("more than " + std::to_string(max_attributes) + " attributes in one SoH");
  }
}

constexpr size_t header_size = 12;
constexpr size_t mode_size = 34;

}  // namespace

uint32_t read_u32(const std::vector<uint8_t>& value, size_t offset) {
  cursor_t c(value.data(), value.size());
  if (offset > value.size()) throw format_error("offset past the value");
  c.take(offset, "value");
  return c.u32("value");
}

uint32_t entry_t::id() const {
  if (attributes.empty() || attributes.front().type != system_health_id) return 0;
  return read_u32(attributes.front().value, 0);
}

const entry_t* message_t::find(uint32_t id) const {
  for (const entry_t& e : entries) {
    if (e.id() == id) return &e;
  }
  return nullptr;
}

std::vector<attribute_t> decode_attributes(const uint8_t* data, size_t size) {
  cursor_t c(data, size);
  std::vector<attribute_t> attributes = read_tlvs(c);
  check_entry(attributes);
  for (size_t i = 1; i < attributes.size(); ++i) {
    if (attributes[i].type == system_health_id) throw format_error("a second System-Health-Id in one SoH");
  }
  return attributes;
}

std::vector<uint8_t> encode_attributes(const std::vector<attribute_t>& attributes) {
  check_entry(attributes);
  for (size_t i = 0; i < attributes.size(); ++i) check_attribute(attributes[i], i);
  std::vector<uint8_t> out;
  write_tlvs(out, attributes);
  return out;
}

message_t decode_message(const uint8_t* data, size_t size) {
  cursor_t c(data, size);
  message_t m;
  if (c.u16("SoH header type") != vendor_specific) throw format_error("SoH header: type must be 7");
  const uint16_t length = c.u16("SoH header length");
  if (length != c.left()) {
    throw format_error("SoH header: length " + std::to_string(length) + " but " + std::to_string(c.left()) +
                       " bytes follow");
  }
  if (c.u32("SoH header vendor") != microsoft_vendor) throw format_error("SoH header: vendor must be 0x137");
  m.inner_type = c.u16("SoH inner type");
  if (m.inner_type != 1 && m.inner_type != 2) throw format_error("SoH header: inner type must be 1 or 2");
  const uint16_t inner_length = c.u16("SoH inner length");
  if (inner_length != c.left()) {
    throw format_error("SoH header: inner length " + std::to_string(inner_length) + " but " +
                       std::to_string(c.left()) + " bytes follow");
  }
  if (m.inner_type == 2) {
    if (c.u16("mode sub-header type") != vendor_specific) throw format_error("mode sub-header: type must be 7");
    if (c.u16("mode sub-header length") != mode_size - 4) throw format_error("mode sub-header: length must be 30");
    if (c.u32("mode sub-header vendor") != microsoft_vendor) throw format_error("mode sub-header: vendor must be 0x137");
    cursor_t id = c.take(24, "correlation id");
    std::memcpy(m.correlation_id.data(), id.position(), 24);
    m.intent = c.u8("intent");
    if (c.u8("content type") != 0) throw format_error("mode sub-header: content type must be 0");
  }
  const std::vector<attribute_t> all = read_tlvs(c);
  for (const attribute_t& a : all) {
    if (a.type == system_health_id) {
      m.entries.emplace_back();
    } else if (m.entries.empty()) {
      throw format_error("an SoH entry must start with its System-Health-Id");
    }
    m.entries.back().attributes.push_back(a);
    if (m.entries.back().attributes.size() > max_attributes) {
      throw format_error("more than " + std::to_string(max_attributes) + " attributes in one SoH");
    }
  }
  if (m.entries.empty()) throw format_error("an SoH message without entries");
  return m;
}

std::vector<uint8_t> encode_message(const message_t& m) {
  if (m.inner_type != 1 && m.inner_type != 2) throw format_error("inner type must be 1 or 2");
  std::vector<uint8_t> body;
  if (m.inner_type == 2) {
    put_u16(body, vendor_specific);
    put_u16(body, static_cast<uint16_t>(mode_size - 4));
    put_u32(body, microsoft_vendor);
    body.insert(body.end(), m.correlation_id.begin(), m.correlation_id.end());
    body.push_back(m.intent);
    body.push_back(0);
  }
  for (const entry_t& e : m.entries) {
    const std::vector<uint8_t> bytes = encode_attributes(e.attributes);
    body.insert(body.end(), bytes.begin(), bytes.end());
  }
  if (body.size() + header_size - 4 > 0xFFFF) throw format_error("SoH message longer than 65535 bytes");
  std::vector<uint8_t> out;
  put_u16(out, vendor_specific);
  put_u16(out, static_cast<uint16_t>(body.size() + header_size - 4));
  put_u32(out, microsoft_vendor);
  put_u16(out, m.inner_type);
  put_u16(out, static_cast<uint16_t>(body.size()));
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

attribute_t make_system_health_id(uint32_t id) {
  attribute_t a{system_health_id, {}};
  put_u32(a.value, id);
  return a;
}

attribute_t make_vendor_specific(uint32_t vendor, const std::string& data) {
  attribute_t a{vendor_specific, {}};
  put_u32(a.value, vendor);
  a.value.insert(a.value.end(), data.begin(), data.end());
  return a;
}

attribute_t make_result_codes(uint16_t type, const std::vector<uint32_t>& codes) {
  attribute_t a{type, {}};
  for (uint32_t code : codes) put_u32(a.value, code);
  return a;
}

attribute_t make_failure_category(uint8_t category) { return attribute_t{failure_category, {category}}; }

}  // namespace soh_wire
