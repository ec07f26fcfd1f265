// naphost as an administrator runs it: registration, every outcome of a
// validation as JSON lines, component information, unload check, and clear
// errors for bad input.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "central_sim.h"
#include "refusing_port.h"
#include "registry_fixture.h"

namespace {

using test_support::run_program;

class naphost_test : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("SHV_DEBUG_OUTPUT", (store_.dir() + "/debug.log").c_str(), 1);
    ASSERT_EQ(naphost({"register", "napsdk.dll"}).status, 0);
    const auto r = naphost({"register", "healthval.dll"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("DllRegisterServer in healthval.dll succeeded: 0x00000000"), std::string::npos);
  }
  void TearDown() override { unsetenv("SHV_DEBUG_OUTPUT"); }
  test_support::run_result_t naphost(const std::vector<std::string>& args) {
    return run_program(test_support::bin_dir() + "/naphost", args);
  }
  void set(const char* name, const char* type, const std::string& data) {
    const auto r = run_program(test_support::bin_dir() + "/reg",
                               {"add", "HKLM\\SOFTWARE\\VexorLabs\\REDIVEVE\\Settings", "/v", name, "/t", type, "/d", data, "/f"});
    ASSERT_EQ(r.status, 0) << r.err;
  }
  void use(const test_support::central_sim_t& sim) {
    set("ServerName", "REG_SZ", "127.0.0.1");
    set("ServerPort", "REG_DWORD", std::to_string(sim.port()));
    set("ServerTimeout", "REG_DWORD", "2000");
  }
  std::string write(const std::string& name, const std::string& bytes) {
    const std::string path = store_.dir() + "/" + name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }
  test_support::temp_store_t store_;
};

TEST_F(naphost_test, the_events_of_a_run_on_standard_error) {
  test_support::central_sim_t sim;
  use(sim);
  sim.stop();
  const auto r = naphost({"validate", "--record", "1 lonely d"});
  EXPECT_NE(r.err.find("event: {\"source\":\"Vexor System Health Validator\",\"type\":\"warning\",\"id\":1000,"
                       "\"strings\":[\"\\\"127.0.0.1\\\" (port " +
                       std::to_string(sim.port()) + ")\",\"the connection was refused\"]}"),
            std::string::npos)
      << r.err;
  // Registered already: the failure, with the NAP server's code.
  const auto again = naphost({"register", "healthval.dll"});
  EXPECT_NE(again.err.find("\"type\":\"error\",\"id\":1008,\"strings\":[\"0x80270003\"]}"), std::string::npos)
      << again.err;
}

TEST_F(naphost_test, every_outcome_as_json_lines) {
  test_support::central_sim_t sim({"--verdict", "sick=INFECTED"});
  use(sim);
  const std::string records = write("records", "1 well d\n1 sick d\n1 well d\n1 two  blanks\n2 old d\n");
  const auto r = naphost({"validate", "--records", records});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find(R"({"request":0,"status":"00000000","compliance":"00000000",)"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(R"({"request":1,"status":"00000000","compliance":"80270050",)"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(R"({"request":2,"status":"00000000","compliance":"00000000",)"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(R"({"request":3,"status":"00000000","failure_category":5,)"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(R"({"request":4,"status":"00000000","failure_category":5,)"), std::string::npos) << r.out;
  EXPECT_EQ(sim.reports(2).size(), 2u) << "the third request was served from the cache";
  EXPECT_NE(r.err.find("5 requests; compliant: 2; compliance 80270050: 1; failure category 5: 2;"), std::string::npos) << r.err;

  // The server gone: no verdict, not compliant, category 0.
  const test_support::refusing_port_t refusing;
  set("ServerPort", "REG_DWORD", std::to_string(refusing.port()));
  const auto down = naphost({"validate", "--record", "1 other d"});
  EXPECT_NE(down.out.find(R"("compliance":"80270050")"), std::string::npos) << down.out;
  // Validation switched off.
  set("ValidationEnabled", "REG_DWORD", "0");
  const auto off = naphost({"validate", "--record", "x"});
  EXPECT_NE(off.out.find(R"("compliance":"00000000")"), std::string::npos) << off.out;
}

TEST_F(naphost_test, whole_soh_messages) {
  test_support::central_sim_t sim;
  use(sim);
  // Header, the system's entry, then ours with "1 soh-client d".
  std::string ours = std::string("\x00\x02\x00\x04\x00\x73\xFA\x02\x00\x07\x00\x12\x00\x73\xFA\x02", 16) + "1 soh-client d";
  std::string system = std::string("\x00\x02\x00\x04\x00\x01\x37\x00\x00\x07\x00\x05\x00\x00\x01\x37\xAA", 17);
  std::string body = system + ours;
  std::string message = std::string("\x00\x07", 2) + char(0) + char(body.size() + 8) + std::string("\x00\x00\x01\x37\x00\x01", 6) +
                        char(0) + char(body.size()) + body;
  const auto r = naphost({"validate", "--soh", write("soh.bin", message)});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find(R"("compliance":"00000000")"), std::string::npos) << r.out;
  // A message without our entry: the validator gets no SoH.
  std::string only_system = std::string("\x00\x07", 2) + char(0) + char(system.size() + 8) +
                            std::string("\x00\x00\x01\x37\x00\x01", 6) + char(0) + char(system.size()) + system;
  const auto none = naphost({"validate", "--soh", write("system.bin", only_system)});
  EXPECT_NE(none.out.find(R"("status":"80270002","response":null)"), std::string::npos) << none.out;
  const auto bad = naphost({"validate", "--soh", write("bad.bin", message.substr(0, 20))});
  EXPECT_EQ(bad.status, 2);
  EXPECT_NE(bad.err.find("is not an SoH message: SoH header: length"), std::string::npos) << bad.err;
}

TEST_F(naphost_test, load_with_concurrency) {
  test_support::central_sim_t sim;
  use(sim);
  const auto r = naphost({"validate", "--record", "1 load-{n} d", "--count", "300", "--concurrency", "32"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("300 requests; compliant: 300;"), std::string::npos) << r.err;
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 300);
}

TEST_F(naphost_test, information_and_unload_check) {
  const auto en = naphost({"info", "--locale", "0x0409"});
  EXPECT_NE(en.out.find("friendly name  Vexor System Health Validator  (message 307)"), std::string::npos) << en.out;
  EXPECT_NE(en.out.find("resource 400"), std::string::npos);
  const auto de = naphost({"info", "--locale", "1031"});
  EXPECT_NE(de.out.find("verifiziert den Sicherheitsstatus"), std::string::npos) << de.out;
  const auto ja = naphost({"info", "--locale", "0x0411"});
  EXPECT_NE(ja.out.find("friendly name  Vexor System Health Validator  (message 307)"), std::string::npos) << ja.out;
  const auto unload = naphost({"unload-check"});
  EXPECT_EQ(unload.status, 0) << unload.err;
  EXPECT_NE(unload.out.find("request in progress:      S_FALSE"), std::string::npos) << unload.out;
  EXPECT_NE(unload.out.find("after completion:         S_OK"), std::string::npos) << unload.out;
}

TEST_F(naphost_test, clear_errors_for_bad_input) {
  const auto missing = naphost({"register", "no-such-module.dll"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("cannot load no-such-module.dll: The specified module could not be found"), std::string::npos);
  EXPECT_EQ(naphost({"validate"}).status, 2);
  EXPECT_EQ(naphost({"validate", "--record", "x", "--count", "ten"}).status, 2);
  const auto lcid = naphost({"info", "--locale", "0xZZ"});
  EXPECT_EQ(lcid.status, 2);
  EXPECT_NE(lcid.err.find("--locale must be a number"), std::string::npos);
  EXPECT_EQ(naphost({"validate", "--soh", store_.dir() + "/absent.bin"}).status, 2);
  EXPECT_EQ(naphost({"frobnicate"}).status, 2);
  // An unregistered class.
  ASSERT_EQ(naphost({"unregister", "healthval.dll"}).status, 0);
  const auto gone = naphost({"validate", "--record", "1 a b"});
  EXPECT_EQ(gone.status, 1);
  EXPECT_NE(gone.err.find("cannot create the validator: 0x80040154"), std::string::npos) << gone.err;
}

}  // namespace
