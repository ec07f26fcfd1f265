// The loopback test server.
#include "tests/net2/loopback_peer.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/write.hpp>
#include <sys/socket.h>
#include <sys/time.h>

namespace shv_test {

namespace {
void set_receive_timeout(boost::asio::ip::tcp::socket& socket) {
  timeval limit{10, 0};
  setsockopt(socket.native_handle(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof(limit));
  setsockopt(socket.native_handle(), SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof(limit));
}
}  // namespace

loopback_peer_t::loopback_peer_t(size_t connections, behaviour_t behaviour, const char* address)
    : acceptor_(service_, boost::asio::ip::tcp::endpoint(boost::asio::ip::make_address(address), 0)),
      address_(address), connections_(connections), behaviour_(std::move(behaviour)) {
  port_ = acceptor_.local_endpoint().port();
  accept_thread_ = std::thread([this] {
    for (size_t i = 0; i < connections_; ++i) {
      auto socket = std::make_shared<boost::asio::ip::tcp::socket>(service_);
      boost::system::error_code error;
      acceptor_.accept(*socket, error);
      std::lock_guard<std::mutex> guard(mutex_);
      if (error || stopping_) return;
      set_receive_timeout(*socket);
      workers_.emplace_back([this, socket] {
        try {
          behaviour_(*socket);
        } catch (...) {
        }
      });
    }
  });
}

loopback_peer_t::~loopback_peer_t() {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    stopping_ = true;
  }
  // An accept still waiting is woken by one last connection of our own.
  try {
    boost::asio::ip::tcp::socket wake(service_);
    boost::system::error_code ignored;
    wake.connect(boost::asio::ip::tcp::endpoint(boost::asio::ip::make_address(address_), port_), ignored);
    accept_thread_.join();
  } catch (...) {
    if (accept_thread_.joinable()) accept_thread_.join();
  }
  wait();
}

void loopback_peer_t::wait() {
  if (accept_thread_.joinable()) accept_thread_.join();
  std::vector<std::thread> workers;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    workers.swap(workers_);
  }
  for (std::thread& worker : workers) worker.join();
}

std::string loopback_peer_t::read_exactly(boost::asio::ip::tcp::socket& socket, size_t count) {
  std::string data(count, '\0');
  boost::system::error_code error;
  const size_t n = boost::asio::read(socket, boost::asio::buffer(data), error);
  data.resize(n);
  return data;
}

std::string loopback_peer_t::read_until_eof(boost::asio::ip::tcp::socket& socket) {
  std::string data;
  char chunk[4096];
  for (;;) {
    boost::system::error_code error;
    const size_t n = socket.read_some(boost::asio::buffer(chunk), error);
    data.append(chunk, n);
    if (error) return data;
  }
}

std::string loopback_peer_t::read_line(boost::asio::ip::tcp::socket& socket) {
  std::string line;
  char c;
  for (;;) {
    boost::system::error_code error;
    const size_t n = socket.read_some(boost::asio::buffer(&c, 1), error);
    if (error || n == 0) return line;
    line += c;
    if (c == '\n') return line;
  }
}

void loopback_peer_t::write_all(boost::asio::ip::tcp::socket& socket, const std::string& data) {
  boost::system::error_code error;
  boost::asio::write(socket, boost::asio::buffer(data), error);
}

uint16_t loopback_peer_t::closed_port() {
  boost::asio::io_context service;
  boost::asio::ip::tcp::acceptor probe(service,
                                       boost::asio::ip::tcp::endpoint(boost::asio::ip::make_address("127.0.0.1"), 0));
  const uint16_t port = probe.local_endpoint().port();
  probe.close();
  return port;
}

}  // namespace shv_test
