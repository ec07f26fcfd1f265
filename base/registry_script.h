// The COM servers' registry scripts: a small text format naming keys and
// values under a root key, with replacements such as %MODULE%, run in
// registration or unregistration mode.
//
//   HKCR
//   {
//     NoRemove CLSID
//     {
//       ForceRemove {60d48d71-...} = s 'Description'
//       {
//         InprocServer32 = s '%MODULE%'
//         {
//           val ThreadingModel = s 'Both'
//         }
//       }
//     }
//   }
//
// Keys: [NoRemove | ForceRemove | Delete] NAME [= VALUE] [{ ... }]; values of a
// key: val NAME = VALUE; VALUE: s 'text' (REG_SZ), d 'number' (REG_DWORD,
// decimal or 0x hex) or b 'hex bytes' (REG_BINARY). Quoted text doubles a
// single quote; %NAME% is replaced from the caller's list and %% is "%".
// Script and replacements are UTF-8.
// Registration writes everything, deleting ForceRemove keys with their
// subkeys first and removing Delete keys; unregistration removes every key
// not marked NoRemove, with its subkeys.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/win32.h"

namespace base_n {

struct rgs_value_t {
  std::u16string name;  // empty: the key's default value
  DWORD type = REG_SZ;
  std::vector<uint8_t> data;  // as stored: UTF-16LE with a terminating NUL, 4 bytes, or raw bytes
};

struct rgs_key_t {
  enum class mode_t { normal, no_remove, force_remove, remove };
  mode_t mode = mode_t::normal;
  std::u16string name;
  std::optional<rgs_value_t> default_value;
  std::vector<rgs_value_t> values;
  std::vector<rgs_key_t> subkeys;
};

struct rgs_root_t {
  HKEY root = nullptr;
  std::vector<rgs_key_t> keys;
};

typedef std::map<std::string, std::string> rgs_replacements_t;

// Throws parse_exception_shell_t naming the line of the fault.
std::vector<rgs_root_t> parse_registry_script(const std::string& text, const rgs_replacements_t& replacements);

// Runs a script; S_OK, the HRESULT of the first failing registry call, or
// DISP_E_EXCEPTION for a script that does not parse (logged at level 1).
HRESULT run_registry_script(const std::string& text, const rgs_replacements_t& replacements, bool do_register);

// "%MODULE%" text for a module path: single quotes doubled, as it stands
// inside quotes.
std::string rgs_quote(const std::string& text);

}  // namespace base_n
