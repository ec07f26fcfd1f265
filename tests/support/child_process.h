// Test helper: a child program with its standard output and error in files,
// ended (terminated and waited for) when the owner goes away; and the folder
// of the running test program, where the peers it starts are built.
#pragma once

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace test_support {

// The folder of the running test program.
inline std::filesystem::path program_dir() {
#ifdef _WIN32
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) {
      path.resize(n);
      break;
    }
    path.resize(path.size() * 2);
  }
  return std::filesystem::path(path).parent_path();
#else
  return std::filesystem::read_symlink("/proc/self/exe").parent_path();
#endif
}

// A program built beside the test program (".exe" added on Windows).
inline std::filesystem::path sibling_program(const std::string& name) {
#ifdef _WIN32
  return program_dir() / (name + ".exe");
#else
  return program_dir() / name;
#endif
}

// A fresh folder of its own under the temporary folder, named after prefix.
inline std::filesystem::path make_temp_dir(const std::string& prefix) {
#ifdef _WIN32
  static volatile LONG counter = 0;
  const std::filesystem::path base = std::filesystem::temp_directory_path();
  for (;;) {
    const std::filesystem::path dir = base / (prefix + "-" + std::to_string(GetCurrentProcessId()) + "-" +
                                              std::to_string(InterlockedIncrement(&counter)));
    std::error_code error;
    if (std::filesystem::create_directory(dir, error)) return dir;
    if (error) throw std::filesystem::filesystem_error("cannot make a temporary folder", dir, error);
  }
#else
  std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
  if (mkdtemp(pattern.data()) == nullptr)
    throw std::filesystem::filesystem_error("cannot make a temporary folder", pattern,
                                            std::error_code(errno, std::generic_category()));
  return pattern;
#endif
}

class child_process_t {
 public:
  // Starts program with args; its standard output and error go to the files
  // out and err (created or truncated), its standard input reads nothing.
  child_process_t(const std::filesystem::path& program, const std::vector<std::string>& args,
                  const std::filesystem::path& out, const std::filesystem::path& err) {
#ifdef _WIN32
    std::wstring line = quote(program.wstring());
    for (const std::string& arg : args) line += L" " + quote(std::filesystem::path(arg).wstring());
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    const HANDLE in_file = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                       OPEN_EXISTING, 0, nullptr);
    const HANDLE out_file = CreateFileW(out.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                        CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    const HANDLE err_file = CreateFileW(err.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                        CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (in_file != INVALID_HANDLE_VALUE && out_file != INVALID_HANDLE_VALUE && err_file != INVALID_HANDLE_VALUE) {
      STARTUPINFOW startup{};
      startup.cb = sizeof(startup);
      startup.dwFlags = STARTF_USESTDHANDLES;
      startup.hStdInput = in_file;
      startup.hStdOutput = out_file;
      startup.hStdError = err_file;
      PROCESS_INFORMATION info{};
      if (CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr,
                         &startup, &info)) {
        CloseHandle(info.hThread);
        process_ = info.hProcess;
      }
    }
    for (HANDLE h : {in_file, out_file, err_file})
      if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
#else
    std::vector<std::string> all = {program.string()};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
#endif
  }
  ~child_process_t() { end(); }
  child_process_t(const child_process_t&) = delete;
  child_process_t& operator=(const child_process_t&) = delete;

  bool started() const {
#ifdef _WIN32
    return process_ != nullptr;
#else
    return pid_ > 0;
#endif
  }

  // Waits for the child to exit by itself; its exit status, or -1 when it
  // did not exit normally or was never started.
  int wait_exit() {
#ifdef _WIN32
    if (process_ == nullptr) return -1;
    WaitForSingleObject(process_, INFINITE);
    DWORD code = 0;
    const int status = GetExitCodeProcess(process_, &code) ? static_cast<int>(code) : -1;
    CloseHandle(process_);
    process_ = nullptr;
    return status;
#else
    if (pid_ <= 0) return -1;
    int status = 0;
    pid_t waited;
    while ((waited = waitpid(pid_, &status, 0)) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    return waited > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
  }

  // Asks the child to stop (SIGTERM; on Windows it is terminated) and waits
  // for it; does nothing once it has been ended.
  void end() {
#ifdef _WIN32
    if (process_ == nullptr) return;
    TerminateProcess(process_, 1);
    WaitForSingleObject(process_, INFINITE);
    CloseHandle(process_);
    process_ = nullptr;
#else
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
#endif
  }

 private:
#ifdef _WIN32
  // One argument as the C runtime splits a command line: quoted, with the
  // backslashes before a quote doubled.
  static std::wstring quote(const std::wstring& arg) {
    std::wstring out = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : arg) {
      if (c == L'\\') {
        ++backslashes;
        continue;
      }
      out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
      backslashes = 0;
      out += c;
    }
    out.append(backslashes * 2, L'\\');
    return out + L"\"";
  }

  HANDLE process_ = nullptr;
#else
  pid_t pid_ = -1;
#endif
};

}  // namespace test_support
