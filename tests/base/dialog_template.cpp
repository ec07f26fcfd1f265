// Extended dialog templates read field by field, every read bounded.
#include "dialog_template.h"

namespace {

class reader_t {
 public:
  explicit reader_t(const std::vector<unsigned char>& b) : b_(b) {}
  uint16_t u16() {
    need(2);
    const uint16_t v = static_cast<uint16_t>(b_[pos_] | (b_[pos_ + 1] << 8));
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
    return b_[pos_++];
  }
  std::u16string sz() {
    std::u16string s;
    for (uint16_t c = u16(); c != 0; c = u16()) s += static_cast<char16_t>(c);
    return s;
  }
  void align4() { pos_ = (pos_ + 3) & ~size_t{3}; }
  bool at_end() const { return pos_ >= b_.size(); }

 private:
  void need(size_t n) const {
    if (b_.size() - pos_ < n || pos_ > b_.size()) throw std::runtime_error("truncated dialog template");
  }
  const std::vector<unsigned char>& b_;
  size_t pos_ = 0;
};

}  // namespace

dialog_template_t read_dialog_template(const std::vector<unsigned char>& bytes) {
  reader_t r(bytes);
  dialog_template_t d{};
  if (r.u16() != 1 || r.u16() != 0xFFFF) throw std::runtime_error("not an extended template");
  r.u32();  // help id
  r.u32();  // extended style
  d.style = r.u32();
  const uint16_t count = r.u16();
  d.x = r.s16();
  d.y = r.s16();
  d.cx = r.s16();
  d.cy = r.s16();
  if (r.u16() != 0 || r.u16() != 0) throw std::runtime_error("menu or class not expected");
  d.title = r.sz();
  d.points = r.u16();
  d.weight = r.u16();
  r.u8();  // italic
  r.u8();  // character set
  d.face = r.sz();
  for (uint16_t i = 0; i < count; ++i) {
    r.align4();
    dialog_control_t c{};
    r.u32();  // help id
    r.u32();  // extended style
    c.style = r.u32();
    c.x = r.s16();
    c.y = r.s16();
    c.cx = r.s16();
    c.cy = r.s16();
    c.id = r.u32();
    if (r.u16() != 0xFFFF) throw std::runtime_error("class by name not expected");
    c.class_atom = r.u16();
    c.text = r.sz();
    if (r.u16() != 0) throw std::runtime_error("creation data not expected");
    d.controls.push_back(c);
  }
  return d;
}
