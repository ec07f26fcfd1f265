// The central servers of one request: the ServerName setting as a list of
// servers, asked in turn within the request's one time limit.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace nap_servers {

// Why a server gave no verdict.
enum class failure_t { none, refused, timed_out, unresolved, closed };
// In words, for the event log.
const char* describe(failure_t failure);

// What asking the servers gave: a verdict, or none and why the first server
// asked gave none.
struct answer_t {
  bool verdict_received = false;
  bool compliant = false;
  failure_t first_failure = failure_t::none;
};

// The servers of a ServerName setting: entries separated by ";", blanks
// around each ignored, empty ones dropped. A setting without ";" is its one
// server exactly as stored.
std::vector<std::string> split(const std::string& setting);

// Asks the servers in order, every address of a name as a server of its own,
// until one gives a verdict or server_timeout_ms (0: the validator's
// default) has passed. A server that does not resolve or refuses passes to
// the next at once; until its greeting each gets at most the time left
// divided by the servers left, and once it has greeted the rest. Throws only
// when no server could be tried at all (every entry malformed or
// unresolvable): the last one's failure, the others' having been logged;
// first_failure, when given, then tells whether a name did not resolve.
answer_t ask(const std::string& setting, uint16_t port, uint32_t server_timeout_ms, const std::string& client_id,
             const std::string& digest, failure_t* first_failure = nullptr);

}  // namespace nap_servers
