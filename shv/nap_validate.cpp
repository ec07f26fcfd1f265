// nap_validate: cache first, then one conversation; every failure ends here.
#include "shv/nap_validate.h"

#include "kern/exceptions.h"
#include "kern/logger.h"
#include "kern/pretty_print.h"
#include "kern/runnable.h"
#include "kern/strings.h"
#include "shv/activity.h"
#include "shv/nap_cache.h"
#include "shv/nap_servers.h"
#include "shv/server_watch.h"

namespace {
const char tag[] = "NAP";

uint32_t saturated_sum(uint32_t a, uint32_t b) { return b > UINT32_MAX - a ? UINT32_MAX : a + b; }
}  // namespace

void nap_validate(shv_result_t& result, const std::string& host, uint32_t port, uint32_t server_timeout,
                  uint32_t cache_timeout, const std::string& client_id, const std::string& digest,
                  uint32_t stale_time) {
  KLOG(lvl_debug3, "[%s] %s: nap request md5=%s, host=%s, port=%u, server-timeout=%u, cache-timeout=%u", tag,
       client_id.c_str(), digest.c_str(), host.c_str(), port, server_timeout, cache_timeout);
  bool verdict = false;
  bool failed = false;
  nap_servers::failure_t unresolved = nap_servers::failure_t::none;
  try {
    // A port that no TCP port is: the setting is malformed, and no part of
    // it names where to connect.
    if (port > 0xFFFF) KERN_THROW(net_address_format_exception, "server port %u is above 65535", port);
    nap_cache_t& cache = nap_cache_t::instance();
    cache.set_timeout(cache_timeout);
    const nap_cache_t::key_t key{client_id, digest, nap_cache_t::server_of(host, port)};
    if (cache.get(key, &verdict, cache_timeout)) {
      KLOG(lvl_debug3, "[%s] %s: got result from cache", tag, client_id.c_str());
      shv::activity::count(shv::activity::from_cache);
    } else {
      const uint32_t kept_for = saturated_sum(cache_timeout, stale_time);
      const nap_servers::answer_t answer =
          nap_servers::ask(host, static_cast<uint16_t>(port), server_timeout, client_id, digest, &unresolved);
      verdict = answer.compliant;
      uint32_t age = 0;
      if (answer.verdict_received) {
        shv::server_watch::note_verdict(host, port);
      } else {
        shv::server_watch::note_no_verdict(host, port, answer.first_failure);
        shv::activity::count(shv::activity::without_verdict);
      }
      if (answer.verdict_received) {
        cache.set(key, verdict, kept_for);
      } else if (stale_time != 0 && cache.get(key, &verdict, kept_for, &age)) {
        // The grace of a known client while its servers are out: an old
        // verdict rather than quarantine.
        KLOG(lvl_error,
             "[%s] %s: no central server gave a verdict; the cached verdict \"%scompliant\" of %u s ago is used "
             "(within CacheTime %u s + StaleTime %u s)",
             tag, client_id.c_str(), verdict ? "" : "not ", age, cache_timeout, stale_time);
      }
    }
  } catch (...) {
    failed = true;
    // A name that did not resolve leaves the clients without a verdict as
    // surely as a server that is down.
    if (unresolved == nap_servers::failure_t::unresolved) shv::server_watch::note_no_verdict(host, port, unresolved);
    if (kern_n::log_enabled(lvl_error)) {
      const std::string reason = kern_n::describe_current_exception();
      const std::string text = "Unable to validate nap request because of " + reason;
      pretty_print_exception(lvl_error, text.c_str(), nullptr, nullptr);
    }
  }
  KLOG(lvl_debug3, "[%s] %s: client is %scompliant", tag, client_id.c_str(), verdict ? "" : "NOT ");
  if (verdict) {
    result.set(S_OK, 0);
  } else {
    result.set(shv_not_compliant, failed ? shv_failure_server_communication : 0);
  }
}
