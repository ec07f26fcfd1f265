// The central servers of one request: the ServerName setting as a list of
// servers, asked in turn within the request's one time limit.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace nap_servers {

// What asking the servers gave: a verdict, or none.
struct answer_t {
  bool verdict_received = false;
  bool compliant = false;
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
// unresolvable): the last one's failure, the others' having been logged.
answer_t ask(const std::string& setting, uint16_t port, uint32_t server_timeout_ms, const std::string& client_id,
             const std::string& digest);

}  // namespace nap_servers
