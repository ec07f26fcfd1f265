// An object made on first use and given back only when asked: the module-wide
// objects that a module's entry point may need before the module's static
// objects are built, and that its unload must not leave behind.
#pragma once

#include <atomic>

namespace kern_n {

// Constant-initialised and trivially destructible, so it is usable at any
// point of a module's life; several threads may race to the first get().
template <class T>
class lazy_t {
 public:
  constexpr lazy_t() = default;
  lazy_t(const lazy_t&) = delete;
  lazy_t& operator=(const lazy_t&) = delete;

  // Throws what T's construction throws.
  T& get() {
    T* current = instance_.load(std::memory_order_acquire);
    if (current != nullptr) return *current;
    T* fresh = new T;
    if (instance_.compare_exchange_strong(current, fresh, std::memory_order_acq_rel)) return *fresh;
    delete fresh;  // another thread's came first
    return *current;
  }
  // The object, or null before the first get() and after release().
  T* peek() const noexcept { return instance_.load(std::memory_order_acquire); }
  // Destroys the object; the caller knows nobody uses it any more.
  void release() noexcept { delete instance_.exchange(nullptr, std::memory_order_acq_rel); }

 private:
  std::atomic<T*> instance_{nullptr};
};

}  // namespace kern_n
