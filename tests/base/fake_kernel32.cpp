// A small library named as the loader maps "kernel32.dll" (libkernel32.so),
// whose exports test programs import: the import hook redirects them.
#include <cstdint>

#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))

// What the real resource lookup never returns: tells the original from a
// redirected call.
FAKE_EXPORT void* FindResourceW(void* module, const char16_t* name, const char16_t* type) {
  (void)module;
  (void)name;
  (void)type;
  return reinterpret_cast<void*>(static_cast<uintptr_t>(0xF0F0));
}

FAKE_EXPORT int hook_probe() { return 1; }

FAKE_EXPORT int hook_probe_second() { return 10; }
