// The socket registry service.
#include "net2/stream/io_registry.h"

#include <algorithm>

namespace net2::stream {

boost::asio::execution_context::id io_registry_t::id;

io_registry_t::io_registry_t(boost::asio::execution_context& context)
    : boost::asio::execution_context::service(context) {}

void io_registry_t::add(boost::asio::io_context& context, const std::shared_ptr<io_owner_t>& owner) {
  io_registry_t& registry = boost::asio::use_service<io_registry_t>(context);
  std::lock_guard<std::mutex> guard(registry.mutex_);
  std::erase_if(registry.owners_, [](const std::weak_ptr<io_owner_t>& w) { return w.expired(); });
  registry.owners_.push_back(owner);
}

// Services shut down newest first: this one, created with the first socket,
// runs before the socket and strand services it relies on.
void io_registry_t::shutdown() {
  std::vector<std::weak_ptr<io_owner_t>> owners;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    owners.swap(owners_);
  }
  for (const auto& weak : owners) {
    if (std::shared_ptr<io_owner_t> owner = weak.lock()) owner->release_io();
  }
}

}  // namespace net2::stream
