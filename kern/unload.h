// What the core library gives back when the module that carries it is
// unloaded: the thread engine's slots and registry, the library locks and the
// logger the library made at load. Only a module's entry point calls it, and
// only for an unload: at process exit other threads may still use all this.
#pragma once

namespace kern_n {

// Late log lines go to the standard-error fallback afterwards, until the
// library's static objects are gone; the fallback goes with them.
void release_at_unload() noexcept;

namespace detail {
void release_initial_logger() noexcept;
void release_thread_engine() noexcept;
void release_library_locks() noexcept;
}  // namespace detail

}  // namespace kern_n
