// Test helpers around the registry: a clean store per test (on Linux a private
// store file of the stand-in, on Windows the system registry with the
// product's keys removed) and running programs (the reg tool) with captured
// output.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;
#endif

#include "child_process.h"
#include "file_text.h"
#ifndef _WIN32
#include "scoped_env.h"
#endif

namespace test_support {

#ifdef _WIN32

// The system registry as a test store: the product's keys (and the key the
// tests expect to be missing) are deleted when the object is made and when it
// goes, so every test starts from a machine where nothing was configured.
// Programs that use it must not run side by side (ctest RESOURCE_LOCK).
class temp_store_t {
 public:
  temp_store_t() { clear(); }
  ~temp_store_t() { clear(); }
  temp_store_t(const temp_store_t&) = delete;
  temp_store_t& operator=(const temp_store_t&) = delete;

  // Whether nothing of the product has been written to the store.
  bool untouched() const {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\VexorLabs\\REDIVEVE", 0, KEY_READ, &key) != ERROR_SUCCESS)
      return true;
    RegCloseKey(key);
    return false;
  }

 private:
  static void clear() {
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\VexorLabs\\REDIVEVE");
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\VexorLabs\\REDIVEVE");
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\VexorLabs");  // only when nothing else is below
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Nowhere");
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Nowhere");
  }
};

#else

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
    env_.emplace("SHV_REGISTRY", path_);
  }
  ~temp_store_t() {
    env_.reset();
    std::error_code ignored;
    std::filesystem::permissions(dir_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(dir_, ignored);
  }
  temp_store_t(const temp_store_t&) = delete;
  temp_store_t& operator=(const temp_store_t&) = delete;

  const std::string& path() const { return path_; }
  const std::string& dir() const { return dir_; }
  // Whether nothing has been written to the store.
  bool untouched() const { return !std::filesystem::exists(path_); }

 private:
  std::string dir_;
  std::string path_;
  std::optional<scoped_env_t> env_;
};

#endif


// The directory of the running test program (build/bin), where the tools are.
inline std::string bin_dir() { return program_dir().string(); }

struct run_result_t {
  int status = -1;  // exit status, or -1 when it did not exit normally
  std::string out;
  std::string err;
};

#ifdef _WIN32

// The system's reg.exe with args, its output captured.
inline run_result_t run_reg(const std::vector<std::string>& args) {
  wchar_t system[MAX_PATH];
  const UINT n = GetSystemDirectoryW(system, MAX_PATH);
  const std::filesystem::path program = std::filesystem::path(std::wstring(system, n)) / L"reg.exe";
  const std::filesystem::path dir = make_temp_dir("shv-run");
  run_result_t result;
  {
    child_process_t child(program, args, dir / "out", dir / "err");
    result.status = child.wait_exit();
  }
  result.out = read_file((dir / "out").string());
  result.err = read_file((dir / "err").string());
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
  return result;
}

#else

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

#endif

}  // namespace test_support
