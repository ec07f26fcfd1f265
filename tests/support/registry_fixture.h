// Test helpers around the registry stand-in: a private store file per test, a
// logger that records messages, and running programs with captured output.
#pragma once

#include <cstdarg>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "kern/logger.h"
#include "kern/strings.h"

extern char** environ;

namespace test_support {

// A fresh directory whose registry.db is the store ($SHV_REGISTRY) while the
// object lives; the old variable comes back afterwards.
class temp_store_t {
 public:
  temp_store_t() {
    char pattern[] = "/tmp/shv-registry-XXXXXX";
    const char* made = mkdtemp(pattern);
    if (made == nullptr) std::abort();
    dir_ = made;
    path_ = dir_ + "/registry.db";
    if (const char* old = std::getenv("SHV_REGISTRY")) old_ = old;
    had_old_ = std::getenv("SHV_REGISTRY") != nullptr;
    setenv("SHV_REGISTRY", path_.c_str(), 1);
  }
  ~temp_store_t() {
    if (had_old_)
      setenv("SHV_REGISTRY", old_.c_str(), 1);
    else
      unsetenv("SHV_REGISTRY");
    std::error_code ignored;
    std::filesystem::permissions(dir_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(dir_, ignored);
  }
  temp_store_t(const temp_store_t&) = delete;
  temp_store_t& operator=(const temp_store_t&) = delete;

  const std::string& path() const { return path_; }
  const std::string& dir() const { return dir_; }

 private:
  std::string dir_;
  std::string path_;
  std::string old_;
  bool had_old_ = false;
};

inline std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void write_file(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

// Records every message (level and text) while installed as global_logger.
class capture_logger_t : public if_logger_t {
 public:
  struct line_t {
    int level;
    std::string text;
  };
  capture_logger_t() : previous_(global_logger) {
    set_level(lvl_debug3);
    global_logger = this;
  }
  ~capture_logger_t() override { global_logger = previous_; }

  void write(int level, const char* format, va_list args) override {
    if (level > get_level()) return;
    std::string text;
    string_vprintf(text, format, args);
    std::lock_guard<std::mutex> guard(lock_);
    lines_.push_back({level, text});
  }
  int output(const char*) override { return 0; }

  std::vector<line_t> lines() {
    std::lock_guard<std::mutex> guard(lock_);
    return lines_;
  }
  void clear() {
    std::lock_guard<std::mutex> guard(lock_);
    lines_.clear();
  }

 private:
  if_logger_t* previous_;
  std::mutex lock_;
  std::vector<line_t> lines_;
};

// The directory of the running test program (build/bin), where the tools are.
inline std::string bin_dir() {
  return std::filesystem::read_symlink("/proc/self/exe").parent_path().string();
}

struct run_result_t {
  int status = -1;  // exit status, or -1 when it did not exit normally
  std::string out;
  std::string err;
};

// Runs program with args (as the unprivileged user nobody when asked; only
// root can); input goes to its standard input.
inline run_result_t run_program(const std::string& program, const std::vector<std::string>& args,
                                const std::string& input = std::string(), bool as_nobody = false) {
  char in_name[] = "/tmp/shv-run-in-XXXXXX";
  char out_name[] = "/tmp/shv-run-out-XXXXXX";
  char err_name[] = "/tmp/shv-run-err-XXXXXX";
  const int in_fd = mkstemp(in_name);
  const int out_fd = mkstemp(out_name);
  const int err_fd = mkstemp(err_name);
  run_result_t result;
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  if (in_fd >= 0 && out_fd >= 0 && err_fd >= 0 &&
      (input.empty() || ::write(in_fd, input.data(), input.size()) >= 0) &&
      lseek(in_fd, 0, SEEK_SET) == 0) {
    const pid_t pid = fork();
    if (pid == 0) {
      if (as_nobody && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(120);
      if (dup2(in_fd, 0) < 0 || dup2(out_fd, 1) < 0 || dup2(err_fd, 2) < 0) _exit(121);
      execve(program.c_str(), argv.data(), environ);
      _exit(122);
    }
    int status = 0;
    if (pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status))
      result.status = WEXITSTATUS(status);
  }
  for (int fd : {in_fd, out_fd, err_fd})
    if (fd >= 0) close(fd);
  result.out = read_file(out_name);
  result.err = read_file(err_name);
  unlink(in_name);
  unlink(out_name);
  unlink(err_name);
  return result;
}

// The reg tool beside the test program.
inline run_result_t run_reg(const std::vector<std::string>& args,
                            const std::string& input = std::string(), bool as_nobody = false) {
  return run_program(bin_dir() + "/reg", args, input, as_nobody);
}

}  // namespace test_support
