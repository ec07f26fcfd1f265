// The validator on its request path, each against a baseline in the same run:
// Validate -> OnComplete on a cache hit against one empty thread created and
// joined, and a cache miss (a conversation with central-sim on loopback)
// against a minimal hand-written client holding the same conversation.
#include <benchmark/benchmark.h>

#include <utility>
#include <boost/asio.hpp>
#include <boost/thread/thread.hpp>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>

#include "base/com_ptr.h"
#include "central_sim.h"
#include "common/component_ids.h"
#include "common/settings.h"
#include "kern/regkey.h"
#include "ratio_reporter.h"
#include "registry_fixture.h"
#include "shv/nap_validator.h"
#include "tools/naphost/nap_request.h"

namespace {

struct environment_t {
  test_support::temp_store_t store;
  std::unique_ptr<test_support::central_sim_t> sim;
  base_n::com_ptr_t<INapSystemHealthValidator> validator;
  HMODULE napsdk = nullptr;
  bool ready = false;

  environment_t() {
    setenv("SHV_DEBUG_OUTPUT", (store.dir() + "/debug.log").c_str(), 1);
    setenv("SHV_EVENT_LOG", (store.dir() + "/events.log").c_str(), 1);
    sim = std::make_unique<test_support::central_sim_t>();
    napsdk = LoadLibraryA("napsdk.dll");
    if (napsdk == nullptr) return;
    reinterpret_cast<HRESULT (*)()>(reinterpret_cast<void*>(GetProcAddress(napsdk, "DllRegisterServer")))();
    HMODULE healthval = LoadLibraryA("healthval.dll");
    if (healthval == nullptr) return;
    reinterpret_cast<HRESULT (*)()>(reinterpret_cast<void*>(GetProcAddress(healthval, "DllRegisterServer")))();
    shv_settings::write("server_name", std::u16string(u"127.0.0.1"));
    shv_settings::write("server_port", static_cast<uint32_t>(sim->port()));
    shv_settings::write("cache_time", 3600u);
    ready = SUCCEEDED(CoCreateInstance(CLSID_SHVValidator, nullptr, CLSCTX_INPROC_SERVER, IID_INapSystemHealthValidator,
                                       validator.out_void()));
  }
};

environment_t& env() {
  static environment_t e;
  return e;
}

void validate_cache_hit(benchmark::State& state) {
  environment_t& e = env();
  if (!e.ready) {
    state.SkipWithError("validator not available");
    return;
  }
  const std::vector<soh_wire::attribute_t> soh = {soh_wire::make_system_health_id(0x0073FA02),
                                                  soh_wire::make_vendor_specific(0x0073FA02, "1 bench-hit d")};
  for (auto _ : state) {
    if (!naphost::validate_once(e.validator.get(), soh, false, std::chrono::seconds(10)).completed) {
      state.SkipWithError("no completion");
      return;
    }
  }
}
BENCHMARK(validate_cache_hit)->UseRealTime();

// The same cache hit with EventLogLevel 2 (events on, written to the event
// log stand-in's file) and 0 (off): arguments level, and whether every
// request leaves an event to write (its network policy names a configuration
// that does not exist, a new one each time; the worst case, as the other
// events are rate limited). Events are written after OnComplete: the time to
// OnComplete must not change.
void validate_cache_hit_events(benchmark::State& state) {
  environment_t& e = env();
  if (!e.ready) {
    state.SkipWithError("validator not available");
    return;
  }
  const DWORD level = static_cast<DWORD>(state.range(0));
  const bool event_each = state.range(1) != 0;
  {
    win::regkey_t key;
    key.create(HKEY_LOCAL_MACHINE, shv_settings::settings_key, KEY_SET_VALUE);
    win::set_dword_value(key.get(), u"EventLogLevel", level);
  }
  const std::vector<soh_wire::attribute_t> soh = {soh_wire::make_system_health_id(0x0073FA02),
                                                  soh_wire::make_vendor_specific(0x0073FA02, "1 bench-hit d")};
  static UINT32 next_id = 1000;
  for (auto _ : state) {
    const std::optional<UINT32> config = event_each ? std::optional<UINT32>(next_id++) : std::nullopt;
    if (!naphost::validate_once(e.validator.get(), soh, false, std::chrono::seconds(10), config).completed) {
      state.SkipWithError("no completion");
      return;
    }
  }
}
BENCHMARK(validate_cache_hit_events)->Args({2, 0})->Args({0, 0})->Args({2, 1})->Args({0, 1})->UseRealTime();

void empty_thread(benchmark::State& state) {
  for (auto _ : state) {
    boost::thread t([] {});
    t.join();
  }
}
BENCHMARK(empty_thread)->UseRealTime();

void conversation_nap_validator(benchmark::State& state) {
  environment_t& e = env();
  for (auto _ : state) {
    nap_validator_t v("127.0.0.1", e.sim->port(), "bench-miss", "d");
    v.validate(5000);
    if (!v.verdict_received()) state.SkipWithError("no verdict");
  }
}
BENCHMARK(conversation_nap_validator)->UseRealTime();

// The same conversation, written by hand on one blocking socket.
void conversation_minimal_client(benchmark::State& state) {
  environment_t& e = env();
  boost::asio::io_context io;
  const boost::asio::ip::tcp::endpoint server(boost::asio::ip::make_address("127.0.0.1"), e.sim->port());
  for (auto _ : state) {
    boost::asio::ip::tcp::socket s(io);
    s.connect(server);
    boost::asio::streambuf in;
    boost::asio::read_until(s, in, "\r\n");
    const std::string request = "0 PROTOCOL 2 21 REDIVEVE,CRYPT,COMP\r\n1 NAPVALIDATE bench-miss d\r\n";
    boost::asio::write(s, boost::asio::buffer(request));
    boost::asio::read_until(s, in, "NAPSTATE");
    boost::asio::read_until(s, in, "\r\n");
    boost::asio::write(s, boost::asio::buffer(std::string("2 STOP\r\n")));
    boost::system::error_code ec;
    char rest[256];
    while (!ec) s.read_some(boost::asio::buffer(rest), ec);  // until the server closes
  }
}
BENCHMARK(conversation_minimal_client)->UseRealTime();

// The same conversation as a minimal asynchronous client that, like the
// validator, serves its own I/O context with two threads for each query.
void conversation_minimal_async_client(benchmark::State& state) {
  environment_t& e = env();
  const boost::asio::ip::tcp::endpoint server(boost::asio::ip::make_address("127.0.0.1"), e.sim->port());
  for (auto _ : state) {
    boost::asio::io_context io;
    auto work = boost::asio::make_work_guard(io);
    boost::thread_group threads;
    for (int i = 0; i < 2; ++i) threads.create_thread([&io] { io.run(); });
    boost::asio::ip::tcp::socket s(io);
    boost::asio::streambuf in;
    char rest[256];
    const std::string request = "0 PROTOCOL 2 21 REDIVEVE,CRYPT,COMP\r\n1 NAPVALIDATE bench-miss d\r\n";
    const std::string stop = "2 STOP\r\n";
    std::function<void(boost::system::error_code, size_t)> drain = [&](boost::system::error_code ec, size_t) {
      if (ec) {
        work.reset();
        io.stop();
        return;
      }
      s.async_read_some(boost::asio::buffer(rest), drain);
    };
    s.async_connect(server, [&](boost::system::error_code ec) {
      if (ec) return io.stop();
      boost::asio::async_read_until(s, in, "\r\n", [&](boost::system::error_code, size_t) {
        boost::asio::async_write(s, boost::asio::buffer(request), [&](boost::system::error_code, size_t) {
          boost::asio::async_read_until(s, in, "NAPSTATE", [&](boost::system::error_code, size_t) {
            boost::asio::async_read_until(s, in, "\r\n", [&](boost::system::error_code, size_t) {
              boost::asio::async_write(s, boost::asio::buffer(stop), [&](boost::system::error_code ec2, size_t) {
                drain(ec2, 0);
              });
            });
          });
        });
      });
    });
    threads.join_all();
  }
}
BENCHMARK(conversation_minimal_async_client)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  return run_benchmarks_with_ratios(
      argc, argv,
      {{"Validate->OnComplete (cache hit) / empty thread create+join", "validate_cache_hit", "empty_thread", 2.0},
       {"the same, events on (EventLogLevel 2) / empty thread", "validate_cache_hit_events/2/0", "empty_thread", 2.0},
       {"the same, events off (EventLogLevel 0) / empty thread", "validate_cache_hit_events/0/0", "empty_thread", 2.0},
       {"an event each request, events on / empty thread", "validate_cache_hit_events/2/1", "empty_thread", 2.0},
       {"an event each request, events off / empty thread", "validate_cache_hit_events/0/1", "empty_thread", 2.0},
       {"nap_validator_t conversation / minimal async client, own 2 threads", "conversation_nap_validator",
        "conversation_minimal_async_client", 2.0},
       {"nap_validator_t conversation / minimal blocking client", "conversation_nap_validator",
        "conversation_minimal_client", 2.0}});
}
