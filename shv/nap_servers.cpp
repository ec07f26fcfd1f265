// nap_servers: the list of central servers and the order they are asked in.
#include "shv/nap_servers.h"

#include <algorithm>
#include <chrono>

#include "kern/exceptions.h"
#include "kern/logger.h"
#include "kern/pretty_print.h"
#include "kern/runnable.h"
#include "net2/stream/socket.h"
#include "shv/nap_validator.h"

namespace nap_servers {

namespace {

typedef std::chrono::steady_clock steady_t;

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// The end of one server's share of the time left, servers_left counting it.
steady_t::time_point share_end(steady_t::time_point deadline, size_t servers_left) {
  const steady_t::time_point now = steady_t::now();
  if (now >= deadline) return deadline;
  return now + (deadline - now) / static_cast<int64_t>(servers_left);
}

// Inside a catch: the server is passed over, and the log says why.
void log_passed_over(const std::string& server) noexcept {
  if (!kern_n::log_enabled(lvl_error)) return;
  try {
    const std::string text =
        "Unable to ask central server \"" + server + "\" because of " + kern_n::describe_current_exception();
    pretty_print_exception(lvl_error, text.c_str(), nullptr, nullptr);
  } catch (...) {
  }
}

// Inside a catch: whether the server's name or address did not resolve, as
// opposed to a setting that names no server at all.
failure_t failure_of_current() noexcept {
  try {
    throw;
  } catch (const net2::spec_parse_error_shell_t&) {
    return failure_t::unresolved;
  } catch (...) {
    return failure_t::none;
  }
}

void note_first(answer_t& answer, failure_t failure) {
  if (answer.first_failure == failure_t::none) answer.first_failure = failure;
}

}  // namespace

const char* describe(failure_t failure) {
  switch (failure) {
    case failure_t::refused: return "the connection was refused";
    case failure_t::timed_out: return "no answer within ServerTimeout";
    case failure_t::unresolved: return "the name was not resolved";
    case failure_t::closed: return "the connection was closed without a verdict";
    default: return "no verdict";
  }
}

std::vector<std::string> split(const std::string& setting) {
  if (setting.find(';') == std::string::npos) return {setting};
  std::vector<std::string> servers;
  size_t begin = 0;
  for (;;) {
    const size_t end = std::min(setting.find(';', begin), setting.size());
    size_t first = begin, last = end;
    while (first < last && is_blank(setting[first])) ++first;
    while (last > first && is_blank(setting[last - 1])) --last;
    if (last > first) servers.push_back(setting.substr(first, last - first));
    if (end == setting.size()) break;
    begin = end + 1;
  }
  return servers;
}

answer_t ask(const std::string& setting, uint16_t port, uint32_t server_timeout_ms, const std::string& client_id,
             const std::string& digest, failure_t* first_failure) {
  const uint32_t limit = server_timeout_ms != 0 ? server_timeout_ms : nap_validator_t::default_server_timeout_ms;
  // One deadline for the whole request: every name lookup, connection and
  // conversation of every server.
  const steady_t::time_point deadline = steady_t::now() + std::chrono::milliseconds(limit);
  const std::vector<std::string> servers = split(setting);
  if (servers.empty()) KERN_THROW(net_address_format_exception, "empty specification");
  answer_t answer;
  bool asked = false;  // a connection to some server was attempted
  for (size_t i = 0; i < servers.size(); ++i) {
    if (asked && steady_t::now() >= deadline) break;
    const size_t later = servers.size() - i - 1;
    std::vector<boost::asio::ip::tcp::endpoint> addresses;
    try {
      addresses = net2::stream::data_socket::endpoints(servers[i], port, share_end(deadline, 1 + later));
    } catch (...) {
      note_first(answer, failure_of_current());
      if (first_failure != nullptr) *first_failure = answer.first_failure;
      // A request that reached no server has failed, for the last reason.
      if (later == 0 && !asked) throw;
      log_passed_over(servers[i]);
      continue;
    }
    for (size_t j = 0; j < addresses.size(); ++j) {
      if (asked && steady_t::now() >= deadline) break;
      nap_validator_t validator(servers[i], port, client_id, digest);
      validator.validate(addresses[j], share_end(deadline, addresses.size() - j + later), deadline, limit);
      asked = true;
      if (validator.verdict_received()) {
        answer.verdict_received = true;
        answer.compliant = validator.compliant();
        return answer;
      }
      note_first(answer, validator.timed_out()   ? failure_t::timed_out
                         : validator.connected() ? failure_t::closed
                                                 : failure_t::refused);
    }
  }
  return answer;
}

}  // namespace nap_servers
