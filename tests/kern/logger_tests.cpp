// The logger: thresholds and tags, the line prefix, repeat folding, the size
// cap, write failures reported to listeners, and the shutdown fallback.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <regex>
#include <string>
#include <unistd.h>

#include <boost/thread.hpp>

#include "capture_logger.h"
#include "file_text.h"
#include "kern/fd_logger.h"
#include "kern/runnable.h"
#include "kern/strings.h"

namespace {

using test_support::capture_logger_t;

// An fd_logger_t writing into a temporary file; text() reads it back.
class file_logger_t {
 public:
  explicit file_logger_t(bool folding = true) : previous_(fd_logger_t::repeat_suppression()) {
    fd_logger_t::set_repeat_suppression(folding);
    char name[] = "/tmp/kern_logger_XXXXXX";
    fd_ = mkstemp(name);
    path_ = name;
    logger_ = new fd_logger_t(fd_);
    logger_->set_level(lvl_debug3);
  }
  ~file_logger_t() {
    delete logger_;
    close(fd_);
    unlink(path_.c_str());
    fd_logger_t::set_repeat_suppression(previous_);
  }
  void log(int level, const char* text) { write(level, "%s", text); }
  void write(int level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    logger_->write(level, format, args);
    va_end(args);
  }
  std::string text() const { return test_support::read_file(path_); }
  // Destroys the logger (flushing a pending repeat line) and returns the file.
  std::string close_and_read() {
    delete logger_;
    logger_ = nullptr;
    return text();
  }
  fd_logger_t* get() { return logger_; }

 private:
  bool previous_;
  int fd_;
  std::string path_;
  fd_logger_t* logger_;
};

std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start < text.size()) {
    const size_t nl = text.find('\n', start);
    out.push_back(text.substr(start, nl == std::string::npos ? std::string::npos : nl + 1 - start));
    if (nl == std::string::npos) break;
    start = nl + 1;
  }
  return out;
}

TEST(logger, thresholds_and_tags) {
  capture_logger_t log(lvl_debug3);
  EXPECT_TRUE(log.is_enabled(12));
  EXPECT_FALSE(log.is_enabled(13));
  log.set_level(-1);
  EXPECT_FALSE(log.is_enabled(0));
  KLOG(lvl_fatal, "blocked");
  EXPECT_TRUE(log.lines().empty());
  log.set_level(20);
  EXPECT_EQ(log.get_level(), 20);
  KLOG(13, "beyond the table");
  KLOG(lvl_warning, "warned");
  ASSERT_EQ(log.lines().size(), 2u);
  EXPECT_NE(log.lines()[0].find(" unk ["), std::string::npos);
  EXPECT_NE(log.lines()[1].find(" wrn ["), std::string::npos);
  const char* expected[] = {"FTL", "ERR", "wrn", "ntc", "inf", "tr0", "tr1",
                            "tr2", "tr3", "db0", "db1", "db2", "db3"};
  for (int level = 0; level <= 12; ++level) EXPECT_STREQ(level_tag(level), expected[level]);
  EXPECT_STREQ(level_tag(-1), "unk");
}

TEST(logger, disabled_level_does_not_evaluate_arguments) {
  capture_logger_t log(lvl_error);
  int evaluated = 0;
  auto costly = [&evaluated] {
    ++evaluated;
    return "x";
  };
  KLOG(lvl_info, "%s", costly());
  EXPECT_EQ(evaluated, 0);
  KLOG(lvl_error, "%s", costly());
  EXPECT_EQ(evaluated, 1);
}

// The local date at t, as a line prefix writes it.
std::string local_date(time_t t) {
  char date[16];
  tm local{};
  localtime_r(&t, &local);
  strftime(date, sizeof(date), "%Y%m%d", &local);
  return date;
}

TEST(logger, line_prefix_format) {
  const time_t before = time(nullptr);
  const std::string prefix = make_line_prefix(lvl_info);
  const time_t after = time(nullptr);
  char expected_pid[16];
  std::snprintf(expected_pid, sizeof(expected_pid), "[%5lu ", static_cast<unsigned long>(getpid()));
  const std::regex shape(R"(^\d{8}\.\d{6}\.\d{2} inf \[ *\d+ [0-9a-f]{4,}\] noname $)");
  EXPECT_TRUE(std::regex_match(prefix, shape)) << prefix;
  EXPECT_NE(prefix.find(expected_pid), std::string::npos) << prefix;
  // The thread id is the system's, in lower-case hexadecimal.
  char tid[32];
  std::snprintf(tid, sizeof(tid), " %04lx] ", static_cast<unsigned long>(GetCurrentThreadId()));
  EXPECT_NE(prefix.find(tid), std::string::npos) << prefix;
  // The date is the local date of the moment the prefix was made, which may
  // be the day before or after midnight.
  const std::string date = prefix.substr(0, 8);
  EXPECT_TRUE(date == local_date(before) || date == local_date(after)) << prefix;
}

// The line a crash report writes without allocating: the same prefix, the
// message and a line feed, cut at the buffer's end and always terminated.
TEST(logger, a_line_into_a_fixed_buffer) {
  char line[128];
  const size_t n = format_line_into(lvl_fatal, "abc", line, sizeof(line));
  const std::regex shape(R"(^\d{8}\.\d{6}\.\d{2} FTL \[ *\d+ [0-9a-f]{4,}\] noname abc\n$)");
  EXPECT_TRUE(std::regex_match(std::string(line), shape)) << line;
  EXPECT_EQ(n, std::strlen(line));
  char small[10];
  EXPECT_EQ(format_line_into(lvl_fatal, "abc", small, sizeof(small)), 9u);
  EXPECT_EQ(std::string(small), std::string(line, 9));
}

TEST(logger, thread_names_in_lines) {
  capture_logger_t log;
  KLOG(lvl_info, "main");
  thr::proc::helper<std::function<void()>> named([] { KLOG(lvl_info, "worker"); });
  named.set_name("nap:7");
  boost::thread t(std::ref(named));
  t.join();
  const auto lines = log.lines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_NE(lines.front().find("] noname main"), std::string::npos) << lines.front();
  bool found = false;
  for (const auto& line : lines) found |= line.find("] nap:7  worker") != std::string::npos;
  EXPECT_TRUE(found);
}

TEST(fd_logger, folds_repeats_into_one_line) {
  file_logger_t file;
  file.log(lvl_info, "first");
  file.log(lvl_info, "same");
  file.log(lvl_info, "same");
  file.log(lvl_error, "same");  // another level still counts as a repetition
  file.log(lvl_info, "different");
  const auto lines = split_lines(file.text());
  ASSERT_EQ(lines.size(), 4u) << file.text();
  EXPECT_EQ(capture_logger_t::strip_prefix(lines[0]), "first\r\n");
  EXPECT_EQ(capture_logger_t::strip_prefix(lines[1]), "same\r\n");
  EXPECT_EQ(capture_logger_t::strip_prefix(lines[2]), "[Logger] Last message repeated 3 times\n");
  EXPECT_NE(lines[2].find(" ERR ["), std::string::npos) << "prefix of the last repetition";
  EXPECT_EQ(capture_logger_t::strip_prefix(lines[3]), "different\r\n");
}

TEST(fd_logger, destruction_flushes_a_pending_repeat) {
  file_logger_t file;
  file.log(lvl_info, "again");
  file.log(lvl_info, "again");
  const auto lines = split_lines(file.close_and_read());
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(capture_logger_t::strip_prefix(lines[1]), "[Logger] Last message repeated 2 times\n");
}

TEST(fd_logger, folding_off_writes_every_line) {
  file_logger_t file(false);
  for (int i = 0; i < 3; ++i) file.log(lvl_info, "same");
  file.log(lvl_info, "different");
  EXPECT_EQ(split_lines(file.close_and_read()).size(), 4u);
}

TEST(fd_logger, oversized_message_is_replaced) {
  file_logger_t file;
  const std::string big(0x100001, 'x');
  file.write(lvl_info, "value=%s", big.c_str());
  const auto lines = split_lines(file.text());
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(capture_logger_t::strip_prefix(lines[0]),
            "Try to allocate more then 1Mb for text buffer, discard long message \"value=%s\"\r\n");
}

TEST(fd_logger, empty_text_writes_nothing) {
  file_logger_t file;
  EXPECT_EQ(file.get()->output(""), 0);
  EXPECT_EQ(file.text(), "");
  fd_logger_t none(-1);
  EXPECT_EQ(none.output("text"), 0);
}

class recording_listener_t : public if_logger_listener_t {
 public:
  void on_log_error(if_logger_t* logger, int level, const char* text) override {
    ++calls;
    last_level = level;
    last_text = text;
    threshold_seen = logger->get_level();
  }
  int calls = 0;
  int last_level = -5;
  int threshold_seen = 99;
  std::string last_text;
};

TEST(fd_logger, write_failures_reach_listeners_once_per_run) {
  int pipe_fds[2];
  ASSERT_EQ(pipe(pipe_fds), 0);
  close(pipe_fds[0]);  // writing now fails with EPIPE
  signal(SIGPIPE, SIG_IGN);
  fd_logger_t::set_repeat_suppression(false);
  fd_logger_t logger(pipe_fds[1]);
  recording_listener_t listener;
  logger.add_listener(&listener);
  logger.add_listener(nullptr);
  logger.set_level(lvl_info);
  logger.output("one\n");
  logger.output("two\n");
  EXPECT_EQ(listener.calls, 1);
  EXPECT_EQ(listener.last_level, 0);
  EXPECT_EQ(listener.threshold_seen, -1);  // listeners cannot log into the failing output
  EXPECT_EQ(logger.get_level(), lvl_info);
  EXPECT_NE(listener.last_text.find("(code="), std::string::npos) << listener.last_text;
  logger.remove_listener(&listener);
  close(pipe_fds[1]);
  fd_logger_t::set_repeat_suppression(true);
}

TEST(string_vprintf, grows_past_the_first_kilobyte_and_caps_at_a_megabyte) {
  std::string out;
  const std::string long_text(5000, 'y');
  string_printf(out, "<%s>", long_text.c_str());
  EXPECT_EQ(out, "<" + long_text + ">");
  const std::string limit(0x100000, 'z');
  string_printf(out, "%s", limit.c_str());
  EXPECT_EQ(out.size(), 0x100000u);  // exactly 1 MiB still fits
  string_printf(out, "%s!", limit.c_str());
  EXPECT_EQ(out, "Try to allocate more then 1Mb for text buffer, discard long message \"%s!\"");
}

std::string run_probe(const std::string& command) {
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return "(popen failed)";
  std::string out;
  char buffer[512];
  while (size_t n = fread(buffer, 1, sizeof(buffer), pipe)) out.append(buffer, n);
  if (pclose(pipe) != 0) out += "(exit status)";
  return out;
}

TEST(logger, switches_are_read_from_the_environment_at_load) {
  const std::string probe = LOGGER_PROBE;
  EXPECT_NE(run_probe("env -u TALOND_NO_LASTREPEAT -u TALOND_RWLOCK_READPREFERED " + probe +
                      " switches 2>/dev/null")
                .find("folding=1 writer_first=0"),
            std::string::npos);
  // Presence alone counts, whatever the value.
  EXPECT_NE(run_probe("TALOND_NO_LASTREPEAT= TALOND_RWLOCK_READPREFERED=0 " + probe + " switches 2>/dev/null")
                .find("folding=0 writer_first=1"),
            std::string::npos);
}

TEST(logger, static_destruction_falls_back_to_standard_error) {
  const std::string out = run_probe(std::string(LOGGER_PROBE) + " 2>&1");
  const auto lines = split_lines(out);
  ASSERT_EQ(lines.size(), 2u) << out;
  EXPECT_EQ(capture_logger_t::strip_prefix(lines[0]), "[probe] in main\r\n");
  // The fallback ends lines with a bare line feed.
  EXPECT_EQ(capture_logger_t::strip_prefix(lines[1]), "[probe] after static destruction\n");
}

}  // namespace
