// What the NAP server hands a validator: a request carrying one client's SoH
// and a callback for the answer. Given a call log, both record every call
// made on them, in order, so hosts and tests can see what the validator did.
// Like COM objects they go with their last Release: made with new, the
// creator's own reference is its first; an object whose creator never
// releases it (on the stack) stays.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/nap_sdk.h"
#include "platform/soh/soh_wire.h"

namespace naphost {

// A call log shared by a request and its callback.
class call_log_t {
 public:
  void add(const std::string& call);
  std::vector<std::string> calls() const;

 private:
  mutable std::mutex lock_;
  std::vector<std::string> calls_;
};

// Answers for INapSystemHealthValidationRequest2 only once a configuration id
// is set: a NAP server that names the configuration of the request's network
// policy; without one it is a server of the first generation.
class nap_request_t final : public INapSystemHealthValidationRequest2 {
 public:
  // soh: the client's attributes for this validator; null_soh: the client
  // sent none (GetSoHRequest hands out a null SoH).
  nap_request_t(std::vector<soh_wire::attribute_t> soh, bool null_soh, call_log_t& log);
  nap_request_t(std::vector<soh_wire::attribute_t> soh, bool null_soh);
  ~nap_request_t();

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE GetCorrelationId(CorrelationId* id) override;
  HRESULT STDMETHODCALLTYPE GetStringCorrelationId(StringCorrelationId** id) override;
  HRESULT STDMETHODCALLTYPE GetMachineName(CountedString** name) override;
  HRESULT STDMETHODCALLTYPE GetSoHRequest(SoHRequest** soh, BOOL* system_generated) override;
  HRESULT STDMETHODCALLTYPE SetSoHResponse(const SoHResponse* soh) override;
  HRESULT STDMETHODCALLTYPE GetSoHResponse(SoHResponse** soh) override;
  HRESULT STDMETHODCALLTYPE SetPrivateData(const PrivateData* data) override;
  HRESULT STDMETHODCALLTYPE GetPrivateData(PrivateData** data) override;
  HRESULT STDMETHODCALLTYPE GetConfigID(UINT32* id) override;

  // Makes the request name configuration id (before it is handed out).
  void set_config_id(UINT32 id) {
    config_id_ = id;
    has_config_id_ = true;
  }
  // Makes GetConfigID fail with error, as a NAP server that cannot tell the
  // request's network policy.
  void fail_config_id(HRESULT error) {
    config_id_error_ = error;
    has_config_id_ = true;
  }

  // Called at the start of GetSoHRequest: lets a host hold a request open.
  void set_gate(std::function<void()> gate) { gate_ = std::move(gate); }

  // The response the validator set, decoded; empty when none was set.
  std::vector<soh_wire::attribute_t> response() const;
  bool has_response() const;
  // References held by others than the creator (AddRef minus Release).
  long references() const { return references_.load(); }

 private:
  std::vector<soh_wire::attribute_t> soh_;
  bool null_soh_;
  bool has_config_id_ = false;
  UINT32 config_id_ = 0;
  HRESULT config_id_error_ = S_OK;
  std::function<void()> gate_;
  call_log_t* log_ = nullptr;
  std::atomic<long> references_{1};
  mutable std::mutex lock_;
  bool has_response_ = false;
  std::vector<soh_wire::attribute_t> response_;
};

class nap_callback_t final : public INapServerCallback {
 public:
  // Runs inside OnComplete, with the request the validator completed (one of
  // ours) while the validator still holds it.
  typedef std::function<void(nap_request_t& request, HRESULT status)> completion_fn;

  explicit nap_callback_t(call_log_t& log);
  explicit nap_callback_t(completion_fn on_complete);
  ~nap_callback_t();
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE OnComplete(INapSystemHealthValidationRequest* request, HRESULT status) override;

  // Waits for OnComplete; false when it did not come within the time.
  bool wait(std::chrono::milliseconds limit);
  HRESULT status() const;
  int completions() const;
  long references() const { return references_.load(); }
  // Makes OnComplete throw (after recording it), to test the validator's handling.
  void throw_on_complete(bool on) { throw_ = on; }

 private:
  call_log_t* log_ = nullptr;
  completion_fn on_complete_;
  std::atomic<long> references_{1};
  mutable std::mutex lock_;
  std::condition_variable done_;
  int completions_ = 0;
  HRESULT status_ = S_OK;
  bool throw_ = false;
};

// One request as the NAP server makes it: a request and a callback on the
// heap, Validate, the host's own references dropped at once, and the answer
// taken inside OnComplete, waited for at most limit. Nothing waits for the
// validator's references: its last Release frees the objects.
struct outcome_t {
  HRESULT validate_result = E_UNEXPECTED;
  bool completed = false;  // OnComplete came in time
  HRESULT status = S_OK;   // as OnComplete reported it
  std::vector<soh_wire::attribute_t> response;
  std::chrono::duration<double, std::milli> took{0};  // Validate to OnComplete
};
// With a configuration id, the request names it (set_config_id).
outcome_t validate_once(INapSystemHealthValidator* validator, std::vector<soh_wire::attribute_t> soh, bool null_soh,
                        std::chrono::milliseconds limit, std::optional<UINT32> config_id = std::nullopt);

// Requests and callbacks alive in the process; a host waits for none to be
// left before it ends, so that no validator thread calls into a host that
// has gone.
long live_objects();
bool wait_until_no_live_objects(std::chrono::milliseconds limit);

}  // namespace naphost
