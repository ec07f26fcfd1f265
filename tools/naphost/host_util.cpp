// naphost's shared helpers.
#include "tools/naphost/host_util.h"

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "kern/error_text.h"
#include "kern/exceptions.h"
#include "kern/numstrings.h"

namespace naphost {

uint64_t parse_number(const std::string& text, uint64_t max, const char* what) {
  uint64_t value = 0;
  try {
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
      if (text.size() > 18) throw usage_error("");
      for (size_t i = 2; i < text.size(); ++i) {
        const char c = text[i];
        const int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        if (d < 0) throw usage_error("");
        value = value * 16 + static_cast<uint64_t>(d);
      }
    } else {
      value = kern_n::string_to_number<uint64_t>(lstr_t(text), false, true);
    }
  } catch (const d_exception_t_shell_t& e) {
    throw usage_error(std::string(what) + " must be a number, not \"" + text + "\" (" + e.what() + ")");
  } catch (const std::exception&) {
    throw usage_error(std::string(what) + " must be a number, not \"" + text + "\"");
  }
  if (value > max) throw usage_error(std::string(what) + " must be at most " + std::to_string(max) + ", not " + text);
  return value;
}

std::string hex8(HRESULT hr) {
  char buffer[16];
  std::snprintf(buffer, sizeof(buffer), "%08X", static_cast<unsigned>(hr));
  return buffer;
}

std::string hresult_text(HRESULT hr) { return "0x" + hex8(hr) + " (" + format_system_error(static_cast<uint32_t>(hr)) + ")"; }

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string json_string(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7f) {
      char buffer[8];
      std::snprintf(buffer, sizeof(buffer), "\\u%04x", c);
      out += buffer;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

int call_module_export(const std::string& module, const char* function) {
  HMODULE handle = LoadLibraryA(module.c_str());
  if (handle == nullptr) {
    std::fprintf(stderr, "naphost: cannot load %s: %s\n", module.c_str(), get_last_error().c_str());
    return 1;
  }
  auto fn = reinterpret_cast<HRESULT (*)()>(reinterpret_cast<void*>(GetProcAddress(handle, function)));
  if (fn == nullptr) {
    std::fprintf(stderr, "naphost: %s was loaded, but its %s entry point was not found\n", module.c_str(), function);
    return 1;
  }
  const HRESULT hr = fn();
  // The module stays loaded until naphost ends, as COM keeps its servers: a
  // module unloaded here would leave its process-lifetime allocations behind.
  if (SUCCEEDED(hr)) {
    std::printf("%s in %s succeeded: 0x%s\n", function, module.c_str(), hex8(hr).c_str());
    return 0;
  }
  std::printf("%s in %s failed: %s\n", function, module.c_str(), hresult_text(hr).c_str());
  return 1;
}

}  // namespace naphost
