// Winsock start-up count: POSIX sockets are always ready, so only the count
// and its error results remain.
#include <atomic>

#include "platform/win32.h"

namespace {
std::atomic<long> startups{0};
}  // namespace

int WSAStartup(WORD version_requested, LPWSADATA data) {
  if ((version_requested & 0xff) != 2) {
    SetLastError(WSAVERNOTSUPPORTED);
    return WSAVERNOTSUPPORTED;
  }
  if (data != nullptr) {
    data->wVersion = MAKEWORD(2, 2);
    data->wHighVersion = MAKEWORD(2, 2);
  }
  ++startups;
  return 0;
}

int WSACleanup() {
  long current = startups.load();
  while (current > 0 && !startups.compare_exchange_weak(current, current - 1)) {
  }
  if (current <= 0) {
    SetLastError(WSANOTINITIALISED);
    return -1;
  }
  return 0;
}

int WSAGetLastError() { return static_cast<int>(GetLastError()); }
