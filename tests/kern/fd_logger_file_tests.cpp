// fd_logger_t writing into a real file from many threads at once, and what a
// log line leaves behind on the calling thread.
#include <gtest/gtest.h>

#include <fcntl.h>

#include <cerrno>
#include <filesystem>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "file_text.h"
#include "kern/fd_logger.h"

namespace {

// A fresh file that an fd_logger_t writes through its descriptor.
class log_file_t {
 public:
  log_file_t() {
    path_ = std::filesystem::temp_directory_path() /
            ("kern-log-" + std::to_string(GetCurrentProcessId()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".txt");
#ifdef _WIN32
    fd_ = _open(path_.string().c_str(), _O_RDWR | _O_CREAT | _O_TRUNC | _O_BINARY, 0600);
#else
    fd_ = open(path_.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
#endif
  }
  ~log_file_t() {
#ifdef _WIN32
    _close(fd_);
#else
    close(fd_);
#endif
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
  }
  log_file_t(const log_file_t&) = delete;
  log_file_t& operator=(const log_file_t&) = delete;
  int fd() const { return fd_; }
  std::string text() const { return test_support::read_file(path_.string()); }

 private:
  std::filesystem::path path_;
  int fd_ = -1;
};

// global_logger for the object's life.
class installed_t {
 public:
  explicit installed_t(if_logger_t* logger) : previous_(global_logger) { global_logger = logger; }
  ~installed_t() { global_logger = previous_; }
  installed_t(const installed_t&) = delete;
  installed_t& operator=(const installed_t&) = delete;

 private:
  if_logger_t* previous_;
};

void write_to(if_logger_t& logger, const char* format, ...) {
  va_list args;
  va_start(args, format);
  logger.write(lvl_info, format, args);
  va_end(args);
}

// Eight threads each write one message of their own 400 times, folded where
// consecutive. Every line in the file is whole, and the lines written plus the
// repetitions counted in the repeat lines are exactly the messages logged.
TEST(fd_logger, many_threads_through_one_logger_neither_tear_nor_lose_lines) {
  constexpr int threads = 8, per_thread = 400;
  const bool saved = fd_logger_t::repeat_suppression();
  fd_logger_t::set_repeat_suppression(true);
  log_file_t file;
  ASSERT_GE(file.fd(), 0);
  {
    fd_logger_t logger(file.fd());
    std::vector<std::thread> writers;
    for (int t = 0; t < threads; ++t) {
      writers.emplace_back([&logger, t] {
        for (int i = 0; i < per_thread; ++i) write_to(logger, "[T] message of thread %d", t);
      });
    }
    for (auto& w : writers) w.join();
  }  // destruction flushes the last repeat line
  fd_logger_t::set_repeat_suppression(saved);

  const std::regex message(R"(\d{8}\.\d{6}\.\d\d inf \[ *\d+ [0-9a-f]{4,}\] \S+ *\[T\] message of thread (\d)\r)");
  const std::regex repeat(R"(\d{8}\.\d{6}\.\d\d inf \[ *\d+ [0-9a-f]{4,}\] \S+ *\[Logger\] Last message repeated (\d+) times)");
  std::map<int, long> per_writer;
  std::istringstream in(file.text());
  std::string line;
  int last = -1;
  long torn = 0;
  while (std::getline(in, line)) {
    std::smatch m;
    if (std::regex_match(line, m, message)) {
      last = std::stoi(m[1]);
      ++per_writer[last];
    } else if (std::regex_match(line, m, repeat) && last >= 0) {
      per_writer[last] += std::stol(m[1]) - 1;  // the count includes the line written
    } else {
      ++torn;
      ADD_FAILURE() << "not a whole line: " << line;
      if (torn > 5) break;
    }
  }
  EXPECT_EQ(torn, 0);
  for (int t = 0; t < threads; ++t) EXPECT_EQ(per_writer[t], per_thread) << "thread " << t;
}

TEST(logger, a_line_leaves_errno_and_the_last_error_as_it_found_them) {
  log_file_t file;
  fd_logger_t logger(file.fd());
  installed_t installed(&logger);
  errno = 42;
  SetLastError(1234);
  KLOG(lvl_info, "[Test] %s", "a line that reads the thread's name");
  EXPECT_EQ(errno, 42);
  EXPECT_EQ(GetLastError(), 1234u);
  EXPECT_NE(file.text().find("[Test] a line that reads the thread's name"), std::string::npos);
}

}  // namespace
