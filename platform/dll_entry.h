// A module's entry point. On Windows the system loader calls DllMain; on
// Linux a library constructor and destructor call the same routine with
// DLL_PROCESS_ATTACH and DLL_PROCESS_DETACH. A refused attach cannot stop a
// shared object from loading, so it is recorded instead: the module's
// exports ask plat::module_attach_failed() and refuse to serve.
#pragma once

#include "platform/win32.h"

#ifndef _WIN32
#define DLL_PROCESS_DETACH 0
#define DLL_PROCESS_ATTACH 1
#define DLL_THREAD_ATTACH 2
#define DLL_THREAD_DETACH 3
#endif

// A module's export: on Windows the module's .def file names its exports; on
// Linux a symbol is exported by its visibility.
#ifdef _WIN32
#define SHV_DLL_EXPORT extern "C"
#else
#define SHV_DLL_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace plat {
bool module_attach_failed();
void set_module_attach_failed(bool failed);
#ifdef _WIN32
// At an unload: once the module's static objects are gone, what the
// toolchain's runtime inside the module kept is given back.
void release_module_runtime() noexcept;
#endif
}  // namespace plat

#ifdef _WIN32
#define SHV_DLL_ENTRY(entry)                                                                 \
  extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved) {        \
    const BOOL ok = entry(module, reason, reserved);                                       \
    if (reason == DLL_PROCESS_ATTACH) plat::set_module_attach_failed(!ok);                 \
    if (reason == DLL_PROCESS_DETACH && reserved == nullptr) plat::release_module_runtime(); \
    return ok;                                                                             \
  }
#else
// The detach is registered with the C++ runtime at attach, like the module's
// static objects: it runs before the objects that were built before the
// attach (the library's logger among them) are destroyed, at dlclose and at
// process exit alike. As on Windows, its third argument tells the two apart:
// null for an unload, non-null at process exit, where other threads may still
// run and nothing should be given back. dlclose runs the module's finaliser
// before those registrations; process exit runs it after them.
extern "C" int __cxa_atexit(void (*function)(void*), void* argument, void* dso);
extern "C" void* __dso_handle __attribute__((visibility("hidden")));
#define SHV_DLL_ENTRY(entry)                                                                 \
  namespace {                                                                              \
  bool shv_dll_unloading = false;                                                          \
  HINSTANCE shv_dll_entry_module() {                                                       \
    HMODULE module = nullptr;                                                              \
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |                            \
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,                   \
                       reinterpret_cast<LPCSTR>(&shv_dll_entry_module), &module);          \
    return module;                                                                         \
  }                                                                                        \
  void shv_dll_detach(void*) {                                                             \
    static int process_exit;                                                               \
    entry(shv_dll_entry_module(), DLL_PROCESS_DETACH, shv_dll_unloading ? nullptr : &process_exit); \
  }                                                                                        \
  __attribute__((destructor)) void shv_dll_finalise() { shv_dll_unloading = true; }        \
  __attribute__((constructor)) void shv_dll_attach() {                                     \
    plat::set_module_attach_failed(!entry(shv_dll_entry_module(), DLL_PROCESS_ATTACH, nullptr)); \
    __cxa_atexit(&shv_dll_detach, nullptr, &__dso_handle);                                 \
  }                                                                                        \
  }
#endif
