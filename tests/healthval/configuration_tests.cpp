// Configurations of network policies through the built module: each request
// judged by the configuration its policy names, against that configuration's
// central server; the default for a request that names none or one that is
// gone.
#include "eventually.h"
#include "healthval_fixture.h"

namespace {

using test_support::answer_of;
using test_support::central_sim_t;
using test_support::compliance;
using test_support::healthval_fixture;

// A configuration of its own pointing at sim, the rest as the default's.
void add_configuration(UINT32 id, const central_sim_t& sim) {
  shv_settings::values_t values = shv_settings::read_stored();
  values.server_port = sim.port();
  ASSERT_EQ(shv_settings::create_configuration(id, values), static_cast<DWORD>(ERROR_SUCCESS));
}

size_t count_of(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

TEST_F(healthval_fixture, each_policy_is_judged_by_its_configurations_server) {
  central_sim_t office;
  central_sim_t vpn({"--verdict", "roamer=INFECTED"});
  use_server(office);
  add_configuration(3, vpn);
  add_configuration(4, office);

  auto first = validate(soh_with_record("1 roamer d"));
  EXPECT_EQ(answer_of(*first->request), compliance(0)) << "no configuration named: the default's server";
  auto by_vpn = validate(soh_with_record("1 roamer d"), false, 3);
  EXPECT_EQ(answer_of(*by_vpn->request), compliance(0x80270050)) << "the VPN policy's server, not a cached verdict";
  EXPECT_EQ(by_vpn->log.calls(),
            (std::vector<std::string>{"request.AddRef", "callback.AddRef", "request.AddRef", "request.GetConfigID",
                                      "request.Release", "request.GetSoHRequest", "request.SetSoHResponse",
                                      "callback.OnComplete", "callback.Release", "request.Release"}));
  // Configuration 4 names the default's server: the verdict is shared.
  auto shared = validate(soh_with_record("1 roamer d"), false, 4);
  EXPECT_EQ(answer_of(*shared->request), compliance(0));
  auto named_default = validate(soh_with_record("1 roamer d"), false, 0);
  EXPECT_EQ(answer_of(*named_default->request), compliance(0));
  EXPECT_EQ(office.reports(1).size(), 1u) << "one conversation for three requests";
  EXPECT_EQ(vpn.reports(1).size(), 1u);
  EXPECT_EQ(count_of(module_log(), "roamer: got result from cache"), 2u);

  // A policy that never reuses a verdict does not cut the others' short.
  ASSERT_EQ(shv_settings::write("cache_time", 0u, 3), static_cast<DWORD>(ERROR_SUCCESS));
  auto uncached = validate(soh_with_record("1 roamer d"), false, 3);
  EXPECT_EQ(answer_of(*uncached->request), compliance(0x80270050));
  EXPECT_EQ(vpn.reports(2).size(), 2u);
  auto still_cached = validate(soh_with_record("1 roamer d"));
  EXPECT_EQ(answer_of(*still_cached->request), compliance(0));
  EXPECT_EQ(office.reports(1).size(), 1u);

  // A policy whose configuration turns validation off.
  ASSERT_EQ(shv_settings::write("validate", 0u, 3), static_cast<DWORD>(ERROR_SUCCESS));
  auto off = validate(soh_with_record("1 someone-else d"), false, 3);
  EXPECT_EQ(answer_of(*off->request), compliance(0));
  EXPECT_EQ(count_of(module_log(), "someone-else"), 0u) << "no record read";
}

TEST_F(healthval_fixture, a_configuration_that_is_gone_falls_back_to_the_default_with_one_line) {
  central_sim_t office;
  central_sim_t vpn({"--verdict", "gone-pc=INFECTED"});
  use_server(office, 0);
  add_configuration(9, vpn);
  ASSERT_EQ(shv_settings::delete_configuration(9), static_cast<DWORD>(ERROR_SUCCESS));
  for (int i = 0; i < 2; ++i) {
    auto run = validate(soh_with_record("1 gone-pc d"), false, 9);
    EXPECT_EQ(answer_of(*run->request), compliance(0)) << "the default's server";
  }
  EXPECT_EQ(office.reports(2).size(), 2u);
  EXPECT_TRUE(vpn.reports().empty());
  EXPECT_EQ(count_of(module_log(), "configuration 9 does not exist, the default configuration is used"), 1u)
      << module_log();
  ASSERT_TRUE(test_support::eventually([&] { return events(1006).size() == 1; }));
  EXPECT_NE(events(1006)[0].find("\"type\":\"warning\",\"id\":1006,\"strings\":[\"9\"]"), std::string::npos);
}

// A default with validation off must not admit a client whose own policy's
// configuration would judge it: a policy that cannot be told is no verdict.
TEST_F(healthval_fixture, a_request_whose_policy_cannot_be_told_is_a_failed_query) {
  central_sim_t vpn({"--verdict", "vpn-pc=INFECTED"});
  use_server(vpn);
  add_configuration(5, vpn);
  ASSERT_EQ(shv_settings::write("validate", 0u), static_cast<DWORD>(ERROR_SUCCESS));
  auto run = validate(soh_with_record("1 vpn-pc d"), false, 5, E_FAIL);
  ASSERT_TRUE(run->completed);
  EXPECT_EQ(answer_of(*run->request), soh_wire::make_failure_category(5));
  EXPECT_EQ(run->callback->status(), S_OK) << "answered, with a failure category";
  EXPECT_TRUE(vpn.reports().empty());
  EXPECT_EQ(count_of(module_log(), "unable to get the configuration id because of error 80004005"), 1u)
      << module_log();
}

// Once cut to its low 16 bits, such a port connected to another one.
TEST_F(healthval_fixture, a_port_above_65535_connects_nowhere_in_any_configuration) {
  central_sim_t sim;
  use_server(sim);
  const uint32_t wide = sim.port() + 65536u;
  add_configuration(2, sim);
  shv_settings::values_t policy = shv_settings::read_stored(2);
  policy.server_port = wide;
  std::string blob = shv_settings::to_blob(policy);
  ASSERT_EQ(shv_settings::save(lstr_t(blob.data(), blob.size()), 2).error, static_cast<DWORD>(ERROR_SUCCESS));
  shv_settings::write("server_port", wide);
  auto by_default = validate(soh_with_record("1 wide-default d"));
  auto by_policy = validate(soh_with_record("1 wide-policy d"), false, 2);
  EXPECT_EQ(answer_of(*by_default->request), soh_wire::make_failure_category(5));
  EXPECT_EQ(answer_of(*by_policy->request), soh_wire::make_failure_category(5));
  EXPECT_TRUE(sim.reports().empty());
  EXPECT_EQ(count_of(module_log(), "  server port " + std::to_string(wide) + " is above 65535"), 2u);
}

// StaleTime of a request's own configuration: the default's from the
// settings key, a policy's from its key. Both share the verdict (the same
// server); with CacheTime 0 every request asks, so a stale one is served
// only while the server is down, and only where StaleTime allows it.
TEST_F(healthval_fixture, stale_time_of_the_default_and_of_a_policys_configuration) {
  central_sim_t sim;
  use_server(sim, 0);
  add_configuration(5, sim);
  ASSERT_EQ(shv_settings::write("stale_time", 600u, 5), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(answer_of(*validate(soh_with_record("1 graced-pc d"), false, 5)->request), compliance(0));
  sim.stop();
  EXPECT_EQ(answer_of(*validate(soh_with_record("1 graced-pc d"))->request), compliance(0x80270050))
      << "the default's StaleTime is 0";
  EXPECT_EQ(answer_of(*validate(soh_with_record("1 graced-pc d"), false, 5)->request), compliance(0));
  shv_settings::write("stale_time", 600u);
  EXPECT_EQ(answer_of(*validate(soh_with_record("1 graced-pc d"))->request), compliance(0));
  EXPECT_EQ(count_of(module_log(), "graced-pc: no central server gave a verdict"), 2u);
}

}  // namespace
