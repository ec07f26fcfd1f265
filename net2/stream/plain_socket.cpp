// Connect, read, send and disconnect of the plain TCP socket.
#include "net2/stream/plain_socket.h"

#include <algorithm>

#include <boost/asio/bind_executor.hpp>
#include <boost/asio/dispatch.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/write.hpp>

#include "kern/exceptions.h"
#include "kern/logger.h"
#include "kern/pretty_print.h"
#include "kern/quote_utils.h"
#include "kern/runnable.h"
#include "net2/debug_switches.h"
#include "net2/format_endpoint.h"
#include "net2/net2_utils.h"

namespace net2::stream {

namespace {

constexpr uint64_t default_read_block = 1024;
constexpr uint64_t max_read_block = 65536;
// What one readiness wake-up reads at most (see on_readable).
constexpr uint64_t max_read_per_wakeup = 64 * 1024;
constexpr uint64_t dump_limit = 64;

// Logs a failure of application code at level 1, one clause per line.
void report_handler_failure(const std::string& name, const std::string& description, const char* what) {
  if (!kern_n::log_enabled(lvl_error)) return;
  const std::string text = "[" + name + "] " + description + ": unable to execute application " + what +
                           " handler because of " + kern_n::describe_current_exception();
  pretty_print_exception(lvl_error, text.c_str(), nullptr, nullptr);
}

std::string quoted_dump(const data_buffer& data) {
  std::string raw;
  data.dump(raw, dump_limit);
  std::string text;
  quote_string(raw.data(), raw.size(), text);
  return text;
}

}  // namespace

plain_socket::plain_socket(boost::asio::io_context& service, const char* name, bool numeric,
                           uint64_t read_block_size, uint64_t output_block_limit)
    : service_(service), io_(std::make_unique<io_t>(service)), name_(name ? name : ""),
      numeric_(numeric), read_block_size_(read_block_size ? read_block_size : default_read_block),
      queue_(output_block_limit) {}

plain_socket::~plain_socket() {
  if (debug::stream_socket()) {
    KLOG(lvl_notice, "[STREAM] %p:%s: data socket implementation deleted (%sopened)",
         static_cast<void*>(this), description().c_str(), io_ && io_->socket.is_open() ? "" : "un");
  }
}

void plain_socket::release_io() noexcept {
  critsect_locker_t guard(io_lock_);
  failed_ = true;
  io_.reset();
}

std::shared_ptr<plain_socket> plain_socket::self() {
  return std::static_pointer_cast<plain_socket>(shared_from_this());
}

void plain_socket::connect(const boost::asio::ip::tcp::endpoint& endpoint) {
  io_registry_t::add(service_, std::static_pointer_cast<io_owner_t>(self()));
  boost::system::error_code error;
  socket().open(endpoint.protocol(), error);
  if (error) {
    KERN_THROW(network_exception, "unable to create client socket because of %s", error.message().c_str());
  }
  connecting_ = true;
  if (debug::stream_socket()) {
    KLOG(lvl_notice, "[STREAM] %p:%s connecting data socket to '%s'", static_cast<void*>(this),
         description().c_str(), detail::ip::format_endpoint(endpoint, true, false, true).c_str());
  }
  socket().async_connect(endpoint, boost::asio::bind_executor(strand(), [self = self()](
                                                                          const boost::system::error_code& e) {
                          self->on_connect(e);
                        }));
}

void plain_socket::on_connect(const boost::system::error_code& error) {
  connecting_ = false;
  if (failed_) {
    // Our own close came first: whatever the attempt's outcome, nothing failed.
    KLOG(lvl_debug3, "[%s] %s: connecting cancelled", name_.c_str(), description().c_str());
    on_disconnect();
    return;
  }
  if (error) {
    KLOG(lvl_error, "[%s] %s: Unable to connect to remote because of %s", name_.c_str(),
         description().c_str(), error.message().c_str());
    failed_ = true;
    on_disconnect();
    return;
  }
  set_description("tcp://" + (numeric_ ? utils::get_addr(socket(), false) : utils::get_addr(socket(), true)));
  boost::system::error_code option_error;
  socket().non_blocking(true, option_error);
  set_option(!option_error, option_error, "set non-blocking socket mode");
  socket().set_option(boost::asio::ip::tcp::no_delay(true), option_error);
  set_option(!option_error, option_error, "switch off Nagle's algorithm");
  connected_ = true;
  if (connected_cb cb = get_connected_cb()) {
    try {
      cb(self());
    } catch (...) {
      // A failed connect handler would otherwise leave the application
      // waiting for a disconnection that never comes.
      report_handler_failure(name_, description(), "connect");
      on_disconnect();
      return;
    }
  }
  start_read();
}

void plain_socket::set_option(bool ok, const boost::system::error_code& error, const char* action) {
  if (ok) {
    KLOG(lvl_debug3, "[Net2] %s: %s", description().c_str(), action);
  } else {
    KLOG(lvl_warning, "[Net2] %s: unable to %s because of %s", description().c_str(), action,
         error.message().c_str());
  }
}

void plain_socket::start_read() {
  if (failed_) return;
  socket().async_wait(boost::asio::ip::tcp::socket::wait_read,
                      boost::asio::bind_executor(strand(), [self = self()](const boost::system::error_code& e) {
                       self->on_readable(e);
                     }));
}

uint64_t plain_socket::available_input() {
  boost::system::error_code error;
  const uint64_t available = socket().available(error);
  if (error) {
    if (debug::transport_layer()) {
      KLOG(lvl_trace0, "[DebugTransport] available_input: error '%s' (%d)", error.message().c_str(),
           error.value());
    }
    return default_read_block;
  }
  if (available == 0) {
    if (debug::transport_layer()) KLOG(lvl_trace0, "[DebugTransport] available_input: zero bytes number");
    return default_read_block;
  }
  if (available >= max_read_block) {
    if (debug::transport_layer()) {
      KLOG(lvl_trace0, "[DebugTransport] available_input: too big bytes number %lu",
           static_cast<unsigned long>(available));
    }
    return max_read_block;
  }
  return available;
}

void plain_socket::on_readable(const boost::system::error_code& error) {
  if (error) {
    on_read_error(error);
    return;
  }
  // One wake-up reads at most max_read_per_wakeup bytes and then waits for
  // readiness again instead of draining the socket. Against a peer that
  // writes faster than we handle its data, a draining loop never returns, and
  // everything queued on the strand behind it (the sends, close, the
  // disconnection report) waits for ever while the sends pile up.
  for (uint64_t taken = 0; taken < max_read_per_wakeup;) {
    // Set by close() from any thread, or by a failed send: read no further.
    // Whoever set it reports the disconnection.
    if (failed_) return;
    const uint64_t block = std::min(available_input(), read_block_size_);
    ip::sh_buffer buffer = ip::make_input_buffer(block);
    boost::system::error_code read_error;
    const size_t received =
        socket().read_some(boost::asio::buffer(buffer->data(), static_cast<size_t>(block)), read_error);
    if (read_error == boost::asio::error::would_block || read_error == boost::asio::error::try_again) break;
    if (read_error) {
      on_read_error(read_error);
      return;
    }
    if (received == 0) break;
    taken += received;
    bytes_received_.fetch_add(received);
    // Already on the strand: the receive processing runs here, in order.
    if (!process_received(data_buffer::create(buffer, received))) return;
  }
  start_read();
}

void plain_socket::on_read_error(const boost::system::error_code& error) {
  if (error == boost::asio::error::eof) {
    KLOG(lvl_debug3, "[%s] %s: connection rejected", name_.c_str(), description().c_str());
  } else if (failed_) {
    // Our own close or abort cancelled the wait: nothing went wrong, whatever
    // the system reports for it (operation aborted on Linux; under Wine a
    // closed socket's pending receive ends with another code).
    KLOG(lvl_debug3, "[%s] %s: reading cancelled", name_.c_str(), description().c_str());
  } else {
    KLOG(lvl_error, "[%s] %s: unable to read data because of %s (%d)", name_.c_str(), description().c_str(),
         error.message().c_str(), error.value());
  }
  failed_ = true;
  on_disconnect();
}

bool plain_socket::process_received(shared_data data) {
  recv_cb cb = get_recv_cb();
  if (!cb) return true;
  try {
    if (cb(std::move(data))) return true;
  } catch (...) {
    report_handler_failure(name_, description(), "receive");
  }
  on_disconnect();
  return false;
}

void plain_socket::send(shared_data data) {
  if (debug::stream_socket()) {
    KLOG(lvl_notice, "[STREAM] %p:%s: send data %lu bytes", static_cast<void*>(this), description().c_str(),
         static_cast<unsigned long>(data ? data->size() : 0));
  }
  if (!data || !connected_ || failed_) return;
  // Counted before it is posted: what waits on the strand is unsent too.
  const uint64_t size = data->size();
  const uint64_t unsent = unsent_.fetch_add(size) + size;
  const uint64_t limit = unsent_limit();
  if (limit != 0 && unsent > limit) {
    unsent_.fetch_sub(size);
    close_on_overflow(unsent - size);
    return;
  }
  critsect_locker_t guard(io_lock_);
  if (!io_) return;
  boost::asio::post(strand(), [self = self(), data = std::move(data)] { self->send_later(data); });
}

void plain_socket::close_on_overflow(uint64_t unsent) {
  if (failed_.exchange(true)) return;  // already ending: nothing more to say
  KLOG(lvl_error, "[%s] %s: %lu bytes not yet sent, closing the connection", name_.c_str(),
       description().c_str(), static_cast<unsigned long>(unsent));
  close();
}

void plain_socket::send_later(const shared_data& data) {
  if (failed_) {
    unsent_.fetch_sub(data->size());
    return;
  }
  queue_.append(data);
  if (debug::stream_socket()) {
    KLOG(lvl_notice, "[STREAM] %p:%s: send_later data %lu bytes qlen=%u:%u (%s)", static_cast<void*>(this),
         description().c_str(), static_cast<unsigned long>(data->size()), queue_.item_count(),
         queue_.block_count(), quoted_dump(*data).c_str());
  }
  activate_queue();
}

void plain_socket::deep_debug(const char* stage, uint32_t buffers, uint64_t bytes) {
  if (!debug::stream_socket_deep()) return;
  KLOG(lvl_notice, "[STREAM] %p:%s: %s queue=%u bufs=%u data=%u", static_cast<void*>(this),
       description().c_str(), stage, queue_.item_count(), buffers, static_cast<unsigned>(bytes));
}

void plain_socket::activate_queue() {
  if (write_in_flight_ || queue_.empty() || failed_) return;
  deep_debug("prepare plain beg", queue_.block_count(), queue_.byte_count());
  std::vector<boost::asio::const_buffer> block;
  const uint64_t bytes = queue_.prepare(block);
  deep_debug("prepare plain end", static_cast<uint32_t>(block.size()), bytes);
  write_in_flight_ = true;
  boost::asio::async_write(
      socket(), block,
      boost::asio::bind_executor(strand(), [self = self()](const boost::system::error_code& e, size_t n) {
        self->on_write(e, n);
      }));
}

bool plain_socket::notify_sent(int64_t written) {
  sent_cb cb = get_sent_cb();
  if (!cb) return true;
  try {
    return cb(written);
  } catch (...) {
    report_handler_failure(name_, description(), "sent");
    return false;
  }
}

void plain_socket::on_write(const boost::system::error_code& error, size_t written) {
  write_in_flight_ = false;
  if (error) {
    if (failed_) {
      // Our own close or abort cut the write short: nothing went wrong.
      KLOG(lvl_debug3, "[%s] %s: sending cancelled", name_.c_str(), description().c_str());
    } else {
      KLOG(lvl_error, "[%s] %s: unable to send data because of %s", name_.c_str(), description().c_str(),
           error.message().c_str());
    }
    notify_sent(-1);
    queue_.clear();
    failed_ = true;
    on_disconnect();
    return;
  }
  bytes_sent_.fetch_add(written);
  unsent_.fetch_sub(written);
  if (!notify_sent(static_cast<int64_t>(written))) {
    abort_by_callback();
    return;
  }
  if (debug::stream_socket_deep()) {
    std::vector<boost::asio::const_buffer> front;
    queue_.prepare(front);
    std::string raw;
    size_t left = std::min<size_t>(written, dump_limit);
    for (const auto& piece : front) {
      if (left == 0) break;
      const size_t n = std::min(left, piece.size());
      raw.append(static_cast<const char*>(piece.data()), n);
      left -= n;
    }
    std::string text;
    quote_string(raw.data(), raw.size(), text);
    KLOG(lvl_notice, "[STREAM] %p:%s: sent %uB <%s>", static_cast<void*>(this), description().c_str(),
         static_cast<unsigned>(written), text.c_str());
  }
  deep_debug("ack beg", queue_.block_count(), queue_.byte_count());
  queue_.acknowledge(written);
  deep_debug("ack end", queue_.block_count(), queue_.byte_count());
  activate_queue();
}

void plain_socket::abort_by_callback() {
  if (debug::stream_socket()) {
    KLOG(lvl_notice, "[STREAM] %p:%s: data socket aborted by callback", static_cast<void*>(this),
         description().c_str());
  }
  failed_ = true;
  queue_.clear();
  boost::system::error_code ignored;
  socket().close(ignored);
  on_disconnect();
}

void plain_socket::on_disconnect() {
  if (debug::stream_socket()) {
    KLOG(lvl_notice, "[STREAM] %p:%s: on_disconnect cb=%u", static_cast<void*>(this), description().c_str(),
         has_disconnected_cb() ? 1u : 0u);
  }
  boost::asio::dispatch(strand(), [self = self()] { self->process_disconnect(); });
}

void plain_socket::process_disconnect() {
  if (debug::stream_socket()) {
    KLOG(lvl_notice, "[STREAM] %p:%s: process_disconnect cb=%u", static_cast<void*>(this),
         description().c_str(), has_disconnected_cb() ? 1u : 0u);
  }
  // After the report nothing more is sent: the application is done with us.
  failed_ = true;
  disconnected_cb cb = take_disconnected_cb_once();
  if (!cb) return;
  try {
    cb();
  } catch (...) {
    report_handler_failure(name_, description(), "disconnect");
  }
}

std::string plain_socket::local_endpoint(bool resolve) {
  critsect_locker_t guard(io_lock_);
  if (!io_) return "<not_connected>";
  return format_local_endpoint(socket(), false, resolve, true);
}

std::string plain_socket::remote_endpoint(bool resolve) {
  critsect_locker_t guard(io_lock_);
  if (!io_) return "<not_connected>";
  return format_remote_endpoint(socket(), false, resolve, true);
}

void plain_socket::shutdown() {
  critsect_locker_t guard(io_lock_);
  if (!io_) return;
  boost::asio::dispatch(strand(), [self = self()] {
    boost::system::error_code error;
    self->socket().shutdown(boost::asio::ip::tcp::socket::shutdown_both, error);
    if (error) {
      KLOG(lvl_error, "[%s] Unable to shutdown data socket \"%s\" because of %s", self->name_.c_str(),
           self->description().c_str(), error.message().c_str());
    }
  });
}

void plain_socket::close() {
  // The failed state comes first, before anything is posted: a read loop
  // running meanwhile stops at its next block, and sends are dropped.
  failed_ = true;
  {
    critsect_locker_t guard(io_lock_);
    if (!io_) return;
    if (!strand().running_in_this_thread()) {
      boost::asio::post(strand(), [self = self()] { self->close_now(); });
      return;
    }
  }
  // Inside one of our own handlers (a callback closing its socket): the
  // service is alive while it runs, and no lock is held over the report.
  close_now();
}

void plain_socket::close_now() {
  boost::system::error_code error;
  socket().close(error);
  if (error) {
    KLOG(lvl_error, "[%s] Unable to close data socket \"%s\" because of %s", name_.c_str(),
         description().c_str(), error.message().c_str());
  }
  // A close is an end like any other: the application hears of it once, and
  // the callbacks, with whatever handles they hold, are let go.
  on_disconnect();
}

}  // namespace net2::stream
