// The NAP server's request and callback objects.
#include "tools/naphost/nap_request.h"

#include <stdexcept>

#include "base/com_object.h"
#include "common/nap_common.h"
#include "platform/soh/soh_memory.h"

namespace naphost {

void call_log_t::add(const std::string& call) {
  std::lock_guard<std::mutex> guard(lock_);
  calls_.push_back(call);
}

std::vector<std::string> call_log_t::calls() const {
  std::lock_guard<std::mutex> guard(lock_);
  return calls_;
}

nap_request_t::nap_request_t(std::vector<soh_wire::attribute_t> soh, bool null_soh, call_log_t& log)
    : soh_(std::move(soh)), null_soh_(null_soh), log_(log) {}

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
  log_.add("request.AddRef");
  return static_cast<ULONG>(references_.fetch_add(1) + 1);
}

ULONG nap_request_t::Release() {
  log_.add("request.Release");
  return static_cast<ULONG>(references_.fetch_sub(1) - 1);  // the creator owns the object
}

HRESULT nap_request_t::GetCorrelationId(CorrelationId*) { return E_NOTIMPL; }
HRESULT nap_request_t::GetStringCorrelationId(StringCorrelationId**) { return E_NOTIMPL; }
HRESULT nap_request_t::GetMachineName(CountedString**) { return E_NOTIMPL; }

HRESULT nap_request_t::GetSoHRequest(SoHRequest** soh, BOOL* system_generated) {
  log_.add("request.GetSoHRequest");
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
  log_.add("request.SetSoHResponse");
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
  log_.add("request.GetConfigID");
  if (id == nullptr) return E_INVALIDARG;
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

HRESULT nap_callback_t::QueryInterface(REFIID riid, void** object) {
  return base_n::query_single<INapServerCallback>(this, riid, IID_INapServerCallback, object);
}

ULONG nap_callback_t::AddRef() {
  log_.add("callback.AddRef");
  return static_cast<ULONG>(references_.fetch_add(1) + 1);
}

ULONG nap_callback_t::Release() {
  log_.add("callback.Release");
  return static_cast<ULONG>(references_.fetch_sub(1) - 1);
}

HRESULT nap_callback_t::OnComplete(INapSystemHealthValidationRequest*, HRESULT status) {
  log_.add("callback.OnComplete");
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
