// Extended dialog templates as the generator wrote them, through the dialog
// manager's own reader; what the generator never writes (classes by name,
// creation data) is refused here.
#include "dialog_template.h"

#include "platform/linux/dialog/dialog_template.h"

test_support::dialog_template_t test_support::read_dialog_template(const std::vector<unsigned char>& bytes) {
  plat::dialog_desc_t desc;
  std::string reason;
  if (!plat::parse_dialog_template(bytes.data(), bytes.size(), desc, reason)) throw std::runtime_error(reason);
  dialog_template_t d{};
  d.style = desc.style;
  d.x = desc.x;
  d.y = desc.y;
  d.cx = desc.cx;
  d.cy = desc.cy;
  d.title = desc.title;
  d.points = desc.points;
  d.weight = desc.weight;
  d.face = desc.face;
  for (const plat::dialog_item_t& item : desc.items) {
    if (!item.class_name.empty()) throw std::runtime_error("class by name not expected");
    if (item.creation_size != 0) throw std::runtime_error("creation data not expected");
    d.controls.push_back({item.id, item.class_atom, item.style, item.x, item.y, item.cx, item.cy, item.text});
  }
  return d;
}
