// The central server protocol driven without a network: bytes in, sends out.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "capture_logger.h"
#include "shv/nap_validator.h"

namespace {

using test_support::capture_logger_t;

class recording_validator_t : public nap_validator_t {
 public:
  recording_validator_t() : nap_validator_t("127.0.0.1", 2193, "client-7", "0123abcd") {}
  std::vector<std::string> sent;
  bool feed(const std::string& bytes) { return on_recv_bytes(bytes.data(), bytes.size()); }

 protected:
  void send(std::string&& data) override { sent.push_back(std::move(data)); }
};

TEST(nap_protocol, greeting_with_crypt_in_any_case) {
  for (const char* options : {"CRYPT,COMP", "crypt,COMP", "COMP,Crypt", ",,CRYPT"}) {
    recording_validator_t v;
    EXPECT_TRUE(v.feed(std::string("7 PROTOCOL 1 2 ") + options + "\r\n"));
    ASSERT_EQ(v.sent.size(), 1u) << "one send for both lines";
    EXPECT_EQ(v.sent[0], "0 PROTOCOL 2 21 REDIVEVE,CRYPT,COMP\r\n1 NAPVALIDATE client-7 0123abcd\r\n");
  }
  for (const char* options : {"COMP", "", "CRYPTO", "CRYPT "}) {
    recording_validator_t v;
    v.feed(std::string("7 PROTOCOL 1 2 ") + options + "\r\n");
    ASSERT_EQ(v.sent.size(), 1u) << options;
    if (std::string(options) == "CRYPT ") {
      // The trailing blank makes a sixth word.
      EXPECT_EQ(v.sent[0], "0 VIOLATION PROTOCOL: 4 arguments expected, but 6 received\n");
    } else {
      EXPECT_EQ(v.sent[0], "0 PROTOCOL 2 21 REDIVEVE\r\n1 NAPVALIDATE client-7 0123abcd\r\n");
    }
  }
}

TEST(nap_protocol, verdicts) {
  recording_validator_t v;
  v.feed("1 PROTOCOL a b CRYPT\r\n5 NAPSTATE ok\r\n");
  EXPECT_TRUE(v.verdict_received());
  EXPECT_TRUE(v.compliant());
  ASSERT_EQ(v.sent.size(), 2u);
  EXPECT_EQ(v.sent[1], "2 STOP\r\n");
  v.feed("6 NAPSTATE INFECTED\r\n");  // a second verdict overwrites the first
  EXPECT_FALSE(v.compliant());
  EXPECT_EQ(v.sent.back(), "3 STOP\r\n");

  recording_validator_t early;  // NAPSTATE before PROTOCOL is accepted
  early.feed("0 NAPSTATE OK\r\n");
  EXPECT_TRUE(early.compliant());
  EXPECT_EQ(early.sent, (std::vector<std::string>{"0 STOP\r\n"}));
}

TEST(nap_protocol, malformed_lines_get_violations_and_keep_the_connection) {
  recording_validator_t v;
  EXPECT_TRUE(v.feed("5 NAPSTATE OK \r\n"));
  EXPECT_FALSE(v.verdict_received());
  EXPECT_EQ(v.sent.back(), "0 VIOLATION NAPSTATE: expected 3 parameters but 4 received\n");
  EXPECT_TRUE(v.feed("5 napstate OK\r\n"));
  EXPECT_EQ(v.sent.back(), "1 VIOLATION unknown command \"napstate\"\n");
  EXPECT_TRUE(v.feed("\r\n"));
  EXPECT_EQ(v.sent.back(), "2 VIOLATION expected at least 2 arguments, but 1 received\n\n");
  EXPECT_TRUE(v.feed("3 PROTOCOL 2 21\r\n"));
  EXPECT_EQ(v.sent.back(), "3 VIOLATION PROTOCOL: 4 arguments expected, but 4 received\n");
  EXPECT_TRUE(v.feed("1  NAPSTATE OK\r\n"));  // empty command word
  EXPECT_EQ(v.sent.back(), "4 VIOLATION unknown command \"\"\n");
  EXPECT_EQ(v.sent.size(), 5u);
  EXPECT_FALSE(v.compliant());
}

TEST(nap_protocol, framing_on_cr_lf_only) {
  recording_validator_t v;
  EXPECT_TRUE(v.feed("1 PROTOCOL a b c\n"));  // a lone LF ends nothing
  EXPECT_TRUE(v.sent.empty());
  EXPECT_TRUE(v.feed("\r"));
  EXPECT_TRUE(v.sent.empty());
  EXPECT_TRUE(v.feed("\n"));  // the line is "1 PROTOCOL a b c\n": LF is part of the last word
  ASSERT_EQ(v.sent.size(), 1u);
  EXPECT_EQ(v.sent[0], "0 PROTOCOL 2 21 REDIVEVE\r\n1 NAPVALIDATE client-7 0123abcd\r\n");

  recording_validator_t split;
  EXPECT_TRUE(split.feed("9 NAPST"));
  EXPECT_TRUE(split.feed("ATE O"));
  EXPECT_FALSE(split.verdict_received());
  EXPECT_TRUE(split.feed("K\r\n"));
  EXPECT_TRUE(split.compliant());
}

TEST(nap_protocol, stop_and_violation_close_and_end_processing) {
  recording_validator_t v;
  EXPECT_FALSE(v.feed("1 STOP\r\n2 NAPSTATE OK\r\n"));
  EXPECT_FALSE(v.verdict_received()) << "lines after STOP are not processed";
  EXPECT_TRUE(v.sent.empty());
  recording_validator_t w;
  EXPECT_FALSE(w.feed("1 VIOLATION you are wrong\r\n"));
  EXPECT_TRUE(w.sent.empty());
  recording_validator_t x;
  EXPECT_FALSE(x.feed("0 NAPSTATE OK\r\n1 STOP\r\n"));
  EXPECT_TRUE(x.compliant());
}

TEST(nap_protocol, unbounded_input_without_line_end_closes) {
  capture_logger_t log(lvl_error);
  recording_validator_t v;
  const std::string chunk(8192, 'x');
  bool open = true;
  size_t fed = 0;
  while (open && fed < 10 * nap_validator_t::max_pending_input) {
    open = v.feed(chunk);
    fed += chunk.size();
  }
  EXPECT_FALSE(open);
  EXPECT_LE(fed, nap_validator_t::max_pending_input + chunk.size());
  EXPECT_FALSE(v.verdict_received());
  ASSERT_EQ(log.messages().size(), 1u);
  EXPECT_NE(log.messages()[0].find("without a line end, closing the connection"), std::string::npos);
  // Long input made of complete lines is fine.
  recording_validator_t w;
  std::string many;
  for (int i = 0; i < 5000; ++i) many += "1 X y\r\n";
  EXPECT_TRUE(w.feed(many));
  EXPECT_EQ(w.sent.size(), 5000u);
}

TEST(nap_protocol, trace_lines_at_level_twelve) {
  capture_logger_t log(lvl_debug3);
  recording_validator_t v;
  v.feed("5 NAPSTATE ok\r\n");
  EXPECT_EQ(log.messages(), (std::vector<std::string>{"rcv \"5 NAPSTATE ok\"", "[NAP] process_command",
                                                      "[NAP] on_napstate"}));
  capture_logger_t quiet(lvl_debug2);
  v.feed("5 NAPSTATE ok\r\n");
  EXPECT_TRUE(quiet.lines().empty());
}

}  // namespace
