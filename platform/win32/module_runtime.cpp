// What the toolchain's runtime linked into a module takes and keeps, managed
// by the module itself: the thread-local slots its start-up needs, taken
// before any of its code runs, and what the runtime keeps when the module is
// unloaded, given back as the very last thing of an unload, once its static
// objects (which may still use the runtime) are gone.
// A load that finds too few thread-local slots left must be refused, not end
// the host: the threads library (winpthreads) aborts the process when it gets
// no slot (it takes one at the first guarded static object), and Asio's
// per-thread pointers, static objects themselves, throw during static
// construction, which ends the process too. So the module's own entry point
// takes the slots its start-up needs before the runtime starts and refuses
// the load when they are not there; the start-up's calls get them from that
// reserve.
// A host that loads and unloads a module a thousand times would otherwise run
// out of the process's 1,088 thread-local slots and grow by about 80 KiB a
// cycle:
// - the threads library (winpthreads) takes a thread-local slot at its first
//   use and does not free it (its unload callback only removes its exception
//   handler). Every slot the module's code takes and still holds is freed:
//   the module is linked with --wrap on its imports of TlsAlloc and TlsFree
//   (see the dll_entry library), so every call of its code, the runtime's
//   included, comes here;
// - the C++ runtime allocates its emergency pool for exceptions (about
//   72 KiB) when the module is loaded and never frees it;
// - the runtime's per-thread records of the unloading thread (the threads
//   library's, the emulated thread-locals') are given back by telling the
//   module's thread-local callbacks that this thread is done with it.
// What other threads of the host that called into the module keep in the
// threads library's own pool of thread records (a few hundred bytes each)
// cannot be reached from outside it.
#include "platform/dll_entry.h"

#include <atomic>

extern "C" {
extern DWORD(WINAPI* __real___imp_TlsAlloc)(void);
extern BOOL(WINAPI* __real___imp_TlsFree)(DWORD);
// The runtime's own entry point: starts the C runtime and the static objects,
// then calls DllMain.
BOOL WINAPI DllMainCRTStartup(HANDLE module, DWORD reason, LPVOID reserved);
}

namespace __gnu_cxx {
void __freeres();  // the C++ runtime's: frees its emergency exception pool
}

namespace plat {

namespace {

// The slots taken and not yet given back, each stored as slot + 1 (0: an
// empty entry); a module takes a handful. Lock-free: the runtime's own locks
// may be what is taking a slot.
constexpr int max_slots = 64;
std::atomic<DWORD> held[max_slots];
bool unloading = false;

void note(DWORD from, DWORD to) {
  for (std::atomic<DWORD>& entry : held) {
    DWORD expected = from;
    if (entry.compare_exchange_strong(expected, to)) return;
  }
}

// The slots a module's start-up takes (today at most 6, healthval's: the
// threads library's, the thread engine's two, Asio's three), with room to
// spare: what the start-up leaves is given back when it is done. Slots
// taken later (Boost.Thread's, at the first thread it starts) come from the
// system, and their users cope with getting none.
constexpr int start_up_slots = 16;
DWORD reserve[start_up_slots];
std::atomic<int> reserved{0};  // entries of reserve not yet handed out

bool take_start_up_slots() {
  int n = 0;
  while (n < start_up_slots) {
    const DWORD slot = __real___imp_TlsAlloc();
    if (slot == TLS_OUT_OF_INDEXES) break;
    reserve[n++] = slot;
  }
  if (n == start_up_slots) {
    reserved.store(n);
    return true;
  }
  while (n > 0) __real___imp_TlsFree(reserve[--n]);
  return false;
}

void give_back_unused_slots() {
  for (int n = reserved.exchange(0); n > 0;) __real___imp_TlsFree(reserve[--n]);
}

DWORD from_reserve() {
  int n = reserved.load();
  while (n > 0) {
    if (reserved.compare_exchange_weak(n, n - 1)) return reserve[n - 1];
  }
  return TLS_OUT_OF_INDEXES;
}

DWORD WINAPI tracked_alloc() {
  DWORD slot = from_reserve();
  if (slot == TLS_OUT_OF_INDEXES) slot = __real___imp_TlsAlloc();
  if (slot != TLS_OUT_OF_INDEXES) note(0, slot + 1);
  return slot;
}

BOOL WINAPI tracked_free(DWORD slot) {
  note(slot + 1, 0);
  return __real___imp_TlsFree(slot);
}

// The module's thread-local callbacks (the runtime's), told that the calling
// thread is done with the module, as the system tells them when a thread ends.
void end_this_thread_here() {
  HMODULE module = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCWSTR>(&end_this_thread_here), &module)) {
    return;
  }
  auto* base = reinterpret_cast<unsigned char*>(module);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(
      base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
  const IMAGE_DATA_DIRECTORY& entry = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_TLS];
  if (entry.VirtualAddress == 0) return;
  const auto* tls = reinterpret_cast<const IMAGE_TLS_DIRECTORY*>(base + entry.VirtualAddress);
  for (auto* callback = reinterpret_cast<PIMAGE_TLS_CALLBACK*>(tls->AddressOfCallBacks);
       callback != nullptr && *callback != nullptr; ++callback) {
    (*callback)(base, DLL_THREAD_DETACH, nullptr);
  }
}

// Built before, so destroyed after, every other static object of the module.
struct give_back_t {
  ~give_back_t() {
    if (!unloading) return;  // process exit: nothing to give back to
    __gnu_cxx::__freeres();
    end_this_thread_here();
    for (std::atomic<DWORD>& entry : held) {
      const DWORD slot = entry.exchange(0);
      if (slot != 0) __real___imp_TlsFree(slot - 1);
    }
  }
};
__attribute__((init_priority(101))) give_back_t give_back;

// Set when the entry point refused the load before the runtime started: the
// detach that follows has nothing to end.
bool refused_at_entry = false;

}  // namespace

void release_module_runtime() noexcept { unloading = true; }

}  // namespace plat

// The module's entry point (the dll_entry library links every module with
// it): the runtime starts only once the slots its start-up needs are held.
extern "C" BOOL WINAPI shv_module_entry(HANDLE module, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) {
    if (!plat::take_start_up_slots()) {
      plat::refused_at_entry = true;
      return FALSE;
    }
    const BOOL ok = DllMainCRTStartup(module, reason, reserved);
    plat::give_back_unused_slots();
    return ok;
  }
  if (reason == DLL_PROCESS_DETACH && plat::refused_at_entry) return TRUE;
  return DllMainCRTStartup(module, reason, reserved);
}

extern "C" {
void* __wrap___imp_TlsAlloc = reinterpret_cast<void*>(&plat::tracked_alloc);
void* __wrap___imp_TlsFree = reinterpret_cast<void*>(&plat::tracked_free);
}
