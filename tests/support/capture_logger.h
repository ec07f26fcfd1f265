// A logger for tests: installs itself as global_logger for its lifetime and
// keeps every line written (with the real prefix and its level), so tests can
// check texts, levels and the prefix.
#pragma once

#include <cstdarg>
#include <mutex>
#include <string>
#include <vector>

#include "kern/logger.h"

namespace test_support {

class capture_logger_t : public if_logger_t {
 public:
  explicit capture_logger_t(int level = lvl_debug3) : previous_(global_logger) {
    set_level(level);
    global_logger = this;
  }
  ~capture_logger_t() override { global_logger = previous_; }
  capture_logger_t(const capture_logger_t&) = delete;
  capture_logger_t& operator=(const capture_logger_t&) = delete;

  void write(int level, const char* format, va_list args) override {
    if (!is_enabled(level)) return;
    std::string line;
    format_line(level, line, format, args);
    keep(level, std::move(line));
  }
  // A line handed over whole: its level is not known (-1).
  int output(const char* text) override {
    std::string line = text;
    const int size = static_cast<int>(line.size());
    keep(-1, std::move(line));
    return size;
  }

  // The lines written so far, each without the prefix.
  std::vector<std::string> messages() const {
    std::lock_guard<std::mutex> guard(lock_);
    std::vector<std::string> out;
    for (const entry_t& e : entries_) out.push_back(strip_prefix(e.line));
    return out;
  }
  // The lines written so far, prefix included.
  std::vector<std::string> lines() const {
    std::lock_guard<std::mutex> guard(lock_);
    std::vector<std::string> out;
    for (const entry_t& e : entries_) out.push_back(e.line);
    return out;
  }
  bool contains(const std::string& message) const {
    for (const std::string& m : messages()) {
      if (m == message) return true;
    }
    return false;
  }
  // Messages holding needle, written at level (any level when -1).
  size_t count(const std::string& needle, int level = -1) const {
    std::lock_guard<std::mutex> guard(lock_);
    size_t n = 0;
    for (const entry_t& e : entries_) {
      if ((level < 0 || e.level == level) && strip_prefix(e.line).find(needle) != std::string::npos) ++n;
    }
    return n;
  }
  bool has(const std::string& needle, int level = -1) const { return count(needle, level) != 0; }
  // Every message with its level, one per line, for failure reports.
  std::string dump() const {
    std::lock_guard<std::mutex> guard(lock_);
    std::string all;
    for (const entry_t& e : entries_) all += std::to_string(e.level) + ": " + strip_prefix(e.line) + "\n";
    return all;
  }
  void clear() {
    std::lock_guard<std::mutex> guard(lock_);
    entries_.clear();
  }

  // The prefix is "YYYYMMDD.HHMMSS.hh TAG [ PID TID] NAME " with NAME padded to
  // six columns: the message starts after the blank that follows the name.
  static std::string strip_prefix(const std::string& line) {
    const size_t bracket = line.find("] ");
    if (bracket == std::string::npos) return line;
    size_t name_end = line.find(' ', bracket + 2);
    if (name_end == std::string::npos) return line;
    // Names shorter than six columns are padded with blanks.
    const size_t name_start = bracket + 2;
    if (name_end - name_start < 6) name_end = name_start + 6;
    return name_end + 1 <= line.size() ? line.substr(name_end + 1) : std::string();
  }

 private:
  struct entry_t {
    int level;
    std::string line;
  };
  void keep(int level, std::string line) {
    std::lock_guard<std::mutex> guard(lock_);
    entries_.push_back({level, std::move(line)});
  }

  if_logger_t* previous_;
  mutable std::mutex lock_;
  std::vector<entry_t> entries_;
};

}  // namespace test_support
