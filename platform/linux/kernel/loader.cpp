// Stand-in for the Windows loader over dlopen.
//
// Library names. The tree names libraries as Windows does ("Qutil.dll"); this
// file is the one place where such a name becomes a shared-object name:
//   - a name that already ends in ".so" (or holds ".so.") is used as it stands;
//   - otherwise the file name is lower-cased, its last extension (".dll") is
//     dropped, and "lib" and ".so" are put around it: "Qutil.dll" becomes
//     "libqutil.so", "Foo" becomes "libfoo.so"; a directory part is kept, with
//     backslashes turned into slashes.
// A name without a directory is looked for, in this order, in each directory
// of the environment variable SHV_LIBRARY_PATH (colon-separated), in "../lib"
// beside the running program and in the program's own directory (the build
// puts programs in bin/ and modules in lib/), and last by dlopen's own search.
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <link.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "platform/linux/kernel/loader.h"
#include "platform/linux/kernel/errno_guard.h"
#include "platform/win32.h"

namespace plat_linux {

std::string shared_object_name(const std::string& windows_name) {
  std::string name = windows_name;
  std::replace(name.begin(), name.end(), '\\', '/');
  if (name.size() >= 3 && name.compare(name.size() - 3, 3, ".so") == 0) return name;
  if (name.find(".so.") != std::string::npos) return name;
  const size_t slash = name.rfind('/');
  const std::string dir = slash == std::string::npos ? std::string() : name.substr(0, slash + 1);
  std::string file = slash == std::string::npos ? name : name.substr(slash + 1);
  const size_t dot = file.rfind('.');
  if (dot != std::string::npos) file.erase(dot);
  std::transform(file.begin(), file.end(), file.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return dir + "lib" + file + ".so";
}

std::string program_path() {
  char buffer[4096];
  const ssize_t n = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
  if (n <= 0) return std::string();
  return std::string(buffer, static_cast<size_t>(n));
}

std::string program_directory() {
  const std::string path = program_path();
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::vector<std::string> search_directories() {
  std::vector<std::string> dirs;
  if (const char* env = std::getenv("SHV_LIBRARY_PATH")) {
    std::string list = env;
    size_t start = 0;
    while (start <= list.size()) {
      const size_t colon = list.find(':', start);
      const std::string item = list.substr(start, colon == std::string::npos ? std::string::npos
                                                                               : colon - start);
      if (!item.empty()) dirs.push_back(item);
      if (colon == std::string::npos) break;
      start = colon + 1;
    }
  }
  const std::string program = program_directory();
  if (!program.empty()) {
    // Canonical, so that module file names read as an administrator expects.
    char resolved[4096];
    const std::string lib = program + "/../lib";
    dirs.push_back(realpath(lib.c_str(), resolved) != nullptr ? std::string(resolved) : lib);
    dirs.push_back(program);
  }
  return dirs;
}

}  // namespace plat_linux

HMODULE LoadLibraryA(LPCSTR name) {
  const plat_linux::errno_guard_t keep_errno;
  if (name == nullptr || *name == '\0') {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const std::string so = plat_linux::shared_object_name(name);
  void* handle = nullptr;
  if (so.find('/') == std::string::npos) {
    for (const std::string& dir : plat_linux::search_directories()) {
      const std::string path = dir + "/" + so;
      if (access(path.c_str(), F_OK) != 0) continue;
      handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
      if (handle != nullptr) break;
    }
  }
  if (handle == nullptr) handle = dlopen(so.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  return static_cast<HMODULE>(handle);
}

FARPROC GetProcAddress(HMODULE module, LPCSTR name) {
  const plat_linux::errno_guard_t keep_errno;
  if (module == nullptr || name == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  dlerror();
  void* symbol = dlsym(module, name);
  if (symbol == nullptr) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  return reinterpret_cast<FARPROC>(symbol);
}

BOOL FreeLibrary(HMODULE module) {
  const plat_linux::errno_guard_t keep_errno;
  if (module == nullptr || dlclose(module) != 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

HMODULE GetModuleHandleA(LPCSTR name) {
  const plat_linux::errno_guard_t keep_errno;
  void* handle = nullptr;
  if (name == nullptr) {
    handle = dlopen(nullptr, RTLD_NOW);
  } else {
    // Only modules already loaded count; the handle does not pin the module,
    // as on Windows.
    const std::string so = plat_linux::shared_object_name(name);
    handle = dlopen(so.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (handle != nullptr) dlclose(handle);
  }
  if (handle == nullptr) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  return static_cast<HMODULE>(handle);
}

DWORD GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size) {
  const plat_linux::errno_guard_t keep_errno;
  std::string path;
  link_map* map = nullptr;
  if (module != nullptr && dlinfo(module, RTLD_DI_LINKMAP, &map) == 0 && map != nullptr &&
      map->l_name != nullptr && map->l_name[0] != '\0') {
    path = map->l_name;
  } else if (module == nullptr || map != nullptr) {
    path = plat_linux::program_path();
  }
  if (path.empty()) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return 0;
  }
  if (size == 0) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  if (path.size() >= size) {
    std::memcpy(buffer, path.data(), size - 1);
    buffer[size - 1] = '\0';
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
  }
  std::memcpy(buffer, path.c_str(), path.size() + 1);
  return static_cast<DWORD>(path.size());
}

BOOL GetModuleHandleExA(DWORD flags, LPCSTR name, HMODULE* module) {
  const plat_linux::errno_guard_t keep_errno;
  if (module == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *module = nullptr;
  std::string file;
  if (flags & GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS) {
    Dl_info info{};
    if (dladdr(name, &info) == 0 || info.dli_fname == nullptr) {
      SetLastError(ERROR_MOD_NOT_FOUND);
      return FALSE;
    }
    file = info.dli_fname;
    // The main program's name is not one dlopen knows it by.
    char resolved[4096];
    if (realpath(info.dli_fname, resolved) != nullptr && plat_linux::program_path() == resolved) {
      file.clear();
    }
  } else if (name != nullptr) {
    file = plat_linux::shared_object_name(name);
  }
  // Pinned: the loader never unmaps it, whatever the reference count says.
  const int pin = (flags & GET_MODULE_HANDLE_EX_FLAG_PIN) ? RTLD_NODELETE : 0;
  void* handle = file.empty() ? dlopen(nullptr, RTLD_NOW) : dlopen(file.c_str(), RTLD_NOW | RTLD_NOLOAD | pin);
  if (handle == nullptr) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return FALSE;
  }
  if (flags & (GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT | GET_MODULE_HANDLE_EX_FLAG_PIN)) dlclose(handle);
  *module = static_cast<HMODULE>(handle);
  return TRUE;
}

BOOL GetModuleHandleExW(DWORD flags, LPCWSTR name, HMODULE* module) {
  if ((flags & GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS) || name == nullptr) {
    return GetModuleHandleExA(flags, reinterpret_cast<LPCSTR>(name), module);
  }
  const int length = static_cast<int>(std::char_traits<WCHAR>::length(name));
  std::string narrow(static_cast<size_t>(length) * 3, '\0');
  narrow.resize(static_cast<size_t>(
      std::max(0, WideCharToMultiByte(CP_UTF8, 0, name, length, narrow.data(), static_cast<int>(narrow.size()),
                                      nullptr, nullptr))));
  return GetModuleHandleExA(flags, narrow.c_str(), module);
}

DWORD GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size) {
  const plat_linux::errno_guard_t keep_errno;
  char narrow[4096];
  const DWORD n = GetModuleFileNameA(module, narrow, sizeof(narrow));
  if (n == 0 || n >= sizeof(narrow)) {
    if (n != 0) SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  const int units = MultiByteToWideChar(CP_UTF8, 0, narrow, static_cast<int>(n), nullptr, 0);
  if (units <= 0) return 0;
  if (size == 0) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::u16string wide(static_cast<size_t>(units), u'\0');
  MultiByteToWideChar(CP_UTF8, 0, narrow, static_cast<int>(n), wide.data(), units);
  if (static_cast<DWORD>(units) >= size) {
    std::memcpy(buffer, wide.data(), (size - 1) * sizeof(char16_t));
    buffer[size - 1] = 0;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
  }
  std::memcpy(buffer, wide.data(), static_cast<size_t>(units) * sizeof(char16_t));
  buffer[units] = 0;
  return static_cast<DWORD>(units);
}
