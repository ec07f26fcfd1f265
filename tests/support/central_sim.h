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
#include <vector>

// Asio first: on Windows it must see the system's headers before anything
// else includes them.
#include "refusing_port.h"

#include "child_process.h"
#include "eventually.h"

namespace test_support {

class central_sim_t {
 public:
  explicit central_sim_t(const std::vector<std::string>& options = {})
      : dir_(make_temp_dir("shv-central-sim")), options_(options) {
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
  // Stops the server: its port refuses until start, held meanwhile so that
  // no other test is given it. Then starts it again with the same options on
  // the same port (the first start takes a free one).
  void stop() {
    process_.reset();
    if (port_ != 0) held_ = std::make_unique<refusing_port_t>(port_);
  }
  void start() {
    std::vector<std::string> args = {"--port-file", (dir_ / "port").string()};
    if (port_ != 0) args.insert(args.end(), {"--port", std::to_string(port_)});
    args.insert(args.end(), options_.begin(), options_.end());
    const uint16_t wanted = port_;
    port_ = 0;
    std::error_code ignored;
    std::filesystem::remove(dir_ / "port", ignored);
    process_ = std::make_unique<child_process_t>(sibling_program("central-sim"), args, dir_ / "out", dir_ / "err");
    eventually([&] {
      std::ifstream in(dir_ / "port");
      unsigned port = 0;
      if (in >> port) port_ = static_cast<uint16_t>(port);
      return port_ != 0 || !process_->started();
    });
    held_.reset();  // the server has its port now, or has given up
    if (wanted != 0 && port_ != wanted) port_ = 0;
  }
  // The conversation reports so far; waits up to two seconds for at least n.
  std::vector<std::string> reports(size_t n = 0) const {
    std::vector<std::string> lines;
    eventually(
        [&] {
          lines.clear();
          std::ifstream in(dir_ / "out");
          std::string line;
          while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            lines.push_back(line);
          }
          return lines.size() >= n;
        },
        std::chrono::seconds(2));
    return lines;
  }

 private:
  std::filesystem::path dir_;
  std::vector<std::string> options_;
  std::unique_ptr<child_process_t> process_;
  std::unique_ptr<refusing_port_t> held_;
  uint16_t port_ = 0;
};

}  // namespace test_support
