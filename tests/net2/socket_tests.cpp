// Stream sockets against loopback peers: connect failure, reading in blocks,
// ordered sending, the disconnect report and its callbacks, closing from any
// thread or callback, and the bounds on what one wake-up reads and on output
// not yet sent.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <boost/asio/post.hpp>
#include <boost/asio/write.hpp>
#include <gtest/gtest.h>

#include "net2/debug_switches.h"
#include "net2/pool.h"
#include "net2/stream/socket.h"
#include "tests/net2/loopback_peer.h"
#include "tests/support/latch.h"
#include "tests/support/capture_logger.h"
#include "tests/support/refusing_port.h"

namespace {

using test_support::capture_logger_t;

using namespace std::chrono_literals;
using net2::stream::data_block;
using net2::stream::data_buffer;
using net2::stream::data_socket;
using net2::stream::shared_data;
using test_support::counter_t;
using test_support::eventually;
using test_support::loopback_peer_t;

std::string text_of(const shared_data& data) {
  std::string all;
  for (data_block block = data->next(); block.size != 0; block = data->next()) all.append(block.data, block.size);
  return all;
}

shared_data data_of(std::string text) { return data_buffer::take(text); }

std::string pattern(size_t size, unsigned seed) {
  std::string data(size, '\0');
  for (size_t i = 0; i < size; ++i) data[i] = static_cast<char>((i * 7 + seed) % 251);
  return data;
}

std::string spec(uint16_t port) { return "tcp/127.0.0.1:" + std::to_string(port); }

// Every handler of a socket has run once the socket is gone: drops the
// handle and waits for that.
bool released(data_socket::shared& socket) {
  std::weak_ptr<data_socket> weak = socket;
  socket.reset();
  return eventually([&] { return weak.expired(); });
}

// What one connection saw, filled from the pool threads.
struct observer_t {
  counter_t connected;
  counter_t disconnected;
  counter_t received_calls;
  std::mutex mutex;
  std::string received;
  size_t largest_block = 0;
  data_socket::shared handle;

  data_socket::connected_cb on_connected() {
    return [this](data_socket::shared socket) {
      {
        std::lock_guard<std::mutex> guard(mutex);
        handle = std::move(socket);
      }
      connected.add();
      return true;
    };
  }
  data_socket::recv_cb on_recv(bool go_on = true) {
    return [this, go_on](shared_data data) {
      {
        std::lock_guard<std::mutex> guard(mutex);
        largest_block = std::max<size_t>(largest_block, data->size());
        received += text_of(data);
      }
      received_calls.add();
      return go_on;
    };
  }
  data_socket::disconnected_cb on_disconnected() {
    return [this] { disconnected.add(); };
  }
  std::string text() {
    std::lock_guard<std::mutex> guard(mutex);
    return received;
  }
  data_socket::shared create(net2::pool& p, uint16_t port, uint64_t read_block = 1024, uint64_t limit = 8192) {
    return data_socket::tcp(p.service(), spec(port), 1, on_connected(), on_recv(), on_disconnected(), "TEST",
                            read_block, limit);
  }
};

TEST(data_socket, refused_connection_reports_one_error_and_one_disconnection) {
  capture_logger_t log;
  observer_t seen;
  const test_support::refusing_port_t refusing;
  const uint16_t port = refusing.port();
  {
    net2::pool p(2, "sock", "SocketPool");
    data_socket::shared socket = seen.create(p, port);
    ASSERT_TRUE(seen.disconnected.wait_for(1));
    EXPECT_EQ(socket->description(), "unconnected");
    socket->send(data_of("dropped"));
    EXPECT_EQ(socket->bytes_sent(), 0u);
    ASSERT_TRUE(released(socket));  // a wrong second report would have come by now
    p.stop();
  }
  EXPECT_EQ(seen.connected.value(), 0);
  EXPECT_EQ(seen.disconnected.value(), 1);
  EXPECT_EQ(log.count("Unable to connect to remote because of", lvl_error), 1u) << log.dump();
  EXPECT_TRUE(log.has("[TEST] unconnected: Unable to connect to remote because of ", lvl_error)) << log.dump();
}

TEST(data_socket, large_burst_arrives_in_order_in_blocks_of_at_most_the_read_size) {
  capture_logger_t log;
  const std::string burst = pattern(100 * 1024, 3);
  loopback_peer_t peer(1, [&](boost::asio::ip::tcp::socket& s) { loopback_peer_t::write_all(s, burst); });
  observer_t seen;
  {
    net2::pool p(2, "sock", "SocketPool");
    data_socket::shared socket = seen.create(p, peer.port());
    ASSERT_TRUE(seen.disconnected.wait_for(1));
    EXPECT_EQ(socket->bytes_received(), burst.size());
    p.stop();
  }
  EXPECT_EQ(seen.connected.value(), 1);
  EXPECT_EQ(seen.text().size(), burst.size());
  EXPECT_TRUE(seen.text() == burst) << "bytes out of order or altered";
  EXPECT_LE(seen.largest_block, 1024u);
  EXPECT_GE(seen.received_calls.value(), 100);
  // The peer's close is the end of the stream, not an error.
  EXPECT_EQ(log.count("", lvl_error), 0u) << log.dump();
  EXPECT_TRUE(log.has(": connection rejected", lvl_debug3)) << log.dump();
}

TEST(data_socket, connected_socket_describes_itself_and_sets_its_options) {
  capture_logger_t log;
  loopback_peer_t peer(1, [](boost::asio::ip::tcp::socket& s) { loopback_peer_t::read_until_eof(s); });
  observer_t seen;
  net2::pool p(1, "sock", "SocketPool");
  data_socket::shared socket = seen.create(p, peer.port());
  ASSERT_TRUE(seen.connected.wait_for(1));
  const std::string remote = "127.0.0.1:" + std::to_string(peer.port());
  EXPECT_EQ(socket->description(), "tcp://" + remote);
  EXPECT_EQ(socket->remote_endpoint(false), remote);
  EXPECT_EQ(socket->local_endpoint(false).rfind("127.0.0.1:", 0), 0u);
  EXPECT_FALSE(socket->is_secure());
  EXPECT_EQ(socket->used_cipher(), "");
  EXPECT_TRUE(seen.handle == socket);
  EXPECT_TRUE(log.has("[Net2] tcp://" + remote + ": set non-blocking socket mode", lvl_debug3)) << log.dump();
  EXPECT_TRUE(log.has("[Net2] tcp://" + remote + ": switch off Nagle's algorithm", lvl_debug3)) << log.dump();
  socket->close();
  ASSERT_TRUE(seen.disconnected.wait_for(1));
  p.stop();
  seen.handle.reset();
}

TEST(data_socket, back_to_back_sends_reach_the_peer_in_call_order) {
  std::vector<std::string> parts = {pattern(70000, 1), pattern(30000, 2)};
  for (int i = 0; i < 50; ++i) parts.push_back("line " + std::to_string(i) + "\n");
  std::string expected;
  for (const std::string& part : parts) expected += part;
  std::string got;
  loopback_peer_t peer(1, [&](boost::asio::ip::tcp::socket& s) { got = loopback_peer_t::read_exactly(s, expected.size()); });
  observer_t seen;
  net2::pool p(2, "sock", "SocketPool");
  data_socket::shared socket = seen.create(p, peer.port());
  ASSERT_TRUE(seen.connected.wait_for(1));
  for (const std::string& part : parts) socket->send(data_of(part));
  peer.wait();
  EXPECT_EQ(got.size(), expected.size());
  EXPECT_TRUE(got == expected) << "data interleaved or reordered";
  EXPECT_TRUE(eventually([&] { return socket->bytes_sent() == expected.size(); })) << socket->bytes_sent();
  socket->close();
  p.stop();
  seen.handle.reset();
}

TEST(data_socket, data_sent_before_the_connection_is_established_is_dropped) {
  std::string got;
  loopback_peer_t peer(1, [&](boost::asio::ip::tcp::socket& s) { got = loopback_peer_t::read_line(s); });
  observer_t seen;
  net2::pool p(1, "sock", "SocketPool");
  // The only pool thread is held, so the connection cannot complete yet.
  test_support::latch_t release(1);
  boost::asio::post(p.service(), [&] { release.wait(); });
  data_socket::shared socket = seen.create(p, peer.port());
  socket->send(data_of("early\n"));
  release.count_down();
  ASSERT_TRUE(seen.connected.wait_for(1));
  socket->send(data_of("late\n"));
  peer.wait();
  EXPECT_EQ(got, "late\n");
  socket->close();
  p.stop();
  seen.handle.reset();
}

TEST(data_socket, receive_handler_returning_false_gets_nothing_more) {
  // One write, read in blocks of three: "two" is there already when the
  // handler refuses "one".
  loopback_peer_t peer(1, [](boost::asio::ip::tcp::socket& s) {
    loopback_peer_t::write_all(s, "onetwo");
    loopback_peer_t::read_until_eof(s);
  });
  observer_t seen;
  auto token = std::make_shared<int>(7);
  net2::pool p(2, "sock", "SocketPool");
  data_socket::shared socket =
      data_socket::tcp(p.service(), spec(peer.port()), 1, seen.on_connected(),
                       [&seen, token](shared_data data) { return seen.on_recv(false)(std::move(data)); },
                       seen.on_disconnected(), "TEST", 3, 8192);
  ASSERT_TRUE(seen.disconnected.wait_for(1));
  // After the report the socket sends nothing more.
  socket->send(data_of("ignored"));
  EXPECT_EQ(socket->bytes_sent(), 0u);
  // Every callback slot is emptied (on the pool thread, just after the
  // report): only our own reference is left.
  EXPECT_TRUE(eventually([&] { return token.use_count() == 1; })) << token.use_count();
  seen.handle.reset();
  ASSERT_TRUE(released(socket));  // nothing of it is pending any more
  EXPECT_EQ(seen.received_calls.value(), 1);
  EXPECT_EQ(seen.text(), "one");
  EXPECT_EQ(seen.disconnected.value(), 1);
  p.stop();
}

TEST(data_socket, throwing_receive_handler_is_logged_and_ends_the_connection) {
  capture_logger_t log;
  loopback_peer_t peer(1, [](boost::asio::ip::tcp::socket& s) {
    loopback_peer_t::write_all(s, "data");
    loopback_peer_t::read_until_eof(s);
  });
  observer_t seen;
  net2::pool p(2, "sock", "SocketPool");
  data_socket::shared socket = data_socket::tcp(
      p.service(), spec(peer.port()), 1, seen.on_connected(),
      [](shared_data) -> bool { throw std::runtime_error("bad data"); }, seen.on_disconnected(), "TEST", 1024, 8192);
  ASSERT_TRUE(seen.disconnected.wait_for(1));
  const std::string prefix = "[TEST] tcp://127.0.0.1:" + std::to_string(peer.port()) +
                             ": unable to execute application receive handler because of ";
  EXPECT_TRUE(log.has(prefix, lvl_error)) << log.dump();
  EXPECT_TRUE(log.has("  bad data", lvl_error)) << log.dump();
  socket->close();
  p.stop();
  EXPECT_EQ(seen.disconnected.value(), 1);
  seen.handle.reset();
}

TEST(data_socket, peer_closing_ends_in_one_disconnection_and_handler_failures_are_logged) {
  capture_logger_t log;
  net2::debug::set_transport_layer(true);
  loopback_peer_t peer(1, [](boost::asio::ip::tcp::socket&) {});
  counter_t disconnected;
  net2::pool p(2, "sock", "SocketPool");
  data_socket::shared socket = data_socket::tcp(
      p.service(), spec(peer.port()), 1, {}, {},
      [&] {
        disconnected.add();
        throw std::runtime_error("handler broke");
      },
      "TEST", 1024, 8192);
  ASSERT_TRUE(disconnected.wait_for(1));
  ASSERT_TRUE(released(socket));  // a wrong second report would have come by now
  p.stop();
  EXPECT_EQ(disconnected.value(), 1);
  net2::debug::set_transport_layer(false);
  EXPECT_TRUE(log.has(": unable to execute application disconnect handler because of ", lvl_error)) << log.dump();
  EXPECT_EQ(log.count("Unable to connect", lvl_error), 0u);
  // At the end of the stream nothing is available: the query's anomaly line.
  EXPECT_TRUE(log.has("[DebugTransport] available_input: zero bytes number", lvl_trace0)) << log.dump();
}

TEST(data_socket, many_sockets_share_one_pool) {
  constexpr int count = 16;
  loopback_peer_t peer(count, [](boost::asio::ip::tcp::socket& s) {
    const std::string line = loopback_peer_t::read_line(s);
    loopback_peer_t::write_all(s, "echo " + line);
  });
  std::vector<std::unique_ptr<observer_t>> seen;
  std::vector<data_socket::shared> sockets;
  net2::pool p(2, "sock", "SocketPool");
  for (int i = 0; i < count; ++i) {
    seen.push_back(std::make_unique<observer_t>());
    observer_t& one = *seen.back();
    sockets.push_back(data_socket::tcp(
        p.service(), spec(peer.port()), 1,
        [i](data_socket::shared s) {
          s->send(data_of("hello " + std::to_string(i) + "\n"));
          return true;
        },
        one.on_recv(), one.on_disconnected(), "TEST", 1024, 8192));
  }
  for (int i = 0; i < count; ++i) {
    ASSERT_TRUE(seen[i]->disconnected.wait_for(1)) << i;
    EXPECT_EQ(seen[i]->text(), "echo hello " + std::to_string(i) + "\n");
  }
  p.stop();
}

TEST(data_socket, sent_handler_sees_every_write_and_can_abort) {
  capture_logger_t log;
  net2::debug::set_stream_socket(true);
  net2::debug::set_stream_socket_deep(true);
  loopback_peer_t peer(1, [](boost::asio::ip::tcp::socket& s) { loopback_peer_t::read_until_eof(s); });
  observer_t seen;
  counter_t writes;
  uint16_t port = peer.port();
  {
    net2::pool p(1, "sock", "SocketPool");
    data_socket::shared socket = seen.create(p, port);
    socket->set_sent_cb([&](int64_t written) {
      EXPECT_EQ(written, 5);
      writes.add();
      return false;
    });
    ASSERT_TRUE(seen.connected.wait_for(1));
    socket->send(data_of("first"));
    ASSERT_TRUE(seen.disconnected.wait_for(1));
    socket->send(data_of("second"));
    p.stop();
    EXPECT_EQ(writes.value(), 1);
    EXPECT_EQ(socket->bytes_sent(), 5u);
    seen.handle.reset();
  }
  // The last handle or pending handler has gone with the pool.
  net2::debug::set_stream_socket(false);
  net2::debug::set_stream_socket_deep(false);
  EXPECT_TRUE(log.has("[STREAM] TCP data socket create @ '" + spec(port) + "'", lvl_notice)) << log.dump();
  EXPECT_TRUE(log.has("[STREAM] TCP data socket create @ '127.0.0.1' '" + std::to_string(port) + "'", lvl_notice));
  EXPECT_TRUE(log.has(": send data 5 bytes", lvl_notice)) << log.dump();
  EXPECT_TRUE(log.has(": send_later data 5 bytes qlen=1:1 (first)", lvl_notice)) << log.dump();
  EXPECT_TRUE(log.has(": prepare plain end queue=1 bufs=1 data=5", lvl_notice)) << log.dump();
  EXPECT_TRUE(log.has(": data socket aborted by callback", lvl_notice)) << log.dump();
  EXPECT_TRUE(log.has(": on_disconnect cb=1", lvl_notice)) << log.dump();
  EXPECT_TRUE(log.has(": process_disconnect cb=1", lvl_notice)) << log.dump();
  EXPECT_TRUE(log.has(": data socket implementation deleted (unopened)", lvl_notice)) << log.dump();
}

TEST(data_socket, handle_outliving_its_pool_stays_safe) {
  loopback_peer_t peer(1, [](boost::asio::ip::tcp::socket& s) { loopback_peer_t::read_until_eof(s); });
  observer_t seen;
  data_socket::shared kept;
  {
    net2::pool p(1, "sock", "SocketPool");
    kept = seen.create(p, peer.port());
    ASSERT_TRUE(seen.connected.wait_for(1));
  }
  // The pool and its service are gone: every call is a harmless no-op.
  kept->send(data_of("late"));
  EXPECT_EQ(kept->remote_endpoint(false), "<not_connected>");
  kept->shutdown();
  kept->close();
  seen.handle.reset();
  kept.reset();
  peer.wait();  // the peer saw the connection close
}

TEST(data_socket, ipv6_loopback_by_bracketed_address) {
  std::unique_ptr<loopback_peer_t> peer;
  try {
    peer = std::make_unique<loopback_peer_t>(
        1, [](boost::asio::ip::tcp::socket& s) { loopback_peer_t::write_all(s, loopback_peer_t::read_line(s)); }, "::1");
  } catch (const std::exception& e) {
    GTEST_SKIP() << "no IPv6 loopback here: " << e.what();
  }
  observer_t seen;
  net2::pool p(1, "sock", "SocketPool");
  data_socket::shared socket = data_socket::tcp(
      p.service(), "[::1]:" + std::to_string(peer->port()), 1,
      [](data_socket::shared s) {
        s->send(data_of("six\n"));
        return true;
      },
      seen.on_recv(), seen.on_disconnected(), "TEST", 1024, 8192);
  ASSERT_TRUE(seen.disconnected.wait_for(1));
  EXPECT_EQ(seen.text(), "six\n");
  EXPECT_EQ(socket->description(), "tcp://[::1]:" + std::to_string(peer->port()));
  p.stop();
}

// ---- Closing, and the bounds that keep a socket responsive --------------

// A socket whose callbacks hold its own handle, as applications' often do.
// The pool's only thread waits until the handle is in place.
class self_held_t {
 public:
  explicit self_held_t(net2::pool& p) { boost::asio::post(p.service(), [this] { created_.wait(); }); }
  // What the callbacks capture to reach their socket.
  std::shared_ptr<data_socket::shared> handle() const { return holder_; }
  // Puts the handle in place, keeps no share of it here, lets the pool run.
  data_socket::shared start(data_socket::shared socket) {
    *holder_ = socket;
    holder_.reset();
    created_.count_down();
    return socket;
  }

 private:
  std::shared_ptr<data_socket::shared> holder_ = std::make_shared<data_socket::shared>();
  test_support::latch_t created_{1};
};

TEST(data_socket, close_inside_a_callback_reports_once_and_frees_the_socket) {
  for (const bool in_connected : {true, false}) {
    SCOPED_TRACE(in_connected ? "close in the connected callback" : "close in the receive callback");
    loopback_peer_t peer(1, [](boost::asio::ip::tcp::socket& s) {
      loopback_peer_t::write_all(s, "hello");
      loopback_peer_t::read_until_eof(s);
    });
    counter_t disconnected;
    net2::pool p(1, "sock", "SocketPool");
    self_held_t self(p);
    data_socket::shared socket = self.start(data_socket::tcp(
        p.service(), spec(peer.port()), 1,
        [holder = self.handle(), in_connected](data_socket::shared) {
          if (in_connected) (*holder)->close();
          return true;
        },
        [holder = self.handle()](shared_data) {
          (*holder)->close();
          return true;
        },
        [&] { disconnected.add(); }, "TEST", 1024, 8192));
    ASSERT_TRUE(disconnected.wait_for(1));
    EXPECT_TRUE(released(socket)) << "the callbacks still hold the socket";
    p.stop();
    EXPECT_EQ(disconnected.value(), 1);
  }
}

TEST(data_socket, write_cut_short_by_our_own_close_is_no_error) {
  capture_logger_t log;
  // The peer takes the first byte, then nothing until the test is done.
  counter_t writing;
  test_support::latch_t done(1);
  loopback_peer_t peer(1, [&](boost::asio::ip::tcp::socket& s) {
    loopback_peer_t::read_exactly(s, 1);
    writing.add();
    done.wait();
    loopback_peer_t::read_until_eof(s);
  });
  observer_t seen;
  net2::pool p(1, "sock", "SocketPool");
  data_socket::shared socket = seen.create(p, peer.port(), 1024, 0);  // one write for everything
  ASSERT_TRUE(seen.connected.wait_for(1));
  // Far more than the connection can take at once: the write is still
  // running when the close comes.
  socket->send(data_of(std::string(32 << 20, 'x')));
  ASSERT_TRUE(writing.wait_for(1));
  socket->close();
  done.count_down();
  ASSERT_TRUE(seen.disconnected.wait_for(1));
  seen.handle.reset();
  ASSERT_TRUE(released(socket));
  p.stop();
  EXPECT_EQ(log.count("", lvl_error), 0u) << log.dump();
  EXPECT_TRUE(log.has(": sending cancelled", lvl_debug3)) << log.dump();
}

TEST(data_socket, output_not_sent_beyond_the_limit_closes_with_one_line) {
  capture_logger_t log(lvl_error);
  loopback_peer_t peer(1, [](boost::asio::ip::tcp::socket& s) { loopback_peer_t::read_until_eof(s); });
  observer_t seen;
  net2::pool p(1, "sock", "SocketPool");
  data_socket::shared socket = seen.create(p, peer.port());
  ASSERT_TRUE(seen.connected.wait_for(1));
  socket->set_unsent_limit(64 * 1024);
  // The only pool thread is held: nothing handed to send is written yet.
  test_support::latch_t release(1);
  boost::asio::post(p.service(), [&] { release.wait(); });
  for (int i = 0; i < 100; ++i) socket->send(data_of(std::string(1024, 'x')));
  release.count_down();
  ASSERT_TRUE(seen.disconnected.wait_for(1));
  seen.handle.reset();
  ASSERT_TRUE(released(socket));
  p.stop();
  EXPECT_EQ(seen.disconnected.value(), 1);
  ASSERT_EQ(log.count("", lvl_error), 1u) << log.dump();
  EXPECT_TRUE(log.has("[TEST] tcp://127.0.0.1:" + std::to_string(peer.port()) +
                      ": 65536 bytes not yet sent, closing the connection"))
      << log.dump();
}

// A peer that always has more to send: one wake-up must not drain it, or the
// sends and the close queued behind the read would wait for ever.
TEST(data_socket, a_peer_that_never_stops_writing_cannot_hold_sends_or_close) {
  constexpr size_t chunk = 16 * 1024;
  constexpr size_t total = 8u << 20;
  constexpr size_t ahead = 256 * 1024;  // the peer keeps this much on its way to us
  std::mutex mutex;
  std::condition_variable changed;
  size_t written = 0;
  bool peer_done = false;
  loopback_peer_t peer(1, [&](boost::asio::ip::tcp::socket& s) {
    const std::string data(chunk, 'f');
    boost::system::error_code error;
    for (size_t sent = 0; sent < total && !error; sent += chunk) {
      boost::asio::write(s, boost::asio::buffer(data), error);
      std::lock_guard<std::mutex> guard(mutex);
      if (!error) written += chunk;
      changed.notify_all();
    }
    std::lock_guard<std::mutex> guard(mutex);
    peer_done = true;
    changed.notify_all();
  });
  std::atomic<size_t> received{0};
  std::atomic<int> calls{0};
  std::atomic<int> calls_when_sent{-1};
  counter_t disconnected;
  net2::pool p(1, "sock", "SocketPool");
  self_held_t self(p);
  data_socket::shared socket = data_socket::tcp(
      p.service(), spec(peer.port()), 1, {},
      [&, holder = self.handle()](shared_data data) {
        received += data->size();
        if (calls.fetch_add(1) == 0) (*holder)->send(data_of("ping"));
        // Never let the socket run dry while the peer has more to send.
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait_for(lock, std::chrono::seconds(5), [&] { return peer_done || written >= received + ahead; });
        return true;
      },
      [&] { disconnected.add(); }, "TEST", 1024, 8192);
  socket->set_sent_cb([&](int64_t) {
    int none = -1;
    calls_when_sent.compare_exchange_strong(none, calls.load());
    return true;
  });
  self.start(socket);
  ASSERT_TRUE(eventually([&] { return calls_when_sent.load() >= 0; }, std::chrono::seconds(30)));
  // 64 KiB in blocks of 1 KiB per wake-up: the send went out after one.
  EXPECT_LE(calls_when_sent.load(), 2 * 64 + 2) << "the read held the strand";
  socket->close();  // from this thread, with the peer still writing
  const int calls_at_close = calls.load();
  ASSERT_TRUE(disconnected.wait_for(1));
  EXPECT_LE(calls.load(), calls_at_close + 1) << "reading went on after close()";
  EXPECT_LT(received.load(), total);
  ASSERT_TRUE(released(socket));
  p.stop();
}

}  // namespace
