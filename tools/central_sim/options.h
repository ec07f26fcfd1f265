// central-sim's settings: where it listens, what it greets with, its verdict
// table and the misbehaviours it can be told to show.
#pragma once

#include <cstdint>
#include <string>

#include "tools/central_sim/verdict_table.h"

namespace central_sim {

enum class behaviour_t {
  normal,          // greet, answer NAPVALIDATE with NAPSTATE, close after STOP
  silent,          // accept and never send anything
  close_early,     // close right after the client's NAPVALIDATE, no verdict
  stop,            // answer NAPVALIDATE with STOP instead of a verdict
  violation,       // answer NAPVALIDATE with VIOLATION instead of a verdict
  flood,           // after the greeting, send bytes without any CR LF
  line_flood,      // after the greeting, send well-formed unknown lines without pause
  linger,          // send the verdict and never close
};

struct options_t {
  std::string address = "127.0.0.1";
  uint16_t port = 0;               // 0: any free port (see port_file)
  std::string port_file;           // where the chosen port is written
  std::string protocol_options = "CRYPT,COMP";
  verdict_table_t verdicts;
  behaviour_t behaviour = behaviour_t::normal;
  bool split_writes = false;       // every line in several small writes
  bool coalesce = false;           // greeting and verdict lines sent together when possible
  uint32_t delay_ms = 0;           // before each answer
  uint32_t drip_ms = 0;            // every byte sent alone, this long after the last
  uint64_t max_conversations = 0;  // 0: serve until killed
  uint64_t flood_bytes = 1 << 20;
};

}  // namespace central_sim
