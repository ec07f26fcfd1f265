// Extended dialog templates (the layout of dialog resources), read into the
// dialog manager's description of a dialog.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace plat {

struct dialog_item_t {
  uint32_t id = 0;
  uint16_t class_atom = 0;  // 0x0080 button, 0x0081 edit, 0x0082 static, ...
  std::u16string class_name;  // a class given by name instead of an atom
  uint32_t style = 0;
  int16_t x = 0, y = 0, cx = 0, cy = 0;
  std::u16string text;
  uint16_t creation_size = 0;  // bytes of creation data (skipped)
};

struct dialog_desc_t {
  uint32_t style = 0;
  int16_t x = 0, y = 0, cx = 0, cy = 0;
  std::u16string title;
  uint16_t points = 0, weight = 0;
  std::u16string face;
  std::vector<dialog_item_t> items;
};

// Reads the template in bytes [data, data + size). False with a reason for a
// truncated or malformed template; nothing is read beyond size.
bool parse_dialog_template(const unsigned char* data, size_t size, dialog_desc_t& out, std::string& reason);

}  // namespace plat
