// The validator's Application log through the module's entry points and the
// event log stand-in: the event source's key, registration, a setting of the
// wrong type, EventLogLevel, and a log that stalls.
#include <string>
#include <vector>

#include "eventually.h"
#include "healthval_fixture.h"
#include "registry_values.h"

namespace {

using namespace test_support;

const char16_t source_key[] =
    u"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Vexor System Health Validator";

bool source_key_exists() { return test_support::key_exists(HKEY_LOCAL_MACHINE, source_key); }

// A value of the source's key: its type and bytes.
std::pair<DWORD, std::string> source_value(const char16_t* name) {
  const auto v = test_support::reg_value(HKEY_LOCAL_MACHINE, source_key, name);
  if (!v) return {};
  return {v->type, v->bytes};
}

void set_value(const char16_t* name, DWORD type, const std::string& bytes) {
  ASSERT_EQ(test_support::set_raw(HKEY_LOCAL_MACHINE, shv_settings::settings_key, name, type, bytes), ERROR_SUCCESS);
}

std::string utf16_bytes(const std::u16string& text) {
  return std::string(reinterpret_cast<const char*>(text.c_str()), (text.size() + 1) * sizeof(char16_t));
}

TEST_F(healthval_fixture, registration_writes_the_event_source_and_tells_the_log) {
  ASSERT_TRUE(source_key_exists());
  const auto [file_type, file] = source_value(u"EventMessageFile");
  EXPECT_EQ(file_type, static_cast<DWORD>(REG_EXPAND_SZ));
  const std::u16string path(reinterpret_cast<const char16_t*>(file.data()), file.size() / 2);
  EXPECT_EQ(path.back(), u'\0');
  EXPECT_NE(path.find(u"/libhealthval.so"), std::u16string::npos);
  EXPECT_EQ(source_value(u"TypesSupported"), std::make_pair(static_cast<DWORD>(REG_DWORD), std::string("\x07\0\0\0", 4)));
  EXPECT_EQ(events(1007), std::vector<std::string>{"{\"source\":\"Vexor System Health Validator\",\"type\":"
                                                   "\"information\",\"id\":1007,\"strings\":[]}"});

  ASSERT_EQ(call_export(healthval_, "DllUnregisterServer"), S_OK);
  EXPECT_FALSE(source_key_exists());
  EXPECT_EQ(events(1009).size(), 1u);
  // The NAP server no longer knows the validator: the failure with its code.
  EXPECT_NE(call_export(healthval_, "DllUnregisterServer"), S_OK);
  ASSERT_EQ(events(1010).size(), 1u);
  EXPECT_NE(events(1010)[0].find("\"type\":\"error\",\"id\":1010,\"strings\":[\"0x8"), std::string::npos);
}

// The read problems' limits hold for the whole process (earlier tests used
// them up for a missing key): a value of the wrong type is this test's own.
TEST_F(healthval_fixture, a_setting_of_the_wrong_type_and_event_log_level) {
  central_sim_t sim;
  use_server(sim);
  set_value(u"ServerPort", REG_SZ, utf16_bytes(u"2193"));
  validate(soh_with_record("1 typed-pc d"));
  validate(soh_with_record("1 typed-pc d"));
  ASSERT_TRUE(test_support::eventually([&] { return events(1005).size() == 1; }));
  EXPECT_NE(events(1005)[0].find("\"type\":\"error\",\"id\":1005,\"strings\":[\"ServerPort\""), std::string::npos)
      << events(1005)[0];

  // Level 1 keeps warnings; level 0 keeps nothing, not even for later.
  set_value(u"EventLogLevel", REG_DWORD, std::string("\x01\0\0\0", 4));
  validate(soh_with_record("1 level-pc d"), false, 21);
  EXPECT_TRUE(test_support::eventually([&] { return events(1006).size() == 1; }));
  set_value(u"EventLogLevel", REG_DWORD, std::string(4, '\0'));
  validate(soh_with_record("1 level-pc d"), false, 22);
  set_value(u"EventLogLevel", REG_DWORD, std::string("\x02\0\0\0", 4));
  validate(soh_with_record("1 level-pc d"), false, 23);
  ASSERT_TRUE(test_support::eventually([&] { return events(1006).size() == 2; }));
  EXPECT_NE(events(1006)[1].find("\"strings\":[\"23\"]"), std::string::npos) << events(1006)[1];
}

TEST_F(healthval_fixture, a_stalled_event_log_delays_no_on_complete) {
  central_sim_t sim;
  use_server(sim);
  sim.stop();  // refused: the unreachable warning is due
  shv_test_hold_event_log(true);
  auto run = validate(soh_with_record("1 stalled-pc d"));
  const bool completed = run->completed;
  const bool stalled = test_support::eventually([] { return shv_test_event_log_waiters() == 1; });
  const bool unwritten = events(1000).empty();
  shv_test_hold_event_log(false);
  EXPECT_TRUE(completed) << "OnComplete waited for the event log";
  EXPECT_EQ(answer_of(*run->request), compliance(0x80270050));
  EXPECT_TRUE(stalled);
  EXPECT_TRUE(unwritten);
  EXPECT_TRUE(test_support::eventually([&] { return events(1000).size() == 1; }));
  EXPECT_NE(events(1000)[0].find("\"strings\":[\"\\\"127.0.0.1\\\" (port "), std::string::npos) << events(1000)[0];
}

}  // namespace
