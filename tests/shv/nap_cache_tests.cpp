// The verdict cache: key independence, the exact expiry boundary, time-out
// changes, the bound on its entries, and concurrent use.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "shv/nap_cache.h"

namespace {

std::atomic<timegap_t> fake_now{1000 * ticks_per_second};
timegap_t fake_clock() { return fake_now.load(); }

class nap_cache_test : public ::testing::Test {
 protected:
  void SetUp() override {
    fake_now = 1000 * ticks_per_second;
    cache.set_clock(&fake_clock);
    cache.set_timeout(10);
  }
  nap_cache_t cache;
};

TEST_F(nap_cache_test, hit_and_miss_leave_the_out_value_as_documented) {
  bool compliant = true;
  EXPECT_FALSE(cache.get("client", "digest", &compliant));
  EXPECT_TRUE(compliant);  // untouched on a miss
  cache.set("client", "digest", false);
  EXPECT_TRUE(cache.get("client", "digest", &compliant));
  EXPECT_FALSE(compliant);
  cache.set("client", "digest", true);  // replaces
  EXPECT_TRUE(cache.get("client", "digest", &compliant));
  EXPECT_TRUE(compliant);
  EXPECT_EQ(cache.size(), 1u);
}

TEST_F(nap_cache_test, keys_are_independent_and_case_sensitive) {
  cache.set("a", "d", true);
  bool compliant = false;
  EXPECT_FALSE(cache.get("b", "d", &compliant));
  EXPECT_FALSE(cache.get("a", "D", &compliant));
  EXPECT_FALSE(cache.get("A", "d", &compliant));
  // The pair is the key, not the concatenation.
  cache.set("ab", "c", true);
  EXPECT_FALSE(cache.get("a", "bc", &compliant));
  EXPECT_TRUE(cache.get("ab", "c", &compliant));
  // Bytes are opaque: embedded zeros and high bytes are part of the key.
  cache.set(std::string("x\0y", 3), "\xff", false);
  EXPECT_TRUE(cache.get(std::string("x\0y", 3), "\xff", &compliant));
  EXPECT_FALSE(cache.get("x", "\xff", &compliant));
}

TEST_F(nap_cache_test, entry_lives_exactly_timeout_seconds) {
  cache.set("c", "d", true);
  bool compliant = false;
  fake_now += 10 * ticks_per_second;
  EXPECT_TRUE(cache.get("c", "d", &compliant)) << "exactly timeout seconds old survives";
  fake_now += 1;
  EXPECT_FALSE(cache.get("c", "d", &compliant)) << "one tick later it is gone";
  EXPECT_EQ(cache.size(), 0u);
}

TEST_F(nap_cache_test, get_does_not_refresh_and_set_restamps) {
  cache.set("c", "d", true);
  bool compliant;
  for (int i = 0; i < 10; ++i) {
    fake_now += ticks_per_second;
    EXPECT_TRUE(cache.get("c", "d", &compliant));
  }
  fake_now += 1;
  EXPECT_FALSE(cache.get("c", "d", &compliant));
  cache.set("c", "d", false);
  fake_now += 5 * ticks_per_second;
  cache.set("c", "d", true);  // restamped: lives 10 s from now
  fake_now += 8 * ticks_per_second;
  EXPECT_TRUE(cache.get("c", "d", &compliant));
}

TEST_F(nap_cache_test, zero_timeout_and_lowering_the_timeout) {
  cache.set_timeout(0);
  cache.set("c", "d", true);
  bool compliant;
  EXPECT_TRUE(cache.get("c", "d", &compliant)) << "same tick";
  fake_now += 1;
  EXPECT_FALSE(cache.get("c", "d", &compliant));

  cache.set_timeout(100);
  cache.set("old", "x", true);
  fake_now += 50 * ticks_per_second;
  cache.set("new", "x", true);
  fake_now += 1 * ticks_per_second;
  cache.set_timeout(10);  // applies at the next get or set, all at once
  EXPECT_FALSE(cache.get("old", "x", &compliant));
  EXPECT_TRUE(cache.get("new", "x", &compliant));
  EXPECT_EQ(cache.size(), 2u) << "too old for the asker, not yet for the time it was stored for";
}

TEST_F(nap_cache_test, expiry_follows_ages_not_keys) {
  // Keys stored in an order unrelated to their sort order expire by age.
  const char* keys[] = {"m", "a", "z", "b"};
  for (const char* k : keys) {
    cache.set(k, "d", true);
    fake_now += ticks_per_second;
  }
  // now = start + 4 s; with timeout 10, advance so that the first two expire.
  fake_now += 7 * ticks_per_second + 1;
  bool compliant;
  EXPECT_FALSE(cache.get("m", "d", &compliant));
  EXPECT_FALSE(cache.get("a", "d", &compliant));
  EXPECT_TRUE(cache.get("z", "d", &compliant));
  EXPECT_TRUE(cache.get("b", "d", &compliant));
}

// Configurations with different cache times share one cache.
TEST_F(nap_cache_test, a_verdict_lives_its_own_cache_time_and_serves_askers_within_theirs) {
  const nap_cache_t::key_t office{"pc", "d", "2193 office"};
  const nap_cache_t::key_t vpn{"pc", "d", "2193 vpn"};
  cache.set(office, true, 3600);
  cache.set(vpn, false, 30);
  bool compliant = false;
  EXPECT_FALSE(cache.get({"pc", "d", ""}, &compliant, 3600)) << "the server is part of the key";
  fake_now += 30 * ticks_per_second;
  EXPECT_TRUE(cache.get(vpn, &compliant, 30));
  EXPECT_FALSE(compliant);
  fake_now += 1;
  EXPECT_FALSE(cache.get(vpn, &compliant, 3600)) << "gone after its own 30 s, whoever asks";
  EXPECT_TRUE(cache.get(office, &compliant, 3600)) << "not cut short by the shorter cache time";
  EXPECT_TRUE(compliant);
  EXPECT_FALSE(cache.get(office, &compliant, 30)) << "too old for an asker with 30 s";
  EXPECT_TRUE(cache.get(office, &compliant, 3600)) << "a miss for that asker only";
  // The short asker's own answer replaces the verdict and keeps the longer
  // lifetime it is still wanted for.
  cache.set(office, false, 30);
  fake_now += 3000 * ticks_per_second;
  EXPECT_TRUE(cache.get(office, &compliant, 3600));
  EXPECT_FALSE(compliant);
  EXPECT_FALSE(cache.get(office, &compliant, 30));
}

TEST_F(nap_cache_test, concurrent_get_and_set) {
  cache.set_timeout(3600);
  std::vector<std::thread> threads;
  std::atomic<int> wrong{0};
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 5000; ++i) {
        const std::string id = "client" + std::to_string(i % 100);
        const bool value = (i % 100) % 2 == 0;
        cache.set(id, "d", value);
        bool seen = !value;
        if (!cache.get(id, "d", &seen) || seen != value) ++wrong;
        if (t == 0 && i % 500 == 0) fake_now += ticks_per_second;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(cache.size(), 100u);
}

TEST_F(nap_cache_test, a_full_cache_drops_the_oldest_verdict_first) {
  nap_cache_t small(3);
  small.set_clock(&fake_clock);
  small.set_timeout(3600);
  for (const char* k : {"a", "b", "c"}) {
    small.set(k, "d", true);
    fake_now += ticks_per_second;
  }
  small.set("a", "d", false);  // restamped: now the newest
  small.set("b", "d", true);   // an existing key makes no room
  EXPECT_EQ(small.size(), 3u);
  small.set("new", "d", true);  // full: "c" is the oldest now
  bool compliant = true;
  EXPECT_EQ(small.size(), 3u);
  EXPECT_FALSE(small.get("c", "d", &compliant));
  EXPECT_TRUE(small.get("a", "d", &compliant));
  EXPECT_FALSE(compliant);
  EXPECT_TRUE(small.get("b", "d", &compliant));
  EXPECT_TRUE(small.get("new", "d", &compliant));
}

// Clients choose their ids: long ones take more of the byte budget, and
// eviction makes room as for the count, soonest expiry first.
TEST_F(nap_cache_test, a_cache_full_of_bytes_drops_the_oldest_verdict_first) {
  const std::string long_id(3900, 'x');
  const size_t charge = nap_cache_t::charge_of({long_id + "0", "d", "2193 server"});
  EXPECT_GT(charge, long_id.size());
  nap_cache_t small(100, 3 * charge);
  small.set_clock(&fake_clock);
  for (char k = '0'; k <= '3'; ++k) {
    small.set({long_id + k, "d", "2193 server"}, true, 3600);
    fake_now += ticks_per_second;
  }
  EXPECT_EQ(small.size(), 3u);
  EXPECT_EQ(small.bytes(), 3 * charge);
  bool compliant = false;
  EXPECT_FALSE(small.get({long_id + '0', "d", "2193 server"}, &compliant, 3600)) << "the oldest went";
  for (char k = '1'; k <= '3'; ++k) EXPECT_TRUE(small.get({long_id + k, "d", "2193 server"}, &compliant, 3600));
  small.set({"short", "d", "2193 server"}, true, 3600);
  EXPECT_EQ(small.size(), 3u) << "one long id made room for the short one";
  fake_now += 3600 * ticks_per_second;
  EXPECT_EQ(small.size(), 3u);
  small.set({"other", "d", "2193 server"}, true, 3600);
  EXPECT_EQ(small.size(), 2u) << "expired entries give their bytes back";
  EXPECT_EQ(small.bytes(), 2 * nap_cache_t::charge_of({"short", "d", "2193 server"}));
}

TEST(nap_cache, one_instance_starting_at_300_seconds_with_its_bound) {
  EXPECT_EQ(&nap_cache_t::instance(), &nap_cache_t::instance());
  EXPECT_EQ(nap_cache_t::instance().capacity(), nap_cache_t::max_entries);
  EXPECT_EQ(nap_cache_t::instance().byte_budget(), nap_cache_t::max_bytes);
  // At the count bound, verdicts of short client ids fit in the byte budget.
  const nap_cache_t::key_t typical{"client-100000", "9f86d081884c7d659a2feaa0c55ad015", "5000 central.example"};
  EXPECT_LT(nap_cache_t::max_entries * nap_cache_t::charge_of(typical), nap_cache_t::max_bytes);
  nap_cache_t fresh;
  EXPECT_EQ(fresh.timeout(), 300u);
}

}  // namespace
