// The resolver: numeric short cuts (no channel, no traffic), the hosts file,
// and DNS answers from the mock server of the sandbox (found, not found,
// server failure, no answer), reverse lookups, texts and diagnostics, lookups
// bounded by a deadline, and the name cache.
#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <ares.h>
#include <gtest/gtest.h>

#include "kern/exceptions.h"
#include "net/dns_cache.h"
#include "net/dns_resolver.h"
#include "net/net_utils.h"
#include "net2/ip_utils.h"
#include "net2/pool.h"
#include "net2/stream/socket.h"
#include "tests/net/mock_dns.h"
#include "tests/net2/loopback_peer.h"
#include "tests/support/capture_logger.h"
#include "tests/support/eventually.h"

namespace {

using test_support::capture_logger_t;

// ---- The sandbox ---------------------------------------------------------

test_support::mock_dns_t* mock = nullptr;
std::string sandbox_error;

// The name servers a fresh c-ares channel takes from the system (resolv.conf
// on Linux, the adapters' configuration on Windows), as "address:port".
std::vector<std::string> system_name_servers() {
  std::vector<std::string> servers;
  if (ares_library_init(ARES_LIB_INIT_ALL) != ARES_SUCCESS) return servers;
  ares_channel channel = nullptr;
  if (ares_init(&channel) == ARES_SUCCESS) {
    ares_addr_port_node* list = nullptr;
    if (ares_get_servers_ports(channel, &list) == ARES_SUCCESS) {
      for (const ares_addr_port_node* node = list; node != nullptr; node = node->next) {
        char text[64] = "";
        ares_inet_ntop(node->family, &node->addr, text, sizeof(text));
        servers.push_back(std::string(text) + ":" + std::to_string(node->udp_port == 0 ? 53 : node->udp_port));
      }
      ares_free_data(list);
    }
    ares_destroy(channel);
  }
  ares_library_cleanup();
  return servers;
}

// Started once for the program when tests/net/dns_sandbox runs it: the system
// must name our mock server and nothing else.
class sandbox_environment_t : public ::testing::Environment {
 public:
  void SetUp() override {
    const char* address = std::getenv("SHV_MOCK_DNS_ADDR");
    if (address == nullptr) return;
    const std::vector<std::string> servers = system_name_servers();
    if (servers.empty()) sandbox_error = "the system names no name server";
    for (const std::string& server : servers) {
      if (server != std::string(address) + ":53") sandbox_error = "the system names another name server: " + server;
    }
    if (!sandbox_error.empty()) return;
    try {
      server_ = std::make_unique<test_support::mock_dns_t>(address);
      mock = server_.get();
    } catch (const std::exception& e) {
      sandbox_error = e.what();
    }
  }
  void TearDown() override {
    mock = nullptr;
    server_.reset();
  }

 private:
  std::unique_ptr<test_support::mock_dns_t> server_;
};

const auto* const registered = ::testing::AddGlobalTestEnvironment(new sandbox_environment_t);

// Tests that resolve names run only against the mock server.
#define REQUIRE_SANDBOX()                                                                     \
  do {                                                                                         \
    if (std::getenv("SHV_MOCK_DNS_ADDR") == nullptr) GTEST_SKIP() << "not in the DNS sandbox"; \
    ASSERT_TRUE(sandbox_error.empty()) << sandbox_error;                                       \
    ASSERT_NE(mock, nullptr);                                                                  \
  } while (0)

uint32_t ip4(const char* text) {
  in_addr address;
  inet_pton(AF_INET, text, &address);
  return address.s_addr;
}

std::string text4(uint32_t address) {
  char text[INET_ADDRSTRLEN];
  inet_ntop(AF_INET, &address, text, sizeof(text));
  return text;
}

std::string text6(const dns::ip6pp_t& address) {
  char text[INET6_ADDRSTRLEN];
  inet_ntop(AF_INET6, address.address.data(), text, sizeof(text));
  return text;
}

template <class Shell, class F>
std::string failure_text(F&& call) {
  try {
    call();
  } catch (const Shell& e) {
    return e.what();
  }
  return "(no failure)";
}

// ---- Numeric addresses -----------------------------------------------------

TEST(resolver_numeric, addresses_resolve_without_any_channel) {
  const uint64_t channels = dns::utils::channels_created();
  auto list = dns::resolve_name0("10.0.0.1");
  ASSERT_EQ(list->size(), 1u);
  EXPECT_EQ(text4(list->front()), "10.0.0.1");
  list = dns::resolve_name0("255.255.255.255");
  ASSERT_EQ(list->size(), 1u);
  EXPECT_EQ(list->front(), 0xffffffffu);
  auto list6 = dns::resolve_name_ex0("[::1]");
  ASSERT_EQ(list6->size(), 1u);
  EXPECT_EQ(text6(list6->front()), "::1");
  EXPECT_EQ(list6->front().scope, 0u);
  char name[16];
  EXPECT_STREQ(dns::resolve_addr(0, name, sizeof(name)), "0");
  EXPECT_EQ(dns::utils::channels_created(), channels);
}

#ifdef _WIN32
// c-ares' start-up takes references on system libraries here: none is kept
// between resolutions, so a module's unload finds nothing left to give back.
TEST(resolver_numeric, c_ares_start_up_is_given_back_after_each_lookup) {
  ASSERT_EQ(dns::resolve_name_ex0("::1")->size(), 1u);  // a channel of its own, no traffic
  EXPECT_EQ(ares_library_initialized(), ARES_ENOTINITIALIZED);
}
#endif

TEST(resolver_numeric, dinet6_aton_takes_only_bracketed_ipv6) {
  std::array<uint8_t, 16> address{};
  uint32_t scope = 99;
  EXPECT_TRUE(dns::dinet6_aton("[2001:db8::7]", address, &scope));
  EXPECT_EQ(address[0], 0x20);
  EXPECT_EQ(address[15], 0x07);
  EXPECT_EQ(scope, 0u);
  EXPECT_TRUE(dns::dinet6_aton("[::1]", address, nullptr));
  for (const char* text : {"::1", "[]", "[", "]", "[::1", "::1]", "[zz::1]", "[1.2.3.4]", "[host.shv.test]", ""}) {
    EXPECT_FALSE(dns::dinet6_aton(text, address, &scope)) << text;
  }
  EXPECT_FALSE(dns::dinet6_aton(nullptr, address, &scope));
}

TEST(resolver_numeric, raise_if_picks_the_exception_kind) {
  dns::result_t ok;
  EXPECT_NO_THROW(dns::raise_if(ok, "unable to resolve address of host \"%s\" because of %s", "h"));
  dns::result_t timeout;
  timeout.timeout = true;
  EXPECT_EQ(failure_text<dns::utils::dns_timeout_exception_shell_t>(
                [&] { dns::raise_if(timeout, "host \"%s\": %s", "h"); }),
            "host \"h\": Timeout while contacting DNS servers");
  dns::result_t failed;
  failed.error = "Domain name not found";
  EXPECT_EQ(failure_text<host_not_found_exception_shell_t>([&] { dns::raise_if(failed, "host \"%s\": %s", "h"); }),
            "host \"h\": Domain name not found");
}

TEST(resolver_numeric, printing_helpers) {
  sockaddr_in v4{};
  v4.sin_family = AF_INET;
  v4.sin_port = htons(2193);
  v4.sin_addr.s_addr = ip4("192.0.2.7");
  std::string out;
  net_n::print_ip_addr(v4, out, false, true);
  EXPECT_EQ(out, "192.0.2.7:2193");
  out.clear();
  net_n::decode_name(reinterpret_cast<sockaddr*>(&v4), out, false, false);
  EXPECT_EQ(out, "192.0.2.7");
  sockaddr_in6 v6{};
  v6.sin6_family = AF_INET6;
  v6.sin6_port = htons(80);
  inet_pton(AF_INET6, "2001:db8::1", &v6.sin6_addr);
  out.clear();
  net_n::print_ip6_addr(v6, out, false, true);
  EXPECT_EQ(out, "[2001:db8::1]:80");
  sockaddr_storage local{};
  local.ss_family = AF_UNIX;
  out.clear();
  net_n::decode_name(reinterpret_cast<sockaddr*>(&local), out, false, true);
  EXPECT_EQ(out, "family/#" + std::to_string(AF_UNIX));
  EXPECT_EQ(net_n::get_peer_name(static_cast<net_n::socket_handle_t>(-1)), "unknown");
}

// ---- Names: hosts file and the mock server ---------------------------------

TEST(resolver_names, hosts_file_names_resolve_without_dns_traffic) {
  REQUIRE_SANDBOX();
  const size_t before = mock->queries();
  auto list = dns::resolve_name0("hosts-only.shv.test");
  ASSERT_EQ(list->size(), 1u);
  EXPECT_EQ(text4(list->front()), "127.0.0.77");
  auto list6 = dns::resolve_name_ex0("[hosts-only6.shv.test]");
  ASSERT_EQ(list6->size(), 1u);
  EXPECT_EQ(text6(list6->front()), "::1");
  char name[64];
  EXPECT_STREQ(dns::resolve_addr(ip4("127.0.0.77"), name, sizeof(name)), "hosts-only.shv.test");
  // A bare IPv6 literal goes to the lookup, which c-ares answers itself.
  const uint64_t channels = dns::utils::channels_created();
  list6 = dns::resolve_name_ex0("::1");
  ASSERT_EQ(list6->size(), 1u);
  EXPECT_EQ(text6(list6->front()), "::1");
  EXPECT_EQ(dns::utils::channels_created(), channels + 1);
  EXPECT_EQ(mock->queries(), before);
}

TEST(resolver_names, dns_answers_keep_their_order) {
  REQUIRE_SANDBOX();
  mock->script("found.shv.test", {test_support::mock_dns_t::kind_t::found, {"127.0.0.80", "127.0.0.81"}, {}, {}});
  mock->script("found6.shv.test", {test_support::mock_dns_t::kind_t::found, {}, {"2001:db8::5", "2001:db8::6"}, {}});
  auto list = dns::resolve_name0("found.shv.test");
  ASSERT_EQ(list->size(), 2u);
  EXPECT_EQ(text4((*list)[0]), "127.0.0.80");
  EXPECT_EQ(text4((*list)[1]), "127.0.0.81");
  EXPECT_GE(mock->queries_for("found.shv.test"), 1u);
  auto list6 = dns::resolve_name_ex0("[found6.shv.test]");
  ASSERT_EQ(list6->size(), 2u);
  EXPECT_EQ(text6((*list6)[0]), "2001:db8::5");
  EXPECT_EQ(text6((*list6)[1]), "2001:db8::6");
  EXPECT_EQ((*list6)[0].scope, 0u);
}

TEST(resolver_names, missing_name_and_server_failure_raise_host_not_found) {
  REQUIRE_SANDBOX();
  mock->script("broken.shv.test", {test_support::mock_dns_t::kind_t::servfail, {}, {}, {}});
  const auto statistics = dns::statistics();
  EXPECT_EQ(failure_text<host_not_found_exception_shell_t>([] { dns::resolve_name0("missing.shv.test"); }),
            std::string("unable to resolve address of host \"missing.shv.test\" because of ") +
                ares_strerror(ARES_ENOTFOUND));
  EXPECT_GE(mock->queries_for("missing.shv.test"), 1u);
  EXPECT_EQ(failure_text<host_not_found_exception_shell_t>([] { dns::resolve_name0("broken.shv.test"); }),
            std::string("unable to resolve address of host \"broken.shv.test\" because of ") +
                ares_strerror(ARES_ECONNREFUSED));  // c-ares gives up on a failing server
  // Text with blanks is no numeric address, whatever inet_addr would accept.
  EXPECT_THROW(dns::resolve_name0("10.0.0.1 junk"), host_not_found_exception_shell_t);
  EXPECT_EQ(dns::statistics().resolutions, statistics.resolutions + 3);
}

TEST(resolver_names, reverse_lookups_by_ptr) {
  REQUIRE_SANDBOX();
  mock->script("80.0.0.127.in-addr.arpa", {test_support::mock_dns_t::kind_t::found, {}, {}, "found.shv.test"});
  char name[64];
  EXPECT_STREQ(dns::resolve_addr(ip4("127.0.0.80"), name, sizeof(name)), "found.shv.test");
  char small[6];
  EXPECT_STREQ(dns::resolve_addr(ip4("127.0.0.80"), small, sizeof(small)), "found");  // cut, terminated
  EXPECT_EQ(failure_text<host_not_found_exception_shell_t>([&] { dns::resolve_addr(ip4("127.0.0.99"), name, 64); })
                .rfind("unable to resolve name of host \"127.0.0.99\" because of ", 0),
            0u);
  std::array<uint8_t, 16> loopback6{};
  loopback6[15] = 1;
  EXPECT_STREQ(dns::resolve_addr(loopback6, name, sizeof(name), 0), "localhost");  // first in the hosts file
  // With resolving, a printing helper falls back to the number on failure.
  sockaddr_in v4{};
  v4.sin_family = AF_INET;
  v4.sin_port = htons(7);
  v4.sin_addr.s_addr = ip4("127.0.0.99");
  std::string out;
  net_n::print_ip_addr(v4, out, true, true);
  EXPECT_EQ(out, "127.0.0.99:7");
  v4.sin_addr.s_addr = ip4("127.0.0.80");
  out.clear();
  net_n::print_ip_addr(v4, out, true, false);
  EXPECT_EQ(out, "found.shv.test");
}

TEST(resolver_names, debug_lines_only_with_the_switch) {
  REQUIRE_SANDBOX();
  mock->script("found.shv.test", {test_support::mock_dns_t::kind_t::found, {"127.0.0.80"}, {}, {}});
  {
    capture_logger_t log;
    dns::set_debug(false);
    dns::resolve_name0("found.shv.test");
    EXPECT_FALSE(log.has("[DNS] 0x")) << log.dump();
    EXPECT_TRUE(log.has("[DNS] Resolve \"found.shv.test\" time is ", lvl_debug3)) << log.dump();
  }
  {
    capture_logger_t log;
    dns::set_debug(true);
    dns::name_cache_t::instance().clear();  // a fresh answer would ask no name server
    dns::resolve_name0("found.shv.test");
    dns::set_debug(false);
    EXPECT_TRUE(log.has(": init c-ares timeout=5s, tries=3 -> rc=0", lvl_debug2)) << log.dump();
    EXPECT_TRUE(log.has(": gethostbyname V4 c-ares 'found.shv.test'", lvl_debug2)) << log.dump();
    EXPECT_TRUE(log.has(": loop #0 c-ares nfds=", lvl_debug2)) << log.dump();
    EXPECT_TRUE(log.has(": gethostbyname V4 c-ares CB status=0 (", lvl_debug2)) << log.dump();
    EXPECT_TRUE(log.has(": die c-ares", lvl_debug2)) << log.dump();
  }
}

// ---- Endpoints and the client factory over names ---------------------------

TEST(resolver_endpoints, factory_failure_is_a_three_level_chain) {
  REQUIRE_SANDBOX();
  boost::asio::io_context service;
  const std::string text = failure_text<net2::spec_parse_error_shell_t>([&] {
    net2::stream::data_socket::tcp(service, "tcp/missing.shv.test:2193", 1, {}, {}, {}, "TEST", 1024, 8192);
  });
  EXPECT_EQ(text, std::string("unable to parse IP address \"missing.shv.test:2193\" because of "
                              "unable to resolve \"missing.shv.test:2193\" because of "
                              "unable to resolve address of host \"missing.shv.test\" because of ") +
                      ares_strerror(ARES_ENOTFOUND));
}

TEST(resolver_endpoints, a_name_with_several_addresses_connects_to_the_first) {
  REQUIRE_SANDBOX();
  std::unique_ptr<test_support::loopback_peer_t> peer;
  try {
    peer = std::make_unique<test_support::loopback_peer_t>(
        1, [](boost::asio::ip::tcp::socket& s) { test_support::loopback_peer_t::write_all(s, "hi"); }, "127.0.0.80");
  } catch (const std::exception& e) {
    GTEST_SKIP() << "127.0.0.80 not usable here: " << e.what();
  }
  mock->script("multi.shv.test", {test_support::mock_dns_t::kind_t::found, {"127.0.0.80", "127.0.0.81"}, {}, {}});
  net2::ip::endpoint_t ep;
  net2::ip::make_ep(ep, "multi.shv.test", uint16_t{5});
  EXPECT_EQ(ep.address().to_string(), "127.0.0.80");

  test_support::counter_t connected, disconnected;
  net2::pool p(1, "res", "ResolverPool");
  auto socket = net2::stream::data_socket::tcp(
      p.service(), "multi.shv.test", std::to_string(peer->port()), 1,
      [&](net2::stream::data_socket::shared) {
        connected.add();
        return true;
      },
      [](net2::stream::shared_data) { return true; }, [&] { disconnected.add(); }, "TEST", 1024, 8192);
  ASSERT_TRUE(disconnected.wait_for(1));
  EXPECT_EQ(connected.value(), 1);
  EXPECT_EQ(socket->description(), "tcp://127.0.0.80:" + std::to_string(peer->port()));
  p.stop();
}

// ---- No answer at all: the c-ares time-outs run out (slow: one case) -------

TEST(resolver_timeout, unanswered_query_raises_dns_timeout) {
  REQUIRE_SANDBOX();
  mock->script("silent.shv.test", {test_support::mock_dns_t::kind_t::silent, {}, {}, {}});
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(failure_text<dns::utils::dns_timeout_exception_shell_t>([] { dns::resolve_name0("silent.shv.test"); }),
            "unable to resolve address of host \"silent.shv.test\" because of Timeout while contacting DNS servers");
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start);
  EXPECT_GE(seconds.count(), 5);  // at least one full try
  EXPECT_GE(mock->queries_for("silent.shv.test"), 3u);
}

// ---- Deadlines: a lookup ends by its deadline, whatever DNS does ----------

template <class Call>
std::chrono::milliseconds time_of(Call&& call) {
  const auto start = std::chrono::steady_clock::now();
  call();
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
}

// Room for a loaded machine, the sanitizers and Wine.
constexpr std::chrono::milliseconds margin(1500);

TEST(resolver_deadline, unanswered_lookups_end_at_their_deadline) {
  REQUIRE_SANDBOX();
  mock->script("quiet.shv.test", {test_support::mock_dns_t::kind_t::silent, {}, {}, {}});
  const auto limit = std::chrono::milliseconds(700);
  std::string text;
  const auto took = time_of([&] {
    text = failure_text<dns::utils::dns_timeout_exception_shell_t>(
        [&] { dns::resolve_name0("quiet.shv.test", std::chrono::steady_clock::now() + limit); });
  });
  EXPECT_EQ(text, "unable to resolve address of host \"quiet.shv.test\" because of Timeout while contacting DNS servers");
  EXPECT_GE(took, limit);
  EXPECT_LE(took, limit + margin);
  EXPECT_GE(mock->queries_for("quiet.shv.test"), 2u) << "the time left is shared among tries";
  // A deadline already passed asks nothing at all; an answered name is
  // unaffected by one.
  mock->script("late.shv.test", {test_support::mock_dns_t::kind_t::silent, {}, {}, {}});
  EXPECT_THROW(dns::resolve_name0("late.shv.test", std::chrono::steady_clock::now()),
               dns::utils::dns_timeout_exception_shell_t);
  EXPECT_EQ(mock->queries_for("late.shv.test"), 0u);
  mock->script("prompt.shv.test", {test_support::mock_dns_t::kind_t::found, {"127.0.0.82"}, {}, {}});
  EXPECT_EQ(text4(dns::resolve_name0("prompt.shv.test", std::chrono::steady_clock::now() + limit)->front()),
            "127.0.0.82");
}

// Holds the resolver's callback, which runs inside the query loop's pass,
// until the deadline has passed: the answer is taken in the last pass before
// the deadline.
class late_callback_logger_t : public capture_logger_t {
 public:
  explicit late_callback_logger_t(dns::deadline_t deadline) : capture_logger_t(lvl_debug2), deadline_(deadline) {}
  void write(int level, const char* format, va_list args) override {
    capture_logger_t::write(level, format, args);
    if (std::strstr(format, "c-ares CB status=") != nullptr) {
      held = test_support::eventually([this] { return std::chrono::steady_clock::now() > deadline_; });
    }
  }
  bool held = false;

 private:
  dns::deadline_t deadline_;
};

TEST(resolver_deadline, an_answer_taken_in_the_last_pass_counts) {
  REQUIRE_SANDBOX();
  mock->script("edge.shv.test", {test_support::mock_dns_t::kind_t::found, {"127.0.0.88"}, {}, {}});
  const dns::deadline_t deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  late_callback_logger_t log(deadline);
  dns::set_debug(true);
  std::string text;
  try {
    text = text4(dns::resolve_name0("edge.shv.test", deadline)->front());
  } catch (const std::exception& e) {
    text = e.what();
  }
  dns::set_debug(false);
  EXPECT_TRUE(log.held) << log.dump();
  EXPECT_EQ(text, "127.0.0.88");
  EXPECT_FALSE(log.has("deadline passed")) << log.dump();
}

TEST(resolver_deadline, a_silent_name_server_holds_no_lookup_of_128_at_once) {
  REQUIRE_SANDBOX();
  mock->set_silent(true);
  const auto limit = std::chrono::milliseconds(1000);
  std::atomic<int> timed_out{0};
  std::atomic<int64_t> slowest{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 128; ++i) {
    threads.emplace_back([&, i] {
      const auto took = time_of([&] {
        try {
          dns::resolve_name0("many-" + std::to_string(i) + ".shv.test", std::chrono::steady_clock::now() + limit);
        } catch (const dns::utils::dns_timeout_exception_shell_t&) {
          ++timed_out;
        }
      });
      int64_t seen = slowest.load();
      while (took.count() > seen && !slowest.compare_exchange_weak(seen, took.count())) {
      }
    });
  }
  for (auto& t : threads) t.join();
  mock->set_silent(false);
  EXPECT_EQ(timed_out.load(), 128);
  EXPECT_LE(slowest.load(), (limit + margin).count());
}

// ---- The name cache: answers kept for their time-to-live ------------------

std::atomic<int64_t> fake_seconds{0};
std::chrono::steady_clock::time_point fake_clock() {
  return std::chrono::steady_clock::time_point(std::chrono::seconds(fake_seconds.load()));
}

TEST(resolver_cache, fresh_answers_survive_a_silent_name_server_until_their_ttl_ends) {
  REQUIRE_SANDBOX();
  dns::name_cache_t& cache = dns::name_cache_t::instance();
  cache.clear();
  cache.set_clock(&fake_clock);
  mock->script("kept.shv.test", {test_support::mock_dns_t::kind_t::found, {"127.0.0.83", "127.0.0.84"}, {}, {}, 30});
  mock->script("kept6.shv.test", {test_support::mock_dns_t::kind_t::found, {}, {"2001:db8::8"}, {}, 30});
  mock->script("fleeting.shv.test", {test_support::mock_dns_t::kind_t::found, {"127.0.0.85"}, {}, {}, 0});
  ASSERT_EQ(dns::resolve_name0("kept.shv.test")->size(), 2u);
  ASSERT_EQ(dns::resolve_name_ex0("[kept6.shv.test]")->size(), 1u);
  ASSERT_EQ(dns::resolve_name0("fleeting.shv.test")->size(), 1u);

  // The name server goes quiet: fresh answers still come, in their order,
  // without DNS traffic (the channel only reads the hosts file); an answer
  // without a time-to-live was never kept.
  mock->set_silent(true);
  const size_t asked = mock->queries();
  fake_seconds += 29;
  auto list = dns::resolve_name0("kept.shv.test");
  ASSERT_EQ(list->size(), 2u);
  EXPECT_EQ(text4((*list)[0]), "127.0.0.83");
  EXPECT_EQ(text4((*list)[1]), "127.0.0.84");
  EXPECT_EQ(text6(dns::resolve_name_ex0("[kept6.shv.test]")->front()), "2001:db8::8");
  EXPECT_EQ(mock->queries(), asked);
  const auto soon = [] { return std::chrono::steady_clock::now() + std::chrono::milliseconds(300); };
  EXPECT_THROW(dns::resolve_name0("fleeting.shv.test", soon()), dns::utils::dns_timeout_exception_shell_t);

  // Once the time-to-live has run out, DNS is asked again.
  fake_seconds += 1;
  EXPECT_THROW(dns::resolve_name0("kept.shv.test", soon()), dns::utils::dns_timeout_exception_shell_t);
  EXPECT_GT(mock->queries_for("kept.shv.test"), 1u);
  mock->set_silent(false);
  cache.set_clock(nullptr);
  cache.clear();
}

// The hosts file that c-ares reads, with lines added for the helper's
// lifetime: inside the sandbox the sandbox's copy (under Wine the prefix's,
// which scripts/test-windows fills with the same names).
class added_hosts_t {
 public:
  explicit added_hosts_t(const std::string& lines) {
#ifdef _WIN32
    const char* root = std::getenv("SystemRoot");
    path_ = std::string(root != nullptr ? root : "C:\\windows") + "\\system32\\drivers\\etc\\hosts";
#else
    path_ = "/etc/hosts";
#endif
    std::ifstream in(path_, std::ios::binary);
    original_.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    // Only a file that holds the test names is the sandbox's to change.
    if (original_.find("hosts-only.shv.test") == std::string::npos) return;
    std::ofstream(path_, std::ios::binary | std::ios::app) << "\n" << lines << "\n";
    added_ = true;
  }
  ~added_hosts_t() {
    if (added_) std::ofstream(path_, std::ios::binary | std::ios::trunc) << original_;
  }
  added_hosts_t(const added_hosts_t&) = delete;
  added_hosts_t& operator=(const added_hosts_t&) = delete;
  bool added() const { return added_; }

 private:
  std::string path_;
  std::string original_;
  bool added_ = false;
};

TEST(resolver_cache, the_hosts_file_comes_first_and_its_answers_are_not_kept) {
  REQUIRE_SANDBOX();
  dns::name_cache_t& cache = dns::name_cache_t::instance();
  cache.clear();
  mock->script("moved.shv.test", {test_support::mock_dns_t::kind_t::found, {"127.0.0.86"}, {}, {}, 3600});
  EXPECT_EQ(text4(dns::resolve_name0("moved.shv.test")->front()), "127.0.0.86");
  dns::ip4_list_t kept;
  ASSERT_TRUE(cache.find("moved.shv.test", kept));
  const size_t asked = mock->queries_for("moved.shv.test");
  {
    // An administrator moves the central server in the hosts file: the next
    // resolution follows, although DNS's answer is still fresh.
    added_hosts_t hosts("127.0.0.87\tmoved.shv.test\n127.0.0.89\tadded.shv.test");
    ASSERT_TRUE(hosts.added()) << "the hosts file is not the sandbox's";
    EXPECT_EQ(text4(dns::resolve_name0("moved.shv.test")->front()), "127.0.0.87");
    EXPECT_EQ(text4(dns::resolve_name0("added.shv.test")->front()), "127.0.0.89");
    EXPECT_FALSE(cache.find("added.shv.test", kept));
    ASSERT_TRUE(cache.find("moved.shv.test", kept));
    EXPECT_EQ(text4(kept.front()), "127.0.0.86");
  }
  // The line gone, DNS's answer is the one again, still without traffic.
  EXPECT_EQ(text4(dns::resolve_name0("moved.shv.test")->front()), "127.0.0.86");
  EXPECT_EQ(mock->queries_for("moved.shv.test"), asked);
  cache.clear();
}

TEST(resolver_cache, holds_a_few_dozen_names_at_most) {
  dns::name_cache_t& cache = dns::name_cache_t::instance();
  cache.clear();
  cache.set_clock(&fake_clock);
  for (uint32_t i = 0; i < 2 * dns::name_cache_t::capacity; ++i) {
    cache.store("name-" + std::to_string(i) + ".shv.test", dns::ip4_list_t{i + 1}, 100 + i);
  }
  EXPECT_EQ(cache.size(), dns::name_cache_t::capacity);
  // The answers that expire first made room.
  dns::ip4_list_t out;
  EXPECT_FALSE(cache.find("name-0.shv.test", out));
  EXPECT_TRUE(cache.find("name-" + std::to_string(2 * dns::name_cache_t::capacity - 1) + ".shv.test", out));
  cache.set_clock(nullptr);
  cache.clear();
}

}  // namespace
