// The validator under load, against a server name that does not resolve or is
// never answered (the tests' mock DNS server inside the DNS sandbox), and
// against central servers that misbehave on purpose.
#include <dirent.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <thread>

#include "eventually.h"
#include "healthval_fixture.h"
#include "tests/net/mock_dns.h"

namespace {

using test_support::answer_of;
using test_support::call_export;
using test_support::central_sim_t;
using test_support::compliance;
using test_support::healthval_fixture;

// Open sockets of this process (descriptors that are sockets).
size_t open_sockets() {
  size_t n = 0;
  if (DIR* d = opendir("/proc/self/fd")) {
    while (dirent* e = readdir(d)) {
      char link[256] = {};
      const std::string path = std::string("/proc/self/fd/") + e->d_name;
      const ssize_t len = readlink(path.c_str(), link, sizeof(link) - 1);
      if (len > 0 && std::string(link, static_cast<size_t>(len)).rfind("socket:", 0) == 0) ++n;
    }
    closedir(d);
  }
  return n;
}

size_t entries_in(const char* dir) {
  size_t n = 0;
  if (DIR* d = opendir(dir)) {
    while (readdir(d) != nullptr) ++n;
    closedir(d);
  }
  return n;
}

TEST_F(healthval_fixture, unresolvable_server_name_is_a_failed_query) {
  const char* address = std::getenv("SHV_MOCK_DNS_ADDR");
  if (address == nullptr) GTEST_SKIP() << "not in the DNS sandbox: no name is resolved outside it";
  test_support::mock_dns_t dns(address);
  dns.script("central.shv.test", {test_support::mock_dns_t::kind_t::nxdomain, {}, {}, {}});
  shv_settings::write("server_name", std::u16string(u"central.shv.test"));
  auto run = validate(soh_with_record("1 unresolved-client d"));
  ASSERT_TRUE(run->completed);
  EXPECT_EQ(run->callback->status(), S_OK);
  EXPECT_EQ(answer_of(*run->request), soh_wire::make_failure_category(5));
  EXPECT_GE(dns.queries_for("central.shv.test"), 1u);
  EXPECT_NE(module_log().find("Unable to validate nap request because of"), std::string::npos);
}

TEST_F(healthval_fixture, hostile_peers_complete_within_the_limit) {
  constexpr uint32_t limit_ms = 500;
  // Room for a loaded machine and the sanitizers.
  const auto bound = std::chrono::milliseconds(limit_ms + 1500);
  auto answer = [](const naphost::outcome_t& o) {
    return o.response.size() == 2 ? o.response[1] : soh_wire::attribute_t{0, {}};
  };
  int n = 0;
  for (const char* mode : {"--line-flood", "--linger"}) {
    central_sim_t sim({mode});
    use_server(sim, 0, limit_ms);
    const naphost::outcome_t o = naphost::validate_once(
        validator_.get(), soh_with_record("1 hostile-" + std::to_string(n++) + " d"), false, std::chrono::seconds(30));
    ASSERT_TRUE(o.completed) << mode;
    EXPECT_LE(o.took, bound) << mode;
    EXPECT_EQ(answer(o), compliance(0x80270050)) << mode;
  }
  const char* address = std::getenv("SHV_MOCK_DNS_ADDR");
  if (address == nullptr) GTEST_SKIP() << "not in the DNS sandbox: no name is resolved outside it";
  test_support::mock_dns_t dns(address);
  dns.set_silent(true);
  shv_settings::write("server_name", std::u16string(u"central.shv.test"));
  const naphost::outcome_t o =
      naphost::validate_once(validator_.get(), soh_with_record("1 unanswered d"), false, std::chrono::seconds(30));
  ASSERT_TRUE(o.completed);
  EXPECT_LE(o.took, bound);
  EXPECT_EQ(answer(o), soh_wire::make_failure_category(5));
  EXPECT_NE(module_log().find("Timeout while contacting DNS servers"), std::string::npos);
}

TEST_F(healthval_fixture, ten_thousand_requests_leave_nothing_behind) {
  central_sim_t sim({"--verdict", "client-7=INFECTED"});
  use_server(sim);
  constexpr int hosts = 8;
  std::atomic<int> next{0}, wrong{0}, incomplete{0};
  int total = 500;
  auto host = [&] {
    for (int n = next.fetch_add(1); n < total; n = next.fetch_add(1)) {
      // 100 clients: the first request of each is a miss, the rest hits.
      auto run = validate(soh_with_record("1 client-" + std::to_string(n % 100) + " d"));
      if (!run->completed || run->request->references() != 1 || run->callback->references() != 1) ++incomplete;
      const uint32_t expected = n % 100 == 7 ? 0x80270050 : 0;
      if (!(answer_of(*run->request) == compliance(expected))) ++wrong;
    }
  };
  auto run_all = [&] {
    std::vector<std::thread> threads;
    for (int i = 0; i < hosts; ++i) threads.emplace_back(host);
    for (auto& t : threads) t.join();
  };
  // A first round warms up; after it no thread or socket may be left over.
  // Its workers have all left the module once it agrees to be unloaded.
  run_all();
  validator_.reset();
  ASSERT_TRUE(test_support::eventually([&] { return call_export(healthval_, "DllCanUnloadNow") == S_OK; }));
  const size_t threads_before = entries_in("/proc/self/task");
  const size_t sockets_before = open_sockets();
  ASSERT_EQ(CoCreateInstance(CLSID_SHVValidator, nullptr, CLSCTX_INPROC_SERVER, IID_INapSystemHealthValidator,
                             validator_.out_void()),
            S_OK);
  next = 0;
  total = 10000;
  run_all();
  EXPECT_EQ(incomplete, 0);
  EXPECT_EQ(wrong, 0);
  EXPECT_LE(sim.reports().size(), 100u + hosts) << "one conversation per client, give or take racing misses";
  // Every worker, pool thread and socket is gone again.
  validator_.reset();
  const bool settled = test_support::eventually([&] {
    return call_export(healthval_, "DllCanUnloadNow") == S_OK && entries_in("/proc/self/task") <= threads_before &&
           open_sockets() <= sockets_before;
  });
  EXPECT_TRUE(settled) << "threads " << entries_in("/proc/self/task") << " (before " << threads_before << "), sockets "
                       << open_sockets() << " (before " << sockets_before << ")";
}

}  // namespace
