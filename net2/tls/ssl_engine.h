// net2::tls::ssl_engine_t: the secure-transport engine interface of the secure
// socket variant. This build carries no TLS: the only engine fails every call.
#pragma once

#include <memory>

#include "kern/types.h"

namespace net2 {
class request_queue;
}  // namespace net2

namespace net2::tls {

class ssl_engine_t : public virtual if_root_t {
 public:
  virtual void handshake() = 0;
  // Plain data in, encrypted records out.
  virtual void encrypt(request_queue& plain, request_queue& encrypted) = 0;
  // Encrypted records in; plain data and records owed to the peer out.
  virtual void decrypt(request_queue& encrypted, request_queue& plain,
                       request_queue& pending_output) = 0;
  virtual bool handshake_done() = 0;
  virtual bool pending_send(const char* reason) = 0;
};

typedef std::shared_ptr<ssl_engine_t> shared_engine;

// The engine of this build: every operation throws BUG_exception_shell_t with
// "SSL is not enabled in this build".
shared_engine make_engine();

}  // namespace net2::tls
