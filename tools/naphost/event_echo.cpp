// naphost's echo of the events its modules wrote.
#include "tools/naphost/event_echo.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <thread>
#ifndef _WIN32
#include <unistd.h>
#endif

#include "platform/com.h"
#include "platform/win32.h"

namespace naphost {

event_echo_t::event_echo_t() {
#ifndef _WIN32
  const char* given = std::getenv("SHV_EVENT_LOG");
  if (given != nullptr && *given != '\0') return;
  char pattern[] = "/tmp/naphost-events-XXXXXX";
  const int fd = mkstemp(pattern);
  if (fd < 0) return;
  ::close(fd);
  path_ = pattern;
  setenv("SHV_EVENT_LOG", path_.c_str(), 1);
#endif
}

event_echo_t::~event_echo_t() {
  if (path_.empty()) return;
  {
    std::ifstream in(path_);
    for (std::string line; std::getline(in, line);) std::fprintf(stderr, "event: %s\n", line.c_str());
  }
  std::remove(path_.c_str());
}

void wait_for_workers() {
  const HMODULE module = GetModuleHandleA("healthval.dll");
  if (module == nullptr) return;
  auto can_unload = reinterpret_cast<HRESULT (*)()>(reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")));
  if (can_unload == nullptr) return;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  while (can_unload() != S_OK && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

}  // namespace naphost
