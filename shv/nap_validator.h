// One conversation with the central server about one NAP data record: the line
// protocol (PROTOCOL, NAPVALIDATE, NAPSTATE, STOP, VIOLATION), fed received
// bytes and handing complete lines to the transport's send.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include <boost/asio/ip/tcp.hpp>

#include "kern/syncers.h"
#include "kern/types.h"
#include "net2/stream/buffer.h"
#include "net2/stream/socket.h"

namespace net2 {
class pool;
}

class nap_validator_t : public noncopyable_t {
 public:
  typedef std::vector<lstr_t> words_t;

  // Unconsumed input beyond this many bytes without a line end closes the
  // connection: a server must not make the buffer grow without bound.
  static constexpr size_t max_pending_input = 64 * 1024;
  // Our own lines not yet sent beyond this many bytes close the connection
  // too: a server that floods us with lines to answer and reads nothing back
  // must not make the replies pile up.
  static constexpr uint64_t max_pending_output = 64 * 1024;
  // The bound of a whole conversation when the setting is 0 (which must not
  // mean "wait for ever").
  static constexpr uint32_t default_server_timeout_ms = 10000;

  nap_validator_t(const std::string& host, uint16_t port, const std::string& client_id,
                  const std::string& digest);
  virtual ~nap_validator_t() = default;

  // Holds the whole conversation on the calling thread and returns when it
  // has ended: the server closed, the client closed after STOP or VIOLATION,
  // the connection failed, or server_timeout_ms ran out. That one limit
  // covers the name lookup, connecting and the conversation together. A
  // conversation cut short by it ends without a verdict. Throws what creating
  // the pool or the connection throws (an empty address, a name that does not
  // resolve or is not answered in time); a refused connection is not thrown.
  void validate(uint32_t server_timeout_ms = default_server_timeout_ms);
  // The same with one address of the server, already resolved: until its
  // greeting the conversation ends by greeting_by, afterwards by end_by, so
  // that a server that stays silent uses only its share of the request's
  // time. limit_ms is the request's limit, for the log line.
  typedef std::chrono::steady_clock::time_point deadline_t;
  void validate(const boost::asio::ip::tcp::endpoint& server, deadline_t greeting_by, deadline_t end_by,
                uint32_t limit_ms);

  // Transport callbacks, on the connection's strand.
  bool on_connected(net2::stream::data_socket::shared socket);
  bool on_recv(net2::stream::shared_data data);
  void on_disconnected(net2::pool& pool);

  bool compliant() const { return compliant_; }
  bool verdict_received() const { return verdict_received_; }
  // Whether the last conversation got as far as a connection.
  bool connected() const { return connected_; }
  const std::string& host() const { return host_; }
  uint16_t port() const { return port_; }

  // Appends received bytes and handles every complete line; false: close.
  bool on_recv_bytes(const char* data, size_t size);
  // Whether the last conversation ran out of time.
  bool timed_out() const { return timed_out_; }
  // Line framing on CR LF and dispatch; false: close.
  bool process_input();
  bool process_command(lstr_t line);
  void violation(const char* format, ...) __attribute__((format(printf, 2, 3)));

  bool on_protocol(const words_t& words);
  bool on_napstate(const words_t& words);
  bool on_stop(const words_t& words);
  bool on_violation(const words_t& words);

 protected:
  // Hands one unit of bytes to the connection.
  virtual void send(std::string&& data);
  // The next sequence number for a line the client sends.
  uint32_t next_sequence() { return sequence_.fetch_add(1); }

 private:
  typedef bool (nap_validator_t::*handler_t)(const words_t&);

  // Handles the complete lines of the input; closes on too much input
  // without a line end.
  bool consume_input();
  // Claims the end of the conversation for the disconnection or for the
  // deadline, whichever comes first; false when it had already ended.
  bool claim_end(bool by_deadline);
  // The greeting has come: the rest of the request's time is the
  // conversation's.
  void note_greeting();
  // Connects through connect and waits for the end; server names the peer in
  // log lines.
  void converse(const std::function<net2::stream::data_socket::shared(net2::pool&)>& connect,
                const std::string& server, deadline_t greeting_by, deadline_t end_by, uint32_t limit_ms);

  std::string host_;
  uint16_t port_;
  std::string client_id_;
  std::string digest_;
  bool compliant_ = false;
  bool verdict_received_ = false;
  std::atomic<uint32_t> sequence_{0};
  std::string input_;
  // Set by validate's thread and by the connected callback, read by sends and
  // the deadline: guarded.
  net2::stream::data_socket::shared socket() const;
  void set_socket(net2::stream::data_socket::shared socket);
  mutable critical_section_t socket_lock_;
  net2::stream::data_socket::shared socket_;
  std::mutex end_lock_;
  std::condition_variable end_changed_;
  bool ended_ = false;
  bool greeted_ = false;
  std::atomic<bool> timed_out_{false};
  std::atomic<bool> connected_{false};
  std::map<std::string, handler_t, std::less<>> commands_;
};
