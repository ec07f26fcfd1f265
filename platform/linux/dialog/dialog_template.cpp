// Extended dialog templates read field by field; every read is bounded by the
// template's size, and the first fault ends the read with its reason.
#include "platform/linux/dialog/dialog_template.h"

namespace plat {

namespace {

constexpr uint32_t ds_setfont = 0x40;

struct truncated_t {};
struct malformed_t {
  const char* reason;
};

class reader_t {
 public:
  reader_t(const unsigned char* data, size_t size) : data_(data), size_(size) {}
  uint16_t u16() {
    need(2);
    const uint16_t v = static_cast<uint16_t>(data_[pos_] | (data_[pos_ + 1] << 8));
    pos_ += 2;
    return v;
  }
  uint32_t u32() {
    const uint32_t low = u16();
    return low | (static_cast<uint32_t>(u16()) << 16);
  }
  int16_t s16() { return static_cast<int16_t>(u16()); }
  uint8_t u8() {
    need(1);
    return data_[pos_++];
  }
  std::u16string sz() {
    std::u16string s;
    for (uint16_t c = u16(); c != 0; c = u16()) s += static_cast<char16_t>(c);
    return s;
  }
  // A text or, after 0xFFFF, a 16-bit ordinal; 0 alone: neither.
  void sz_or_ordinal(std::u16string& text, uint16_t& ordinal) {
    const uint16_t first = u16();
    if (first == 0xFFFF) {
      ordinal = u16();
      return;
    }
    if (first == 0) return;
    text += static_cast<char16_t>(first);
    text += sz();
  }
  void skip(size_t n) {
    need(n);
    pos_ += n;
  }
  // Items start on 4-byte boundaries of the template.
  void align4() { pos_ = (pos_ + 3) & ~size_t{3}; }

 private:
  void need(size_t n) const {
    if (pos_ > size_ || size_ - pos_ < n) throw truncated_t{};
  }
  const unsigned char* data_;
  size_t size_;
  size_t pos_ = 0;
};

void read_template(reader_t& r, dialog_desc_t& d) {
  if (r.u16() != 1 || r.u16() != 0xFFFF) throw malformed_t{"not an extended dialog template"};
  r.u32();  // help id
  r.u32();  // extended style
  d.style = r.u32();
  const uint16_t count = r.u16();
  d.x = r.s16();
  d.y = r.s16();
  d.cx = r.s16();
  d.cy = r.s16();
  std::u16string menu, window_class;
  uint16_t menu_id = 0, class_id = 0;
  r.sz_or_ordinal(menu, menu_id);
  r.sz_or_ordinal(window_class, class_id);
  if (!menu.empty() || menu_id != 0) throw malformed_t{"a dialog with a menu is not supported"};
  d.title = r.sz();
  if (d.style & ds_setfont) {
    d.points = r.u16();
    d.weight = r.u16();
    r.u8();  // italic
    r.u8();  // character set
    d.face = r.sz();
  }
  for (uint16_t i = 0; i < count; ++i) {
    r.align4();
    dialog_item_t item;
    r.u32();  // help id
    r.u32();  // extended style
    item.style = r.u32();
    item.x = r.s16();
    item.y = r.s16();
    item.cx = r.s16();
    item.cy = r.s16();
    item.id = r.u32();
    r.sz_or_ordinal(item.class_name, item.class_atom);
    if (item.class_name.empty() && item.class_atom == 0) throw malformed_t{"a control without a class"};
    uint16_t text_ordinal = 0;  // an ordinal text names an icon or bitmap
    r.sz_or_ordinal(item.text, text_ordinal);
    item.creation_size = r.u16();
    r.skip(item.creation_size);
    d.items.push_back(std::move(item));
  }
}

}  // namespace

bool parse_dialog_template(const unsigned char* data, size_t size, dialog_desc_t& out, std::string& reason) {
  dialog_desc_t d;
  reader_t r(data, data == nullptr ? 0 : size);
  try {
    read_template(r, d);
  } catch (const truncated_t&) {
    reason = "truncated dialog template";
    return false;
  } catch (const malformed_t& m) {
    reason = m.reason;
    return false;
  }
  out = std::move(d);
  return true;
}

}  // namespace plat
