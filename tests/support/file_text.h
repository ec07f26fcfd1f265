// Test helpers: a whole file's bytes, read or written at once (logs, records,
// registry files).
#pragma once

#include <fstream>
#include <sstream>
#include <string>

namespace test_support {

// The file's bytes; empty when it cannot be read.
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

}  // namespace test_support
