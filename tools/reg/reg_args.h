// The command line of the reg tool: operation, key and switches.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/win32.h"

namespace reg_tool {

enum class operation_t { query, add, remove, help };

struct command_t {
  operation_t operation = operation_t::help;
  std::string operation_name;  // as reg.exe names it in usage hints: QUERY, ADD, DELETE
  HKEY root = nullptr;
  std::string root_name;       // HKEY_LOCAL_MACHINE or HKEY_CLASSES_ROOT
  std::string sub_key;         // without leading or trailing backslash
  std::optional<std::string> value;  // /v NAME; "" for /ve
  bool all_values = false;     // /va
  bool recurse = false;        // /s (query)
  std::string type = "REG_SZ"; // /t
  std::optional<std::string> data;   // /d
  char separator_set = 0;      // /s SEP (add): 0 when not given
  bool force = false;          // /f
  // The full key name as output shows it.
  std::string key_path() const { return sub_key.empty() ? root_name : root_name + "\\" + sub_key; }
};

// Thrown for a command line reg.exe would reject; text is the whole message.
struct usage_error_t {
  std::string text;
};

command_t parse_arguments(const std::vector<std::string>& args);

}  // namespace reg_tool
