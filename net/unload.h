// What the resolver gives back when the module that carries it is unloaded:
// the name cache and the lock around c-ares' start-up (c-ares' own start-up
// is given back after every resolution). Only a module's entry point calls
// it, and only for an unload: at process exit other threads may still
// resolve.
#pragma once

namespace dns {

void release_at_unload() noexcept;

namespace detail {
void release_name_cache() noexcept;
}  // namespace detail

namespace utils::detail {
void release_library_lock() noexcept;
}  // namespace utils::detail

}  // namespace dns
