// The loopback test server.
#include "tests/net2/loopback_peer.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/write.hpp>

namespace test_support {

namespace {

// A blocking send or receive time-out as an Asio socket option: the socket
// API takes milliseconds on Windows and a timeval elsewhere.
template <int Name>
class io_timeout_t {
 public:
  explicit io_timeout_t(std::chrono::milliseconds limit) {
#ifdef _WIN32
    value_ = static_cast<DWORD>(limit.count());
#else
    value_.tv_sec = static_cast<time_t>(limit.count() / 1000);
    value_.tv_usec = static_cast<suseconds_t>(limit.count() % 1000 * 1000);
#endif
  }
  template <class Protocol>
  int level(const Protocol&) const { return SOL_SOCKET; }
  template <class Protocol>
  int name(const Protocol&) const { return Name; }
  template <class Protocol>
  const void* data(const Protocol&) const { return &value_; }
  template <class Protocol>
  size_t size(const Protocol&) const { return sizeof(value_); }

 private:
#ifdef _WIN32
  DWORD value_ = 0;
#else
  timeval value_{};
#endif
};

void set_receive_timeout(boost::asio::ip::tcp::socket& socket) {
  const std::chrono::seconds limit(10);
  boost::system::error_code ignored;
  socket.set_option(io_timeout_t<SO_RCVTIMEO>(limit), ignored);
  socket.set_option(io_timeout_t<SO_SNDTIMEO>(limit), ignored);
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

}  // namespace test_support
