// One conversation with the central server about one NAP data record: the line
// protocol (PROTOCOL, NAPVALIDATE, NAPSTATE, STOP, VIOLATION), fed received
// bytes and handing complete lines to the transport's send.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "kern/types.h"

class nap_validator_t : public noncopyable_t {
 public:
  typedef std::vector<lstr_t> words_t;

  // Unconsumed input beyond this many bytes without a line end closes the
  // connection: a server must not make the buffer grow without bound.
  static constexpr size_t max_pending_input = 64 * 1024;

  nap_validator_t(const std::string& host, uint16_t port, const std::string& client_id,
                  const std::string& digest);
  virtual ~nap_validator_t() = default;

  bool compliant() const { return compliant_; }
  bool verdict_received() const { return verdict_received_; }
  const std::string& host() const { return host_; }
  uint16_t port() const { return port_; }

  // Appends received bytes and handles every complete line; false: close.
  bool on_recv_bytes(const char* data, size_t size);
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
  virtual void send(std::string&& data) = 0;
  // The next sequence number for a line the client sends.
  uint32_t next_sequence() { return sequence_.fetch_add(1); }

 private:
  typedef bool (nap_validator_t::*handler_t)(const words_t&);

  std::string host_;
  uint16_t port_;
  std::string client_id_;
  std::string digest_;
  bool compliant_ = false;
  bool verdict_received_ = false;
  std::atomic<uint32_t> sequence_{0};
  std::string input_;
  std::map<std::string, handler_t, std::less<>> commands_;
};
