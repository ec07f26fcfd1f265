// The configuration of a request: its id from the NAP server, its settings
// from the store, and the one line per id that does not exist.
#include "shv/policy_configuration.h"

#include <mutex>
#include <set>
#include <string>

#include "base/com_ptr.h"
#include "kern/logger.h"
#include "kern/pretty_print.h"
#include "kern/runnable.h"
#include "kern/strings.h"
#include "shv/event_log.h"

namespace shv {

namespace {

const char source[] = "INapSystemHealthValidator::Validate::Thread";

// The ids already reported as missing. Bounded: a host naming ever new ids
// cannot make it grow; when full it starts over, and an id may be reported
// again.
class missing_ids_t {
 public:
  static constexpr size_t max_ids = 1024;
  // True the first time id is reported missing since it last existed.
  bool first_report(uint32_t id) {
    std::lock_guard<std::mutex> guard(lock_);
    if (ids_.count(id) != 0) return false;
    if (ids_.size() >= max_ids) ids_.clear();
    ids_.insert(id);
    return true;
  }
  // The id exists (again): its next disappearance is reported.
  void exists(uint32_t id) {
    std::lock_guard<std::mutex> guard(lock_);
    ids_.erase(id);
  }

 private:
  std::mutex lock_;
  std::set<uint32_t> ids_;
};

missing_ids_t& missing_ids() {
  static missing_ids_t ids;
  return ids;
}

}  // namespace

std::optional<uint32_t> configuration_id(INapSystemHealthValidationRequest* request) {
  base_n::com_ptr_t<INapSystemHealthValidationRequest2> second;
  if (FAILED(request->QueryInterface(IID_INapSystemHealthValidationRequest2, second.out_void())) || !second) return 0;
  UINT32 id = 0;
  const HRESULT hr = second->GetConfigID(&id);
  if (FAILED(hr)) {
    KLOG(lvl_error, "%s: unable to get the configuration id because of error %08X, the request cannot be judged",
         source, static_cast<unsigned>(hr));
    return std::nullopt;
  }
  return id;
}

std::optional<shv_settings::values_t> configuration_settings(uint32_t id) {
  if (id == 0) return std::nullopt;
  try {
    std::optional<shv_settings::values_t> values = shv_settings::find_stored(id);
    if (!values) {
      if (missing_ids().first_report(id)) {
        KLOG(lvl_error, "%s: configuration %u does not exist, the default configuration is used", source,
             static_cast<unsigned>(id));
        events::report(events::unknown_configuration, events::type_t::warning, {events::number(id)});
      }
      return std::nullopt;
    }
    missing_ids().exists(id);
    return values;
  } catch (...) {
    if (kern_n::log_enabled(lvl_error)) {
      const std::string reason = kern_n::describe_current_exception();
      const std::string text = string_format("%s: unable to read configuration %u because of %s", source,
                                             static_cast<unsigned>(id), reason.c_str());
      pretty_print_exception(lvl_error, text.c_str(), nullptr, nullptr);
    }
  }
  return shv_settings::default_values();
}

}  // namespace shv
