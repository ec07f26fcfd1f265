// Gathering and acknowledging the output queue.
#include "net2/stream/socket_queue.h"

#include <algorithm>

#include "kern/exceptions.h"

namespace net2::stream {

void socket_queue::append(const shared_data& data) {
  if (!data) return;
  item_t item;
  item.data = data;
  // The blocks are collected once, without the buffer's own cursor: other
  // sockets and the buffer's holder may be reading the same buffer.
  for (uint64_t i = 0;; ++i) {
    data_block block = data->block_at(i);
    if (block.size == 0) break;
    item.blocks.push_back(std::move(block));
  }
  if (item.blocks.empty()) {
    data->mark_delivered();  // nothing to write
    return;
  }
  items_.push_back(std::move(item));
}

uint64_t socket_queue::prepare(std::vector<boost::asio::const_buffer>& out) const {
  out.clear();
  uint64_t total = 0;
  for (const item_t& item : items_) {
    for (size_t b = item.block; b < item.blocks.size(); ++b) {
      if (limit_ != 0 && total >= limit_) return total;
      const data_block& block = item.blocks[b];
      const uint64_t skip = b == item.block ? item.offset : 0;
      uint64_t piece = block.size - skip;
      if (limit_ != 0) piece = std::min(piece, limit_);
      out.emplace_back(block.data + skip, static_cast<size_t>(piece));
      total += piece;
    }
  }
  return total;
}

void socket_queue::acknowledge(uint64_t written) {
  while (written != 0) {
    if (items_.empty()) KERN_THROW(BUG_exception, "socket output queue corrupt");
    item_t& item = items_.front();
    const uint64_t left_in_block = item.blocks[item.block].size - item.offset;
    if (written < left_in_block) {
      item.offset += written;
      return;
    }
    written -= left_in_block;
    item.offset = 0;
    if (++item.block == item.blocks.size()) {
      item.data->mark_delivered();
      items_.pop_front();
    }
  }
}

uint32_t socket_queue::block_count() const {
  size_t count = 0;
  for (const item_t& item : items_) count += item.blocks.size() - item.block;
  return static_cast<uint32_t>(count);
}

uint64_t socket_queue::byte_count() const {
  uint64_t total = 0;
  for (const item_t& item : items_) {
    for (size_t b = item.block; b < item.blocks.size(); ++b) total += item.blocks[b].size;
    total -= item.offset;
  }
  return total;
}

}  // namespace net2::stream
