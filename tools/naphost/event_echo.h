// The validator's events on the host's standard error: on Linux, where the
// event log is the stand-in's file, naphost gives its modules a file of its
// own for the run (unless SHV_EVENT_LOG names one) and prints each event as
// "event: {...}" at the end; on Windows they are in the Application log.
#pragma once

#include <string>

namespace naphost {

class event_echo_t {
 public:
  event_echo_t();
  ~event_echo_t();
  event_echo_t(const event_echo_t&) = delete;
  event_echo_t& operator=(const event_echo_t&) = delete;

 private:
  std::string path_;  // empty: nothing to echo
};

// Waits (two seconds at most) until a loaded healthval agrees to unload,
// that is until its workers have written their events and left.
void wait_for_workers();

}  // namespace naphost
