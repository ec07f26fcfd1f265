// Requests, their diagnostics counters and debug lines, and the queue.
#include "net2/request_queue.h"

#include <utility>

#include "kern/logger.h"
#include "kern/pretty_print.h"
#include "kern/runnable.h"
#include "net2/debug_switches.h"

namespace net2 {

namespace {
std::atomic<int64_t> live_counts[request_queue::request::kind_count];
std::atomic<int64_t> live_memory[request_queue::request::kind_count];
}  // namespace

request_queue::request::request(kind_t kind, const char* data, uint64_t size, completion_t callback)
    : kind_(kind), data_(data), size_(size), callback_(std::move(callback)) {
  count_in();
}

request_queue::request::request(std::string&& owned, completion_t callback)
    : kind_(owned_string), owned_(std::move(owned)), data_(owned_.data()), size_(owned_.size()),
      callback_(std::move(callback)) {
  count_in();
}

void request_queue::request::count_in() {
  live_counts[kind_].fetch_add(1);
  live_memory[kind_].fetch_add(static_cast<int64_t>(size_));
  if (debug::request()) {
    KLOG(lvl_trace0, "[DebugReqest] %p: ctor %p:%lu '%s'", static_cast<void*>(this),
         static_cast<const void*>(data_), static_cast<unsigned long>(size_), kind_name(kind_));
  }
}

request_queue::request::~request() {
  if (debug::request()) {
    KLOG(lvl_trace0, "[DebugReqest] %p: dtor %p:%lu '%s'", static_cast<void*>(this),
         static_cast<const void*>(data_), static_cast<unsigned long>(size_), kind_name(kind_));
  }
  live_counts[kind_].fetch_sub(1);
  live_memory[kind_].fetch_sub(static_cast<int64_t>(size_));
  if (!callback_) return;
  try {
    callback_(done_);
  } catch (...) {
    try {
      const std::string reason = kern_n::describe_current_exception();
      pretty_print_exception(lvl_error, "[Request] Request callback handler has failed because of %s",
                             reason.c_str(), nullptr);
    } catch (...) {
    }
  }
}

std::unique_ptr<request_queue::request> request_queue::request::wrap_const_buf_ssl(
    const void* data, uint64_t size, completion_t callback) {
  return std::unique_ptr<request>(
      new request(const_buf_ssl, static_cast<const char*>(data), size, std::move(callback)));
}

std::unique_ptr<request_queue::request> request_queue::request::take_string(std::string& data,
                                                                            completion_t callback) {
  std::unique_ptr<request> item(new request(std::move(data), std::move(callback)));
  data.clear();
  return item;
}

const char* request_queue::request::kind_name(kind_t kind) {
  switch (kind) {
    case const_buf_ssl:
      return "const_buf_ssl";
    case owned_string:
      return "owned_string";
    default:
      return "unknown";
  }
}

int64_t request_queue::request::live_count(kind_t kind) { return live_counts[kind].load(); }
int64_t request_queue::request::live_bytes(kind_t kind) { return live_memory[kind].load(); }

request_queue::request_queue(request_queue&& other) noexcept { items_.splice(items_.end(), other.items_); }

request_queue::~request_queue() { clear(); }

void request_queue::push_back(std::unique_ptr<request> item) {
  if (item) items_.push_back(std::move(item));
}

void request_queue::push_back(request_queue& other) noexcept {
  if (&other != this) items_.splice(items_.end(), other.items_);
}

void request_queue::clear() noexcept {
  while (!items_.empty()) items_.pop_front();
}

uint64_t request_queue::bytes() const {
  uint64_t total = 0;
  for (const auto& item : items_) total += item->size();
  return total;
}

void request_queue::set_all_done() {
  for (auto& item : items_) item->set_done();
}

}  // namespace net2
