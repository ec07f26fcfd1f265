// Validation end to end through the built module: every outcome, the calls
// made on the NAP server's objects and their order, and the references.
#include "healthval_fixture.h"
#include "eventually.h"

namespace {

using test_support::answer_of;
using test_support::central_sim_t;
using test_support::compliance;
using test_support::healthval_fixture;
using strings = std::vector<std::string>;

const strings full_order = {"request.AddRef",         "callback.AddRef",     "request.GetSoHRequest",
                            "request.SetSoHResponse", "callback.OnComplete", "callback.Release",
                            "request.Release"};

TEST_F(healthval_fixture, compliant_not_compliant_and_cached) {
  central_sim_t sim({"--verdict", "sick=INFECTED"});
  use_server(sim);
  auto ok = validate(soh_with_record("1 healthy-1 d1"));
  ASSERT_TRUE(ok->completed);
  EXPECT_EQ(ok->validate_result, E_PENDING);
  EXPECT_EQ(ok->callback->status(), S_OK);
  EXPECT_EQ(answer_of(*ok->request), compliance(0));
  EXPECT_EQ(ok->log.calls(), full_order);

  auto sick = validate(soh_with_record("1 sick d2"));
  EXPECT_EQ(answer_of(*sick->request), compliance(0x80270050));

  // Served from the cache: no new conversation.
  auto again = validate(soh_with_record("1 sick d2"));
  EXPECT_EQ(answer_of(*again->request), compliance(0x80270050));
  EXPECT_EQ(sim.reports(2).size(), 2u);
  EXPECT_NE(module_log().find("sick: got result from cache"), std::string::npos);
  EXPECT_EQ(ok->request->references(), 1);
  EXPECT_EQ(ok->callback->references(), 1);
}

TEST_F(healthval_fixture, validation_switched_off_reads_no_soh) {
  shv_settings::write("validate", 0u);
  auto run = validate({}, true);
  ASSERT_TRUE(run->completed);
  EXPECT_EQ(run->callback->status(), S_OK);
  EXPECT_EQ(answer_of(*run->request), compliance(0));
  EXPECT_EQ(run->log.calls(), (strings{"request.AddRef", "callback.AddRef", "request.SetSoHResponse",
                                       "callback.OnComplete", "callback.Release", "request.Release"}));
}

TEST_F(healthval_fixture, malformed_records_answer_failure_category_5) {
  central_sim_t sim;
  use_server(sim);
  const char* records[] = {"1 abc  def", " 1 abc def", "1 abc def ", "", "1\tabc\tdef", "2 abc def",
                           "01 abc def", "1 abc", "1 ab\r\nc def", "1 abc d\nef"};
  for (const char* record : records) {
    auto run = validate(soh_with_record(record));
    ASSERT_TRUE(run->completed) << record;
    EXPECT_EQ(run->callback->status(), S_OK) << record;
    EXPECT_EQ(answer_of(*run->request), soh_wire::make_failure_category(5)) << "[" << record << "]";
  }
  EXPECT_TRUE(sim.reports().empty()) << "no malformed record reaches the server";
  const std::string log = module_log();
  EXPECT_NE(log.find("invalid nap data, expected 3 arguments, but received 4 expected"), std::string::npos);
  EXPECT_NE(log.find("invalid nap data, expected 3 arguments, but received 1 expected"), std::string::npos);
  EXPECT_NE(log.find("invalid nap data, only protocol version #1 supported"), std::string::npos);
  EXPECT_NE(log.find("invalid nap data, line break inside client id or digest"), std::string::npos);
}

TEST_F(healthval_fixture, sdk_failures_complete_without_a_response) {
  struct case_t {
    std::vector<soh_wire::attribute_t> soh;
    bool null_soh;
    HRESULT status;
  };
  const case_t cases[] = {
      {soh_with_record("1 a b", 0x00123456), false, static_cast<HRESULT>(0x80270001)},  // other vendor
      {{soh_wire::make_system_health_id(0x0073FA02)}, false, static_cast<HRESULT>(0x80070002)},  // no attribute
      {{}, true, static_cast<HRESULT>(0x80270002)},  // no SoH at all
      {{soh_wire::make_failure_category(2)}, false, static_cast<HRESULT>(0x80270001)},  // no id first
  };
  for (const case_t& c : cases) {
    auto run = validate(c.soh, c.null_soh);
    ASSERT_TRUE(run->completed);
    EXPECT_EQ(run->callback->status(), c.status);
    EXPECT_FALSE(run->request->has_response());
    EXPECT_EQ(run->request->references(), 1);
    EXPECT_EQ(run->callback->references(), 1);
  }
  EXPECT_NE(module_log().find("unable to process NAP pending request because of Vendor ID is incorrect because of error 80270001"),
            std::string::npos);
}

TEST_F(healthval_fixture, no_verdict_outcomes) {
  uint16_t dead_port;
  {
    central_sim_t gone;
    dead_port = gone.port();
  }
  shv_settings::write("server_name", std::u16string(u"127.0.0.1"));
  shv_settings::write("server_port", static_cast<uint32_t>(dead_port));
  auto refused = validate(soh_with_record("1 refused-client d"));
  EXPECT_EQ(answer_of(*refused->request), compliance(0x80270050)) << "refused: not compliant, category 0";

  shv_settings::write("server_name", std::u16string());
  auto empty_name = validate(soh_with_record("1 nameless d"));
  EXPECT_EQ(answer_of(*empty_name->request), soh_wire::make_failure_category(5)) << "an exception: category 5";

  central_sim_t silent({"--silent"});
  use_server(silent, 3600, 300);
  auto cut = validate(soh_with_record("1 silent-client d"));
  EXPECT_EQ(answer_of(*cut->request), compliance(0x80270050));
  central_sim_t fine;
  use_server(fine, 3600, 5000);
  auto later = validate(soh_with_record("1 silent-client d"));
  EXPECT_EQ(answer_of(*later->request), compliance(0)) << "the cut-short conversation cached nothing";
}

TEST_F(healthval_fixture, invalid_arguments_and_the_request_limit) {
  naphost::call_log_t log;
  naphost::nap_request_t request({}, true, log);
  naphost::nap_callback_t callback(log);
  EXPECT_EQ(validator_->Validate(nullptr, 0, &callback), E_INVALIDARG);
  EXPECT_EQ(validator_->Validate(&request, 0, nullptr), E_INVALIDARG);
  EXPECT_TRUE(log.calls().empty());
}

TEST_F(healthval_fixture, a_failing_completion_is_only_logged) {
  shv_settings::write("validate", 0u);
  naphost::call_log_t log;
  naphost::nap_request_t request({}, true, log);
  naphost::nap_callback_t callback(log);
  callback.throw_on_complete(true);
  ASSERT_EQ(validator_->Validate(&request, 0, &callback), E_PENDING);
  ASSERT_TRUE(callback.wait(std::chrono::seconds(10)));
  test_support::eventually([&] { return request.references() == 1; });
  EXPECT_EQ(request.references(), 1);
  EXPECT_EQ(callback.references(), 1);
  EXPECT_TRUE(test_support::eventually(
      [this] { return module_log().find("unable to reply to NAP pending request because of") != std::string::npos; }))
      << module_log();
}

}  // namespace
