// An event log source, deregistered when its owner goes: the one place that
// reports events to the system's Application log.
#pragma once

#include <string>
#include <vector>

#include "platform/win32.h"

namespace plat {

class event_source_t {
 public:
  explicit event_source_t(const char16_t* name) : handle_(RegisterEventSourceW(nullptr, wstr(name))) {}
  ~event_source_t() {
    if (handle_ != nullptr) DeregisterEventSource(handle_);
  }
  event_source_t(const event_source_t&) = delete;
  event_source_t& operator=(const event_source_t&) = delete;

  // type is one of EVENTLOG_ERROR_TYPE, _WARNING_TYPE, _INFORMATION_TYPE;
  // false when the source could not be opened or the log refused the event.
  bool report(WORD type, DWORD id, const std::vector<std::u16string>& strings) const {
    if (handle_ == nullptr) return false;
    std::vector<LPCWSTR> texts;
    texts.reserve(strings.size());
    for (const std::u16string& s : strings) texts.push_back(wstr(s.c_str()));
    return ReportEventW(handle_, type, 0, id, nullptr, static_cast<WORD>(texts.size()), 0,
                        texts.empty() ? nullptr : texts.data(), nullptr) != FALSE;
  }

 private:
  HANDLE handle_;
};

}  // namespace plat
