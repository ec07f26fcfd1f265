// nap_validator_t over the network: one pool, one connection, one deadline.
#include <boost/asio/steady_timer.hpp>

#include "kern/logger.h"
#include "net2/pool.h"
#include "shv/nap_validator.h"

namespace {
const char tag[] = "NAP";
}

net2::stream::data_socket::shared nap_validator_t::socket() const {
  critsect_locker_t guard(socket_lock_);
  return socket_;
}

void nap_validator_t::set_socket(net2::stream::data_socket::shared socket) {
  critsect_locker_t guard(socket_lock_);
  socket_ = std::move(socket);
}

void nap_validator_t::send(std::string&& data) {
  if (net2::stream::data_socket::shared s = socket()) s->send(net2::stream::data_buffer::take(data));
}

bool nap_validator_t::on_connected(net2::stream::data_socket::shared socket) {
  KLOG(lvl_debug3, "[%s] Connected", tag);
  // The greeting may arrive before the factory has returned the handle.
  set_socket(std::move(socket));
  return true;
}

bool nap_validator_t::on_recv(net2::stream::shared_data data) {
  for (net2::stream::data_block block = data->next(); block.size != 0; block = data->next()) {
    input_.append(block.data, block.size);
  }
  return consume_input();
}

void nap_validator_t::on_disconnected(net2::pool& pool) {
  KLOG(lvl_debug3, "[%s] Disconnected", tag);
  pool.service().stop();
}

void nap_validator_t::validate(uint32_t server_timeout_ms) {
  KLOG(lvl_debug3, "[%s] validate started", tag);
  const uint32_t limit = server_timeout_ms != 0 ? server_timeout_ms : default_server_timeout_ms;
  timed_out_ = false;
  net2::pool pool(2, "nap", "Pool");
  // The deadline covers the whole conversation, connect included: when it
  // passes, the connection is closed and the service stopped, so a silent or
  // lingering server cannot hold the caller.
  boost::asio::steady_timer deadline(pool.service(), std::chrono::milliseconds(limit));
  deadline.async_wait([this, &pool, limit](const boost::system::error_code& error) {
    if (error) return;  // cancelled: the conversation ended in time
    timed_out_ = true;
    KLOG(lvl_error, "[%s] no end of the conversation with %s within %u ms, closing the connection", tag,
         host_.c_str(), limit);
    if (net2::stream::data_socket::shared s = socket()) s->close();
    pool.service().stop();
  });
  set_socket(net2::stream::data_socket::tcp(
      pool.service(), host_, port_, [this](net2::stream::data_socket::shared s) { return on_connected(s); },
      [this](net2::stream::shared_data d) { return on_recv(d); },
      [this, &pool] {
        on_disconnected(pool);
      },
      "NAP-CLIENT", 1024, 8192));
  pool.join_all();
  deadline.cancel();
  set_socket(nullptr);
  pool.stop();
  if (timed_out_) {
    // Cut short: whatever arrived, this conversation has no verdict.
    compliant_ = false;
    verdict_received_ = false;
  }
  KLOG(lvl_debug3, "[%s] validate finished", tag);
}
