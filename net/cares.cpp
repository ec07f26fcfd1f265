// The c-ares channel and its select loop.
#include "net/cares.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "kern/error_text.h"
#include "kern/exceptions.h"
#include "kern/lazy.h"
#include "kern/logger.h"
#include "kern/syncers.h"
#include "net/net_utils.h"
#include "net/unload.h"
#include "platform/sockets.h"

namespace dns::utils {

namespace {

std::atomic<uint64_t> channel_count{0};

// c-ares' own start-up is held while a channel exists and given back with
// the last one. On Windows it takes references on system libraries: taken
// and given back around the resolutions, never at load or unload, where the
// loader lock forbids it, and nothing is left when the module goes. c-ares
// counts its start-ups without a lock: ours are counted under one.
kern_n::lazy_t<critical_section_t> library_lock;
unsigned library_users = 0;

int start_library() {
  const critsect_locker_t hold(library_lock.get());
  if (library_users == 0) {
    const int rc = ares_library_init(ARES_LIB_INIT_ALL);
    if (rc != ARES_SUCCESS) return rc;
  }
  ++library_users;
  return ARES_SUCCESS;
}

void stop_library() {
  const critsect_locker_t hold(library_lock.get());
  if (--library_users == 0) ares_library_cleanup();
}

// "{local->peer}" for every socket of the set, "unknown" for an address that
// cannot be obtained.
std::string describe_set(const fd_set& set, int nfds) {
  std::string text;
  plat::for_each_socket(set, nfds, [&text](net_n::socket_handle_t fd) {
    if (!text.empty()) text += ',';
    text += '{';
    text += net_n::get_my_name(fd);
    text += "->";
    text += net_n::get_peer_name(fd);
    text += '}';
  });
  return text.empty() ? "{}" : text;
}

// A try shorter than this is no use: a name server on the far side of a slow
// link could never answer in time.
constexpr uint64_t min_try_ms = 100;

struct schedule_t {
  unsigned timeout_ms;
  unsigned tries;
};

// The time-out per try and the tries that fit into the time left. c-ares
// doubles the time-out at every try to a server (t, 2t, 4t): as many tries as
// the settings allow while each still gets min_try_ms, and never a longer try
// than the setting. The query loop enforces the deadline itself in any case.
schedule_t fit_into(std::chrono::milliseconds left) {
  const uint64_t budget = left.count() > 0 ? static_cast<uint64_t>(left.count()) : 1;
  const uint64_t longest = static_cast<uint64_t>(timeout_seconds()) * 1000;
  for (unsigned n = std::clamp(tries(), 1u, 16u);; --n) {
    const uint64_t span = (uint64_t{1} << n) - 1;
    uint64_t per_try = budget / span;
    if (per_try >= min_try_ms || n == 1) {
      if (longest != 0) per_try = std::min(per_try, longest);
      return {static_cast<unsigned>(std::max<uint64_t>(per_try, 1)), n};
    }
  }
}

// Rounded up: a deadline less than a millisecond away has not passed yet.
std::chrono::milliseconds time_left(deadline_t deadline) {
  return std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
}

}  // namespace

uint64_t channels_created() { return channel_count.load(); }

namespace detail {
void release_library_lock() noexcept { library_lock.release(); }
}  // namespace detail

cares_t::cares_t(deadline_t deadline) : deadline_(deadline) {
  init_rc_ = start_library();
  library_started_ = init_rc_ == ARES_SUCCESS;
  ares_options options;
  std::memset(&options, 0, sizeof(options));
  char lookups[] = "fb";
  options.lookups = lookups;
  int mask = ARES_OPT_TRIES | ARES_OPT_LOOKUPS;
  if (deadline == no_deadline) {
    options.timeout = static_cast<int>(timeout_seconds());
    options.tries = static_cast<int>(tries());
    mask |= ARES_OPT_TIMEOUT;
  } else {
    const schedule_t fitted = fit_into(time_left(deadline));
    options.timeout = static_cast<int>(fitted.timeout_ms);
    options.tries = static_cast<int>(fitted.tries);
    mask |= ARES_OPT_TIMEOUTMS;
  }
  if (library_started_) init_rc_ = ares_init_options(&channel_, &options, mask);
  if (init_rc_ != ARES_SUCCESS) channel_ = nullptr;
  channel_count.fetch_add(1);
  if (debug_enabled()) {
    if (deadline == no_deadline) {
      KLOG(lvl_debug2, "[DNS] %p: init c-ares timeout=%us, tries=%u -> rc=%d", static_cast<void*>(this),
           timeout_seconds(), tries(), init_rc_);
    } else {
      KLOG(lvl_debug2, "[DNS] %p: init c-ares timeout=%dms, tries=%d -> rc=%d", static_cast<void*>(this),
           options.timeout, options.tries, init_rc_);
    }
  }
}

cares_t::~cares_t() {
  if (channel_ != nullptr) ares_destroy(channel_);
  if (library_started_) stop_library();
  if (debug_enabled()) KLOG(lvl_debug2, "[DNS] %p: die c-ares", static_cast<void*>(this));
}

bool cares_t::in_hosts_file(const char* name, int family) const {
  hostent* host = nullptr;
  const int rc = ares_gethostbyname_file(channel_, name, family, &host);
  if (host != nullptr) ares_free_hostent(host);
  if (debug_enabled()) {
    KLOG(lvl_debug2, "[DNS] %p: hosts file '%s' AF=%d rc=%d (%s)", static_cast<const void*>(this), name, family, rc,
         ares_strerror(rc));
  }
  return rc == ARES_SUCCESS;
}

void cares_t::getaddrinfo(const char* name, int family, ares_addrinfo_callback callback, void* arg) {
  ares_addrinfo_hints hints;
  std::memset(&hints, 0, sizeof(hints));
  hints.ai_family = family;
  hints.ai_flags = ARES_AI_CANONNAME;  // as c-ares' own gethostbyname asks
  ares_getaddrinfo(channel_, name, nullptr, &hints, callback, arg);
}

void cares_t::getnameinfo(const sockaddr* address, int length, int flags,
                          ares_nameinfo_callback callback, void* arg) {
  ares_getnameinfo(channel_, address, static_cast<ares_socklen_t>(length), flags, callback, arg);
}

bool cares_t::do_query() {
  for (unsigned loop = 0;; ++loop) {
    timeval cap;
    cap.tv_sec = static_cast<decltype(cap.tv_sec)>(timeout_seconds());
    cap.tv_usec = 0;
    // The time left, 0 once the deadline has passed.
    std::chrono::milliseconds left = std::chrono::milliseconds::max();
    if (deadline_ != no_deadline) left = std::max(time_left(deadline_), std::chrono::milliseconds(0));
    if (left < std::chrono::seconds(cap.tv_sec)) {
      cap.tv_sec = static_cast<decltype(cap.tv_sec)>(left.count() / 1000);
      cap.tv_usec = static_cast<decltype(cap.tv_usec)>((left.count() % 1000) * 1000);
    }
    timeval wait_storage;
    timeval* wait = ares_timeout(channel_, &cap, &wait_storage);
    fd_set read_set;
    fd_set write_set;
    FD_ZERO(&read_set);
    FD_ZERO(&write_set);
    const int nfds = ares_fds(channel_, &read_set, &write_set);
    if (debug_enabled() && kern_n::log_enabled(lvl_debug2)) {
      const unsigned wait_ms =
          static_cast<unsigned>(wait->tv_sec * 1000 + wait->tv_usec / 1000);
      KLOG(lvl_debug2, "[DNS] %p: loop #%u c-ares nfds=%u, timeut=%ums, r=%s, w=%s",
           static_cast<void*>(this), loop, static_cast<unsigned>(nfds), wait_ms,
           describe_set(read_set, nfds).c_str(), describe_set(write_set, nfds).c_str());
    }
    // Completion first: an answer that the last pass took counts, however
    // late that pass ended.
    if (nfds == 0) return true;
    if (left.count() == 0) {
      // Out of time: whatever is pending ends now (its callbacks see the
      // cancellation).
      if (debug_enabled()) KLOG(lvl_debug2, "[DNS] %p: deadline passed, cancelling", static_cast<void*>(this));
      ares_cancel(channel_);
      return false;
    }
    const int rc = select(nfds, &read_set, &write_set, nullptr, wait);
    // A signal is no failure of the query: wait again.
    if (plat::select_interrupted(rc)) continue;
    if (rc < 0) {
      const error_saver_t saved;
      const std::string text = get_last_error(saved);
      saved.restore();
      KERN_THROW(sysselect_exception, "select failed because of %s", text.c_str());
    }
    if (debug_enabled()) {
      KLOG(lvl_debug2, "[DNS] %p: loop #%u c-ares select() rc=%d", static_cast<void*>(this), loop, rc);
    }
    ares_process(channel_, &read_set, &write_set);
  }
}

result_ptr cares_t::retcode(int status, const char* operation) const {
  if (debug_enabled()) {
    KLOG(lvl_debug2, "[DNS] %p: c-ares %s rc=%d (%s)", static_cast<const void*>(this), operation,
         status, ares_strerror(status));
  }
  auto result = std::make_shared<result_t>();
  if (status == ARES_SUCCESS) return result;
  if (status == ARES_ETIMEOUT) {
    result->timeout = true;
    return result;
  }
  result->error = ares_strerror(status);
  return result;
}

}  // namespace dns::utils
