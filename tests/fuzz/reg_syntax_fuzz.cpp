// Fuzzes the reg tool's command line and value data: arguments are the
// input's lines; whatever parses has its data encoded, and any bytes are
// displayed as each type.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "reg_args.h"
#include "reg_data.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> args;
  size_t start = 0;
  while (start <= input.size() && args.size() < 16) {
    const size_t at = input.find('\n', start);
    args.push_back(input.substr(start, at == std::string::npos ? std::string::npos : at - start));
    if (at == std::string::npos) break;
    start = at + 1;
  }
  try {
    const reg_tool::command_t command = reg_tool::parse_arguments(args);
    if (command.operation == reg_tool::operation_t::add) {
      const std::string bytes =
          reg_tool::encode_data(command.type, command.data.value_or(""), command.separator_set);
      const DWORD type = reg_tool::type_of_name(command.type);
      if (type == REG_DWORD && bytes.size() != 4) std::abort();
      if ((type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ) &&
          (bytes.size() % 2 != 0 || bytes.size() < 2))
        std::abort();
      (void)reg_tool::display_data(type, bytes);
    }
  } catch (const reg_tool::usage_error_t&) {
  }
  for (DWORD type : {REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD, REG_QWORD, REG_BINARY, 99u})
    (void)reg_tool::display_data(type, input);
  return 0;
}
