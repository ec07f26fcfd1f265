// Hosts load and unload our modules for ever: the management console loads
// healthcfg each time its settings are opened, the NAP server frees unused
// libraries. Each cycle loads a module, creates an object, uses it once,
// releases it and unloads the module at the first DllCanUnloadNow that
// agrees; thousands of cycles in one process must neither run out of
// anything (thread-local slots: 1,088 per process on Windows, 1,024 keys on
// Linux) nor grow.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "base/com_ptr.h"
#include "central_sim.h"
#include "common/settings.h"
#include "platform/nap_sdk.h"
#include "platform/process_stats.h"
#include "registry_fixture.h"
#include "tools/naphost/nap_request.h"

namespace {

#ifdef _WIN32
constexpr int cycles = 1200;  // past the Windows slot limit
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

// The NAP SDK stand-in registered for the validator's SoH reader and writer,
// and a registry of the test's own.
class module_cycles : public ::testing::Test {
 protected:
  void SetUp() override {
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
  // 2 MiB of memory after the 100th.
  template <class F>
  void run_cycles(const char* module_name, F cycle) {
    uint64_t after_100th = 0;
    for (int i = 1; i <= cycles; ++i) {
      const std::string failure = cycle();
      ASSERT_EQ(failure, "") << "cycle " << i;
      if (i == 100) after_100th = plat::resident_kib();
    }
    if (measures_memory) {
      EXPECT_LE(plat::resident_kib(), after_100th + allowed_growth_kib) << "after the 100th: " << after_100th << " KiB";
    }
    EXPECT_EQ(GetModuleHandleA(module_name), nullptr);
  }

  // Waits (bounded) for the first DllCanUnloadNow that agrees, then unloads.
  static std::string unload_when_allowed(HMODULE module) {
    const auto can_unload = module_export<plain_export_fn>(module, "DllCanUnloadNow");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (can_unload() != S_OK) {
      if (std::chrono::steady_clock::now() > deadline) return "DllCanUnloadNow never agreed";
      std::this_thread::yield();
    }
    FreeLibrary(module);
    return "";
  }

  test_support::temp_store_t store_;
  HMODULE napsdk_ = nullptr;
};

// Each cycle validates one client against the central server, so every part
// of the module is used once per load: worker thread, settings, verdict
// cache, I/O pool, socket, SoH reader and writer.
TEST_F(module_cycles, healthval_validates_once_per_load) {
  shv_test::central_sim_t sim;
  ASSERT_NE(sim.port(), 0);
  shv_settings::write("server_name", std::u16string(u"127.0.0.1"));
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
      base_n::com_ptr_t<IClassFactory> factory;
      base_n::com_ptr_t<INapSystemHealthValidator> validator;
      if (module_export<get_class_object_fn>(module, "DllGetClassObject")(clsid_validator, IID_IClassFactory,
                                                                          factory.out_void()) != S_OK ||
          factory->CreateInstance(nullptr, IID_INapSystemHealthValidator, validator.out_void()) != S_OK) {
        return "no validator";
      }
      if (validator->Validate(&request, 0, &callback) != E_PENDING) return "Validate refused";
    }
    if (!callback.wait(std::chrono::seconds(30))) return "no OnComplete";
    const std::string unloaded = unload_when_allowed(module);
    if (!unloaded.empty()) return unloaded;
    // The request lives on this stack: the worker must be done with it.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (request.references() != 1 || callback.references() != 1) {
      if (std::chrono::steady_clock::now() > deadline) return "the worker kept a reference";
      std::this_thread::yield();
    }
    return request.response().size() == 2 ? "" : "no response";
  });
  EXPECT_EQ(sim.reports(cycles).size(), static_cast<size_t>(cycles)) << "one conversation per load";
}

TEST_F(module_cycles, healthcfg_hands_out_its_configuration_once_per_load) {
  run_cycles("healthcfg.dll", [&]() -> std::string {
    HMODULE module = LoadLibraryA("healthcfg.dll");
    if (module == nullptr) return "load failed with " + std::to_string(GetLastError());
    {
      base_n::com_ptr_t<IClassFactory> factory;
      base_n::com_ptr_t<INapComponentConfig> config;
      if (module_export<get_class_object_fn>(module, "DllGetClassObject")(clsid_config, IID_IClassFactory,
                                                                          factory.out_void()) != S_OK ||
          factory->CreateInstance(nullptr, IID_INapComponentConfig, config.out_void()) != S_OK) {
        return "no configurator";
      }
      UINT16 count = 0;
      BYTE* blob = nullptr;
      if (config->GetConfig(&count, &blob) != S_OK || count != 24) return "no configuration blob";
      CoTaskMemFree(blob);
    }
    return unload_when_allowed(module);
  });
}

}  // namespace
