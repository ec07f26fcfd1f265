// naphost's subcommands: each lives in a file of its own and registers itself
// with a static naphost::command_t; the command returns the exit status.
#pragma once

#include "platform/com.h"

namespace naphost {

struct command_t {
  const char* name;
  const char* summary;  // one line for the usage text
  int (*run)(int argc, char** argv);
  // The COM apartment the command's thread joins: the multithreaded one of
  // the NAP server's process, unless it plays another host.
  DWORD apartment;
  command_t(const char* name, const char* summary, int (*run)(int, char**), DWORD apartment = COINIT_MULTITHREADED);
};

}  // namespace naphost
