// The validator as the NAP server meets it: the built healthval module and the
// NAP SDK stand-in registered in a private registry store, settings pointing
// at a central-sim on loopback, the module's log lines in a file of its own.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "base/com_ptr.h"
#include "central_sim.h"
#include "common/component_ids.h"
#include "common/settings.h"
#include "eventually.h"
#include "platform/nap_sdk.h"
#include "registry_fixture.h"
#include "tools/naphost/nap_request.h"

namespace test_support {

inline HRESULT call_export(HMODULE module, const char* name) {
  auto fn = reinterpret_cast<HRESULT (*)()>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  return fn == nullptr ? E_NOTIMPL : fn();
}

class healthval_fixture : public ::testing::Test {
 protected:
  void SetUp() override {
    log_path_ = store_.dir() + "/debug.log";
    setenv("SHV_DEBUG_OUTPUT", log_path_.c_str(), 1);
    events_path_ = store_.dir() + "/events.log";
    setenv("SHV_EVENT_LOG", events_path_.c_str(), 1);
    napsdk_ = LoadLibraryA("napsdk.dll");
    ASSERT_NE(napsdk_, nullptr);
    ASSERT_EQ(call_export(napsdk_, "DllRegisterServer"), S_OK);
    healthval_ = LoadLibraryA("healthval.dll");
    ASSERT_NE(healthval_, nullptr);
    ASSERT_EQ(call_export(healthval_, "DllRegisterServer"), S_OK);
    ASSERT_EQ(CoCreateInstance(CLSID_SHVValidator, nullptr, CLSCTX_INPROC_SERVER, IID_INapSystemHealthValidator,
                               validator_.out_void()),
              S_OK);
  }
  void TearDown() override {
    validator_.reset();
    if (healthval_) FreeLibrary(healthval_);
    if (napsdk_) FreeLibrary(napsdk_);
    unsetenv("SHV_DEBUG_OUTPUT");
    unsetenv("SHV_EVENT_LOG");
  }

  // Points the settings at a central server.
  void use_server(const central_sim_t& sim, uint32_t cache_time = 3600, uint32_t server_timeout = 5000) {
    shv_settings::write("server_name", std::u16string(u"127.0.0.1"));
    shv_settings::write("server_port", static_cast<uint32_t>(sim.port()));
    shv_settings::write("cache_time", cache_time);
    shv_settings::write("server_timeout", server_timeout);
  }

  static std::vector<soh_wire::attribute_t> soh_with_record(const std::string& record, uint32_t vendor = 0x0073FA02) {
    return {soh_wire::make_system_health_id(0x0073FA02), soh_wire::make_vendor_specific(vendor, record)};
  }

  // One request through Validate, waiting for OnComplete.
  struct run_t {
    naphost::call_log_t log;
    std::unique_ptr<naphost::nap_request_t> request;
    std::unique_ptr<naphost::nap_callback_t> callback;
    HRESULT validate_result = S_OK;
    bool completed = false;
  };
  // With a configuration id, the request names it as a NAP server does for
  // a network policy that picks one; with an error, asking for the id fails.
  std::unique_ptr<run_t> validate(std::vector<soh_wire::attribute_t> soh, bool null_soh = false,
                                  std::optional<UINT32> config_id = std::nullopt, HRESULT config_id_error = S_OK) {
    auto run = std::make_unique<run_t>();
    run->request = std::make_unique<naphost::nap_request_t>(std::move(soh), null_soh, run->log);
    if (config_id) run->request->set_config_id(*config_id);
    if (FAILED(config_id_error)) run->request->fail_config_id(config_id_error);
    run->callback = std::make_unique<naphost::nap_callback_t>(run->log);
    run->validate_result = validator_->Validate(run->request.get(), 2000, run->callback.get());
    if (run->validate_result == E_PENDING) {
      run->completed = run->callback->wait(std::chrono::seconds(30));
      // The worker releases both references right after OnComplete.
      eventually([&] { return run->request->references() == 1 && run->callback->references() == 1; },
                 std::chrono::seconds(3));
    }
    return run;
  }

  std::string module_log() const { return read_file(log_path_); }

  // The event log's lines (one JSON object each) of event id so far.
  std::vector<std::string> events(unsigned id) const {
    std::ifstream in(events_path_);
    std::vector<std::string> lines;
    const std::string wanted = "\"id\":" + std::to_string(id) + ",";
    for (std::string line; std::getline(in, line);) {
      if (line.find(wanted) != std::string::npos) lines.push_back(line);
    }
    return lines;
  }

  test_support::temp_store_t store_;
  std::string log_path_;
  std::string events_path_;
  HMODULE napsdk_ = nullptr;
  HMODULE healthval_ = nullptr;
  base_n::com_ptr_t<INapSystemHealthValidator> validator_;
};

// The response's one attribute after the System-Health-Id.
inline soh_wire::attribute_t answer_of(const naphost::nap_request_t& request) {
  const auto response = request.response();
  return response.size() == 2 ? response[1] : soh_wire::attribute_t{0, {}};
}

inline soh_wire::attribute_t compliance(uint32_t code) { return soh_wire::make_result_codes(4, {code}); }

}  // namespace test_support
