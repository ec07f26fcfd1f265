// A library that imports the fake kernel32's probe: its own import slot is
// patched when a hook names this module.
#define USER_EXPORT extern "C" __attribute__((visibility("default")))

extern "C" int hook_probe();

USER_EXPORT int hook_user_calls_probe() { return hook_probe(); }
