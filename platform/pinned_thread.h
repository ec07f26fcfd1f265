// Detached threads that keep the module of their body loaded until they have
// left it: a host may unload a module as soon as it says it may, and a thread
// still returning through that module's code would crash.
#pragma once

namespace plat {
// Starts body(context) on a new detached thread that holds a reference to the
// module containing body; the reference is dropped by code outside the module
// after body has returned. Returns false (nothing started, no reference kept)
// when the thread cannot be created.
bool start_pinned_thread(void (*body)(void*), void* context);
}  // namespace plat
