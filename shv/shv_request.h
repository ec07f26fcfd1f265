// One admitted validation request, shared by Validate and its worker thread.
#pragma once

#include "platform/nap_sdk.h"

class SHVValidator;

struct shv_request_t {
  SHVValidator* validator = nullptr;  // not owned; the worker does not use it
  INapServerCallback* callback = nullptr;
  INapSystemHealthValidationRequest* request = nullptr;

  shv_request_t() = default;
  shv_request_t(const shv_request_t&) = delete;
  shv_request_t& operator=(const shv_request_t&) = delete;
  ~shv_request_t() { release(); }
  // The callback's reference goes first, then the request's.
  void release() {
    if (callback != nullptr) callback->Release();
    callback = nullptr;
    if (request != nullptr) request->Release();
    request = nullptr;
  }
};
