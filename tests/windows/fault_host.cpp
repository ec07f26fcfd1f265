// Runs tests/windows/fault_module.dll's faults in a host whose own unhandled
// exception filter prints what reaches it: "unhandled CODE @ ADDRESS [P0 P1]"
// (hexadecimal), then ends the process. Usage: fault_host CASE, where CASE is
//   module-write, module-read, module-divide  a fault inside the module
//   module-write-broken-heap                  the same once the module's heap is broken
//   module-cxx                                a C++ exception handled inside it
//   host-write                                a fault in the host, module loaded
//   unloaded-host-write                       the same after the module is unloaded
//   unload-during-report                      the module unloaded while another
//                                             thread's fault is being described
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>

#include <windows.h>

#include "eventually.h"

namespace {

HMODULE module = nullptr;
std::atomic<bool> unloaded{false};

// unload-during-report: a fault of this host's that the module's watch takes
// for its own (the first handler moves its address into the module), and the
// thread held inside the description's debugger output line while the main
// thread unloads the module.
std::atomic<bool> pretend_in_module{false};
void* module_address = nullptr;
HANDLE in_report = nullptr;

bool module_unmapped() {
  MEMORY_BASIC_INFORMATION info{};
  return VirtualQuery(module_address, &info, sizeof(info)) == 0 || info.State == MEM_FREE;
}

LONG CALLBACK first_handler(EXCEPTION_POINTERS* info) {
  if (!pretend_in_module.load()) return EXCEPTION_CONTINUE_SEARCH;
  EXCEPTION_RECORD& r = *info->ExceptionRecord;
  if (r.ExceptionCode == EXCEPTION_ACCESS_VIOLATION) {
    r.ExceptionAddress = module_address;
  } else if (r.ExceptionCode == DBG_PRINTEXCEPTION_C && r.NumberParameters >= 2 &&
             std::strstr(reinterpret_cast<const char*>(r.ExceptionInformation[1]), " FTL ") != nullptr) {
    // Inside the module's fault handler: the unload must wait for it. Given
    // a second, a loader that does not would have unmapped the module.
    SetEvent(in_report);
    if (test_support::eventually(module_unmapped, std::chrono::milliseconds(1000))) {
      std::printf("unmapped during the report\n");
      std::fflush(stdout);
      TerminateProcess(GetCurrentProcess(), 4);
    }
  }
  return EXCEPTION_CONTINUE_SEARCH;
}

LONG WINAPI report_unhandled(EXCEPTION_POINTERS* info) {
  const EXCEPTION_RECORD& r = *info->ExceptionRecord;
  std::printf("unhandled %08lx @ %016llx", r.ExceptionCode,
              static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(r.ExceptionAddress)));
  for (DWORD i = 0; i < r.NumberParameters && i < 2; ++i) {
    std::printf(" %llx", static_cast<unsigned long long>(r.ExceptionInformation[i]));
  }
  std::printf("\n");
  if (pretend_in_module.load()) {
    std::printf("unloaded %d\n", test_support::eventually([] { return unloaded.load(); }) ? 1 : 0);
  }
  std::fflush(stdout);
  return EXCEPTION_EXECUTE_HANDLER;
}

__attribute__((noinline)) void host_write() {
  volatile int* volatile nowhere = nullptr;
  nowhere[8] = 1;  // address 0x20
}

DWORD WINAPI host_write_thread(void*) {
  host_write();
  return 0;
}

void unload_during_report() {
  in_report = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  pretend_in_module.store(true);
  HANDLE thread = CreateThread(nullptr, 0, &host_write_thread, nullptr, 0, nullptr);
  if (thread == nullptr || WaitForSingleObject(in_report, 10000) != WAIT_OBJECT_0) {
    std::printf("no report\n");
    std::fflush(stdout);
    return;
  }
  FreeLibrary(module);
  unloaded.store(true);
  WaitForSingleObject(thread, 10000);  // the filter ends the process
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  const char* c = argv[1];
  SetUnhandledExceptionFilter(&report_unhandled);
  AddVectoredExceptionHandler(1, &first_handler);
  module = LoadLibraryW(L"fault_module.dll");
  if (module == nullptr) {
    std::printf("no module: %lu\n", GetLastError());
    return 3;
  }
  typedef int (*fault_fn)(int);
  auto fault = reinterpret_cast<fault_fn>(reinterpret_cast<void*>(GetProcAddress(module, "fault_now")));
  if (fault == nullptr) return 3;
  module_address = reinterpret_cast<void*>(fault);
  std::printf("module %016llx\n", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(module)));
  std::fflush(stdout);
  if (std::strcmp(c, "module-write") == 0) fault(1);
  if (std::strcmp(c, "module-read") == 0) fault(2);
  if (std::strcmp(c, "module-divide") == 0) fault(3);
  if (std::strcmp(c, "module-cxx") == 0) std::printf("handled %d\n", fault(4));
  if (std::strcmp(c, "module-write-broken-heap") == 0) fault(5);
  if (std::strcmp(c, "host-write") == 0) host_write();
  if (std::strcmp(c, "unloaded-host-write") == 0) {
    FreeLibrary(module);
    std::printf("unloaded %d\n", GetModuleHandleW(L"fault_module.dll") == nullptr ? 1 : 0);
    std::fflush(stdout);
    host_write();
  }
  if (std::strcmp(c, "unload-during-report") == 0) unload_during_report();
  std::printf("no fault\n");
  return 0;
}
