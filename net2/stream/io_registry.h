// A service of the I/O context that knows the sockets created on it: when the
// context goes, it makes them drop their I/O objects first, so a socket handle
// that outlives its pool stays safe to use and to release.
#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include <boost/asio/execution_context.hpp>
#include <boost/asio/io_context.hpp>

namespace net2::stream {

// What the registry asks of a socket.
class io_owner_t {
 public:
  // Destroys the socket's I/O objects; called once, with no handler running.
  virtual void release_io() noexcept = 0;

 protected:
  ~io_owner_t() = default;
};

class io_registry_t : public boost::asio::execution_context::service {
 public:
  static boost::asio::execution_context::id id;
  explicit io_registry_t(boost::asio::execution_context& context);

  static void add(boost::asio::io_context& context, const std::shared_ptr<io_owner_t>& owner);

 private:
  void shutdown() override;

  std::mutex mutex_;
  std::vector<std::weak_ptr<io_owner_t>> owners_;
};

}  // namespace net2::stream
