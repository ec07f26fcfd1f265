// The NAP server's request and callback objects.
#include "tools/naphost/nap_request.h"

#include <stdexcept>

#include "base/com_object.h"
#include "common/nap_common.h"
#include "platform/soh/soh_memory.h"

namespace naphost {

namespace {

struct live_count_t {
  std::mutex lock;
  std::condition_variable changed;
  long count = 0;
  void add(long n) {
    std::lock_guard<std::mutex> guard(lock);
    count += n;
    if (count == 0) changed.notify_all();
  }
};

live_count_t& live() {
  static live_count_t* instance = new live_count_t;  // outlives static destruction
  return *instance;
}

void record(call_log_t* log, const char* call) {
  if (log != nullptr) log->add(call);
}

}  // namespace

long live_objects() {
  std::lock_guard<std::mutex> guard(live().lock);
  return live().count;
}

bool wait_until_no_live_objects(std::chrono::milliseconds limit) {
  std::unique_lock<std::mutex> guard(live().lock);
  return live().changed.wait_for(guard, limit, [] { return live().count == 0; });
}

outcome_t validate_once(INapSystemHealthValidator* validator, std::vector<soh_wire::attribute_t> soh, bool null_soh,
                        std::chrono::milliseconds limit, std::optional<UINT32> config_id) {
  // Filled inside OnComplete; shared, since the callback may outlive a wait
  // that gave up.
  struct shared_t {
    std::mutex lock;
    std::condition_variable done;
    outcome_t outcome;
  };
  auto shared = std::make_shared<shared_t>();
  auto* request = new nap_request_t(std::move(soh), null_soh);
  if (config_id) request->set_config_id(*config_id);
  auto* callback = new nap_callback_t([shared](nap_request_t& completed, HRESULT status) {
    std::vector<soh_wire::attribute_t> response = completed.response();
    std::lock_guard<std::mutex> guard(shared->lock);
    shared->outcome.status = status;
    shared->outcome.response = std::move(response);
    shared->outcome.completed = true;
    shared->done.notify_all();
  });
  const auto start = std::chrono::steady_clock::now();
  const HRESULT result = validator->Validate(request, 2000, callback);
  request->Release();
  callback->Release();
  std::unique_lock<std::mutex> guard(shared->lock);
  if (result == E_PENDING) shared->done.wait_for(guard, limit, [&] { return shared->outcome.completed; });
  outcome_t outcome = shared->outcome;
  outcome.validate_result = result;
  outcome.took = std::chrono::steady_clock::now() - start;
  return outcome;
}

void call_log_t::add(const std::string& call) {
  std::lock_guard<std::mutex> guard(lock_);
  calls_.push_back(call);
}

std::vector<std::string> call_log_t::calls() const {
  std::lock_guard<std::mutex> guard(lock_);
  return calls_;
}

nap_request_t::nap_request_t(std::vector<soh_wire::attribute_t> soh, bool null_soh, call_log_t& log)
    : nap_request_t(std::move(soh), null_soh) {
  log_ = &log;
}

nap_request_t::nap_request_t(std::vector<soh_wire::attribute_t> soh, bool null_soh)
    : soh_(std::move(soh)), null_soh_(null_soh) {
  live().add(1);
}

nap_request_t::~nap_request_t() { live().add(-1); }

HRESULT nap_request_t::QueryInterface(REFIID riid, void** object) {
  if (has_config_id_ && object != nullptr && IsEqualIID(riid, IID_INapSystemHealthValidationRequest2)) {
    *object = static_cast<INapSystemHealthValidationRequest2*>(this);
    AddRef();
    return S_OK;
  }
  return base_n::query_single<INapSystemHealthValidationRequest>(this, riid, IID_INapSystemHealthValidationRequest,
                                                                 object);
}

ULONG nap_request_t::AddRef() {
  record(log_, "request.AddRef");
  return static_cast<ULONG>(references_.fetch_add(1) + 1);
}

ULONG nap_request_t::Release() {
  record(log_, "request.Release");
  const long left = references_.fetch_sub(1) - 1;
  if (left == 0) delete this;
  return static_cast<ULONG>(left);
}

HRESULT nap_request_t::GetCorrelationId(CorrelationId*) { return E_NOTIMPL; }
HRESULT nap_request_t::GetStringCorrelationId(StringCorrelationId**) { return E_NOTIMPL; }
HRESULT nap_request_t::GetMachineName(CountedString**) { return E_NOTIMPL; }

HRESULT nap_request_t::GetSoHRequest(SoHRequest** soh, BOOL* system_generated) {
  record(log_, "request.GetSoHRequest");
  if (gate_) gate_();
  if (soh == nullptr || system_generated == nullptr) return E_POINTER;
  *system_generated = FALSE;
  if (null_soh_) {
    *soh = nullptr;
    return S_OK;
  }
  *soh = soh_memory::make_soh(soh_);
  return *soh == nullptr ? E_OUTOFMEMORY : S_OK;
}

HRESULT nap_request_t::SetSoHResponse(const SoHResponse* soh) {
  record(log_, "request.SetSoHResponse");
  if (soh == nullptr) return E_POINTER;
  try {
    std::vector<soh_wire::attribute_t> response = soh_memory::read_soh(*soh);
    std::lock_guard<std::mutex> guard(lock_);
    response_ = std::move(response);
    has_response_ = true;
  } catch (const soh_wire::format_error&) {
    return NAP_E_INVALID_PACKET;
  }
  return S_OK;
}

HRESULT nap_request_t::GetSoHResponse(SoHResponse** soh) {
  if (soh == nullptr) return E_POINTER;
  std::lock_guard<std::mutex> guard(lock_);
  *soh = has_response_ ? soh_memory::make_soh(response_) : nullptr;
  return S_OK;
}

HRESULT nap_request_t::GetConfigID(UINT32* id) {
  record(log_, "request.GetConfigID");
  if (id == nullptr) return E_INVALIDARG;
  if (FAILED(config_id_error_)) return config_id_error_;
  *id = config_id_;
  return S_OK;
}

HRESULT nap_request_t::SetPrivateData(const PrivateData*) { return E_NOTIMPL; }
HRESULT nap_request_t::GetPrivateData(PrivateData**) { return E_NOTIMPL; }

std::vector<soh_wire::attribute_t> nap_request_t::response() const {
  std::lock_guard<std::mutex> guard(lock_);
  return response_;
}

bool nap_request_t::has_response() const {
  std::lock_guard<std::mutex> guard(lock_);
  return has_response_;
}

nap_callback_t::nap_callback_t(call_log_t& log) : log_(&log) { live().add(1); }

nap_callback_t::nap_callback_t(completion_fn on_complete) : on_complete_(std::move(on_complete)) { live().add(1); }

nap_callback_t::~nap_callback_t() { live().add(-1); }

HRESULT nap_callback_t::QueryInterface(REFIID riid, void** object) {
  return base_n::query_single<INapServerCallback>(this, riid, IID_INapServerCallback, object);
}

ULONG nap_callback_t::AddRef() {
  record(log_, "callback.AddRef");
  return static_cast<ULONG>(references_.fetch_add(1) + 1);
}

ULONG nap_callback_t::Release() {
  record(log_, "callback.Release");
  const long left = references_.fetch_sub(1) - 1;
  if (left == 0) delete this;
  return static_cast<ULONG>(left);
}

HRESULT nap_callback_t::OnComplete(INapSystemHealthValidationRequest* request, HRESULT status) {
  record(log_, "callback.OnComplete");
  // Every request a validator is given here is one of ours.
  if (on_complete_ && request != nullptr) on_complete_(*static_cast<nap_request_t*>(request), status);
  {
    std::lock_guard<std::mutex> guard(lock_);
    status_ = status;
    ++completions_;
  }
  done_.notify_all();
  if (throw_) throw std::runtime_error("host failed to take the answer");
  return S_OK;
}

bool nap_callback_t::wait(std::chrono::milliseconds limit) {
  std::unique_lock<std::mutex> guard(lock_);
  return done_.wait_for(guard, limit, [this] { return completions_ > 0; });
}

HRESULT nap_callback_t::status() const {
  std::lock_guard<std::mutex> guard(lock_);
  return status_;
}

int nap_callback_t::completions() const {
  std::lock_guard<std::mutex> guard(lock_);
  return completions_;
}

}  // namespace naphost
