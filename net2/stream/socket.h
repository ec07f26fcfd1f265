// net2::stream::data_socket: a connected TCP byte stream driven by callbacks on
// a pool's I/O service, with an ordered send queue. The factory tcp() is the
// one way to create a client connection.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

#include "kern/syncers.h"
#include "kern/types.h"
#include "net/dns_resolver.h"
#include "net2/stream/buffer.h"

namespace net2::stream {

class data_socket : public virtual if_root_t,
                    public noncopyable_t,
                    public std::enable_shared_from_this<data_socket> {
 public:
  typedef std::shared_ptr<data_socket> shared;
  // The result of the connected callback is not used.
  typedef std::function<bool(shared)> connected_cb;
  // True to go on reading, false to drop the connection.
  typedef std::function<bool(shared_data)> recv_cb;
  typedef std::function<void()> disconnected_cb;
  // Bytes written, or -1 on a write error; false aborts the socket.
  typedef std::function<bool(int64_t)> sent_cb;

  // Queues data; dropped unless connected and not failed. Thread-safe.
  virtual void send(shared_data data) = 0;
  virtual std::string local_endpoint(bool resolve) = 0;
  virtual std::string remote_endpoint(bool resolve) = 0;
  virtual bool is_secure() = 0;
  virtual std::string used_cipher() = 0;
  virtual void shutdown() = 0;
  virtual void close() = 0;
  ~data_socket() override = default;

  // Form 1: spec is "[tcp/]host[:port]"; without a port text, port is used.
  // A host name is looked up on the calling thread and that lookup ends by
  // the deadline (see dns::resolve_name0).
  static shared tcp(boost::asio::io_context& service, const std::string& spec, uint16_t port,
                    connected_cb on_connected, recv_cb on_recv, disconnected_cb on_disconnected,
                    const char* name, uint64_t read_block_size, uint64_t output_block_limit,
                    dns::deadline_t deadline = dns::no_deadline);
  // Form 2: host and port text (empty: port is used).
  static shared tcp(boost::asio::io_context& service, const std::string& host,
                    const std::string& port_text, uint16_t port, connected_cb on_connected,
                    recv_cb on_recv, disconnected_cb on_disconnected, const char* name,
                    uint64_t read_block_size, uint64_t output_block_limit,
                    dns::deadline_t deadline = dns::no_deadline);
  // Every endpoint a form 1 specification names, in the resolver's order;
  // throws what form 1 throws before it connects.
  static std::vector<boost::asio::ip::tcp::endpoint> endpoints(const std::string& spec, uint16_t port,
                                                               dns::deadline_t deadline = dns::no_deadline);
  // Form 3: an endpoint already resolved.
  static shared tcp(boost::asio::io_context& service, const boost::asio::ip::tcp::endpoint& endpoint,
                    connected_cb on_connected, recv_cb on_recv, disconnected_cb on_disconnected,
                    const char* name, uint64_t read_block_size, uint64_t output_block_limit);

  uint64_t bytes_received() const { return bytes_received_.load(); }
  uint64_t bytes_sent() const { return bytes_sent_.load(); }
  // "unconnected", then "tcp://<remote address>:<port>".
  std::string description() const;

  // Bytes handed to send and not yet written beyond this many close the
  // connection (one level-1 line, then the disconnection report): a peer
  // that does not read must not make us queue without bound. 0, the
  // default, sets no limit.
  void set_unsent_limit(uint64_t bytes) { unsent_limit_.store(bytes); }
  uint64_t unsent_limit() const { return unsent_limit_.load(); }

  // The slots may be replaced or cleared from any thread.
  void set_connected_cb(connected_cb cb);
  void set_disconnected_cb(disconnected_cb cb);
  void set_recv_cb(recv_cb cb);
  void set_sent_cb(sent_cb cb);

 protected:
  data_socket() = default;
  void set_description(const std::string& text);

  connected_cb get_connected_cb() const;
  recv_cb get_recv_cb() const;
  sent_cb get_sent_cb() const;
  // Takes the disconnected callback if it has not been reported yet and
  // marks it reported; then every slot is emptied.
  disconnected_cb take_disconnected_cb_once();
  bool has_disconnected_cb() const;

  std::atomic<uint64_t> bytes_received_{0};
  std::atomic<uint64_t> bytes_sent_{0};

 private:
  std::atomic<uint64_t> unsent_limit_{0};
  std::string description_ = "unconnected";
  mutable critical_section_t callback_lock_;
  connected_cb connected_;
  disconnected_cb disconnected_;
  recv_cb recv_;
  sent_cb sent_;
  bool disconnect_reported_ = false;
};

}  // namespace net2::stream
