// reg: the registry stand-in's administration tool, with the syntax and the
// output of Windows' reg.exe for query, add and delete. The store is the file
// named by SHV_REGISTRY (default /var/lib/shv/registry.db).
#include <cstdio>
#include <string>
#include <vector>

#include "reg_args.h"
#include "reg_commands.h"

namespace {

const char usage_text[] =
    "REG QUERY KeyName [/v ValueName | /ve] [/s]\n"
    "REG ADD KeyName [/v ValueName | /ve] [/t Type] [/s Separator] [/d Data] [/f]\n"
    "REG DELETE KeyName [/v ValueName | /ve | /va] [/f]\n"
    "\n"
    "  KeyName    HKLM\\SubKey or HKCR\\SubKey (also HKEY_LOCAL_MACHINE, HKEY_CLASSES_ROOT)\n"
    "  Type       REG_SZ, REG_MULTI_SZ, REG_EXPAND_SZ, REG_DWORD, REG_BINARY\n"
    "\n"
    "The store is the file named by SHV_REGISTRY (default /var/lib/shv/registry.db).\n";

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  try {
    const reg_tool::command_t command = reg_tool::parse_arguments(args);
    switch (command.operation) {
      case reg_tool::operation_t::help:
        std::fputs(usage_text, stdout);
        return 0;
      case reg_tool::operation_t::query:
        return reg_tool::run_query(command, stdout, stderr);
      case reg_tool::operation_t::add:
        return reg_tool::run_add(command, stdin, stdout, stderr);
      case reg_tool::operation_t::remove:
        return reg_tool::run_delete(command, stdin, stdout, stderr);
    }
  } catch (const reg_tool::usage_error_t& error) {
    std::fprintf(stderr, "%s\n", error.text.c_str());
    return 1;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "ERROR: %s\n", error.what());
    return 1;
  }
  return 1;
}
