// Test helper: runs central-sim (built beside the test program) on a free
// loopback port for the lifetime of the object and reads the JSON lines it
// prints per conversation.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "child_process.h"

namespace shv_test {

class central_sim_t {
 public:
  explicit central_sim_t(const std::vector<std::string>& options = {})
      : dir_(test_support::make_temp_dir("shv-central-sim")), options_(options) {
    start();
  }
  ~central_sim_t() {
    process_.reset();
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  central_sim_t(const central_sim_t&) = delete;
  central_sim_t& operator=(const central_sim_t&) = delete;

  uint16_t port() const { return port_; }
  // Stops the server: its port refuses until start. Then starts it again with
  // the same options on the same port (the first start takes a free one).
  void stop() { process_.reset(); }
  void start() {
    std::vector<std::string> args = {"--port-file", (dir_ / "port").string()};
    if (port_ != 0) args.insert(args.end(), {"--port", std::to_string(port_)});
    args.insert(args.end(), options_.begin(), options_.end());
    const uint16_t wanted = port_;
    port_ = 0;
    std::error_code ignored;
    std::filesystem::remove(dir_ / "port", ignored);
    process_ = std::make_unique<test_support::child_process_t>(test_support::sibling_program("central-sim"), args,
                                                               dir_ / "out", dir_ / "err");
    for (int i = 0; i < 1000 && process_->started() && port_ == 0; ++i) {
      std::ifstream in(dir_ / "port");
      unsigned port = 0;
      if (in >> port) port_ = static_cast<uint16_t>(port);
      if (port_ == 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (wanted != 0 && port_ != wanted) port_ = 0;
  }
  // The conversation reports so far; waits up to two seconds for at least n.
  std::vector<std::string> reports(size_t n = 0) const {
    std::vector<std::string> lines;
    for (int i = 0; i < 200; ++i) {
      lines.clear();
      std::ifstream in(dir_ / "out");
      std::string line;
      while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
      }
      if (lines.size() >= n) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return lines;
  }

 private:
  std::filesystem::path dir_;
  std::vector<std::string> options_;
  std::unique_ptr<test_support::child_process_t> process_;
  uint16_t port_ = 0;
};

}  // namespace shv_test
