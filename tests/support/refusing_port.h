// Test helper: a loopback port that refuses connections for as long as the
// object lives, held by a socket bound to it that never listens, so that no
// other test (run in parallel) can be given the port meanwhile.
#pragma once

#include <cstdint>

#include <utility>  // Boost 1.74 Asio uses std::exchange without including it
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

namespace test_support {

class refusing_port_t {
 public:
  // port 0 takes a free one. Address reuse lets the port be held while its
  // last connections wait out their close, and lets a server that asks for
  // it by number (with reuse too) bind it before the hold is let go; a free
  // port is never handed out while it is held.
  explicit refusing_port_t(uint16_t port = 0, const char* address = "127.0.0.1") {
    const boost::asio::ip::tcp::endpoint at(boost::asio::ip::make_address(address), port);
    socket_.open(at.protocol());
    socket_.set_option(boost::asio::socket_base::reuse_address(true));
    socket_.bind(at);
  }
  refusing_port_t(const refusing_port_t&) = delete;
  refusing_port_t& operator=(const refusing_port_t&) = delete;

  uint16_t port() const { return socket_.local_endpoint().port(); }

 private:
  boost::asio::io_context io_;
  boost::asio::ip::tcp::socket socket_{io_};
};

}  // namespace test_support
