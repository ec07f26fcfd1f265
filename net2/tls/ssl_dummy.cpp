// The engine of a build without TLS.
#include "kern/exceptions.h"
#include "net2/tls/ssl_engine.h"

namespace net2::tls {

namespace {

[[noreturn]] void not_enabled() { KERN_THROW(BUG_exception, "SSL is not enabled in this build"); }

class ssl_dummy_t final : public ssl_engine_t {
 public:
  void handshake() override { not_enabled(); }
  void encrypt(request_queue&, request_queue&) override { not_enabled(); }
  void decrypt(request_queue&, request_queue&, request_queue&) override { not_enabled(); }
  bool handshake_done() override { not_enabled(); }
  bool pending_send(const char*) override { not_enabled(); }
};

}  // namespace

shared_engine make_engine() { return std::make_shared<ssl_dummy_t>(); }

}  // namespace net2::tls
