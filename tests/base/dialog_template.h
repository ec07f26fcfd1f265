// A reader of extended dialog templates, to check what the resource
// generator wrote.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace test_support {

struct dialog_control_t {
  uint32_t id;
  uint16_t class_atom;
  uint32_t style;
  int16_t x, y, cx, cy;
  std::u16string text;
};

struct dialog_template_t {
  uint32_t style;
  int16_t x, y, cx, cy;
  std::u16string title;
  uint16_t points, weight;
  std::u16string face;
  std::vector<dialog_control_t> controls;
};

// Throws std::runtime_error on a truncated or malformed template.
dialog_template_t read_dialog_template(const std::vector<unsigned char>& bytes);

}  // namespace test_support
