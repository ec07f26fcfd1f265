// The event log stand-in: one JSON line per reported event in $SHV_EVENT_LOG.
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <unistd.h>

#include "platform/linux/kernel/write_all.h"
#include "platform/win32.h"

namespace {

// What a handle points at: the source's name, checked by a tag so that a
// stray pointer is refused rather than read.
struct event_source_t {
  static constexpr unsigned live_tag = 0x45564c47;
  unsigned tag = live_tag;
  std::u16string name;
};

struct hold_t {
  std::mutex lock;
  std::condition_variable changed;
  bool held = false;
  unsigned waiters = 0;
};

hold_t& hold() {
  static auto* state = new hold_t;  // outlives every static destructor that reports
  return *state;
}

void append_utf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// A JSON string of UTF-16 text; a lone surrogate becomes U+FFFD.
void append_json(std::string& out, const char16_t* text) {
  out += '"';
  for (const char16_t* p = text; p != nullptr && *p != 0; ++p) {
    char32_t c = *p;
    if (c >= 0xD800 && c <= 0xDBFF && p[1] >= 0xDC00 && p[1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (p[1] - 0xDC00);
      ++p;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof(escaped), "\\u%04x", static_cast<unsigned>(c));
      out += escaped;
    } else {
      append_utf8(out, c);
    }
  }
  out += '"';
}

const char* type_name(WORD type) {
  switch (type) {
    case EVENTLOG_ERROR_TYPE: return "error";
    case EVENTLOG_WARNING_TYPE: return "warning";
    case EVENTLOG_INFORMATION_TYPE: return "information";
    default: return "success";
  }
}

void write_line(const std::string& line) {
  const char* path = std::getenv("SHV_EVENT_LOG");
  if (path == nullptr || *path == '\0') return;
  const int fd = ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return;
  plat_linux::write_all(fd, line.data(), line.size());
  ::close(fd);
}

}  // namespace

HANDLE RegisterEventSourceW(LPCWSTR server, LPCWSTR source) {
  if (server != nullptr || source == nullptr || *source == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto* handle = new event_source_t;
  handle->name = source;
  return handle;
}

BOOL ReportEventW(HANDLE log, WORD type, WORD, DWORD event_id, PSID, WORD string_count, DWORD, LPCWSTR* strings,
                  LPVOID) {
  auto* source = static_cast<event_source_t*>(log);
  if (source == nullptr || source->tag != event_source_t::live_tag) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  {
    hold_t& h = hold();
    std::unique_lock<std::mutex> guard(h.lock);
    ++h.waiters;
    h.changed.notify_all();
    h.changed.wait(guard, [&] { return !h.held; });
    --h.waiters;
  }
  std::string line = "{\"source\":";
  append_json(line, source->name.c_str());
  line += ",\"type\":\"";
  line += type_name(type);
  line += "\",\"id\":" + std::to_string(event_id) + ",\"strings\":[";
  for (WORD i = 0; i < string_count; ++i) {
    if (i != 0) line += ',';
    append_json(line, strings != nullptr ? strings[i] : nullptr);
  }
  line += "]}\n";
  write_line(line);
  return TRUE;
}

BOOL DeregisterEventSource(HANDLE log) {
  auto* source = static_cast<event_source_t*>(log);
  if (source == nullptr || source->tag != event_source_t::live_tag) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  source->tag = 0;
  delete source;
  return TRUE;
}

void shv_test_hold_event_log(bool held) {
  hold_t& h = hold();
  {
    std::lock_guard<std::mutex> guard(h.lock);
    h.held = held;
  }
  h.changed.notify_all();
}

unsigned shv_test_event_log_waiters() {
  hold_t& h = hold();
  std::lock_guard<std::mutex> guard(h.lock);
  return h.waiters;
}
