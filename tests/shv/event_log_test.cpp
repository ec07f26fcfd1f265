// The validator's events as the log would get them: a central server on
// loopback that goes away and comes back, the refused requests' warning and
// the hourly summary, with a clock the test moves and the written events
// captured instead of reported.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "central_sim.h"
#include "shv/activity.h"
#include "shv/event_log.h"
#include "shv/nap_validate.h"
#ifndef _WIN32
#include "registry_fixture.h"
#endif

namespace {

namespace events = shv::events;
using shv_test::central_sim_t;

constexpr uint64_t minute = 60 * 1000;

std::atomic<uint64_t> fake_now{0};
uint64_t fake_clock() { return fake_now.load(); }

std::mutex written_lock;
std::vector<events::event_t> written;
void capture(const events::event_t& event) {
  std::lock_guard<std::mutex> guard(written_lock);
  written.push_back(event);
}

class event_log_test : public ::testing::Test {
 protected:
  void SetUp() override {
    // Far ahead of any earlier test's moments, so no earlier limit holds.
    static uint64_t base = uint64_t{1} << 40;
    base += uint64_t{1} << 32;
    fake_now = base;
    old_clock_ = events::set_clock(&fake_clock);
    old_sink_ = events::set_sink(&capture);
    taken();
  }
  void TearDown() override {
    events::set_sink(old_sink_);
    events::set_clock(old_clock_);
  }
  // The events written since the last call.
  static std::vector<events::event_t> taken() {
    events::write_pending();
    std::lock_guard<std::mutex> guard(written_lock);
    std::vector<events::event_t> out;
    out.swap(written);
    return out;
  }
  static shv_result_t ask(const central_sim_t& sim, const std::string& client) {
    shv_result_t result;
    nap_validate(result, "127.0.0.1", sim.port(), 3000, 0, client, "d1g3st");
    return result;
  }

#ifndef _WIN32
  test_support::temp_store_t store_;  // EventLogLevel: not set, the default
#endif
  events::clock_fn_t old_clock_ = nullptr;
  events::sink_t old_sink_ = nullptr;
};

TEST_F(event_log_test, a_central_server_that_goes_away_and_comes_back) {
  central_sim_t sim;
  ASSERT_NE(sim.port(), 0);
  ASSERT_EQ(ask(sim, "c0").compliance_result_code, S_OK);
  taken();  // a server of an earlier test on this port may have come back
  EXPECT_TRUE(taken().empty());

  sim.stop();
  ask(sim, "c1");
  std::vector<events::event_t> got = taken();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].id, events::server_unreachable);
  EXPECT_EQ(got[0].type, events::type_t::warning);
  const std::u16string server = u"\"127.0.0.1\" (port " + events::number(sim.port()) + u")";
  EXPECT_EQ(got[0].strings, (std::vector<std::u16string>{server, u"the connection was refused"}));

  // Within ten minutes of the warning no reminder, however many requests.
  fake_now += 9 * minute;
  ask(sim, "c2");
  ask(sim, "c3");
  EXPECT_TRUE(taken().empty());
  fake_now += 2 * minute;
  ask(sim, "c4");
  got = taken();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].id, events::server_still_unreachable);
  EXPECT_EQ(got[0].strings, (std::vector<std::u16string>{server, u"4", u"11"}));
  fake_now += minute;
  ask(sim, "c5");
  EXPECT_TRUE(taken().empty()) << "the next reminder is ten minutes after the last";

  sim.start();
  ASSERT_NE(sim.port(), 0);
  fake_now += minute;
  ASSERT_EQ(ask(sim, "c6").compliance_result_code, S_OK);
  got = taken();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].id, events::server_recovered);
  EXPECT_EQ(got[0].type, events::type_t::information);
  EXPECT_EQ(got[0].strings, (std::vector<std::u16string>{server, u"780", u"5"}));
  ask(sim, "c7");
  EXPECT_TRUE(taken().empty());
}

TEST_F(event_log_test, refused_requests_and_the_hourly_summary) {
  // A summary of whatever earlier tests did goes first.
  shv::activity::after_request();
  fake_now += 61 * minute;
  shv::activity::after_request();
  taken();

  shv::activity::count_refused();
  shv::activity::count_refused();
  shv::activity::after_request();
  std::vector<events::event_t> got = taken();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].id, events::requests_refused);
  EXPECT_EQ(got[0].strings, std::vector<std::u16string>{u"2"});
  shv::activity::count_refused();
  fake_now += minute / 2;
  shv::activity::after_request();
  EXPECT_TRUE(taken().empty()) << "at most one a minute";
  fake_now += minute / 2;
  shv::activity::after_request();
  got = taken();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].strings, std::vector<std::u16string>{u"1"});

  for (auto c : {shv::activity::requests, shv::activity::requests, shv::activity::requests, shv::activity::compliant,
                 shv::activity::not_compliant, shv::activity::from_cache, shv::activity::failed_queries}) {
    shv::activity::count(c);
  }
  fake_now += 60 * minute;
  shv::activity::after_request();
  got = taken();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].id, events::summary);
  EXPECT_EQ(got[0].type, events::type_t::information);
  EXPECT_EQ(got[0].strings, (std::vector<std::u16string>{u"3", u"1", u"1", u"1", u"0", u"1", u"3"}));
  shv::activity::after_request();
  EXPECT_TRUE(taken().empty());
}

TEST_F(event_log_test, the_level_picks_the_types) {
  EXPECT_EQ(events::level(), events::default_level);
  for (const events::type_t type : {events::type_t::error, events::type_t::warning, events::type_t::information}) {
    EXPECT_FALSE(events::wanted(type, 0));
    EXPECT_EQ(events::wanted(type, 1), type != events::type_t::information);
    EXPECT_TRUE(events::wanted(type, 2));
  }
}

}  // namespace
