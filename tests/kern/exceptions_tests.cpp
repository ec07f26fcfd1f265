// The exception family: which handler catches which shell, the body moving
// with copies, reasons and causes, the throw site.
#include <gtest/gtest.h>

#include <new>
#include <string>

#include "capture_logger.h"
#include "kern/exceptions.h"
#include "kern/pretty_print.h"

namespace {

using test_support::capture_logger_t;

template <class Caught, class Thrown>
bool caught_as() {
  try {
    KERN_THROW(mutex_exception, "x");
  } catch (const Caught&) {
    return true;
  } catch (...) {
    return false;
  }
}

TEST(exceptions, shells_are_caught_through_their_parents) {
  EXPECT_TRUE((caught_as<mutex_exception_shell_t, void>()));
  EXPECT_TRUE((caught_as<sync_exception_shell_t, void>()));
  EXPECT_TRUE((caught_as<api_exception_shell_t, void>()));
  EXPECT_TRUE((caught_as<d_exception_t_shell_t, void>()));
  EXPECT_TRUE((caught_as<std::exception, void>()));
  EXPECT_FALSE((caught_as<condvar_exception_shell_t, void>()));
  EXPECT_FALSE((caught_as<BUG_exception_shell_t, void>()));
  // Bodies are never thrown: a handler for a body type sees nothing.
  EXPECT_FALSE((caught_as<mutex_exception, void>()));
}

TEST(exceptions, namespaced_kinds_follow_the_same_tree) {
  try {
    KERN_THROW(dns::utils::dns_timeout_exception, "late %d", 5);
  } catch (const network_exception_shell_t& e) {
    EXPECT_STREQ(e.what(), "late 5");
    EXPECT_NE(dynamic_cast<const dns::utils::dns_exception_shell_t*>(&e), nullptr);
    EXPECT_NE(dynamic_cast<const dns::utils::dns_timeout_exception*>(e.body()), nullptr);
  }
  try {
    KERN_THROW(net2::spec_parse_error, "bad");
  } catch (const parse_exception_shell_t& e) {
    EXPECT_NE(dynamic_cast<const net_address_format_exception_shell_t*>(&e), nullptr);
  }
  try {
    KERN_THROW(win::regkey_not_exists_exception, "k");
  } catch (const win::regkey_exception_shell_t& e) {
    EXPECT_EQ(dynamic_cast<const win::regkey_access_denied_exception_shell_t*>(&e), nullptr);
  }
}

TEST(exceptions, copying_a_shell_moves_the_body) {
  try {
    KERN_THROW(api_exception, "unable to %s because of %s", "open", "nothing");
  } catch (const api_exception_shell_t& original) {
    ASSERT_NE(original.body(), nullptr);
    const d_exception_t* body = original.body();
    api_exception_shell_t copy(original);
    EXPECT_STREQ(original.what(), "NOTHING: I am cloned shell.");
    EXPECT_EQ(original.body(), nullptr);
    EXPECT_EQ(copy.body(), body);
    EXPECT_STREQ(copy.what(), "unable to open because of nothing");
    // Rethrowing a copy still carries the reason.
    try {
      throw copy;
    } catch (const d_exception_t_shell_t& again) {
      EXPECT_STREQ(again.what(), "unable to open because of nothing");
    }
  }
}

TEST(exceptions, body_reason_cause_and_throw_site) {
  d_exception_t bare("file.cpp", 1);
  EXPECT_STREQ(bare.what(), "NO REASON");

  auto* inner = new io_error_exception("inner.cpp", 7);
  inner->set_reason("disk %s", "gone");
  d_exception_t outer("outer.cpp", 9);
  outer.set_cause(inner);
  EXPECT_STREQ(outer.what(), "disk gone");  // no reason of its own: the cause's
  outer.set_reason("%s", "write failed");
  EXPECT_STREQ(outer.what(), "write failed");
  outer.set_reason("%s", "replaced");
  EXPECT_STREQ(outer.what(), "replaced");
  outer.set_reason("%s, again", outer.what());  // formatted from the reason it replaces
  EXPECT_STREQ(outer.what(), "replaced, again");

  const int line = __LINE__ + 2;
  try {
    KERN_THROW(BUG_exception, "broken");
  } catch (const BUG_exception_shell_t& e) {
    EXPECT_STREQ(e.body()->source_file(), "exceptions_tests.cpp");
    EXPECT_EQ(e.body()->line(), line);
    EXPECT_TRUE(e.pending_text().empty());
  }
  EXPECT_STREQ(kern_n::detail::source_base_name("C:\\src\\kern\\a.cpp"), "a.cpp");
}

TEST(exceptions, caused_throw_keeps_the_earlier_body) {
  try {
    try {
      KERN_THROW(host_not_found_exception, "no such host");
    } catch (d_exception_t_shell_t& first) {
      KERN_THROW_CAUSED(network_exception, first.release_body(), "connect failed because of %s",
                        "no such host");
    }
  } catch (const network_exception_shell_t& e) {
    ASSERT_NE(e.body()->cause(), nullptr);
    EXPECT_STREQ(e.body()->cause()->what(), "no such host");
    EXPECT_STREQ(e.what(), "connect failed because of no such host");
  }
}

TEST(pretty_print, splits_at_because_of_with_indentation) {
  capture_logger_t log;
  pretty_print_exception(lvl_error, "unable to lock mutex because of %s", "Access is denied (code=5)",
                         nullptr);
  ASSERT_EQ(log.messages(), (std::vector<std::string>{"unable to lock mutex because of ",
                                                      "  Access is denied (code=5)"}));
  log.clear();
  pretty_print_exception(lvl_error, "a because of b because of c", nullptr, nullptr);
  EXPECT_EQ(log.messages(), (std::vector<std::string>{"a because of ", "  b because of ", "  c"}));
  // A trailing separator gives no empty continuation line and is not logged.
  log.clear();
  pretty_print_exception(lvl_error, nullptr, "open failed because of ", nullptr);
  EXPECT_EQ(log.messages(), (std::vector<std::string>{"open failed"}));
}

TEST(pretty_print, message_choice_and_level) {
  capture_logger_t log(lvl_error);
  pretty_print_exception(lvl_error, nullptr, nullptr, nullptr);
  std::bad_alloc oom;
  pretty_print_exception(lvl_error, nullptr, nullptr, &oom);
  pretty_print_exception(lvl_error, "", nullptr, nullptr);  // empty text: nothing
  pretty_print_exception(lvl_info, "not enabled", nullptr, nullptr);
  EXPECT_EQ(log.messages(), (std::vector<std::string>{"BUG! pretty_print_exception() without any message",
                                                      "General error \"std::bad_alloc\" detected"}));
  // Lines carry the caller's level tag.
  EXPECT_NE(log.lines().at(0).find(" ERR ["), std::string::npos);
}

}  // namespace
