// net2::pool: one asynchronous I/O service and a fixed set of named threads
// serving it. Every socket of the library lives on a pool's service.
#pragma once

#include <cstdint>
#include <memory>

#include <boost/asio/io_context.hpp>

#include "kern/types.h"

namespace net2 {

class pool : public virtual if_root_t, public noncopyable_t {
 public:
  // Starts thread_count threads named "<prefix>:<n>", n counting on per pool
  // name for the life of the process. A null prefix counts as empty.
  pool(uint32_t thread_count, const char* thread_prefix, const char* pool_name);
  // Stops the service, joins the threads, then releases the service.
  ~pool() override;

  // Runs once on every pool thread before it starts serving.
  virtual void thread_setup() {}

  boost::asio::io_context& service();
  // Waits for every pool thread; returns at once once joined. Not from a pool
  // thread: a handler that wants the work to end stops service() itself.
  void join_all();
  // Stops the service (first call only), then join_all().
  void stop();

  // Handlers executed so far by all threads of this pool.
  uint64_t jobs() const;

  struct impl;

 protected:
  // For pools that override thread_setup: a thread started while the derived
  // part is still being built would call the hook on a half-made object, so
  // such pools start their threads with start() at the end of their own
  // constructor.
  struct deferred_start_t {};
  pool(deferred_start_t, uint32_t thread_count, const char* thread_prefix, const char* pool_name);
  void start();

 private:
  std::unique_ptr<impl> impl_;
};

}  // namespace net2
