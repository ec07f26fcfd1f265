// Runs tests/windows/fault_module.dll's faults in a host whose own unhandled
// exception filter prints what reaches it: "unhandled CODE @ ADDRESS [P0 P1]"
// (hexadecimal), then ends the process. Usage: fault_host CASE, where CASE is
//   module-write, module-read, module-divide  a fault inside the module
//   module-cxx                                a C++ exception handled inside it
//   host-write                                a fault in the host, module loaded
//   unloaded-host-write                       the same after the module is unloaded
#include <cstdio>
#include <cstring>

#include <windows.h>

namespace {

LONG WINAPI report_unhandled(EXCEPTION_POINTERS* info) {
  const EXCEPTION_RECORD& r = *info->ExceptionRecord;
  std::printf("unhandled %08lx @ %016llx", r.ExceptionCode,
              static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(r.ExceptionAddress)));
  for (DWORD i = 0; i < r.NumberParameters && i < 2; ++i) {
    std::printf(" %llx", static_cast<unsigned long long>(r.ExceptionInformation[i]));
  }
  std::printf("\n");
  std::fflush(stdout);
  return EXCEPTION_EXECUTE_HANDLER;
}

__attribute__((noinline)) void host_write() {
  volatile int* volatile nowhere = nullptr;
  nowhere[8] = 1;  // address 0x20
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  const char* c = argv[1];
  SetUnhandledExceptionFilter(&report_unhandled);
  HMODULE module = LoadLibraryW(L"fault_module.dll");
  if (module == nullptr) {
    std::printf("no module: %lu\n", GetLastError());
    return 3;
  }
  typedef int (*fault_fn)(int);
  auto fault = reinterpret_cast<fault_fn>(reinterpret_cast<void*>(GetProcAddress(module, "fault_now")));
  if (fault == nullptr) return 3;
  std::printf("module %016llx\n", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(module)));
  std::fflush(stdout);
  if (std::strcmp(c, "module-write") == 0) fault(1);
  if (std::strcmp(c, "module-read") == 0) fault(2);
  if (std::strcmp(c, "module-divide") == 0) fault(3);
  if (std::strcmp(c, "module-cxx") == 0) std::printf("handled %d\n", fault(4));
  if (std::strcmp(c, "host-write") == 0) host_write();
  if (std::strcmp(c, "unloaded-host-write") == 0) {
    FreeLibrary(module);
    std::printf("unloaded %d\n", GetModuleHandleW(L"fault_module.dll") == nullptr ? 1 : 0);
    std::fflush(stdout);
    host_write();
  }
  std::printf("no fault\n");
  return 0;
}
