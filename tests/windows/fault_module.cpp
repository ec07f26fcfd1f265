// A test module that crashes on request, built from the same sources as our
// modules: the same entry point (log sink, NAP utility library, fault watch at
// attach; all given back at unload). Never shipped: it exists to show that a
// crash in a module's own code leaves its description in the log and then
// goes on as before.
#include <atomic>
#include <cstdlib>
#include <new>
#include <stdexcept>

#include "common/nap_common.h"
#include "platform/dll_entry.h"

namespace {

BOOL entry(HINSTANCE module, DWORD reason, LPVOID reserved) {
  napcommon::init_logger();
  if (reason == DLL_PROCESS_ATTACH) return napcommon::attach_component(module) ? TRUE : FALSE;
  if (reason == DLL_PROCESS_DETACH && reserved == nullptr) napcommon::release_component();
  return TRUE;
}

// Set by kind 5: the heap is broken, as after a stray write over it, and the
// next allocation of the module's code faults.
std::atomic<bool> heap_broken{false};

}  // namespace

SHV_DLL_ENTRY(entry)

void* operator new(std::size_t size) {
  if (heap_broken.load()) {
    volatile int* volatile nowhere = nullptr;
    nowhere[12] = 1;  // address 0x30
  }
  if (void* p = std::malloc(size != 0 ? size : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

// kind 1: writes to address 0x10; 2: reads address 0x18; 3: divides by zero;
// 4: throws a C++ exception inside the module and catches it there (no fault);
// 5: breaks the module's heap, then writes to address 0x10.
extern "C" __declspec(dllexport) int fault_now(int kind) {
  volatile int* volatile nowhere = nullptr;
  volatile int zero = 0;
  switch (kind) {
    case 1:
      nowhere[4] = 1;
      return 0;
    case 2:
      return nowhere[6];
    case 3:
      return 7 / zero;
    case 4:
      try {
        throw std::runtime_error("handled inside");
      } catch (const std::exception&) {
        return 4;
      }
    case 5:
      heap_broken.store(true);
      nowhere[4] = 1;
      return 0;
    default:
      return -1;
  }
}
