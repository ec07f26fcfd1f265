// naphost: the NAP server and its management console as a command-line host.
// It loads modules the way they do (registry -> module -> DllGetClassObject ->
// class factory -> object), never by linking them.
#include <cstdio>
#include <cstring>
#include <vector>

#include "base/com_apartment.h"
#include "tools/naphost/commands.h"
#include "tools/naphost/event_echo.h"

namespace naphost {
namespace {
std::vector<const command_t*>& registry() {
  static std::vector<const command_t*> commands;
  return commands;
}
}  // namespace

command_t::command_t(const char* name, const char* summary, int (*run)(int, char**), DWORD apartment)
    : name(name), summary(summary), run(run), apartment(apartment) {
  registry().push_back(this);
}

}  // namespace naphost

int main(int argc, char** argv) {
  const auto& commands = naphost::registry();
  if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
    FILE* out = argc < 2 ? stderr : stdout;
    std::fputs("usage: naphost COMMAND [options]\n\n", out);
    for (const naphost::command_t* c : commands) std::fprintf(out, "  %-14s %s\n", c->name, c->summary);
    std::fputs("\n\"naphost COMMAND --help\" describes each command.\n", out);
    return argc < 2 ? 2 : 0;
  }
  for (const naphost::command_t* c : commands) {
    if (std::strcmp(argv[1], c->name) != 0) continue;
    // The events the modules write during the command, shown after it.
    const naphost::event_echo_t events;
    // The multithreaded apartment, as the NAP server's process (unless the
    // command plays another host): COM refuses to create objects for a
    // thread in none, and the validator's workers call back on threads of
    // their own.
    const base_n::com_apartment_t apartment(c->apartment);
    if (FAILED(apartment.result())) {
      std::fprintf(stderr, "naphost: cannot initialise COM: 0x%08X\n", static_cast<unsigned>(apartment.result()));
      return 1;
    }
    return c->run(argc - 1, argv + 1);
  }
  std::fprintf(stderr, "naphost: unknown command \"%s\" (see naphost --help)\n", argv[1]);
  return 2;
}
