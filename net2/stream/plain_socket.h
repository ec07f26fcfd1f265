// net2::stream::plain_socket: the unencrypted TCP data socket. Every
// completion handler and every send runs through the socket's strand.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/strand.hpp>

#include "net2/stream/io_registry.h"
#include "net2/stream/socket.h"
#include "net2/stream/socket_queue.h"
#include "net2/tls/ssl_engine.h"

namespace net2::stream {

class plain_socket final : public data_socket, public io_owner_t {
 public:
  // A read block size of 0 takes the default of 1024 bytes.
  plain_socket(boost::asio::io_context& service, const char* name, bool numeric,
               uint64_t read_block_size, uint64_t output_block_limit);
  ~plain_socket() override;

  // Opens the OS socket for the endpoint's family and starts connecting.
  // Throws network_exception_shell_t when the socket cannot be created.
  void connect(const boost::asio::ip::tcp::endpoint& endpoint);

  void send(shared_data data) override;
  std::string local_endpoint(bool resolve) override;
  std::string remote_endpoint(bool resolve) override;
  bool is_secure() override { return false; }
  std::string used_cipher() override { return std::string(); }
  void shutdown() override;
  void close() override;
  void release_io() noexcept override;

 private:
  // The Boost.Asio objects; they go before their I/O context does (see
  // io_registry_t), after which the socket only drops what it is given.
  struct io_t {
    explicit io_t(boost::asio::io_context& service)
        : strand(boost::asio::make_strand(service)), socket(service) {}
    boost::asio::strand<boost::asio::io_context::executor_type> strand;
    boost::asio::ip::tcp::socket socket;
  };
  // Handlers run only while io_ exists; calls from application threads check
  // it under io_lock_.
  boost::asio::ip::tcp::socket& socket() { return io_->socket; }
  boost::asio::strand<boost::asio::io_context::executor_type>& strand() { return io_->strand; }

  std::shared_ptr<plain_socket> self();

  void on_connect(const boost::system::error_code& error);
  void set_option(bool ok, const boost::system::error_code& error, const char* action);
  void start_read();
  void on_readable(const boost::system::error_code& error);
  uint64_t available_input();
  void on_read_error(const boost::system::error_code& error);
  // False when the connection is to end.
  bool process_received(shared_data data);
  void send_later(const shared_data& data);
  // Too much output waiting: one level-1 line, then close.
  void close_on_overflow(uint64_t unsent);
  // Closes the OS socket and reports the disconnection; on the strand.
  void close_now();
  void activate_queue();
  void on_write(const boost::system::error_code& error, size_t written);
  bool notify_sent(int64_t written);
  void abort_by_callback();
  void on_disconnect();
  void process_disconnect();
  void deep_debug(const char* stage, uint32_t buffers, uint64_t bytes);

  boost::asio::io_context& service_;
  critical_section_t io_lock_;
  std::unique_ptr<io_t> io_;
  std::string name_;
  std::atomic<bool> connected_{false};
  std::atomic<bool> connecting_{false};
  bool numeric_;
  uint64_t read_block_size_;
  socket_queue queue_;
  // Bytes handed to send and not yet written (queued or still posted).
  std::atomic<uint64_t> unsent_{0};
  bool write_in_flight_ = false;
  std::atomic<bool> failed_{false};
  tls::shared_engine engine_;  // empty: no secure engine on a plain socket
};

}  // namespace net2::stream
