// Stand-in for in-process COM activation: the class's module is found in the
// registry, loaded once and kept in a process-wide table until
// CoFreeUnusedLibraries sees that the module agrees to go, and still agrees
// after a delay. Asking a module for its class object and asking it whether it
// may go are serialised under one (recursive: a server may activate another
// class while it loads) lock, so a module is never unloaded between being
// found and handing out the object that keeps it loaded.
#include <atomic>
#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/com.h"
#include "platform/linux/com/com_registry.h"

namespace {

typedef std::chrono::steady_clock clock_type;

struct server_module_t {
  std::string path;
  HMODULE module;
  LPFNGETCLASSOBJECT get_class_object;  // looked up once, at load
  // Since when DllCanUnloadNow has agreed at every call with no activation
  // in between; empty while the module is in use.
  std::optional<clock_type::time_point> agreed_since;
};

// The delay of CoFreeUnusedLibraries, and of CoFreeUnusedLibrariesEx given
// INFINITE: ten minutes, as COM's for the multithreaded apartment.
constexpr DWORD default_unload_delay_ms = 10 * 60 * 1000;

std::recursive_mutex& table_lock() {
  static auto* lock = new std::recursive_mutex;  // usable from late static destructors
  return *lock;
}

std::vector<server_module_t>& table() {
  static auto* modules = new std::vector<server_module_t>;
  return *modules;
}

std::atomic<int> init_count{0};

// The class-object entry of the module of path, loaded on first use; called
// with the table lock held. A module that is already in the table is reused:
// loading it again would only raise its reference count.
HRESULT server_entry(const std::string& path, LPFNGETCLASSOBJECT& out) {
  for (server_module_t& m : table()) {
    if (m.path == path) {
      m.agreed_since.reset();  // in use again: its next agreement starts the delay anew
      out = m.get_class_object;
      return S_OK;
    }
  }
  HMODULE module = LoadLibraryA(path.c_str());
  if (module == nullptr) return HRESULT_FROM_WIN32(GetLastError());
  auto get_class_object =
      reinterpret_cast<LPFNGETCLASSOBJECT>(reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
  try {
    table().push_back(server_module_t{path, module, get_class_object, std::nullopt});
  } catch (...) {
    FreeLibrary(module);
    return E_OUTOFMEMORY;
  }
  out = get_class_object;
  return S_OK;
}

}  // namespace

HRESULT CoInitializeEx(LPVOID, DWORD) {
  return init_count.fetch_add(1) == 0 ? S_OK : S_FALSE;
}

void CoUninitialize() { init_count.fetch_sub(1); }

HRESULT CoGetClassObject(REFCLSID clsid, DWORD context, LPVOID, REFIID riid, LPVOID* object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if ((context & CLSCTX_INPROC_SERVER) == 0) return REGDB_E_CLASSNOTREG;
  std::string path;
  HRESULT hr = plat_linux::inproc_server_path(clsid, path);
  if (FAILED(hr)) return hr;
  std::lock_guard<std::recursive_mutex> guard(table_lock());
  LPFNGETCLASSOBJECT get_class_object = nullptr;
  hr = server_entry(path, get_class_object);
  if (FAILED(hr)) return hr;
  if (get_class_object == nullptr) return CO_E_ERRORINDLL;
  return get_class_object(clsid, riid, object);
}

HRESULT CoCreateInstance(REFCLSID clsid, LPUNKNOWN outer, DWORD context, REFIID riid, LPVOID* object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  IClassFactory* factory = nullptr;
  HRESULT hr = CoGetClassObject(clsid, context, nullptr, IID_IClassFactory, reinterpret_cast<LPVOID*>(&factory));
  if (FAILED(hr)) return hr;
  if (factory == nullptr) return E_UNEXPECTED;  // a server that reports success without an object
  hr = factory->CreateInstance(outer, riid, object);
  factory->Release();
  if (FAILED(hr)) *object = nullptr;
  return hr;
}

void CoFreeUnusedLibraries() { CoFreeUnusedLibrariesEx(INFINITE, 0); }

void CoFreeUnusedLibrariesEx(DWORD delay_ms, DWORD) {
  if (delay_ms == INFINITE) delay_ms = default_unload_delay_ms;
  const clock_type::time_point now = clock_type::now();
  std::vector<HMODULE> unused;
  {
    std::lock_guard<std::recursive_mutex> guard(table_lock());
    auto& modules = table();
    for (auto it = modules.begin(); it != modules.end();) {
      auto can_unload = reinterpret_cast<LPFNCANUNLOADNOW>(
          reinterpret_cast<void*>(GetProcAddress(it->module, "DllCanUnloadNow")));
      if (can_unload == nullptr || can_unload() != S_OK) {
        it->agreed_since.reset();
        ++it;
      } else if (!it->agreed_since) {
        // Agreed just now: an object's last Release may still be running in
        // the module. It goes at a later call, once the delay has passed.
        it->agreed_since = now;
        ++it;
      } else if (now - *it->agreed_since >= std::chrono::milliseconds(delay_ms)) {
        unused.push_back(it->module);
        it = modules.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (HMODULE module : unused) FreeLibrary(module);
}
