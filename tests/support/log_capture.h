// Test helper: replaces the process logger for its lifetime and keeps every
// message (without the line prefix) so tests can look for exact texts.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "kern/logger.h"
#include "kern/strings.h"

namespace shv_test {

class log_capture_t : public if_logger_t {
 public:
  explicit log_capture_t(int level = lvl_debug3) : previous_(global_logger) {
    set_level(level);
    global_logger = this;
  }
  ~log_capture_t() override { global_logger = previous_; }
  log_capture_t(const log_capture_t&) = delete;
  log_capture_t& operator=(const log_capture_t&) = delete;

  void write(int level, const char* format, va_list args) override {
    if (!is_enabled(level)) return;
    std::string text;
    string_vprintf(text, format, args);
    std::lock_guard<std::mutex> guard(mutex_);
    lines_.push_back({level, std::move(text)});
  }
  int output(const char*) override { return 0; }

  struct line_t {
    int level;
    std::string text;
  };
  std::vector<line_t> lines() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return lines_;
  }
  // Lines containing needle (at the given level, or any level when -1).
  size_t count(const std::string& needle, int level = -1) const {
    std::lock_guard<std::mutex> guard(mutex_);
    size_t n = 0;
    for (const line_t& line : lines_) {
      if ((level < 0 || line.level == level) && line.text.find(needle) != std::string::npos) ++n;
    }
    return n;
  }
  bool has(const std::string& needle, int level = -1) const { return count(needle, level) != 0; }
  void clear() {
    std::lock_guard<std::mutex> guard(mutex_);
    lines_.clear();
  }
  std::string dump() const {
    std::lock_guard<std::mutex> guard(mutex_);
    std::string all;
    for (const line_t& line : lines_) {
      all += std::to_string(line.level) + ": " + line.text + "\n";
    }
    return all;
  }

 private:
  if_logger_t* previous_;
  mutable std::mutex mutex_;
  std::vector<line_t> lines_;
};

}  // namespace shv_test
