// A logger for tests: installs itself as global_logger for its lifetime and
// keeps every line written (with the real prefix), so tests can check texts.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "kern/logger.h"

class capture_logger_t : public if_logger_t {
 public:
  explicit capture_logger_t(int level = lvl_debug3) : previous_(global_logger) {
    set_level(level);
    global_logger = this;
  }
  ~capture_logger_t() override { global_logger = previous_; }

  int output(const char* text) override {
    std::lock_guard<std::mutex> guard(lock_);
    lines_.emplace_back(text);
    return static_cast<int>(lines_.back().size());
  }

  // The lines written so far, each without the prefix.
  std::vector<std::string> messages() const {
    std::lock_guard<std::mutex> guard(lock_);
    std::vector<std::string> out;
    for (const std::string& line : lines_) out.push_back(strip_prefix(line));
    return out;
  }
  std::vector<std::string> lines() const {
    std::lock_guard<std::mutex> guard(lock_);
    return lines_;
  }
  bool contains(const std::string& message) const {
    for (const std::string& m : messages()) {
      if (m == message) return true;
    }
    return false;
  }
  void clear() {
    std::lock_guard<std::mutex> guard(lock_);
    lines_.clear();
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
  if_logger_t* previous_;
  mutable std::mutex lock_;
  std::vector<std::string> lines_;
};
