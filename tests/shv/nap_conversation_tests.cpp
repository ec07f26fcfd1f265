// Conversations with the central server over real loopback connections, one
// per misbehaviour of the reference server; none may hang the caller.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "capture_logger.h"
#include "central_sim.h"
#include "refusing_port.h"
#include "kern/exceptions.h"
#include "shv/nap_validate.h"
#include "shv/nap_validator.h"

namespace {

using test_support::capture_logger_t;

using test_support::central_sim_t;

struct outcome_t {
  bool compliant;
  bool verdict;
  bool timed_out;
};

outcome_t converse(const central_sim_t& sim, uint32_t timeout_ms = 5000, const char* client = "client-1") {
  nap_validator_t v("127.0.0.1", sim.port(), client, "d1g3st");
  v.validate(timeout_ms);
  return {v.compliant(), v.verdict_received(), v.timed_out()};
}

TEST(nap_conversation, compliant_and_not_compliant_verdicts) {
  central_sim_t sim({"--verdict", "bad=INFECTED", "--options", "CRYPT,COMP"});
  ASSERT_NE(sim.port(), 0);
  const outcome_t ok = converse(sim);
  EXPECT_TRUE(ok.compliant);
  EXPECT_TRUE(ok.verdict);
  const outcome_t bad = converse(sim, 5000, "bad");
  EXPECT_FALSE(bad.compliant);
  EXPECT_TRUE(bad.verdict);
  const auto reports = sim.reports(2);
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_NE(reports[0].find(R"("lines":["0 PROTOCOL 2 21 REDIVEVE,CRYPT,COMP","1 NAPVALIDATE client-1 d1g3st","2 STOP"],"verdict":"OK","closed_by":"server")"),
            std::string::npos)
      << reports[0];
  EXPECT_NE(reports[1].find(R"("verdict":"INFECTED")"), std::string::npos) << reports[1];
}

TEST(nap_conversation, greeting_without_crypt) {
  central_sim_t sim({"--options", ""});
  EXPECT_TRUE(converse(sim).compliant);
  const auto reports = sim.reports(1);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_NE(reports[0].find(R"("0 PROTOCOL 2 21 REDIVEVE","1 NAPVALIDATE)"), std::string::npos) << reports[0];
}

TEST(nap_conversation, lines_in_pieces_and_lines_together) {
  central_sim_t split({"--split-writes"});
  EXPECT_TRUE(converse(split).verdict);
  central_sim_t together({"--coalesce"});
  const outcome_t o = converse(together);
  EXPECT_TRUE(o.verdict);
  EXPECT_TRUE(o.compliant);
}

TEST(nap_conversation, endings_without_a_verdict) {
  for (const char* behaviour : {"--reply-stop", "--reply-violation", "--close-early"}) {
    central_sim_t sim({behaviour});
    const outcome_t o = converse(sim);
    EXPECT_FALSE(o.verdict) << behaviour;
    EXPECT_FALSE(o.compliant) << behaviour;
    EXPECT_FALSE(o.timed_out) << behaviour;
  }
}

TEST(nap_conversation, silent_or_lingering_servers_are_cut_short) {
  for (const char* behaviour : {"--silent", "--linger"}) {
    capture_logger_t log(lvl_error);
    central_sim_t sim({behaviour});
    const auto start = std::chrono::steady_clock::now();
    const outcome_t o = converse(sim, 300);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_TRUE(o.timed_out) << behaviour;
    EXPECT_FALSE(o.verdict) << behaviour << ": a cut-short conversation has no verdict";
    EXPECT_FALSE(o.compliant) << behaviour;
    EXPECT_LT(took, std::chrono::seconds(10)) << behaviour;
    ASSERT_EQ(log.messages().size(), 1u) << behaviour;
    EXPECT_NE(log.messages()[0].find("within 300 ms, closing the connection"), std::string::npos);
  }
}

// Holds the pool thread that reports the end of the conversation, at its log
// line, until past the time limit: the deadline comes just as the server's
// normal close is being handled.
class held_disconnection_t : public capture_logger_t {
 public:
  explicit held_disconnection_t(std::chrono::steady_clock::time_point until) : until_(until) {}
  void write(int level, const char* format, va_list args) override {
    capture_logger_t::write(level, format, args);
    if (std::strcmp(format, "[%s] Disconnected") == 0) std::this_thread::sleep_until(until_);
  }

 private:
  std::chrono::steady_clock::time_point until_;
};

TEST(nap_conversation, deadline_as_the_server_closes_keeps_the_verdict) {
  central_sim_t sim;
  // The whole conversation must end within the limit: one only a hang exceeds.
  constexpr uint32_t limit_ms = 5000;
  held_disconnection_t log(std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_ms + 300));
  nap_validator_t v("127.0.0.1", sim.port(), "client-1", "d1g3st");
  v.validate(limit_ms);
  EXPECT_TRUE(v.verdict_received()) << log.dump();
  EXPECT_TRUE(v.compliant());
  EXPECT_FALSE(v.timed_out());
  EXPECT_FALSE(log.has("closing the connection")) << log.dump();
}

TEST(nap_conversation, flood_without_line_ends_is_closed) {
  capture_logger_t log(lvl_error);
  central_sim_t sim({"--flood", "1000000"});
  const outcome_t o = converse(sim);
  EXPECT_FALSE(o.verdict);
  EXPECT_FALSE(o.timed_out);
  bool logged = false;
  for (const auto& m : log.messages()) logged |= m.find("without a line end, closing the connection") != std::string::npos;
  EXPECT_TRUE(logged);
}

TEST(nap_conversation, refused_connection_is_no_exception) {
  const test_support::refusing_port_t refusing;
  nap_validator_t v("127.0.0.1", refusing.port(), "c", "d");
  EXPECT_NO_THROW(v.validate(5000));
  EXPECT_FALSE(v.verdict_received());
  EXPECT_FALSE(v.timed_out());
}

TEST(nap_conversation, empty_address_throws) {
  nap_validator_t v("", 2193, "c", "d");
  EXPECT_THROW(v.validate(1000), d_exception_t_shell_t);
}

// The whole query: a cached verdict belongs to the server that gave it, and
// a port that no TCP port is connects nowhere (it was once cut to 16 bits).
TEST(nap_validate, verdicts_are_kept_per_server_and_a_port_above_65535_connects_nowhere) {
  central_sim_t lenient;
  central_sim_t strict({"--verdict", "per-server-pc=INFECTED"});
  shv_result_t r;
  nap_validate(r, "127.0.0.1", lenient.port(), 5000, 3600, "per-server-pc", "d");
  EXPECT_EQ(r.compliance_result_code, S_OK);
  nap_validate(r, "127.0.0.1", strict.port(), 5000, 3600, "per-server-pc", "d");
  EXPECT_EQ(r.compliance_result_code, shv_not_compliant) << "not the other server's verdict";
  nap_validate(r, "127.0.0.1", lenient.port(), 5000, 3600, "per-server-pc", "d");
  EXPECT_EQ(r.compliance_result_code, S_OK) << "each server's verdict is kept";
  EXPECT_EQ(lenient.reports(1).size(), 1u) << "the second came from the cache";

  capture_logger_t log(lvl_error);
  nap_validate(r, "127.0.0.1", lenient.port() + 65536u, 5000, 3600, "wide-port-pc", "d");
  EXPECT_EQ(r.compliance_result_code, shv_not_compliant);
  EXPECT_EQ(r.failure_category, shv_failure_server_communication);
  ASSERT_EQ(log.messages().size(), 2u);
  EXPECT_EQ(log.messages()[1], "  server port " + std::to_string(lenient.port() + 65536u) + " is above 65535");
  EXPECT_EQ(lenient.reports().size(), 1u) << "no conversation";
}

}  // namespace
