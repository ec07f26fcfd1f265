// Test helper: a TCP server on loopback whose every accepted connection runs a
// scripted behaviour on its own thread (blocking calls, bounded by a receive
// time-out), and a counter that tests wait on with a time-out.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

#include "tests/support/eventually.h"

namespace test_support {

class loopback_peer_t {
 public:
  typedef std::function<void(boost::asio::ip::tcp::socket&)> behaviour_t;
  loopback_peer_t(size_t connections, behaviour_t behaviour, const char* address = "127.0.0.1");
  ~loopback_peer_t();
  loopback_peer_t(const loopback_peer_t&) = delete;
  loopback_peer_t& operator=(const loopback_peer_t&) = delete;

  uint16_t port() const { return port_; }
  // Waits until every accepted connection's behaviour has returned.
  void wait();

  // Blocking helpers for behaviours; reads stop at the receive time-out.
  static std::string read_exactly(boost::asio::ip::tcp::socket& socket, size_t count);
  static std::string read_until_eof(boost::asio::ip::tcp::socket& socket);
  static std::string read_line(boost::asio::ip::tcp::socket& socket);
  static void write_all(boost::asio::ip::tcp::socket& socket, const std::string& data);

 private:
  boost::asio::io_context service_;
  boost::asio::ip::tcp::acceptor acceptor_;
  uint16_t port_ = 0;
  std::string address_;
  size_t connections_;
  behaviour_t behaviour_;
  std::thread accept_thread_;
  std::mutex mutex_;
  std::vector<std::thread> workers_;
  bool stopping_ = false;
};

// The bounded wait for a condition, for the tests that use this peer.
using test_support::eventually;

// Counts events; wait_for returns whether count reached n in time.
class counter_t {
 public:
  void add() {
    std::lock_guard<std::mutex> guard(mutex_);
    ++count_;
    changed_.notify_all();
  }
  int value() {
    std::lock_guard<std::mutex> guard(mutex_);
    return count_;
  }
  bool wait_for(int n, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return count_ >= n; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int count_ = 0;
};

}  // namespace test_support
