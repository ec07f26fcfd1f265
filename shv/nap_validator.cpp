// The client side of the central server's line protocol.
#include "shv/nap_validator.h"

#include <cstdarg>

#include "kern/logger.h"
#include "kern/split.h"
#include "kern/strings.h"

namespace {

const char tag[] = "NAP";

bool equals_ignoring_ascii_case(lstr_t a, const char* b) {
  const lstr_t other(b);
  if (a.length != other.length) return false;
  for (uint64_t i = 0; i < a.length; ++i) {
    char x = a[i], y = other[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}


}  // namespace

nap_validator_t::nap_validator_t(const std::string& host, uint16_t port, const std::string& client_id,
                                 const std::string& digest)
    : host_(host), port_(port), client_id_(client_id), digest_(digest) {
  commands_.emplace("PROTOCOL", &nap_validator_t::on_protocol);
  commands_.emplace("NAPSTATE", &nap_validator_t::on_napstate);
  commands_.emplace("STOP", &nap_validator_t::on_stop);
  commands_.emplace("VIOLATION", &nap_validator_t::on_violation);
}

bool nap_validator_t::on_recv_bytes(const char* data, size_t size) {
  input_.append(data, size);
  return consume_input();
}

bool nap_validator_t::consume_input() {
  if (!process_input()) return false;
  if (input_.size() > max_pending_input) {
    KLOG(lvl_error, "[%s] %lu bytes from the server without a line end, closing the connection", tag,
         static_cast<unsigned long>(input_.size()));
    kern_n::clear_string(input_);
    return false;
  }
  return true;
}

bool nap_validator_t::process_input() {
  for (;;) {
    const size_t end = input_.find("\r\n");
    if (end == std::string::npos) return true;
    // The line is taken out of the buffer before it is handled.
    const std::string line = input_.substr(0, end);
    input_.erase(0, end + 2);
    KLOG(lvl_debug3, "rcv \"%.*s\"", static_cast<int>(line.size()), line.data());
    if (!process_command(lstr_t(line))) return false;
  }
}

bool nap_validator_t::process_command(lstr_t line) {
  KLOG(lvl_debug3, "[%s] process_command", tag);
  const words_t words = kern_n::split_words(line, ' ');
  if (words.size() < 2) {
    violation("expected at least 2 arguments, but %lu received\n", static_cast<unsigned long>(words.size()));
    return true;
  }
  const auto it = commands_.find(words[1].view());
  if (it == commands_.end()) {
    violation("unknown command \"%.*s\"", words[1].ilen(), words[1].pointer);
    return true;
  }
  return (this->*(it->second))(words);
}

void nap_validator_t::violation(const char* format, ...) {
  KLOG(lvl_debug3, "[%s] violation", tag);
  std::string message;
  va_list args;
  va_start(args, format);
  string_vprintf(message, format, args);
  va_end(args);
  std::string line;
  kern_n::append_decimal(line, next_sequence());
  line += " VIOLATION ";
  line += message;
  line += '\n';
  send(std::move(line));
}

bool nap_validator_t::on_protocol(const words_t& words) {
  KLOG(lvl_debug3, "[%s] on_protocol", tag);
  if (words.size() != 5) {
    violation("PROTOCOL: 4 arguments expected, but %lu received", static_cast<unsigned long>(words.size()));
    return true;
  }
  note_greeting();
  bool crypt = false;
  for (const lstr_t& option : kern_n::split_words(words[4], ',')) {
    if (option.empty()) continue;
    if (equals_ignoring_ascii_case(option, "CRYPT")) crypt = true;
    // "COMP" is recognised but changes nothing: this connection stays plain.
  }
  std::string out;
  kern_n::append_decimal(out, next_sequence());
  out += " PROTOCOL 2 21 REDIVEVE";
  if (crypt) out += ",CRYPT,COMP";
  out += "\r\n";
  kern_n::append_decimal(out, next_sequence());
  out += " NAPVALIDATE ";
  out += client_id_;
  out += ' ';
  out += digest_;
  out += "\r\n";
  send(std::move(out));
  return true;
}

bool nap_validator_t::on_napstate(const words_t& words) {
  KLOG(lvl_debug3, "[%s] on_napstate", tag);
  if (words.size() != 3) {
    violation("NAPSTATE: expected 3 parameters but %lu received", static_cast<unsigned long>(words.size()));
    return true;
  }
  compliant_ = equals_ignoring_ascii_case(words[2], "OK");
  verdict_received_ = true;
  std::string out;
  kern_n::append_decimal(out, next_sequence());
  out += " STOP\r\n";
  send(std::move(out));
  return true;
}

bool nap_validator_t::on_stop(const words_t&) {
  KLOG(lvl_debug3, "[%s] on_stop", tag);
  return false;
}

bool nap_validator_t::on_violation(const words_t&) {
  KLOG(lvl_debug3, "[%s] on_violation", tag);
  return false;
}
