// nap_validator_t over the network: one pool, one connection, one deadline.
#include <algorithm>
#include <chrono>

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
  connected_ = true;
  // Our replies wait here while the server does not read them: bounded.
  socket->set_unsent_limit(max_pending_output);
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
  // The end is claimed before anything else: a deadline passing meanwhile
  // must not undo an ending that has already happened, nor its verdict.
  claim_end(false);
  KLOG(lvl_debug3, "[%s] Disconnected", tag);
  pool.service().stop();
}

bool nap_validator_t::claim_end(bool by_deadline) {
  std::lock_guard<std::mutex> guard(end_lock_);
  if (ended_) return false;
  ended_ = true;
  timed_out_ = by_deadline;
  end_changed_.notify_all();
  return true;
}

void nap_validator_t::note_greeting() {
  std::lock_guard<std::mutex> guard(end_lock_);
  greeted_ = true;
  end_changed_.notify_all();
}

void nap_validator_t::validate(uint32_t server_timeout_ms) {
  const uint32_t limit = server_timeout_ms != 0 ? server_timeout_ms : default_server_timeout_ms;
  // One deadline for the whole request from here on: the pool, the name
  // lookup, connecting and the conversation.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit);
  converse(
      [&](net2::pool& pool) {
        return net2::stream::data_socket::tcp(
            pool.service(), host_, port_, [this](net2::stream::data_socket::shared s) { return on_connected(s); },
            [this](net2::stream::shared_data d) { return on_recv(d); }, [this, &pool] { on_disconnected(pool); },
            "NAP-CLIENT", 1024, 8192, deadline);
      },
      host_, deadline, deadline, limit);
}

void nap_validator_t::validate(const boost::asio::ip::tcp::endpoint& server, deadline_t greeting_by,
                               deadline_t end_by, uint32_t limit_ms) {
  converse(
      [&](net2::pool& pool) {
        return net2::stream::data_socket::tcp(
            pool.service(), server, [this](net2::stream::data_socket::shared s) { return on_connected(s); },
            [this](net2::stream::shared_data d) { return on_recv(d); }, [this, &pool] { on_disconnected(pool); },
            "NAP-CLIENT", 1024, 8192);
      },
      host_ + " (" + server.address().to_string() + ")", greeting_by, end_by, limit_ms);
}

void nap_validator_t::converse(const std::function<net2::stream::data_socket::shared(net2::pool&)>& connect,
                               const std::string& server, deadline_t greeting_by, deadline_t end_by,
                               uint32_t limit_ms) {
  KLOG(lvl_debug3, "[%s] validate started", tag);
  const auto started = std::chrono::steady_clock::now();
  {
    std::lock_guard<std::mutex> guard(end_lock_);
    ended_ = false;
    greeted_ = false;
    timed_out_ = false;
  }
  connected_ = false;
  net2::pool pool(2, "nap", "Pool");
  set_socket(connect(pool));
  // The deadlines are kept on this thread, not on the pool: they hold
  // whatever the pool's threads are busy with.
  bool greeted = false;
  {
    std::unique_lock<std::mutex> lock(end_lock_);
    if (end_changed_.wait_until(lock, std::min(greeting_by, end_by), [this] { return ended_ || greeted_; }) &&
        !ended_) {
      end_changed_.wait_until(lock, end_by, [this] { return ended_; });
    }
    greeted = greeted_;
  }
  if (claim_end(true)) {
    if (!greeted && greeting_by < end_by) {
      const auto share = std::chrono::duration_cast<std::chrono::milliseconds>(greeting_by - started);
      KLOG(lvl_error, "[%s] no greeting from %s within its share of %u ms, trying the next server", tag,
           server.c_str(), static_cast<unsigned>(share.count()));
    } else {
      KLOG(lvl_error, "[%s] no end of the conversation with %s within %u ms, closing the connection", tag,
           host_.c_str(), limit_ms);
    }
    if (net2::stream::data_socket::shared s = socket()) s->close();
  }
  // A handler still running finishes its step (one read wake-up at most);
  // then the threads end and nothing of the connection runs any more.
  pool.stop();
  set_socket(nullptr);
  if (timed_out_) {
    // Cut short: whatever arrived, this conversation has no verdict.
    compliant_ = false;
    verdict_received_ = false;
  }
  KLOG(lvl_debug3, "[%s] validate finished", tag);
}
