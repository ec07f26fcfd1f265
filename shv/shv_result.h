// The outcome of judging one statement of health: a compliance result code, or
// a failure category when no verdict could be reached.
#pragma once

#include <cstdint>

#include "platform/com.h"

// The validator's NAP system health id; also the vendor id of its attribute.
constexpr uint32_t shv_id = 0x0073FA02;

// This system's "not compliant" compliance result code.
constexpr HRESULT shv_not_compliant = static_cast<HRESULT>(0x80270050);
// The NAP failure category this system reports when no verdict was reached.
constexpr uint8_t shv_failure_server_communication = 5;

struct shv_result_t {
  HRESULT compliance_result_code = shv_not_compliant;
  uint8_t failure_category = 0;

  void set(HRESULT code, uint8_t category) {
    compliance_result_code = code;
    failure_category = category;
  }
};
