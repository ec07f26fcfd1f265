// The three kinds of data buffers: a taken-over string, a taken-over request
// queue, and a received input buffer.
#include "net2/stream/buffer.h"

#include <algorithm>
#include <atomic>
#include <utility>

#include "net2/request_queue.h"

namespace net2::stream {

namespace {

std::atomic<int64_t> string_buffer_bytes{0};

class string_buffer final : public data_buffer {
 public:
  explicit string_buffer(std::string& data) : data_(std::move(data)) {
    data.clear();
    string_buffer_bytes.fetch_add(static_cast<int64_t>(data_.size()));
  }
  ~string_buffer() override { string_buffer_bytes.fetch_sub(static_cast<int64_t>(data_.size())); }
  uint64_t size() const override { return data_.size(); }

 protected:
  data_block piece(uint64_t index) const override {
    if (index != 0 || data_.empty()) return {};
    return {data_.size(), data_.data(), shared_from_this()};
  }

 private:
  std::string data_;
};

class request_buffer final : public data_buffer {
 public:
  explicit request_buffer(request_queue& queue) { queue_.push_back(queue); }
  uint64_t size() const override { return queue_.bytes(); }
  void mark_delivered() override { queue_.set_all_done(); }

 protected:
  data_block piece(uint64_t index) const override {
    uint64_t i = 0;
    for (const auto& item : queue_.items()) {
      if (item->size() == 0) continue;  // an empty piece would read as the end
      if (i++ == index) return {item->size(), item->data(), shared_from_this()};
    }
    return {};
  }

 private:
  request_queue queue_;
};

class shbuffer_buffer final : public data_buffer {
 public:
  shbuffer_buffer(ip::sh_buffer buffer, uint64_t received)
      : buffer_(std::move(buffer)), received_(buffer_ ? std::min(received, buffer_->capacity()) : 0) {}
  uint64_t size() const override { return received_; }

 protected:
  data_block piece(uint64_t index) const override {
    if (index != 0 || received_ == 0) return {};
    return {received_, buffer_->data(), buffer_};
  }

 private:
  ip::sh_buffer buffer_;
  uint64_t received_;
};

}  // namespace

data_block data_buffer::next() {
  data_block block = piece(cursor_);
  if (block.size != 0) ++cursor_;
  return block;
}

void data_buffer::dump(std::string& out, uint64_t limit) const {
  out.clear();
  const uint64_t wanted = limit == 0 ? size() : std::min(limit, size());
  for (uint64_t i = 0; out.size() < wanted; ++i) {
    const data_block block = piece(i);
    if (block.size == 0) break;
    out.append(block.data, std::min<uint64_t>(block.size, wanted - out.size()));
  }
}

shared_data data_buffer::take(std::string& data) { return std::make_shared<string_buffer>(data); }

shared_data data_buffer::take(request_queue& queue) { return std::make_shared<request_buffer>(queue); }

shared_data data_buffer::create(const ip::sh_buffer& buffer, uint64_t received) {
  return std::make_shared<shbuffer_buffer>(buffer, received);
}

int64_t data_buffer::string_bytes() { return string_buffer_bytes.load(); }

}  // namespace net2::stream
