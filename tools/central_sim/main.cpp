// central-sim: a reference central server speaking the server side of the
// validator's line protocol on a loopback address. One JSON line per
// conversation on standard output. See --help.
#include <utility>  // Boost 1.74 Asio uses std::exchange without including it
#include <boost/asio.hpp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>

#include "tools/central_sim/conversation.h"
#include "tools/central_sim/options.h"

namespace asio = boost::asio;
using namespace central_sim;

namespace {

const char usage[] = R"(usage: central-sim [options]

A reference central server for tests and demos. It greets every client with
PROTOCOL, answers NAPVALIDATE with NAPSTATE from its verdict table, closes the
connection after the client's STOP, and prints one JSON line per conversation:
  {"peer":"127.0.0.1:40000","lines":[...lines received...],"verdict":"OK","closed_by":"server"}
("verdict" is null when none was sent; "closed_by" is "server" or "client").

Where it listens (loopback addresses only):
  --listen ADDR        address to listen on (default 127.0.0.1; ::1 for IPv6)
  --port N             port (default 0: a free port chosen by the system)
  --port-file FILE     write the port actually used to FILE, then serve

What it says:
  --options LIST       option list of the PROTOCOL greeting (default CRYPT,COMP;
                       use "" for an empty list)
  --verdict RULE       CLIENT=STATE or CLIENT/DIGEST=STATE; may repeat
  --table FILE         verdict rules, one per line ("#" starts a comment)
  --default STATE      verdict for clients without a rule (default OK)

Misbehaviours (one at a time):
  --silent             accept and never send anything
  --close-early        close right after NAPVALIDATE, without a verdict
  --reply-stop         answer NAPVALIDATE with STOP instead of a verdict
  --reply-violation    answer NAPVALIDATE with VIOLATION instead of a verdict
  --flood BYTES        after the greeting, send BYTES bytes without any CR LF
  --line-flood         after the greeting, send well-formed lines of an unknown
                       command without pause until the client closes
  --linger             send the verdict and never close the connection
And independently:
  --split-writes       send every line in pieces of 3 bytes, one write each
  --coalesce           send NAPSTATE and STOP together in one write, then close
  --delay-ms N         wait N ms before the greeting and before each answer
  --drip-ms N          send every byte alone, N ms after the one before

Other:
  --count N            exit after N conversations (default: serve until killed)
  --help               this text
)";

bool parse_number(const char* text, uint64_t max, uint64_t& out) {
  char* end = nullptr;
  errno = 0;
  const unsigned long long v = std::strtoull(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || v > max || text[0] == '-') return false;
  out = v;
  return true;
}

int fail(const std::string& message) {
  std::fprintf(stderr, "central-sim: %s (see --help)\n", message.c_str());
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  options_t options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](const char* name) -> const char* {
      if (i + 1 >= argc) return nullptr;
      (void)name;
      return argv[++i];
    };
    uint64_t n = 0;
    if (arg == "--help" || arg == "-h") {
      std::fputs(usage, stdout);
      return 0;
    } else if (arg == "--listen") {
      const char* v = value("--listen");
      if (!v) return fail("--listen needs an address");
      options.address = v;
    } else if (arg == "--port") {
      const char* v = value("--port");
      if (!v || !parse_number(v, 65535, n)) return fail("--port needs a number from 0 to 65535");
      options.port = static_cast<uint16_t>(n);
    } else if (arg == "--port-file") {
      const char* v = value("--port-file");
      if (!v) return fail("--port-file needs a file name");
      options.port_file = v;
    } else if (arg == "--options") {
      const char* v = value("--options");
      if (!v) return fail("--options needs a list");
      options.protocol_options = v;
    } else if (arg == "--verdict") {
      const char* v = value("--verdict");
      if (!v || !options.verdicts.add(v)) return fail("--verdict needs CLIENT=STATE or CLIENT/DIGEST=STATE");
    } else if (arg == "--table") {
      const char* v = value("--table");
      std::string error;
      if (!v) return fail("--table needs a file name");
      if (!options.verdicts.load(v, error)) return fail(error);
    } else if (arg == "--default") {
      const char* v = value("--default");
      if (!v || !*v) return fail("--default needs a state");
      options.verdicts.set_default(v);
    } else if (arg == "--silent") {
      options.behaviour = behaviour_t::silent;
    } else if (arg == "--close-early") {
      options.behaviour = behaviour_t::close_early;
    } else if (arg == "--reply-stop") {
      options.behaviour = behaviour_t::stop;
    } else if (arg == "--reply-violation") {
      options.behaviour = behaviour_t::violation;
    } else if (arg == "--line-flood") {
      options.behaviour = behaviour_t::line_flood;
    } else if (arg == "--linger") {
      options.behaviour = behaviour_t::linger;
    } else if (arg == "--flood") {
      const char* v = value("--flood");
      if (!v || !parse_number(v, 1ull << 32, n)) return fail("--flood needs a byte count");
      options.behaviour = behaviour_t::flood;
      options.flood_bytes = n;
    } else if (arg == "--split-writes") {
      options.split_writes = true;
    } else if (arg == "--coalesce") {
      options.coalesce = true;
    } else if (arg == "--delay-ms") {
      const char* v = value("--delay-ms");
      if (!v || !parse_number(v, 3600000, n)) return fail("--delay-ms needs milliseconds");
      options.delay_ms = static_cast<uint32_t>(n);
    } else if (arg == "--drip-ms") {
      const char* v = value("--drip-ms");
      if (!v || !parse_number(v, 3600000, n) || n == 0) return fail("--drip-ms needs milliseconds (at least 1)");
      options.drip_ms = static_cast<uint32_t>(n);
    } else if (arg == "--count") {
      const char* v = value("--count");
      if (!v || !parse_number(v, UINT64_MAX, n)) return fail("--count needs a number");
      options.max_conversations = n;
    } else {
      return fail("unknown option " + arg);
    }
  }

  boost::system::error_code ec;
  const asio::ip::address address = asio::ip::make_address(options.address, ec);
  if (ec) return fail("not an address: " + options.address);
  if (!address.is_loopback()) return fail("listens on loopback addresses only, not " + options.address);

  asio::io_context io;
  asio::ip::tcp::acceptor acceptor(io);
  const asio::ip::tcp::endpoint endpoint(address, options.port);
  acceptor.open(endpoint.protocol(), ec);
  if (!ec) acceptor.set_option(asio::socket_base::reuse_address(true), ec);
  if (!ec) acceptor.bind(endpoint, ec);
  if (!ec) acceptor.listen(asio::socket_base::max_listen_connections, ec);
  if (ec) return fail("cannot listen on " + options.address + ":" + std::to_string(options.port) + ": " + ec.message());
  const uint16_t port = acceptor.local_endpoint().port();
  if (!options.port_file.empty()) {
    const std::string temp = options.port_file + ".tmp";
    std::ofstream(temp) << port << "\n";
    std::rename(temp.c_str(), options.port_file.c_str());  // readers never see half a number
  }
  std::fprintf(stderr, "central-sim: listening on %s port %u\n", options.address.c_str(), port);

  asio::signal_set signals(io, SIGINT, SIGTERM);
  signals.async_wait([&](boost::system::error_code, int) { io.stop(); });

  uint64_t reported = 0;
  auto report = [&](const std::string& json) {
    std::fputs((json + "\n").c_str(), stdout);
    std::fflush(stdout);
    if (options.max_conversations != 0 && ++reported >= options.max_conversations) io.stop();
  };

  std::function<void()> accept_next = [&] {
    acceptor.async_accept([&](boost::system::error_code error, asio::ip::tcp::socket socket) {
      if (!error) std::make_shared<conversation_t>(std::move(socket), options, report)->start();
      accept_next();
    });
  };
  accept_next();
  io.run();
  return 0;
}
