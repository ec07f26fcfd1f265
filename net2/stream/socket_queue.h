// The output queue of a stream socket: data items in send order, gathered
// into blocks of about the block limit and acknowledged as they are written.
#pragma once

#include <cstdint>
#include <deque>
#include <vector>

#include <boost/asio/buffer.hpp>

#include "net2/stream/buffer.h"

namespace net2::stream {

class socket_queue {
 public:
  // A limit of 0 puts no bound on a block.
  explicit socket_queue(uint64_t block_limit) : limit_(block_limit) {}

  void append(const shared_data& data);
  bool empty() const { return items_.empty(); }
  // Gathers pieces from the front while the total is below the limit; each
  // piece is at most the limit long. Returns the gathered byte count.
  uint64_t prepare(std::vector<boost::asio::const_buffer>& out) const;
  // Drops written bytes from the front; an item written completely leaves
  // the queue. More than is queued throws BUG_exception_shell_t ("socket
  // output queue corrupt").
  void acknowledge(uint64_t written);
  void clear() { items_.clear(); }

  uint32_t item_count() const { return static_cast<uint32_t>(items_.size()); }
  uint32_t block_count() const;
  uint64_t byte_count() const;

 private:
  struct item_t {
    shared_data data;
    std::vector<data_block> blocks;
    size_t block = 0;     // first block not yet written completely
    uint64_t offset = 0;  // bytes of that block already written
  };
  std::deque<item_t> items_;
  uint64_t limit_;
};

}  // namespace net2::stream
