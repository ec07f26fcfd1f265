// A shared library loaded by name, and its functions looked up by name.
#pragma once

#include <string>

#include "kern/types.h"
#include "platform/win32.h"

class dynamic_library_t : public if_obj_t {
 public:
  dynamic_library_t() = default;
  // Loads name (from directory when given); throws library_load_exception_shell_t.
  dynamic_library_t(const char* name, const char* directory) { init(name, directory); }
  ~dynamic_library_t() override { unload(); }
  dynamic_library_t(const dynamic_library_t&) = delete;
  dynamic_library_t& operator=(const dynamic_library_t&) = delete;

  // Unloads what is held, then loads directory/name (".DLL" appended to a name
  // without "."); throws library_load_exception_shell_t.
  void init(const char* name, const char* directory = nullptr);
  // The function's address, or null (logged at level 6) when missing.
  void* find_symbol(const char* name) const;
  template <class F>
  F find_function(const char* name) const {
    return reinterpret_cast<F>(find_symbol(name));
  }
  // Unloads what is held, unless it is kept for the process.
  void unload();
  // Keeps the library loaded until the process ends: pinned by the name it
  // was loaded by, so that later loads and frees of it change nothing, and
  // never freed by this object (its destruction then lets go of the handle
  // only).
  void keep_for_process();

  bool loaded() const { return module_ != nullptr; }
  HMODULE module() const { return module_; }
  const std::string& path() const { return path_; }

 private:
  HMODULE module_ = nullptr;
  std::string path_;
  bool kept_ = false;
};
