// Data buffers, request queues, the output queue of the sockets and the TLS
// stub.
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "kern/exceptions.h"
#include "net2/debug_switches.h"
#include "net2/request_queue.h"
#include "net2/stream/buffer.h"
#include "net2/stream/socket_queue.h"
#include "net2/tls/ssl_engine.h"
#include "tests/support/capture_logger.h"

namespace {

using test_support::capture_logger_t;

using net2::request_queue;
using net2::stream::data_block;
using net2::stream::data_buffer;
using net2::stream::shared_data;

std::string read_all(const shared_data& data) {
  std::string all;
  data->seek_start();
  for (data_block block = data->next(); block.size != 0; block = data->next()) all.append(block.data, block.size);
  return all;
}

TEST(data_buffer, take_moves_the_string_and_yields_it_as_one_piece) {
  const int64_t before = data_buffer::string_bytes();
  std::string text = "PROTOCOL 1\r\n";
  shared_data data = data_buffer::take(text);
  EXPECT_TRUE(text.empty());
  EXPECT_EQ(data->size(), 12u);
  EXPECT_FALSE(data->is_signal());
  EXPECT_EQ(data_buffer::string_bytes() - before, 12);

  data_block first = data->next();
  EXPECT_EQ(std::string(first.data, first.size), "PROTOCOL 1\r\n");
  EXPECT_EQ(data->next().size, 0u);
  EXPECT_EQ(data->next().size, 0u);
  data->seek_start();
  EXPECT_EQ(data->next().size, 12u);

  // The block keeps the memory alive after the last handle has gone.
  data.reset();
  EXPECT_EQ(std::string(first.data, first.size), "PROTOCOL 1\r\n");
  first = data_block{};
  EXPECT_EQ(data_buffer::string_bytes(), before);
}

TEST(data_buffer, take_does_not_copy_a_heap_string) {
  std::string text(4096, 'x');
  const char* original = text.data();
  shared_data data = data_buffer::take(text);
  EXPECT_EQ(data->next().data, original);
}

TEST(data_buffer, empty_string_buffer_ends_at_once) {
  std::string empty;
  shared_data data = data_buffer::take(empty);
  EXPECT_EQ(data->size(), 0u);
  EXPECT_EQ(data->next().size, 0u);
  std::string out = "stale";
  data->dump(out, 0);
  EXPECT_EQ(out, "");
}

TEST(data_buffer, dump_copies_all_or_at_most_the_limit) {
  std::string text = "0123456789";
  shared_data data = data_buffer::take(text);
  std::string out;
  data->dump(out, 0);
  EXPECT_EQ(out, "0123456789");
  data->dump(out, 100);
  EXPECT_EQ(out, "0123456789");
  data->dump(out, 4);
  EXPECT_EQ(out, "0123");
  // dump leaves the reading position alone.
  EXPECT_EQ(read_all(data), "0123456789");
}

TEST(data_buffer, received_block_holds_only_the_bytes_received) {
  net2::ip::sh_buffer buffer = net2::ip::make_input_buffer(16);
  std::memcpy(buffer->data(), "abcdef", 6);
  shared_data data = data_buffer::create(buffer, 6);
  EXPECT_EQ(data->size(), 6u);
  EXPECT_EQ(read_all(data), "abcdef");
  // More than the buffer holds is cut to its capacity, never read beyond it.
  EXPECT_EQ(data_buffer::create(buffer, 100)->size(), 16u);
  EXPECT_EQ(data_buffer::create(buffer, 0)->next().size, 0u);
}

TEST(request_queue, requests_complete_in_order_and_report_delivery) {
  std::vector<std::string> events;
  const char first[] = "first";
  std::string second = "second";
  {
    request_queue queue;
    queue.push_back(request_queue::request::wrap_const_buf_ssl(first, 5, [&](bool ok) {
      events.push_back(std::string("first:") + (ok ? "done" : "dropped"));
    }));
    queue.push_back(request_queue::request::take_string(second, [&](bool ok) {
      events.push_back(std::string("second:") + (ok ? "done" : "dropped"));
    }));
    EXPECT_TRUE(second.empty());
    EXPECT_EQ(request_queue::request::live_count(request_queue::request::const_buf_ssl), 1);
    EXPECT_EQ(request_queue::request::live_bytes(request_queue::request::owned_string), 6);

    request_queue other;
    other.push_back(queue);
    EXPECT_TRUE(queue.empty());
    EXPECT_EQ(other.count(), 2u);
    EXPECT_EQ(other.bytes(), 11u);
    EXPECT_TRUE(events.empty());

    shared_data data = data_buffer::take(other);
    EXPECT_TRUE(other.empty());
    EXPECT_EQ(data->size(), 11u);
    EXPECT_EQ(read_all(data), "firstsecond");
    std::string out;
    data->dump(out, 7);
    EXPECT_EQ(out, "firstse");
    data->mark_delivered();
  }
  EXPECT_EQ(events, (std::vector<std::string>{"first:done", "second:done"}));
  EXPECT_EQ(request_queue::request::live_count(request_queue::request::const_buf_ssl), 0);
  EXPECT_EQ(request_queue::request::live_bytes(request_queue::request::owned_string), 0);
}

TEST(request_queue, clear_runs_callbacks_and_logs_a_failing_one) {
  capture_logger_t log;
  std::vector<int> order;
  request_queue queue;
  const char bytes[] = "xyz";
  queue.push_back(request_queue::request::wrap_const_buf_ssl(bytes, 3, [&](bool ok) {
    order.push_back(1);
    EXPECT_FALSE(ok);
    throw std::runtime_error("boom");
  }));
  queue.push_back(request_queue::request::wrap_const_buf_ssl(bytes, 3, [&](bool) { order.push_back(2); }));
  queue.clear();
  EXPECT_TRUE(queue.empty());
  EXPECT_EQ(order, (std::vector<int>{1, 2}));
  EXPECT_TRUE(log.has("[Request] Request callback handler has failed because of", lvl_error)) << log.dump();
  EXPECT_TRUE(log.has("  boom", lvl_error)) << log.dump();
}

TEST(request_queue, debug_switch_logs_construction_and_destruction) {
  capture_logger_t log;
  net2::debug::set_request(true);
  {
    const char bytes[] = "abc";
    auto item = request_queue::request::wrap_const_buf_ssl(bytes, 3, {});
  }
  net2::debug::set_request(false);
  EXPECT_EQ(log.count("[DebugReqest] ", lvl_trace0), 2u) << log.dump();
  EXPECT_TRUE(log.has(":3 'const_buf_ssl'", lvl_trace0)) << log.dump();
  EXPECT_TRUE(log.has(": ctor ", lvl_trace0)) << log.dump();
  EXPECT_TRUE(log.has(": dtor ", lvl_trace0)) << log.dump();
  log.clear();
  {
    const char bytes[] = "abc";
    auto item = request_queue::request::wrap_const_buf_ssl(bytes, 3, {});
  }
  EXPECT_FALSE(log.has("[DebugReqest]")) << log.dump();
}

shared_data text_data(const std::string& text) {
  std::string copy = text;
  return data_buffer::take(copy);
}

std::string joined(const std::vector<boost::asio::const_buffer>& buffers) {
  std::string all;
  for (const auto& b : buffers) all.append(static_cast<const char*>(b.data()), b.size());
  return all;
}

TEST(socket_queue, gathers_up_to_about_the_limit_and_acknowledges_partial_writes) {
  net2::stream::socket_queue queue(8);
  queue.append(text_data("abc"));
  queue.append(text_data("defghijklmnop"));  // 13 bytes: one piece of at most 8
  queue.append(text_data("qr"));
  std::string empty;
  queue.append(data_buffer::take(empty));  // nothing to write: not queued
  EXPECT_EQ(queue.item_count(), 3u);
  EXPECT_EQ(queue.byte_count(), 18u);

  std::vector<boost::asio::const_buffer> block;
  EXPECT_EQ(queue.prepare(block), 11u);  // 3 + 8: the total passed the limit
  EXPECT_EQ(joined(block), "abcdefghijk");

  queue.acknowledge(5);  // "abc" and "de"
  EXPECT_EQ(queue.item_count(), 2u);
  queue.prepare(block);
  EXPECT_EQ(joined(block), "fghijklm");
  queue.acknowledge(11);  // the rest of the long item
  EXPECT_EQ(queue.item_count(), 1u);
  queue.prepare(block);
  EXPECT_EQ(joined(block), "qr");

  try {
    queue.acknowledge(3);
    ADD_FAILURE() << "acknowledging more than was queued must fail";
  } catch (const BUG_exception_shell_t& e) {
    EXPECT_STREQ(e.what(), "socket output queue corrupt");
  }
}

TEST(socket_queue, reads_a_buffer_without_moving_its_read_position) {
  // One buffer of two pieces, half read by its holder, queued on two sockets.
  request_queue requests;
  const char first[] = "first", second[] = "second";
  requests.push_back(request_queue::request::wrap_const_buf_ssl(first, 5, [](bool) {}));
  requests.push_back(request_queue::request::wrap_const_buf_ssl(second, 6, [](bool) {}));
  shared_data data = data_buffer::take(requests);
  EXPECT_EQ(data->next().size, 5u);
  net2::stream::socket_queue one(0), two(0);
  one.append(data);
  two.append(data);
  std::vector<boost::asio::const_buffer> block;
  one.prepare(block);
  EXPECT_EQ(joined(block), "firstsecond");
  two.prepare(block);
  EXPECT_EQ(joined(block), "firstsecond");
  const data_block rest = data->next();
  EXPECT_EQ(std::string(rest.data, rest.size), "second") << "the holder's place in the buffer moved";
}

TEST(socket_queue, tells_a_request_buffer_when_it_has_been_written) {
  bool delivered = false;
  request_queue requests;
  const char bytes[] = "hello";
  requests.push_back(request_queue::request::wrap_const_buf_ssl(bytes, 5, [&](bool ok) { delivered = ok; }));
  {
    net2::stream::socket_queue queue(0);
    queue.append(data_buffer::take(requests));
    std::vector<boost::asio::const_buffer> block;
    EXPECT_EQ(queue.prepare(block), 5u);
    queue.acknowledge(5);
    EXPECT_TRUE(queue.empty());
  }
  EXPECT_TRUE(delivered);
}

TEST(ssl_engine, every_operation_fails_without_tls) {
  net2::tls::shared_engine engine = net2::tls::make_engine();
  request_queue a, b, c;
  const auto expect_disabled = [](auto&& call) {
    try {
      call();
      ADD_FAILURE() << "the TLS stub must fail";
    } catch (const BUG_exception_shell_t& e) {
      EXPECT_STREQ(e.what(), "SSL is not enabled in this build");
    }
  };
  expect_disabled([&] { engine->handshake(); });
  expect_disabled([&] { engine->encrypt(a, b); });
  expect_disabled([&] { engine->decrypt(a, b, c); });
  expect_disabled([&] { engine->handshake_done(); });
  expect_disabled([&] { engine->pending_send("test"); });
}

}  // namespace
