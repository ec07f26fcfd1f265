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
#include "common/settings.h"
#include "registry_values.h"
#include "registry_fixture.h"
#include "shv/activity.h"
#include "shv/event_log.h"
#include "shv/nap_validate.h"
#include "shv/settings_events.h"

namespace {

namespace events = shv::events;
using test_support::central_sim_t;

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

  // A value of the settings key, of any type.
  static void set_value(const char16_t* name, DWORD type, const void* data, DWORD size) {
    ASSERT_EQ(test_support::set_raw(HKEY_LOCAL_MACHINE, shv_settings::settings_key, name, type,
                                    std::string(static_cast<const char*>(data), size)),
              ERROR_SUCCESS);
  }

  test_support::temp_store_t store_;  // no settings key; EventLogLevel: the default
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

TEST_F(event_log_test, the_settings_read_problems_once_a_minute_per_value) {
  shv::settings_events::install();
  // No settings key: one error per value, again a minute later.
  for (int i = 0; i < 3; ++i) shv_settings::read_number("server_port");
  shv_settings::read_string("server_name");
  std::vector<events::event_t> got = taken();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].id, events::settings_unreadable);
  EXPECT_EQ(got[0].type, events::type_t::error);
  EXPECT_EQ(got[0].strings.at(0), u"ServerPort");
  EXPECT_EQ(got[0].strings.at(1), u"HKLM\\SOFTWARE\\VexorLabs\\REDIVEVE\\Settings");
  EXPECT_EQ(got[1].strings.at(0), u"ServerName");
  fake_now += minute;
  shv_settings::read_number("server_port");
  EXPECT_EQ(taken().size(), 1u);

  // A value of the wrong type: its own error, as limited.
  const char16_t text[] = u"2193";
  set_value(u"ServerPort", REG_SZ, text, sizeof(text));
  for (int i = 0; i < 2; ++i) EXPECT_EQ(shv_settings::read_number("server_port"), 2193u) << "the default";
  got = taken();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].id, events::setting_wrong_type);
  EXPECT_EQ(got[0].strings.at(0), u"ServerPort");
  shv::settings_events::uninstall();
  shv_settings::read_number("cache_time");
  EXPECT_TRUE(taken().empty());
}

TEST_F(event_log_test, event_log_level_picks_the_types_afresh) {
  EXPECT_EQ(events::level(), events::default_level);
  for (const DWORD level : {1u, 0u, 2u}) {
    set_value(u"EventLogLevel", REG_DWORD, &level, sizeof(level));
    EXPECT_EQ(events::level(), level);
    events::report(events::registered, events::type_t::information, {});
    events::report(events::requests_refused, events::type_t::warning, {u"1"});
    events::report(events::registration_failed, events::type_t::error, {u"0x80004005"});
    std::vector<uint32_t> ids;
    for (const events::event_t& e : taken()) ids.push_back(e.id);
    const std::vector<uint32_t> expected =
        level == 0 ? std::vector<uint32_t>{}
        : level == 1 ? std::vector<uint32_t>{events::requests_refused, events::registration_failed}
                     : std::vector<uint32_t>{events::registered, events::requests_refused, events::registration_failed};
    EXPECT_EQ(ids, expected) << "level " << level;
  }
}

}  // namespace
