// naphost register / unregister MODULE: the module's self-registration.
#include <cstdio>
#include <cstring>

#include "tools/naphost/commands.h"
#include "tools/naphost/host_util.h"

namespace {

int run(int argc, char** argv, const char* function) {
  if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
    std::printf("usage: naphost %s MODULE\n\nCalls the module's %s and prints its HRESULT. MODULE is a path or a\n"
                "library name (\"healthval.dll\" is found as libhealthval.so in build/lib).\n",
                argv[0], function);
    return 0;
  }
  if (argc != 2) {
    std::fprintf(stderr, "naphost %s: expected one MODULE (see --help)\n", argv[0]);
    return 2;
  }
  return naphost::call_module_export(argv[1], function);
}

int register_module(int argc, char** argv) { return run(argc, argv, "DllRegisterServer"); }
int unregister_module(int argc, char** argv) { return run(argc, argv, "DllUnregisterServer"); }

const naphost::command_t register_command("register", "call a module's DllRegisterServer", &register_module);
const naphost::command_t unregister_command("unregister", "call a module's DllUnregisterServer", &unregister_module);

}  // namespace
