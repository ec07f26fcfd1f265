// Shared, read-only data buffers as sockets and applications exchange them:
// the block view data_block, the buffer family data_buffer and its handle
// shared_data.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "kern/types.h"
#include "net2/input_buffer.h"

namespace net2 {
class request_queue;
}  // namespace net2

namespace net2::stream {

// One contiguous piece of a buffer; keeper holds the memory alive. Size 0
// marks the end of a buffer.
struct data_block {
  uint64_t size = 0;
  const char* data = nullptr;
  std::shared_ptr<const void> keeper;
};

class data_buffer;
typedef std::shared_ptr<data_buffer> shared_data;

class data_buffer : public virtual if_root_t, public std::enable_shared_from_this<data_buffer> {
 public:
  // The next piece in order; size 0 once every piece has been returned.
  virtual data_block next();
  virtual uint64_t size() const = 0;
  virtual bool is_signal() const { return false; }
  // Rewinds next() to the first piece.
  virtual void seek_start() { cursor_ = 0; }
  // Copies the first bytes into out: all when limit is 0, else at most limit.
  virtual void dump(std::string& out, uint64_t limit) const;

  // Told by a sender once every byte of the buffer has reached the wire.
  virtual void mark_delivered() {}

  // The piece at index (size 0 past the end) without touching the cursor:
  // senders read this way, so one buffer can go out on several sockets at
  // once while its holder reads it with next().
  data_block block_at(uint64_t index) const { return piece(index); }

  // The caller's string is left empty: its contents move into the buffer.
  static shared_data take(std::string& data);
  // The caller's queue is left empty.
  static shared_data take(request_queue& queue);
  // The first received bytes of an input buffer.
  static shared_data create(const ip::sh_buffer& buffer, uint64_t received);

  // Diagnostics: bytes held by string buffers in the process.
  static int64_t string_bytes();

 protected:
  // The piece at index without moving the cursor; size 0 past the end.
  virtual data_block piece(uint64_t index) const = 0;

 private:
  uint64_t cursor_ = 0;
};

}  // namespace net2::stream
