// net2::ip::sh_buffer: a shared, fixed-size block of memory that one receive
// fills.
#pragma once

#include <cstdint>
#include <memory>

namespace net2::ip {

class input_buffer {
 public:
  explicit input_buffer(uint64_t capacity)
      : data_(std::make_unique_for_overwrite<char[]>(capacity)), capacity_(capacity) {}
  char* data() { return data_.get(); }
  const char* data() const { return data_.get(); }
  uint64_t capacity() const { return capacity_; }

 private:
  std::unique_ptr<char[]> data_;
  uint64_t capacity_;
};

typedef std::shared_ptr<input_buffer> sh_buffer;

inline sh_buffer make_input_buffer(uint64_t capacity) {
  return std::make_shared<input_buffer>(capacity);
}

}  // namespace net2::ip
