// naphost's subcommands: each lives in a file of its own and registers itself
// with a static naphost::command_t; the command returns the exit status.
#pragma once

namespace naphost {

struct command_t {
  const char* name;
  const char* summary;  // one line for the usage text
  int (*run)(int argc, char** argv);
  command_t(const char* name, const char* summary, int (*run)(int, char**));
};

}  // namespace naphost
