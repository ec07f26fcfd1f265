// SHVValidator: COM identity, Validate and the worker thread.
#include "shv/shv_validator.h"

#include <memory>
#include <new>

#include <boost/thread/exceptions.hpp>

#include "common/nap_common.h"
#include "kern/exceptions.h"
#include "kern/logger.h"
#include "kern/pretty_print.h"
#include "kern/runnable.h"
#include "shv/activity.h"
#include "shv/event_log.h"
#include "shv/module_state.h"
#include "platform/pinned_thread.h"
#include "shv/request_counter.h"

namespace {

const char validate_name[] = "INapSystemHealthValidator::Validate";
const char thread_name[] = "INapSystemHealthValidator::Validate::Thread";

// Runs one worker's task on its pinned thread; the task (and with it the last
// reference to the request) is gone before the thread leaves module code.
void run_task(void* context) {
  {
    std::unique_ptr<std::function<void()>> task(static_cast<std::function<void()>*>(context));
    (*task)();
  }
  shv::live_workers().fetch_sub(1);
}

// Each worker is a detached OS thread that keeps healthval loaded until it has
// left healthval's code (see platform/pinned_thread.h): the NAP server may
// unload the module as soon as DllCanUnloadNow allows.
void start_detached(std::function<void()> body) {
  auto task = std::make_unique<std::function<void()>>(std::move(body));
  shv::live_workers().fetch_add(1);
  if (!plat::start_pinned_thread(&run_task, task.get())) {
    shv::live_workers().fetch_sub(1);
    throw boost::thread_resource_error();
  }
  task.release();  // the thread owns it now
}

std::atomic<SHVValidator::thread_starter_t> thread_starter{&start_detached};

// Reports a failure with the reason of the exception being handled; the
// library's own exceptions also go to pretty_print_exception as themselves.
void report_current(const char* format, const char* source) {
  if (!kern_n::log_enabled(lvl_error)) return;
  const std::string reason = kern_n::describe_current_exception();
  const std::string text = string_format(format, source, reason.c_str());
  pretty_print_exception(lvl_error, text.c_str(), nullptr, nullptr);
}

// A request answered, for the hourly summary.
void count_result(const shv_result_t& result) {
  if (result.failure_category == shv_failure_server_communication) {
    shv::activity::count(shv::activity::failed_queries);
  } else if (result.failure_category == 0) {
    shv::activity::count(result.compliance_result_code == S_OK ? shv::activity::compliant
                                                               : shv::activity::not_compliant);
  }
}

}  // namespace

std::atomic<uint32_t>& shv::request_thread_count() {
  static std::atomic<uint32_t> count{0};
  return count;
}

std::atomic<uint32_t>& shv::live_workers() {
  static std::atomic<uint32_t> count{0};
  return count;
}

SHVValidator::SHVValidator() { shv::module_lock(); }

SHVValidator::~SHVValidator() { shv::module_unlock(); }

HRESULT SHVValidator::QueryInterface(REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_INapSystemHealthValidator)) {
    *object = static_cast<INapSystemHealthValidator*>(this);
  } else if (IsEqualIID(riid, IID_INapComponentInfo)) {
    *object = static_cast<INapComponentInfo*>(this);
  } else {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

ULONG SHVValidator::AddRef() { return references_.fetch_add(1) + 1; }

ULONG SHVValidator::Release() {
  const ULONG left = references_.fetch_sub(1) - 1;
  if (left == 0) delete this;
  return left;
}

SHVValidator::thread_starter_t SHVValidator::set_thread_starter(thread_starter_t starter) {
  return thread_starter.exchange(starter != nullptr ? starter : &start_detached);
}

HRESULT SHVValidator::Validate(INapSystemHealthValidationRequest* request, UINT32,
                               INapServerCallback* callback) {
  KLOG(lvl_info, "%s: begins", validate_name);
  if (request == nullptr || callback == nullptr) {
    KLOG(lvl_error, "%s: invalid args", validate_name);
    return E_INVALIDARG;
  }
  std::atomic<uint32_t>& count = shv::request_thread_count();
  if (count.fetch_add(1) + 1 > shv::max_requests) {
    KLOG(lvl_error, "%s: unable to process request because of too many threads", validate_name);
    count.fetch_sub(1);
    // Reported by the next worker after its OnComplete: the NAP server's
    // thread waits for this answer.
    shv::activity::count_refused();
    return HRESULT_FROM_WIN32(565);
  }
  // Undoes the admission unless the worker has taken it over.
  struct admission_guard_t {
    std::atomic<uint32_t>& count;
    bool armed = true;
    ~admission_guard_t() {
      if (armed) count.fetch_sub(1);
    }
  } guard{count};
  try {
    auto record = std::make_shared<shv_request_t>();
    request->AddRef();
    record->request = request;
    callback->AddRef();
    record->callback = callback;
    record->validator = this;
    thread_starter.load()([record] { run(record); });
    guard.armed = false;
  } catch (...) {
    report_current("%s: unable to start validation thread because of %s", validate_name);
    return E_UNEXPECTED;
  }
  KLOG(lvl_info, "%s: validation thread started successfully", validate_name);
  return E_PENDING;
}

void SHVValidator::run(std::shared_ptr<shv_request_t> record) {
  answer(*record);
  // What the request found worth an event is written only now, after
  // OnComplete and with the NAP server's objects given back: the event log
  // may stall, the client must not wait for it.
  shv::activity::after_request();
  shv::events::write_pending();
}

void SHVValidator::answer(shv_request_t& record) {
  // The completion step runs on every way out, exactly once; the request's
  // references go right after it.
  struct completion_t {
    shv_request_t& record;
    HRESULT status = E_UNEXPECTED;
    ~completion_t() {
      shv::request_thread_count().fetch_sub(1);
      try {
        record.callback->OnComplete(record.request, status);
      } catch (...) {
        report_current("%s: unable to reply to NAP pending request because of %s", thread_name);
      }
      record.release();
    }
  } completion{record};

  KLOG(lvl_info, "%s: begins", thread_name);
  shv::activity::count(shv::activity::requests);
  shv_result_t result;
  result.set(shv_not_compliant, 0);
  try {
    process_request(record.request, result);
    prepare_response(result, record.request);
    completion.status = S_OK;
    count_result(result);
  } catch (const napcommon::com_error_t& e) {
    KLOG(lvl_error, "%s: unable to process NAP pending request because of %s", thread_name, e.what());
    completion.status = e.code();
  } catch (...) {
    report_current("%s: unable to process NAP pending request because of %s", thread_name);
  }
  KLOG(lvl_info, "%s: ends with status %08X", thread_name, static_cast<unsigned>(completion.status));
}
