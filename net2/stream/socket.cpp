// The socket interface's shared state, and the client factory.
#include "net2/stream/socket.h"

#include "kern/exceptions.h"
#include "kern/logger.h"
#include "net2/debug_switches.h"
#include "net2/ip_utils.h"
#include "net2/net2_utils.h"
#include "net2/stream/plain_socket.h"

namespace net2::stream {

std::string data_socket::description() const {
  critsect_locker_t guard(callback_lock_);
  return description_;
}

void data_socket::set_description(const std::string& text) {
  critsect_locker_t guard(callback_lock_);
  description_ = text;
}

void data_socket::set_connected_cb(connected_cb cb) {
  critsect_locker_t guard(callback_lock_);
  connected_ = std::move(cb);
}

void data_socket::set_disconnected_cb(disconnected_cb cb) {
  critsect_locker_t guard(callback_lock_);
  disconnected_ = std::move(cb);
}

void data_socket::set_recv_cb(recv_cb cb) {
  critsect_locker_t guard(callback_lock_);
  recv_ = std::move(cb);
}

void data_socket::set_sent_cb(sent_cb cb) {
  critsect_locker_t guard(callback_lock_);
  sent_ = std::move(cb);
}

data_socket::connected_cb data_socket::get_connected_cb() const {
  critsect_locker_t guard(callback_lock_);
  return connected_;
}

data_socket::recv_cb data_socket::get_recv_cb() const {
  critsect_locker_t guard(callback_lock_);
  return recv_;
}

data_socket::sent_cb data_socket::get_sent_cb() const {
  critsect_locker_t guard(callback_lock_);
  return sent_;
}

bool data_socket::has_disconnected_cb() const {
  critsect_locker_t guard(callback_lock_);
  return static_cast<bool>(disconnected_);
}

data_socket::disconnected_cb data_socket::take_disconnected_cb_once() {
  disconnected_cb taken;
  // The emptied callbacks are destroyed outside the lock: they may hold the
  // application's objects.
  connected_cb connected;
  recv_cb recv;
  sent_cb sent;
  critsect_locker_t guard(callback_lock_);
  if (disconnected_ && !disconnect_reported_) {
    disconnect_reported_ = true;
    taken = std::move(disconnected_);
  }
  disconnected_ = nullptr;
  connected = std::move(connected_);
  connected_ = nullptr;
  recv = std::move(recv_);
  recv_ = nullptr;
  sent = std::move(sent_);
  sent_ = nullptr;
  return taken;
}

namespace {

// Form 1's specification as host and port text.
void parse_spec(const std::string& spec, std::string& host, std::string& port_text) {
  if (spec.empty()) KERN_THROW(net_address_format_exception, "empty specification");
  utils::parse_tcp_addr(spec, host, port_text);
}

// Form 2's host and port as endpoints; every failure as one parse error.
std::vector<ip::endpoint_t> resolve_host(const std::string& host, const std::string& port_text, uint16_t port,
                                         dns::deadline_t deadline) {
  if (host.empty()) KERN_THROW(net_address_format_exception, "empty address");
  try {
    return ip::make_eps(host, port_text, port, deadline);
  } catch (d_exception_t_shell_t& e) {
    std::string shown_port = port_text;
    if (shown_port.empty()) kern_n::append_decimal(shown_port, port);
    const std::string reason = e.what();
    KERN_THROW_CAUSED(net2::spec_parse_error, e.release_body(),
                      "unable to parse IP address \"%s:%s\" because of %s", host.c_str(),
                      shown_port.c_str(), reason.c_str());
  }
}

}  // namespace

data_socket::shared data_socket::tcp(boost::asio::io_context& service, const std::string& spec,
                                     uint16_t port, connected_cb on_connected, recv_cb on_recv,
                                     disconnected_cb on_disconnected, const char* name,
                                     uint64_t read_block_size, uint64_t output_block_limit,
                                     dns::deadline_t deadline) {
  if (debug::stream_socket()) KLOG(lvl_notice, "[STREAM] TCP data socket create @ '%s'", spec.c_str());
  std::string host;
  std::string port_text;
  parse_spec(spec, host, port_text);
  return tcp(service, host, port_text, port, std::move(on_connected), std::move(on_recv),
             std::move(on_disconnected), name, read_block_size, output_block_limit, deadline);
}

data_socket::shared data_socket::tcp(boost::asio::io_context& service, const std::string& host,
                                     const std::string& port_text, uint16_t port,
                                     connected_cb on_connected, recv_cb on_recv,
                                     disconnected_cb on_disconnected, const char* name,
                                     uint64_t read_block_size, uint64_t output_block_limit,
                                     dns::deadline_t deadline) {
  if (debug::stream_socket()) {
    KLOG(lvl_notice, "[STREAM] TCP data socket create @ '%s' '%s'", host.c_str(), port_text.c_str());
  }
  const std::vector<ip::endpoint_t> endpoints = resolve_host(host, port_text, port, deadline);
  return tcp(service, endpoints.front(), std::move(on_connected), std::move(on_recv), std::move(on_disconnected),
             name, read_block_size, output_block_limit);
}

std::vector<ip::endpoint_t> data_socket::endpoints(const std::string& spec, uint16_t port, dns::deadline_t deadline) {
  std::string host;
  std::string port_text;
  parse_spec(spec, host, port_text);
  return resolve_host(host, port_text, port, deadline);
}

data_socket::shared data_socket::tcp(boost::asio::io_context& service, const ip::endpoint_t& endpoint,
                                     connected_cb on_connected, recv_cb on_recv, disconnected_cb on_disconnected,
                                     const char* name, uint64_t read_block_size, uint64_t output_block_limit) {
  auto socket = std::make_shared<plain_socket>(service, name, true, read_block_size, output_block_limit);
  socket->set_connected_cb(std::move(on_connected));
  socket->set_recv_cb(std::move(on_recv));
  socket->set_disconnected_cb(std::move(on_disconnected));
  socket->connect(endpoint);
  return socket;
}

}  // namespace net2::stream
