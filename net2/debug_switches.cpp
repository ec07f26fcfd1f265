// The switches are plain atomics filled by static construction.
#include "net2/debug_switches.h"

#include <atomic>
#include <cstdlib>

namespace net2::debug {

namespace {
bool present(const char* name) { return std::getenv(name) != nullptr; }

std::atomic<bool> stream_socket_on{present("TALOND_NET2_STREAM_SOCKET_DEBUG")};
std::atomic<bool> stream_socket_deep_on{present("TALOND_NET2_STREAM_SOCKET_DEEP_DEBUG")};
std::atomic<bool> transport_layer_on{present("TALOND_NET2_TRLAYER_DEBUG")};
std::atomic<bool> request_on{present("TALOND_NET2_REQUEST_DEBUG")};
}  // namespace

bool stream_socket() { return stream_socket_on.load(std::memory_order_relaxed); }
bool stream_socket_deep() { return stream_socket_deep_on.load(std::memory_order_relaxed); }
bool transport_layer() { return transport_layer_on.load(std::memory_order_relaxed); }
bool request() { return request_on.load(std::memory_order_relaxed); }

void set_stream_socket(bool on) { stream_socket_on = on; }
void set_stream_socket_deep(bool on) { stream_socket_deep_on = on; }
void set_transport_layer(bool on) { transport_layer_on = on; }
void set_request(bool on) { request_on = on; }

}  // namespace net2::debug
