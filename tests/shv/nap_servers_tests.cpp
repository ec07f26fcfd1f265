// Several central servers and the grace of known clients while none answers:
// the order servers are asked in, each server's share of the time, every
// address of a name, and stale verdicts, against real loopback servers.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <utility>  // Boost 1.74 Asio uses std::exchange without including it
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

#include "capture_logger.h"
#include "central_sim.h"
#include "kern/clock.h"
#include "refusing_port.h"
#include "shv/nap_cache.h"
#include "shv/nap_servers.h"
#include "shv/nap_validate.h"
#include "tests/net/mock_dns.h"

namespace {

using test_support::capture_logger_t;

using test_support::central_sim_t;
using std::chrono::milliseconds;

struct timed_t {
  shv_result_t result;
  milliseconds took{0};
};

timed_t query(const std::string& servers, const std::string& client, uint32_t limit_ms, uint32_t cache_time = 0,
              uint32_t stale_time = 0) {
  timed_t out;
  const auto start = std::chrono::steady_clock::now();
  nap_validate(out.result, servers, 2193, limit_ms, cache_time, client, "d1g3st", stale_time);
  out.took = std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - start);
  return out;
}

std::string at(uint16_t port) { return "127.0.0.1:" + std::to_string(port); }

// A listener that never accepts, its backlog filled: a server that drops
// the packets of a new connection (or, where the backlog takes one more,
// accepts and stays silent).
class full_backlog_t {
 public:
  full_backlog_t() {
    using boost::asio::ip::tcp;
    const tcp::endpoint at(boost::asio::ip::make_address("127.0.0.1"), 0);
    acceptor_.open(at.protocol());
    acceptor_.bind(at);
    acceptor_.listen(0);
    // Started, never waited for: the service never runs.
    fillers_.reserve(4);
    for (int i = 0; i < 4; ++i) {
      fillers_.emplace_back(io_);
      fillers_.back().async_connect(acceptor_.local_endpoint(), [](const boost::system::error_code&) {});
    }
  }
  uint16_t port() const { return acceptor_.local_endpoint().port(); }

 private:
  boost::asio::io_context io_;
  boost::asio::ip::tcp::acceptor acceptor_{io_};
  std::vector<boost::asio::ip::tcp::socket> fillers_;
};

TEST(nap_servers, a_list_is_split_at_semicolons_and_one_server_stays_as_stored) {
  using v = std::vector<std::string>;
  EXPECT_EQ(nap_servers::split(" a ;\tb:1;; tcp/[::1]:5 ;"), (v{"a", "b:1", "tcp/[::1]:5"}));
  EXPECT_EQ(nap_servers::split(" central "), v{" central "});
  EXPECT_EQ(nap_servers::split(" ; "), v{});
}

// Each bound below is half the request's limit, the share of the first of
// two servers: refusing, the first must not wait for it.
TEST(nap_servers, a_refusing_first_server_passes_to_the_second_at_once) {
  constexpr uint32_t limit_ms = 6000;
  central_sim_t second;
  ASSERT_NE(second.port(), 0);
  capture_logger_t log(lvl_error);
  const test_support::refusing_port_t refusing;
  const timed_t t = query(at(refusing.port()) + "; " + at(second.port()), "second-pc", limit_ms);
  EXPECT_EQ(t.result.compliance_result_code, S_OK) << log.dump();
  EXPECT_LT(t.took, milliseconds(limit_ms / 2));
  EXPECT_EQ(second.reports(1).size(), 1u);
  EXPECT_TRUE(log.has("Unable to connect to remote")) << log.dump();

  // Every entry malformed is a failed query, as one malformed name is.
  const timed_t bad = query("udp/a; ssl://b", "malformed-pc", limit_ms);
  EXPECT_EQ(bad.result.compliance_result_code, shv_not_compliant);
  EXPECT_EQ(bad.result.failure_category, shv_failure_server_communication);
  // One malformed among good ones is passed over.
  const timed_t some = query("udp/a;" + at(second.port()), "some-malformed-pc", limit_ms);
  EXPECT_EQ(some.result.compliance_result_code, S_OK);
}

TEST(nap_servers, a_silent_first_server_gets_only_its_share) {
  constexpr uint32_t limit_ms = 3000;
  central_sim_t silent({"--silent"});
  full_backlog_t dropping;
  central_sim_t second;
  ASSERT_NE(silent.port(), 0);
  ASSERT_NE(second.port(), 0);
  size_t asked = 0;
  for (const uint16_t first : {silent.port(), dropping.port()}) {
    SCOPED_TRACE(first);
    capture_logger_t log(lvl_error);
    const timed_t t = query(at(first) + ";" + at(second.port()), "patient-pc-" + std::to_string(first), limit_ms);
    EXPECT_EQ(t.result.compliance_result_code, S_OK) << log.dump();
    EXPECT_LT(t.took, milliseconds(limit_ms));
    EXPECT_EQ(log.count("no greeting from", lvl_error), 1u) << log.dump();
    ++asked;
    EXPECT_EQ(second.reports(asked).size(), asked);
  }
  // A server that answers without a verdict passes to the next as well.
  central_sim_t stopping({"--reply-stop"});
  const timed_t s = query(at(stopping.port()) + ";" + at(second.port()), "stopped-pc", limit_ms);
  EXPECT_EQ(s.result.compliance_result_code, S_OK);
  EXPECT_EQ(second.reports(3).size(), 3u);
}

TEST(nap_servers, every_address_of_a_name_is_tried_in_turn) {
  const char* address = std::getenv("SHV_MOCK_DNS_ADDR");
  if (address == nullptr) GTEST_SKIP() << "not in the DNS sandbox: no name is resolved outside it";
  test_support::mock_dns_t dns(address);
  central_sim_t sim;
  ASSERT_NE(sim.port(), 0);
  // Nothing listens on 127.0.0.2: the first address refuses.
  dns.script("pair.shv.test", {test_support::mock_dns_t::kind_t::found, {"127.0.0.2", "127.0.0.1"}, {}, {}});
  capture_logger_t log(lvl_error);
  const timed_t t = query("pair.shv.test:" + std::to_string(sim.port()), "paired-pc", 6000);
  EXPECT_EQ(t.result.compliance_result_code, S_OK) << log.dump();
  EXPECT_EQ(sim.reports(1).size(), 1u);
  EXPECT_EQ(log.count("Unable to connect to remote", lvl_error), 1u) << log.dump();
}

// The verdict cache's clock, moved by the test.
std::atomic<timegap_t> fake_now{0};
timegap_t fake_clock() { return fake_now.load(); }

struct fake_cache_clock_t {
  fake_cache_clock_t() {
    fake_now = clock_ticks(kern_n::clock_wall);
    nap_cache_t::instance().set_clock(&fake_clock);
  }
  ~fake_cache_clock_t() {
    nap_cache_t::instance().set_clock([] { return clock_ticks(kern_n::clock_wall); });
  }
  void advance(int seconds) { fake_now += seconds * ticks_per_second; }
};

TEST(nap_stale, a_known_client_keeps_its_verdict_while_the_servers_are_down) {
  constexpr uint32_t limit_ms = 3000, cache_time = 1, stale_time = 600;
  fake_cache_clock_t clock;
  central_sim_t first({"--verdict", "sick-pc=INFECTED"});
  central_sim_t second;
  ASSERT_NE(first.port(), 0);
  ASSERT_NE(second.port(), 0);
  const std::string servers = at(first.port()) + ";" + at(second.port());
  EXPECT_EQ(query(servers, "known-pc", limit_ms, cache_time, stale_time).result.compliance_result_code, S_OK);
  EXPECT_EQ(query(servers, "sick-pc", limit_ms, cache_time, stale_time).result.compliance_result_code,
            shv_not_compliant);
  clock.advance(2);
  first.stop();
  second.stop();

  capture_logger_t log(lvl_error);
  // Today's outcome without a grace period.
  timed_t t = query(servers, "known-pc", limit_ms, cache_time, 0);
  EXPECT_EQ(t.result.compliance_result_code, shv_not_compliant);
  EXPECT_EQ(t.result.failure_category, 0);
  EXPECT_FALSE(log.has("cached verdict"));
  // With one: the old verdict, and one line that says so; a not compliant
  // one stays not compliant; an unknown client gets nothing.
  t = query(servers, "known-pc", limit_ms, cache_time, stale_time);
  EXPECT_EQ(t.result.compliance_result_code, S_OK);
  EXPECT_EQ(log.count("known-pc: no central server gave a verdict; the cached verdict \"compliant\" of 2 s ago", lvl_error),
            1u)
      << log.dump();
  t = query(servers, "sick-pc", limit_ms, cache_time, stale_time);
  EXPECT_EQ(t.result.compliance_result_code, shv_not_compliant);
  EXPECT_EQ(t.result.failure_category, 0);
  EXPECT_TRUE(log.has("\"not compliant\" of 2 s ago")) << log.dump();
  t = query(servers, "stranger-pc", limit_ms, cache_time, stale_time);
  EXPECT_EQ(t.result.compliance_result_code, shv_not_compliant);
  EXPECT_EQ(t.result.failure_category, 0);
  // Older than CacheTime + StaleTime: gone.
  clock.advance(600);
  EXPECT_EQ(query(servers, "known-pc", limit_ms, cache_time, stale_time).result.compliance_result_code,
            shv_not_compliant);

  // Back on its port: fresh verdicts again.
  first.start();
  ASSERT_NE(first.port(), 0) << "central-sim did not come back on its port";
  EXPECT_EQ(query(servers, "known-pc", limit_ms, cache_time, stale_time).result.compliance_result_code, S_OK);
  EXPECT_EQ(first.reports(1).size(), 1u) << "a fresh verdict, from the server";
}

}  // namespace
