// Per-thread state of the stand-in that the whole process shares. Every module
// carries its own copy of the seam, but a thread's locale is one for all of
// them, as on Windows: a host that sets it must be seen by the modules it
// calls. This small shared library holds that state once per process.
#include "platform/linux/kernel/seam_state.h"

extern "C" __attribute__((visibility("default"))) LCID* shv_seam_thread_locale() {
  thread_local LCID locale = 0;
  return &locale;
}

#include <cerrno>
#include <dlfcn.h>
#include <new>
#include <pthread.h>

namespace {

struct pinned_start_t {
  void* module;
  void (*body)(void*);
  void* context;
};

void* run_pinned(void* argument) {
  const pinned_start_t start = *static_cast<pinned_start_t*>(argument);
  delete static_cast<pinned_start_t*>(argument);
  start.body(start.context);
  // The body has returned: nothing of the module is on this stack any more.
  dlclose(start.module);
  return nullptr;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int shv_seam_start_pinned_thread(void* module,
                                                                                   void (*body)(void*),
                                                                                   void* context) {
  auto* start = new (std::nothrow) pinned_start_t{module, body, context};
  if (start == nullptr) return ENOMEM;
  pthread_attr_t attributes;
  int rc = pthread_attr_init(&attributes);
  if (rc == 0) rc = pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
  pthread_t thread;
  if (rc == 0) rc = pthread_create(&thread, &attributes, &run_pinned, start);
  pthread_attr_destroy(&attributes);
  if (rc != 0) delete start;
  return rc;
}
