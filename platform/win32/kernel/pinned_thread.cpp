// Pinned threads on Windows: the module reference is released by
// FreeLibraryAndExitThread, which never returns into the module.
#include "platform/pinned_thread.h"

#include <new>

#include "platform/win32.h"

namespace plat {

namespace {

struct pinned_start_t {
  HMODULE module;
  void (*body)(void*);
  void* context;
};

DWORD WINAPI run_pinned(LPVOID argument) {
  const pinned_start_t start = *static_cast<pinned_start_t*>(argument);
  delete static_cast<pinned_start_t*>(argument);
  start.body(start.context);
  FreeLibraryAndExitThread(start.module, 0);
}

}  // namespace

bool start_pinned_thread(void (*body)(void*), void* context) {
  HMODULE module = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(body), &module)) {
    return false;
  }
  auto* start = new (std::nothrow) pinned_start_t{module, body, context};
  HANDLE thread = start != nullptr ? CreateThread(nullptr, 0, &run_pinned, start, 0, nullptr) : nullptr;
  if (thread == nullptr) {
    delete start;
    FreeLibrary(module);
    return false;
  }
  CloseHandle(thread);
  return true;
}

}  // namespace plat
