// Test helper: runs build/bin/central-sim on a free loopback port for the
// lifetime of the object and reads the JSON lines it prints per conversation.
#pragma once

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace shv_test {

class central_sim_t {
 public:
  explicit central_sim_t(const std::vector<std::string>& options = {}) {
    char pattern[] = "/tmp/shv-central-sim-XXXXXX";
    dir_ = mkdtemp(pattern);
    const std::string program =
        std::filesystem::read_symlink("/proc/self/exe").parent_path().string() + "/central-sim";
    std::vector<std::string> args = {program, "--port-file", dir_ + "/port"};
    args.insert(args.end(), options.begin(), options.end());
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, (dir_ + "/out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, (dir_ + "/err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    for (int i = 0; i < 500 && pid_ > 0 && port_ == 0; ++i) {
      std::ifstream in(dir_ + "/port");
      unsigned port = 0;
      if (in >> port) port_ = static_cast<uint16_t>(port);
      if (port_ == 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  ~central_sim_t() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      int status = 0;
      waitpid(pid_, &status, 0);
    }
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  central_sim_t(const central_sim_t&) = delete;
  central_sim_t& operator=(const central_sim_t&) = delete;

  uint16_t port() const { return port_; }
  // The conversation reports so far; waits up to two seconds for at least n.
  std::vector<std::string> reports(size_t n = 0) const {
    std::vector<std::string> lines;
    for (int i = 0; i < 200; ++i) {
      lines.clear();
      std::ifstream in(dir_ + "/out");
      std::string line;
      while (std::getline(in, line)) lines.push_back(line);
      if (lines.size() >= n) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return lines;
  }

 private:
  std::string dir_;
  pid_t pid_ = -1;
  uint16_t port_ = 0;
};

}  // namespace shv_test
