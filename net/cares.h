// dns::utils::cares_t: one c-ares channel for the duration of one operation,
// and the select loop that drives it on the calling thread.
#pragma once

#include <string>

#include <ares.h>

#include "kern/types.h"
#include "net/dns_resolver.h"

struct sockaddr;

namespace dns::utils {

class cares_t : public noncopyable_t {
 public:
  // Lookup order "fb" (hosts file, then DNS); no servers or domains: the
  // system's configuration applies. Without a deadline, time-out and tries
  // come from the settings; with one, they are fitted into the time left.
  explicit cares_t(deadline_t deadline = no_deadline);
  ~cares_t();

  // c-ares' code for the start-up (of the library, then the channel).
  int retcode() const { return init_rc_; }
  bool ready() const { return init_rc_ == ARES_SUCCESS; }

  // Whether the hosts file lists name for the family: c-ares' "f" lookup
  // alone, no DNS traffic.
  bool in_hosts_file(const char* name, int family) const;
  // A forward lookup of one family (the hosts file, then DNS); the answer
  // carries each address's time-to-live.
  void getaddrinfo(const char* name, int family, ares_addrinfo_callback callback, void* arg);
  void getnameinfo(const sockaddr* address, int length, int flags, ares_nameinfo_callback callback,
                   void* arg);
  // Runs the channel until nothing is pending and returns true; at the
  // deadline, cancels what is pending and returns false. Throws
  // sysselect_exception_shell_t.
  bool do_query();

  // The result for a c-ares status: success, time-out flag, or c-ares' text.
  result_ptr retcode(int status, const char* operation) const;

 private:
  ares_channel channel_ = nullptr;
  bool library_started_ = false;
  int init_rc_;
  deadline_t deadline_;
};

}  // namespace dns::utils
