// Parsing of the reg tool's command line, with reg.exe's rules: switches are
// case-insensitive and may start with "/" or "-"; each may appear once.
#include "reg_args.h"

#include <strings.h>

namespace reg_tool {
namespace {

bool equals_nocase(const std::string& a, const char* b) { return strcasecmp(a.c_str(), b) == 0; }

[[noreturn]] void invalid(const char* what, const std::string& operation) {
  std::string text = std::string("ERROR: ") + what + "\nType \"REG ";
  text += operation.empty() ? "" : operation + " ";
  text += "/?\" for usage.";
  throw usage_error_t{text};
}

void parse_key(command_t& command, const std::string& key) {
  const size_t slash = key.find('\\');
  const std::string root = key.substr(0, slash);
  if (equals_nocase(root, "HKLM") || equals_nocase(root, "HKEY_LOCAL_MACHINE")) {
    command.root = HKEY_LOCAL_MACHINE;
    command.root_name = "HKEY_LOCAL_MACHINE";
  } else if (equals_nocase(root, "HKCR") || equals_nocase(root, "HKEY_CLASSES_ROOT")) {
    command.root = HKEY_CLASSES_ROOT;
    command.root_name = "HKEY_CLASSES_ROOT";
  } else {
    invalid("Invalid key name.", command.operation_name);
  }
  std::string sub = slash == std::string::npos ? std::string() : key.substr(slash + 1);
  if (!sub.empty() && sub.back() == '\\') sub.pop_back();
  if (!sub.empty() && (sub.front() == '\\' || sub.find("\\\\") != std::string::npos))
    invalid("Invalid key name.", command.operation_name);
  command.sub_key = sub;
}

}  // namespace

command_t parse_arguments(const std::vector<std::string>& args) {
  command_t command;
  if (args.empty()) invalid("Invalid syntax.", "");
  const std::string& op = args[0];
  if (equals_nocase(op, "/?") || equals_nocase(op, "-?")) return command;
  if (equals_nocase(op, "query")) {
    command.operation = operation_t::query;
    command.operation_name = "QUERY";
  } else if (equals_nocase(op, "add")) {
    command.operation = operation_t::add;
    command.operation_name = "ADD";
  } else if (equals_nocase(op, "delete")) {
    command.operation = operation_t::remove;
    command.operation_name = "DELETE";
  } else {
    invalid("Invalid syntax.", "");
  }
  const std::string& name = command.operation_name;
  if (args.size() < 2) invalid("Invalid syntax.", name);
  if (args.size() == 2 && (args[1] == "/?" || args[1] == "-?")) {
    command.operation = operation_t::help;
    return command;
  }
  parse_key(command, args[1]);

  bool seen_type = false;
  for (size_t i = 2; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg.size() < 2 || (arg[0] != '/' && arg[0] != '-')) invalid("Invalid syntax.", name);
    const std::string flag = arg.substr(1);
    const bool has_next = i + 1 < args.size();
    const bool is_query = command.operation == operation_t::query;
    const bool is_add = command.operation == operation_t::add;
    if (equals_nocase(flag, "v")) {
      if (command.value || command.all_values || !has_next) invalid("Invalid syntax.", name);
      command.value = args[++i];
    } else if (equals_nocase(flag, "ve")) {
      if (command.value || command.all_values) invalid("Invalid syntax.", name);
      command.value = std::string();
    } else if (equals_nocase(flag, "va") && command.operation == operation_t::remove) {
      if (command.value || command.all_values) invalid("Invalid syntax.", name);
      command.all_values = true;
    } else if (equals_nocase(flag, "s") && is_query) {
      if (command.recurse) invalid("Invalid syntax.", name);
      command.recurse = true;
    } else if (equals_nocase(flag, "s") && is_add) {
      if (command.separator_set || !has_next || args[i + 1].size() != 1)
        invalid("Invalid syntax.", name);
      command.separator_set = args[++i][0];
    } else if (equals_nocase(flag, "t") && is_add) {
      if (seen_type || !has_next) invalid("Invalid syntax.", name);
      seen_type = true;
      command.type = args[++i];
      for (char& c : command.type) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    } else if (equals_nocase(flag, "d") && is_add) {
      if (command.data || !has_next) invalid("Invalid syntax.", name);
      command.data = args[++i];
    } else if (equals_nocase(flag, "f") && !is_query) {
      if (command.force) invalid("Invalid syntax.", name);
      command.force = true;
    } else {
      invalid("Invalid syntax.", name);
    }
  }
  if (command.operation == operation_t::add && command.type != "REG_SZ" &&
      command.type != "REG_EXPAND_SZ" && command.type != "REG_MULTI_SZ" &&
      command.type != "REG_DWORD" && command.type != "REG_BINARY")
    invalid("Invalid syntax.", name);
  if (command.separator_set && command.type != "REG_MULTI_SZ") invalid("Invalid syntax.", name);
  return command;
}

}  // namespace reg_tool
