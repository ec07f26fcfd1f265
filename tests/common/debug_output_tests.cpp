// The debugger output stand-in and the components' log sink: one whole line
// per call, never interleaved, from threads and from processes.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "common/nap_common.h"
#include "kern/logger.h"
#include "tests/support/file_text.h"

namespace {

class debug_output : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = std::filesystem::temp_directory_path() /
            ("shv-debug-" + std::to_string(getpid()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove(path_);
    setenv("SHV_DEBUG_OUTPUT", path_.c_str(), 1);
  }
  void TearDown() override {
    unsetenv("SHV_DEBUG_OUTPUT");
    std::filesystem::remove(path_);
  }
  std::vector<std::string> lines() const {
    std::ifstream in(path_);
    std::vector<std::string> out;
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
  }
  std::string content() const { return test_support::read_file(path_.string()); }
  std::filesystem::path path_;
};

// "<writer>:<n>:" and then a long run of the writer's own letter, long enough
// that a torn write would show.
std::string make_line(int writer, int n) {
  return std::to_string(writer) + ":" + std::to_string(n) + ":" +
         std::string(2000 + 97 * (n % 7), static_cast<char>('a' + writer % 26));
}

// Every line is one writer's whole line, and each writer's lines all arrived
// in its order.
void check_lines(const std::vector<std::string>& lines, int writers, int per_writer) {
  ASSERT_EQ(lines.size(), static_cast<size_t>(writers * per_writer));
  std::map<int, int> next;
  for (const std::string& line : lines) {
    const size_t a = line.find(':');
    const size_t b = line.find(':', a + 1);
    ASSERT_NE(b, std::string::npos) << line.substr(0, 40);
    const int writer = std::stoi(line.substr(0, a));
    const int n = std::stoi(line.substr(a + 1, b - a - 1));
    ASSERT_EQ(line, make_line(writer, n)) << "torn line of writer " << writer;
    ASSERT_EQ(n, next[writer]++) << "out of order";
  }
}

TEST_F(debug_output, lines_of_concurrent_threads_never_interleave) {
  constexpr int threads = 8, per_thread = 200;
  std::vector<std::thread> pool;
  for (int t = 0; t < threads; ++t) {
    pool.emplace_back([t] {
      for (int i = 0; i < per_thread; ++i) OutputDebugStringA(make_line(t, i).c_str());
    });
  }
  for (auto& th : pool) th.join();
  check_lines(lines(), threads, per_thread);
}

TEST_F(debug_output, lines_of_two_processes_never_interleave) {
  constexpr int processes = 2, per_process = 300;
  std::vector<pid_t> children;
  for (int p = 0; p < processes; ++p) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      for (int i = 0; i < per_process; ++i) OutputDebugStringA(make_line(p, i).c_str());
      _exit(0);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  check_lines(lines(), processes, per_process);
}

TEST_F(debug_output, the_sink_writes_each_log_line_with_one_line_feed) {
  if_logger_t* before = global_logger;
  napcommon::init_logger();
  if_logger_t* sink = global_logger;
  EXPECT_NE(sink, before);
  EXPECT_EQ(sink->get_level(), lvl_debug3);
  // Every later notification reinstalls the same sink, at level 12 again.
  sink->set_level(lvl_info);
  napcommon::init_logger();
  EXPECT_EQ(global_logger, sink);
  EXPECT_EQ(sink->get_level(), lvl_debug3);
  EXPECT_TRUE(global_logger->is_enabled(lvl_debug3));
  KLOG(lvl_error, "abc");
  KLOG(lvl_debug3, "def %d", 12);
  const int written = global_logger->output("ghi");
  global_logger = before;
  EXPECT_EQ(written, 4);
  const std::string text = content();
  const std::vector<std::string> got = lines();
  ASSERT_EQ(got.size(), 3u) << text;
  EXPECT_EQ(got[0].substr(got[0].size() - 4), " abc");
  EXPECT_EQ(got[1].substr(got[1].size() - 7), " def 12");
  EXPECT_EQ(got[2], "ghi");
  EXPECT_EQ(text.find("\n\n"), std::string::npos);
  EXPECT_EQ(text.back(), '\n');
}

}  // namespace
