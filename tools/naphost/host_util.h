// What naphost's commands share: modules by name, the validator's class
// argument parsing with clear errors, HRESULT texts.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "common/component_ids.h"
#include "platform/nap_sdk.h"

namespace naphost {

// A command-line mistake: printed with the command's name, exit status 2.
class usage_error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Decimal, or hexadecimal with 0x; throws usage_error naming what.
uint64_t parse_number(const std::string& text, uint64_t max, const char* what);
std::string hex8(HRESULT hr);
// The system's text for an HRESULT, with its code.
std::string hresult_text(HRESULT hr);
std::string read_file(const std::string& path);  // throws std::runtime_error
std::string json_string(const std::string& text);

// Calls one of a module's exported functions without arguments; prints the
// result like regsvr32 would. Returns the process exit status.
int call_module_export(const std::string& module, const char* function);

}  // namespace naphost
