// SHVValidator: the COM object the NAP server calls. Validate admits up to 128
// requests at a time and serves each on its own detached worker thread, which
// reads the client's statement of health, has its NAP data record judged, and
// answers with an SoH response and OnComplete. It also tells the NAP server
// its name, description, vendor, version and icon.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "common/component_ids.h"
#include "common/settings.h"
#include "kern/types.h"
#include "platform/nap_sdk.h"
#include "shv/shv_request.h"
#include "shv/shv_result.h"

class SHVValidator : public INapSystemHealthValidator, public INapComponentInfo, public noncopyable_t {
 public:
  SHVValidator();
  virtual ~SHVValidator();

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // INapSystemHealthValidator
  HRESULT STDMETHODCALLTYPE Validate(INapSystemHealthValidationRequest* request, UINT32 hint_timeout_ms,
                                     INapServerCallback* callback) override;

  // INapComponentInfo
  HRESULT STDMETHODCALLTYPE GetFriendlyName(MessageId* id) override;
  HRESULT STDMETHODCALLTYPE GetDescription(MessageId* id) override;
  HRESULT STDMETHODCALLTYPE GetVendorName(MessageId* id) override;
  HRESULT STDMETHODCALLTYPE GetVersion(MessageId* id) override;
  HRESULT STDMETHODCALLTYPE GetIcon(CountedString** path, UINT32* icon_id) override;
  HRESULT STDMETHODCALLTYPE ConvertErrorCodeToMessageId(HRESULT code, MessageId* id) override;
  HRESULT STDMETHODCALLTYPE GetLocalizedString(MessageId id, CountedString** text) override;

  // The worker thread's body: answer, then the events.
  static void run(std::shared_ptr<shv_request_t> record);
  // Judges the request and calls OnComplete; the request's references are
  // given back before it returns.
  static void answer(shv_request_t& record);
  // The steps of one request; each raises napcommon::com_error_t when a NAP
  // SDK step fails. validate judges by policy, the settings of the request's
  // configuration, or by the default configuration's when it is null.
  static void process_request(INapSystemHealthValidationRequest* request, shv_result_t& result);
  static void validate(const std::string& record, const shv_settings::values_t* policy, shv_result_t& result);
  static void prepare_response(const shv_result_t& result, INapSystemHealthValidationRequest* request);

  // How a worker thread is started (detached); replaceable for tests.
  typedef void (*thread_starter_t)(std::function<void()> body);
  static thread_starter_t set_thread_starter(thread_starter_t starter);

 private:
  std::atomic<ULONG> references_{0};
};

// Message ids of the component information strings and the icon.
namespace shv_resources {
constexpr UINT module_name = 100;
constexpr UINT description = 306;
constexpr UINT friendly_name = 307;
constexpr UINT vendor_name = 308;
constexpr UINT version = 309;
constexpr UINT icon = 400;
}  // namespace shv_resources
