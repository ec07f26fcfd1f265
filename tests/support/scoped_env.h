// Test helper: one environment variable set for an object's lifetime, its old
// value (or its absence) restored afterwards.
#pragma once

#include <cstdlib>
#include <string>

namespace test_support {

class scoped_env_t {
 public:
  scoped_env_t(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) {
      old_ = old;
      had_ = true;
    }
    setenv(name, value.c_str(), 1);
  }
  ~scoped_env_t() {
    if (had_)
      setenv(name_.c_str(), old_.c_str(), 1);
    else
      unsetenv(name_.c_str());
  }
  scoped_env_t(const scoped_env_t&) = delete;
  scoped_env_t& operator=(const scoped_env_t&) = delete;

 private:
  std::string name_;
  std::string old_;
  bool had_ = false;
};

}  // namespace test_support
