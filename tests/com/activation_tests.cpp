// In-process activation end to end: classes registered in the registry store,
// real server modules loaded through their exports.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/com.h"
#include "eventually.h"
#include "test_server.h"

namespace {

using test_support::clsid_test_counter;
using test_support::clsid_not_served;
using test_support::iid_test_counter;
using test_support::test_counter_t;

std::u16string guid_text(REFGUID g) {
  OLECHAR buffer[40];
  StringFromGUID2(g, buffer, 40);
  return buffer;
}

std::u16string widen(const std::string& s) { return std::u16string(s.begin(), s.end()); }

class activation : public ::testing::Test {
 protected:
  void SetUp() override {
    store_ = std::filesystem::temp_directory_path() /
             ("shv-com-" + std::to_string(getpid()) + "-" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".db");
    std::filesystem::remove(store_);
    setenv("SHV_REGISTRY", store_.c_str(), 1);
  }
  void TearDown() override {
    free_unused_now();
    unsetenv("SHV_REGISTRY");
    for (const char* suffix : {"", "-wal", "-shm", "-journal"}) std::filesystem::remove(store_.string() + suffix);
  }

  // HKCR\CLSID\{clsid}\InprocServer32, its default value set as given.
  void register_class(const std::u16string& clsid_text, const BYTE* data, DWORD size, DWORD type) {
    const std::u16string path = u"CLSID\\" + clsid_text + u"\\InprocServer32";
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    if (data != nullptr) {
      ASSERT_EQ(RegSetValueExW(key, nullptr, 0, type, data, size), ERROR_SUCCESS);
    }
    RegCloseKey(key);
  }
  void register_module(REFCLSID clsid, const std::string& module) {
    const std::u16string path = widen(module);
    register_class(guid_text(clsid), reinterpret_cast<const BYTE*>(path.c_str()),
                   static_cast<DWORD>((path.size() + 1) * sizeof(WCHAR)), REG_SZ);
  }
  static bool server_loaded() { return GetModuleHandleA(TEST_SERVER_PATH) != nullptr; }
  // Unloads what agrees to go, without a delay: the first call notes the
  // agreement, the second unloads.
  static void free_unused_now() {
    CoFreeUnusedLibrariesEx(0, 0);
    CoFreeUnusedLibrariesEx(0, 0);
  }
  static long server_locks() {
    HMODULE m = GetModuleHandleA(TEST_SERVER_PATH);
    auto locks = reinterpret_cast<long (*)()>(reinterpret_cast<void*>(GetProcAddress(m, "test_server_locks")));
    return locks != nullptr ? locks() : -1;
  }

  std::filesystem::path store_;
};

TEST_F(activation, creates_the_registered_class_and_unloads_when_unused) {
  register_module(clsid_test_counter, TEST_SERVER_PATH);
  test_counter_t* counter = nullptr;
  ASSERT_EQ(CoCreateInstance(clsid_test_counter, nullptr, CLSCTX_INPROC_SERVER, iid_test_counter,
                             reinterpret_cast<void**>(&counter)),
            S_OK);
  ASSERT_NE(counter, nullptr);
  LONG value = 0;
  EXPECT_EQ(counter->Increment(&value), S_OK);
  EXPECT_EQ(counter->Increment(&value), S_OK);
  EXPECT_EQ(value, 2);
  IUnknown* unknown = nullptr;
  EXPECT_EQ(counter->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
  EXPECT_EQ(server_locks(), 1);  // one object; the factory was released

  free_unused_now();  // an object is alive: the module stays
  ASSERT_TRUE(server_loaded());
  unknown->Release();
  EXPECT_EQ(counter->Release(), 0u);
  EXPECT_EQ(server_locks(), 0);
  // An object's last Release may still be running in the module when it
  // agrees to go: it goes at a later call, once the delay has passed.
  CoFreeUnusedLibrariesEx(0, 0);
  EXPECT_TRUE(server_loaded()) << "the call that first sees the agreement never unloads";
  CoFreeUnusedLibraries();
  EXPECT_TRUE(server_loaded()) << "the default delay is minutes";
  // An activation in between starts the delay anew.
  ASSERT_EQ(CoCreateInstance(clsid_test_counter, nullptr, CLSCTX_INPROC_SERVER, iid_test_counter,
                             reinterpret_cast<void**>(&counter)),
            S_OK);
  counter->Release();
  CoFreeUnusedLibrariesEx(0, 0);
  EXPECT_TRUE(server_loaded());
  CoFreeUnusedLibrariesEx(0, 0);
  EXPECT_FALSE(server_loaded());
}

TEST_F(activation, a_server_module_is_loaded_once) {
  register_module(clsid_test_counter, TEST_SERVER_PATH);
  std::vector<std::thread> threads;
  std::vector<test_counter_t*> objects(8, nullptr);
  std::vector<HRESULT> results(8, E_FAIL);
  for (size_t i = 0; i < objects.size(); ++i) {
    threads.emplace_back([&, i] {
      results[i] = CoCreateInstance(clsid_test_counter, nullptr, CLSCTX_ALL, iid_test_counter,
                                    reinterpret_cast<void**>(&objects[i]));
    });
  }
  for (auto& t : threads) t.join();
  for (size_t i = 0; i < objects.size(); ++i) ASSERT_EQ(results[i], S_OK) << i;
  EXPECT_EQ(server_locks(), 8);
  // Separate objects, one module.
  LONG a = 0, b = 0;
  objects[0]->Increment(&a);
  objects[1]->Increment(&b);
  objects[1]->Increment(&b);
  EXPECT_EQ(a, 1);
  EXPECT_EQ(b, 2);
  for (auto* o : objects) o->Release();
  free_unused_now();
  EXPECT_FALSE(server_loaded());  // one FreeLibrary undid the one load
}

// Users create, use and release objects while an unloader frees unused
// libraries all the time; every 50 objects the users pause until the module
// has been unloaded, so that it is loaded and unloaded again and again, each
// time right after a last Release.
TEST_F(activation, unloading_unused_servers_races_safely_with_activation) {
  register_module(clsid_test_counter, TEST_SERVER_PATH);
  constexpr DWORD delay_ms = 50;
  std::atomic<bool> done{false};
  std::thread unloader([&] {
    while (!done.load()) CoFreeUnusedLibrariesEx(delay_ms, 0);
  });
  std::vector<std::thread> users;
  std::atomic<int> failures{0}, pauses_without_unload{0};
  for (int t = 0; t < 2; ++t) {
    users.emplace_back([&] {
      for (int i = 1; i <= 150; ++i) {
        test_counter_t* counter = nullptr;
        if (CoCreateInstance(clsid_test_counter, nullptr, CLSCTX_INPROC_SERVER, iid_test_counter,
                             reinterpret_cast<void**>(&counter)) != S_OK) {
          ++failures;
          continue;
        }
        LONG value = 0;
        if (counter->Increment(&value) != S_OK || value != 1) ++failures;  // code of a mapped module
        counter->Release();
        // The other user may load it again at once: seeing it gone once counts.
        if (i % 50 == 0 && !test_support::eventually([] { return !server_loaded(); }, test_support::poll_t::yield)) {
          ++pauses_without_unload;
        }
      }
    });
  }
  for (auto& u : users) u.join();
  done = true;
  unloader.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(pauses_without_unload.load(), 0) << "an unused module goes once the delay has passed";
  free_unused_now();
  EXPECT_FALSE(server_loaded());
}

TEST_F(activation, the_class_key_may_be_written_in_lower_case) {
  const std::u16string path = widen(TEST_SERVER_PATH);
  register_class(u"{5a1b0c3d-7e2f-4a10-9b8c-0d1e2f3a4b5c}", reinterpret_cast<const BYTE*>(path.c_str()),
                 static_cast<DWORD>((path.size() + 1) * sizeof(WCHAR)), REG_SZ);
  IUnknown* object = nullptr;
  ASSERT_EQ(CoCreateInstance(clsid_test_counter, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                             reinterpret_cast<void**>(&object)),
            S_OK);
  object->Release();
}

TEST_F(activation, an_unregistered_class) {
  void* object = reinterpret_cast<void*>(1);
  EXPECT_EQ(CoCreateInstance(clsid_test_counter, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &object),
            REGDB_E_CLASSNOTREG);
  EXPECT_EQ(object, nullptr);
  // The class key without its module entry, and a module entry without a path.
  register_class(guid_text(clsid_test_counter), nullptr, 0, REG_SZ);
  EXPECT_EQ(CoCreateInstance(clsid_test_counter, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &object),
            REGDB_E_CLASSNOTREG);
  const char16_t empty[] = u"";
  register_class(guid_text(clsid_test_counter), reinterpret_cast<const BYTE*>(empty), sizeof(empty), REG_SZ);
  EXPECT_EQ(CoCreateInstance(clsid_test_counter, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &object),
            REGDB_E_CLASSNOTREG);
  EXPECT_EQ(object, nullptr);
}

TEST_F(activation, a_module_path_of_the_wrong_type_is_a_registry_error) {
  const DWORD number = 42;
  register_class(guid_text(clsid_test_counter), reinterpret_cast<const BYTE*>(&number), sizeof(number), REG_DWORD);
  void* object = nullptr;
  EXPECT_EQ(CoCreateInstance(clsid_test_counter, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &object),
            REGDB_E_READREGDB);
  EXPECT_EQ(object, nullptr);
}

TEST_F(activation, a_missing_module) {
  register_module(clsid_test_counter, "/nonexistent/libshvtest_gone.so");
  void* object = reinterpret_cast<void*>(1);
  EXPECT_EQ(CoCreateInstance(clsid_test_counter, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &object),
            HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND));
  EXPECT_EQ(object, nullptr);
}

TEST_F(activation, a_module_without_the_class_object_export) {
  register_module(clsid_test_counter, NO_EXPORT_SERVER_PATH);
  void* object = reinterpret_cast<void*>(1);
  EXPECT_EQ(CoCreateInstance(clsid_test_counter, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &object),
            CO_E_ERRORINDLL);
  EXPECT_EQ(object, nullptr);
}

TEST_F(activation, the_servers_own_refusals_reach_the_caller) {
  register_module(clsid_test_counter, TEST_SERVER_PATH);
  register_module(clsid_not_served, TEST_SERVER_PATH);
  void* object = reinterpret_cast<void*>(1);
  EXPECT_EQ(CoCreateInstance(clsid_not_served, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &object),
            CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(object, nullptr);
  object = reinterpret_cast<void*>(1);
  EXPECT_EQ(CoCreateInstance(clsid_test_counter, nullptr, CLSCTX_INPROC_SERVER, IID_IClassFactory, &object),
            E_NOINTERFACE);
  EXPECT_EQ(object, nullptr);
  // Aggregation is refused by this class.
  IUnknown* outer = nullptr;
  ASSERT_EQ(CoCreateInstance(clsid_test_counter, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                             reinterpret_cast<void**>(&outer)),
            S_OK);
  EXPECT_EQ(CoCreateInstance(clsid_test_counter, outer, CLSCTX_INPROC_SERVER, IID_IUnknown, &object),
            CLASS_E_NOAGGREGATION);
  outer->Release();
  EXPECT_EQ(server_locks(), 0);
}

TEST_F(activation, arguments_and_contexts) {
  register_module(clsid_test_counter, TEST_SERVER_PATH);
  EXPECT_EQ(CoCreateInstance(clsid_test_counter, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, nullptr),
            E_POINTER);
  void* object = reinterpret_cast<void*>(1);
  EXPECT_EQ(CoCreateInstance(clsid_test_counter, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown, &object),
            REGDB_E_CLASSNOTREG);  // no out-of-process servers here
  EXPECT_EQ(object, nullptr);
  // The class object itself.
  IClassFactory* factory = nullptr;
  ASSERT_EQ(CoGetClassObject(clsid_test_counter, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                             reinterpret_cast<void**>(&factory)),
            S_OK);
  EXPECT_EQ(factory->LockServer(TRUE), S_OK);
  factory->Release();
  free_unused_now();
  EXPECT_TRUE(server_loaded());  // the server lock keeps it
  HMODULE m = GetModuleHandleA(TEST_SERVER_PATH);
  ASSERT_NE(m, nullptr);
  auto get = reinterpret_cast<LPFNGETCLASSOBJECT>(reinterpret_cast<void*>(GetProcAddress(m, "DllGetClassObject")));
  ASSERT_EQ(get(clsid_test_counter, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
  EXPECT_EQ(factory->LockServer(FALSE), S_OK);
  factory->Release();
  free_unused_now();
  EXPECT_FALSE(server_loaded());
}

TEST_F(activation, an_unreadable_store_is_a_registry_error) {
  register_module(clsid_test_counter, TEST_SERVER_PATH);
  // A file that is not a store.
  std::filesystem::remove(store_);
  {
    FILE* f = std::fopen(store_.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs("this is not a registry store, just some text that is long enough to look like a file", f);
    std::fclose(f);
  }
  void* object = reinterpret_cast<void*>(1);
  EXPECT_EQ(CoCreateInstance(clsid_test_counter, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &object),
            REGDB_E_READREGDB);
  EXPECT_EQ(object, nullptr);
}

}  // namespace
