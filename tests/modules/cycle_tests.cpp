// Hosts load and unload our modules for ever: the management console loads
// healthcfg each time its settings are opened, the NAP server frees unused
// libraries. Each cycle loads a module, creates an object, uses it once,
// releases it and unloads the module at the first DllCanUnloadNow that
// agrees; thousands of cycles in one process must neither run out of
// anything (thread-local slots: 1,088 per process on Windows, 1,024 keys on
// Linux) nor grow.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>


#include "base/com_ptr.h"
#include "central_sim.h"
#include "common/settings.h"
#include "eventually.h"
#include "platform/nap_sdk.h"
#include "platform/process_stats.h"
#include "registry_fixture.h"
#ifndef _WIN32
#include "scoped_env.h"
#endif
#include "tests/net/mock_dns.h"
#include "tools/naphost/nap_request.h"

namespace {

// Under the address sanitizer every leaked allocation is reported at exit
// whatever the count, and a module load costs several times as much: enough
// cycles (two keys each) to pass the 1,024 keys of Linux.
#ifdef _WIN32
constexpr int cycles = 1200;  // past the 1,088 slots of Windows
#elif defined(__SANITIZE_ADDRESS__)
constexpr int cycles = 600;
#else
constexpr int cycles = 2000;
#endif
constexpr uint64_t allowed_growth_kib = 2048;

constexpr CLSID clsid_validator = {0x60d48d71, 0x1c65, 0x4775, {0xa2, 0xc2, 0x2e, 0x33, 0x16, 0x32, 0x91, 0x4d}};
constexpr CLSID clsid_config = {0x0C5C9CEC, 0x1FF7, 0x42E3, {0xAC, 0x8F, 0x4D, 0x9B, 0xAE, 0x29, 0x6C, 0x5D}};

// Resident memory is compared only where freed memory is given back at once:
// the address sanitizer keeps it aside (and reports what leaks instead).
#if defined(__SANITIZE_ADDRESS__)
constexpr bool measures_memory = false;
#else
constexpr bool measures_memory = true;
#endif

template <class F>
F module_export(HMODULE module, const char* name) {
  return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}
typedef HRESULT(STDMETHODCALLTYPE* get_class_object_fn)(REFCLSID, REFIID, LPVOID*);
typedef HRESULT(STDMETHODCALLTYPE* plain_export_fn)();

// An object of the module's class, as a host makes it: DllGetClassObject,
// then the class factory's CreateInstance.
template <class I>
bool create_object(HMODULE module, REFCLSID clsid, REFIID iid, base_n::com_ptr_t<I>& out) {
  base_n::com_ptr_t<IClassFactory> factory;
  return module_export<get_class_object_fn>(module, "DllGetClassObject")(clsid, IID_IClassFactory,
                                                                         factory.out_void()) == S_OK &&
         factory->CreateInstance(nullptr, iid, out.out_void()) == S_OK;
}

// The NAP SDK stand-in registered for the validator's SoH reader and writer,
// and a registry of the test's own.
class module_cycles : public ::testing::Test {
 protected:
  void SetUp() override {
#ifndef _WIN32
    // The modules' lines go to a file of the test's own, not to its output.
    debug_output_.emplace("SHV_DEBUG_OUTPUT", store_.dir() + "/debug.log");
#endif
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    napsdk_ = LoadLibraryA("napsdk.dll");
    ASSERT_NE(napsdk_, nullptr);
    ASSERT_EQ(module_export<plain_export_fn>(napsdk_, "DllRegisterServer")(), S_OK);
  }
  void TearDown() override {
    if (napsdk_ != nullptr) {
      module_export<plain_export_fn>(napsdk_, "DllUnregisterServer")();
      FreeLibrary(napsdk_);
    }
    CoUninitialize();
  }

  // Runs cycle() cycles times (stopping at the first failure, which it
  // returns as text) and checks that memory after the last cycle is within
  // 2 MiB of memory after the 100th; prints both figures.
  template <class F>
  void run_cycles(const char* module_name, F cycle) {
    uint64_t after_100th = 0;
    for (int i = 1; i <= cycles; ++i) {
      const std::string failure = cycle();
      ASSERT_EQ(failure, "") << "cycle " << i;
      if (i == 100) after_100th = plat::resident_kib();
    }
    if (measures_memory) {
      // The last cycle's threads may still be ending, each holding its stack
      // for a moment (under Wine about a megabyte): what a cycle leaves behind
      // is what stays once they are gone.
      uint64_t now = 0;
      EXPECT_TRUE(test_support::eventually([&] { return (now = plat::resident_kib()) <= after_100th + allowed_growth_kib; }))
          << now << " KiB after the last, " << after_100th << " KiB after the 100th";
      std::printf("%s, %d cycles: %llu KiB resident after the 100th, %llu KiB after the last (%+lld KiB)\n",
                  module_name, cycles, static_cast<unsigned long long>(after_100th),
                  static_cast<unsigned long long>(now),
                  static_cast<long long>(now) - static_cast<long long>(after_100th));
      std::fflush(stdout);
    }
    EXPECT_EQ(GetModuleHandleA(module_name), nullptr);
  }

  // Unloads at the first DllCanUnloadNow that agrees, as a host does, and
  // waits until the module is gone: a worker thread that has just finished
  // still holds its own reference for a moment, and the next load would get
  // the same module back.
  static std::string unload_when_allowed(HMODULE module, const char* module_name) {
    const auto can_unload = module_export<plain_export_fn>(module, "DllCanUnloadNow");
    if (!test_support::eventually([&] { return can_unload() == S_OK; }, test_support::poll_t::yield)) {
      return "DllCanUnloadNow never agreed";
    }
    FreeLibrary(module);
    const auto gone = [&] { return GetModuleHandleA(module_name) == nullptr; };
    if (!test_support::eventually(gone, test_support::poll_t::yield)) {
      return "the module stayed loaded";
    }
    return "";
  }

  test_support::temp_store_t store_;
#ifndef _WIN32
  std::optional<test_support::scoped_env_t> debug_output_;
#endif
  HMODULE napsdk_ = nullptr;
};

// Each cycle validates one client against the central server, so every part
// of the module is used once per load: worker thread, settings, verdict
// cache, name resolution and name cache, I/O pool, socket, SoH reader and
// writer. The server is named by a name the mock DNS server of the sandbox
// answers; outside the sandbox no name is resolved and it is given by its
// address.
TEST_F(module_cycles, healthval_validates_once_per_load) {
  shv_test::central_sim_t sim;
  ASSERT_NE(sim.port(), 0);
  std::unique_ptr<shv_test::mock_dns_t> dns;
  if (const char* address = std::getenv("SHV_MOCK_DNS_ADDR")) {
    dns = std::make_unique<shv_test::mock_dns_t>(address);
    dns->script("central.shv.test", {shv_test::mock_dns_t::kind_t::found, {"127.0.0.1"}, {}, {}, 3600});
    shv_settings::write("server_name", std::u16string(u"central.shv.test"));
  } else {
    std::printf("not in the DNS sandbox: the central server is given by its address\n");
    shv_settings::write("server_name", std::u16string(u"127.0.0.1"));
  }
  shv_settings::write("server_port", static_cast<uint32_t>(sim.port()));
  const std::vector<soh_wire::attribute_t> soh = {soh_wire::make_system_health_id(0x0073FA02),
                                                  soh_wire::make_vendor_specific(0x0073FA02, "1 cycling-client d")};
  run_cycles("healthval.dll", [&]() -> std::string {
    HMODULE module = LoadLibraryA("healthval.dll");
    if (module == nullptr) return "load failed with " + std::to_string(GetLastError());
    naphost::call_log_t log;
    naphost::nap_request_t request(soh, false, log);
    naphost::nap_callback_t callback(log);
    {
      base_n::com_ptr_t<INapSystemHealthValidator> validator;
      if (!create_object(module, clsid_validator, IID_INapSystemHealthValidator, validator)) return "no validator";
      if (validator->Validate(&request, 0, &callback) != E_PENDING) return "Validate refused";
    }
    if (!callback.wait(std::chrono::seconds(30))) return "no OnComplete";
    const std::string unloaded = unload_when_allowed(module, "healthval.dll");
    if (!unloaded.empty()) return unloaded;
    // The request lives on this stack: the worker must be done with it.
    if (!test_support::eventually([&] { return request.references() == 1 && callback.references() == 1; },
                                  test_support::poll_t::yield)) {
      return "the worker kept a reference";
    }
    return request.response().size() == 2 ? "" : "no response";
  });
  // Nothing of the verdict cache outlives its module: every load asks the server.
  size_t conversations = 0;
  EXPECT_TRUE(test_support::eventually([&] { return (conversations = sim.reports().size()) == cycles; }))
      << conversations << " conversations, one per load expected";
  // Nothing of the name cache either: every load asks the name server.
  if (dns != nullptr) {
    EXPECT_GE(dns->queries_for("central.shv.test"), conversations);
  }
}

TEST_F(module_cycles, healthcfg_hands_out_its_configuration_once_per_load) {
  run_cycles("healthcfg.dll", [&]() -> std::string {
    HMODULE module = LoadLibraryA("healthcfg.dll");
    if (module == nullptr) return "load failed with " + std::to_string(GetLastError());
    {
      base_n::com_ptr_t<INapComponentConfig> config;
      if (!create_object(module, clsid_config, IID_INapComponentConfig, config)) return "no configurator";
      UINT16 count = 0;
      BYTE* blob = nullptr;
      if (config->GetConfig(&count, &blob) != S_OK || count != 24) return "no configuration blob";
      CoTaskMemFree(blob);
    }
    return unload_when_allowed(module, "healthcfg.dll");
  });
}

// Every thread-local slot the process has left, taken for the object's life.
class all_slots_taken_t {
 public:
  all_slots_taken_t() {
    for (DWORD slot; (slot = TlsAlloc()) != TLS_OUT_OF_INDEXES;) taken_.push_back(slot);
  }
  ~all_slots_taken_t() {
    for (DWORD slot : taken_) TlsFree(slot);
  }
  all_slots_taken_t(const all_slots_taken_t&) = delete;
  all_slots_taken_t& operator=(const all_slots_taken_t&) = delete;

 private:
  std::vector<DWORD> taken_;
};

// A load that finds no thread-local slot left is refused and the host goes
// on: on Windows the entry point fails the load, on Linux (where a shared
// object cannot refuse) the exports answer E_UNEXPECTED. Nothing in the
// module's start-up may end the process instead.
TEST_F(module_cycles, a_load_without_thread_local_slots_is_refused_not_fatal) {
  HMODULE module = nullptr;
  DWORD load_error = 0;
  HRESULT hr = E_FAIL;
  {
    const all_slots_taken_t starved;
    module = LoadLibraryA("healthval.dll");
    load_error = GetLastError();
    base_n::com_ptr_t<IClassFactory> factory;
    if (module != nullptr) {
      hr = module_export<get_class_object_fn>(module, "DllGetClassObject")(clsid_validator, IID_IClassFactory,
                                                                           factory.out_void());
    }
  }
#ifdef _WIN32
  static_cast<void>(hr);
  EXPECT_EQ(module, nullptr);
  EXPECT_EQ(load_error, static_cast<DWORD>(ERROR_DLL_INIT_FAILED));
#else
  ASSERT_NE(module, nullptr) << load_error;
  EXPECT_EQ(hr, E_UNEXPECTED);
#endif
  if (module != nullptr) FreeLibrary(module);
  // With the slots back, the next load works.
  module = LoadLibraryA("healthval.dll");
  ASSERT_NE(module, nullptr) << GetLastError();
  EXPECT_EQ(unload_when_allowed(module, "healthval.dll"), "");
}

}  // namespace
