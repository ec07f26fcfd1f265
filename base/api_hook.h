// Redirection of one imported function of a loaded module to a replacement,
// for as long as the hook object lives: the module's import slot is rewritten
// and the previous address goes back on reset.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/win32.h"

namespace base_n {

class api_hook_t {
 public:
  // 1: failures throw api_exception_shell_t; 2: they are logged at level 1;
  // anything else: ignored.
  enum error_policy_t { policy_throw = 1, policy_log = 2, policy_ignore = 0 };

  // Loads module_file (and frees it on reset) or, for null, patches the main
  // program; redirects its import of function from dll to replacement.
  api_hook_t(const void* replacement, const char* module_file, const char* dll, const char* function,
             error_policy_t policy);
  ~api_hook_t();
  api_hook_t(const api_hook_t&) = delete;
  api_hook_t& operator=(const api_hook_t&) = delete;

  // Puts the saved address back and frees a module the constructor loaded;
  // a second call does nothing. The slot is put back only while it still
  // holds the replacement (someone who hooked it since saved ours). A slot
  // that cannot be put back would lead into the replacement's module for
  // good: that module is then pinned for the rest of the process, and the
  // failure goes to run_error.
  void reset();

  // The module's import slot of function from dll (names compared without
  // regard to case), or null after reporting through run_error.
  void** get_bound_thunk_data(const char* dll, const char* function);
  // Copies size bytes to address with writing enabled meanwhile; nothing is
  // written when writing cannot be enabled (reported through run_error).
  void write_protected_memory(void* address, const void* data, size_t size);
  void run_error(const std::string& text);

  // What is patched now: the slot, and the address found in it before.
  void** slot() const { return slot_; }
  uintptr_t saved_address() const { return saved_; }

 private:
  // Writes desired into the slot if it holds expected, with writing enabled
  // meanwhile; false with the reason otherwise.
  bool exchange_slot(void** slot, uintptr_t expected, uintptr_t desired, std::string& error);
  // Keeps the module holding the replacement loaded for good; its file name
  // (empty when it could not be pinned).
  std::string pin_replacement_module();

  HMODULE module_ = nullptr;
  uintptr_t replacement_ = 0;
  uintptr_t saved_ = 0;
  void** slot_ = nullptr;
  error_policy_t policy_;
  bool loaded_ = false;
};

}  // namespace base_n
