// naphost validate: requests through INapSystemHealthValidator::Validate, the
// way the NAP server makes them, one JSON line each and a summary.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/com_ptr.h"
#include "platform/process_stats.h"
#include "platform/soh/soh_wire.h"
#include "tools/naphost/commands.h"
#include "tools/naphost/event_echo.h"
#include "tools/naphost/host_util.h"
#include "tools/naphost/nap_request.h"

namespace {

const char usage[] = R"(usage: naphost validate (--record TEXT | --records FILE | --soh FILE) [options]

Validates clients through the registered validator (CoCreateInstance of its
class, INapSystemHealthValidator::Validate) and waits for every OnComplete.

Input (one of):
  --record TEXT      an SoH with one vendor-specific attribute of the validator
                     carrying TEXT; "{n}" in TEXT becomes the request number
  --records FILE     one record per line, used in turn
  --soh FILE         a whole SoH message as a client sends it; the validator
                     gets its own entry, or a null SoH when there is none
Load:
  --count N          requests to make (default: 1, or one per line of --records)
  --concurrency C    requests in flight at once (default 1)
  --timeout-ms T     how long to wait for each OnComplete (default 60000)
  --pause-ms P       paced requests: each in-flight slot waits P ms after an
                     OnComplete before its next request (default 0)
  --thread-baseline  also time creating and joining one empty thread, as many
                     times as there were requests, and print the ratio of the
                     wall time per request to it
Network policy:
  --config-id N      the requests name configuration N of the validator, as
                     a NAP server does for a network policy that picks one
                     (INapSystemHealthValidationRequest2); without it they
                     name none, as a server of the first generation

Output: one JSON line per request on standard output,
  {"request":0,"status":"00000000","compliance":"00000000","ms":1.2}
  {"request":1,"status":"00000000","failure_category":5,"ms":0.8}
  {"request":2,"status":"80270001","response":null,"ms":0.5}
then a summary on standard error (outcomes, latencies, validations per second,
peak resident memory). Exit status 0 when every request completed.
)";

struct input_t {
  std::vector<std::string> records;                // --record / --records
  std::vector<soh_wire::attribute_t> soh;          // --soh
  bool use_soh = false;
  bool null_soh = false;
  std::optional<UINT32> config_id;                 // --config-id
};

struct result_t {
  bool completed = false;
  HRESULT status = S_OK;
  std::string answer;  // JSON fields after "status"
  std::string outcome;
  double ms = 0;
};

std::string replace_number(std::string text, uint64_t n) {
  const std::string mark = "{n}";
  for (size_t at = text.find(mark); at != std::string::npos; at = text.find(mark, at)) {
    text.replace(at, mark.size(), std::to_string(n));
  }
  return text;
}

result_t run_one(INapSystemHealthValidator* validator, const input_t& input, uint64_t n,
                 std::chrono::milliseconds limit) {
  std::vector<soh_wire::attribute_t> soh = input.soh;
  if (!input.use_soh) {
    const std::string record = replace_number(input.records[n % input.records.size()], n);
    soh = {soh_wire::make_system_health_id(0x0073FA02), soh_wire::make_vendor_specific(0x0073FA02, record)};
  }
  const naphost::outcome_t o = naphost::validate_once(validator, std::move(soh), input.use_soh && input.null_soh, limit,
                                                      input.config_id);
  const HRESULT hr = o.validate_result;
  const bool completed = o.completed;
  result_t r;
  r.ms = o.took.count();
  if (hr != E_PENDING) {
    r.status = hr;
    r.answer = ",\"response\":null";
    r.outcome = "refused " + naphost::hex8(hr);
  } else if (!completed) {
    r.status = E_PENDING;
    r.answer = ",\"response\":null";
    r.outcome = "no completion";
  } else {
    r.completed = true;
    r.status = o.status;
    const auto& response = o.response;
    if (response.size() == 2 && response[1].type == soh_wire::compliance_result_codes) {
      const std::string code = naphost::hex8(static_cast<HRESULT>(soh_wire::read_u32(response[1].value, 0)));
      r.answer = ",\"compliance\":\"" + code + "\"";
      r.outcome = code == "00000000" ? "compliant" : "compliance " + code;
    } else if (response.size() == 2 && response[1].type == soh_wire::failure_category) {
      r.answer = ",\"failure_category\":" + std::to_string(response[1].value.at(0));
      r.outcome = "failure category " + std::to_string(response[1].value.at(0));
    } else {
      r.answer = ",\"response\":null";
      r.outcome = "no response, status " + naphost::hex8(r.status);
    }
  }
  return r;
}

// Creating and joining one empty thread, count times: the cost every request
// pays at least once for its worker. Milliseconds per thread.
double empty_thread_ms(uint64_t count) {
  const auto start = std::chrono::steady_clock::now();
  for (uint64_t i = 0; i < count; ++i) std::thread([] {}).join();
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count() /
         static_cast<double>(std::max<uint64_t>(count, 1));
}

input_t read_input(const std::string& record, const std::string& records_file, const std::string& soh_file) {
  input_t input;
  const int given = !record.empty() + !records_file.empty() + !soh_file.empty();
  if (given != 1) throw naphost::usage_error("give exactly one of --record, --records and --soh");
  if (!record.empty()) input.records.push_back(record);
  if (!records_file.empty()) {
    std::ifstream in(records_file);
    if (!in) throw naphost::usage_error("cannot read " + records_file);
    std::string line;
    while (std::getline(in, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      input.records.push_back(line);
    }
    if (input.records.empty()) throw naphost::usage_error(records_file + " holds no record");
  }
  if (!soh_file.empty()) {
    input.use_soh = true;
    std::string bytes;
    try {
      bytes = naphost::read_file(soh_file);
    } catch (const std::runtime_error& e) {
      throw naphost::usage_error(e.what());
    }
    try {
      const soh_wire::message_t m =
          soh_wire::decode_message(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
      if (const soh_wire::entry_t* mine = m.find(0x0073FA02)) {
        input.soh = mine->attributes;
      } else {
        input.null_soh = true;
      }
    } catch (const soh_wire::format_error& e) {
      throw naphost::usage_error(soh_file + " is not an SoH message: " + e.what());
    }
  }
  return input;
}

int run(int argc, char** argv) {
  std::string record, records_file, soh_file;
  uint64_t count = 0, concurrency = 1, timeout_ms = 60000, pause_ms = 0;
  bool thread_baseline = false;
  std::optional<UINT32> config_id;
  try {
    for (int i = 1; i < argc; ++i) {
      const std::string arg = argv[i];
      auto value = [&]() -> std::string {
        if (i + 1 >= argc) throw naphost::usage_error(arg + " needs a value");
        return argv[++i];
      };
      if (arg == "--help") {
        std::fputs(usage, stdout);
        return 0;
      } else if (arg == "--record") {
        record = value();
        if (record.empty()) throw naphost::usage_error("--record needs a text (an empty record: use --records)");
      } else if (arg == "--records") {
        records_file = value();
      } else if (arg == "--soh") {
        soh_file = value();
      } else if (arg == "--count") {
        count = naphost::parse_number(value(), 100000000, "--count");
      } else if (arg == "--concurrency") {
        concurrency = naphost::parse_number(value(), 1024, "--concurrency");
        if (concurrency == 0) throw naphost::usage_error("--concurrency must be at least 1");
      } else if (arg == "--timeout-ms") {
        timeout_ms = naphost::parse_number(value(), 3600000, "--timeout-ms");
      } else if (arg == "--pause-ms") {
        pause_ms = naphost::parse_number(value(), 3600000, "--pause-ms");
      } else if (arg == "--thread-baseline") {
        thread_baseline = true;
      } else if (arg == "--config-id") {
        config_id = static_cast<UINT32>(naphost::parse_number(value(), UINT32_MAX, "--config-id"));
      } else {
        throw naphost::usage_error("unknown option " + arg);
      }
    }
    input_t input = read_input(record, records_file, soh_file);
    input.config_id = config_id;
    if (count == 0) count = input.use_soh ? 1 : input.records.size();

    base_n::com_ptr_t<INapSystemHealthValidator> validator;
    const HRESULT hr = CoCreateInstance(CLSID_SHVValidator, nullptr, CLSCTX_INPROC_SERVER,
                                        IID_INapSystemHealthValidator, validator.out_void());
    if (FAILED(hr)) {
      std::fprintf(stderr, "naphost validate: cannot create the validator: %s\n", naphost::hresult_text(hr).c_str());
      return 1;
    }

    // Only a latency per request is kept, so that the host's own memory does
    // not grow with the number of requests it makes.
    std::vector<double> latencies(count);
    std::vector<std::pair<std::string, uint64_t>> outcomes;
    bool all_completed = true;
    std::atomic<uint64_t> next{0};
    std::mutex out_lock;
    auto worker = [&] {
      for (uint64_t n = next.fetch_add(1); n < count; n = next.fetch_add(1)) {
        if (pause_ms != 0 && n >= concurrency) std::this_thread::sleep_for(std::chrono::milliseconds(pause_ms));
        const result_t r = run_one(validator.get(), input, n, std::chrono::milliseconds(timeout_ms));
        latencies[n] = r.ms;
        char ms[32];
        std::snprintf(ms, sizeof(ms), "%.3f", r.ms);
        std::lock_guard<std::mutex> guard(out_lock);
        std::printf("{\"request\":%llu,\"status\":\"%s\"%s,\"ms\":%s}\n", static_cast<unsigned long long>(n),
                    naphost::hex8(r.status).c_str(), r.answer.c_str(), ms);
        all_completed = all_completed && r.completed;
        auto it = std::find_if(outcomes.begin(), outcomes.end(), [&](const auto& o) { return o.first == r.outcome; });
        if (it == outcomes.end()) {
          outcomes.emplace_back(r.outcome, 1);
        } else {
          ++it->second;
        }
      }
    };
    const auto run_start = std::chrono::steady_clock::now();
    std::vector<std::thread> threads;
    for (uint64_t t = 0; t < std::min(concurrency, count); ++t) threads.emplace_back(worker);
    for (auto& t : threads) t.join();
    const double wall_ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - run_start).count();
    std::fflush(stdout);
    // The validator's threads release the last objects just after OnComplete:
    // none may call into this host once it has gone.
    if (!naphost::wait_until_no_live_objects(std::chrono::milliseconds(timeout_ms))) all_completed = false;
    // The workers write their events after OnComplete: they are shown too.
    validator.reset();
    naphost::wait_for_workers();

    std::sort(latencies.begin(), latencies.end());
    auto percentile = [&](double p) {
      return latencies.empty() ? 0.0 : latencies[std::min(latencies.size() - 1, static_cast<size_t>(p * latencies.size()))];
    };
    std::fprintf(stderr, "naphost validate: %llu requests;", static_cast<unsigned long long>(count));
    for (const auto& o : outcomes) std::fprintf(stderr, " %s: %llu;", o.first.c_str(), static_cast<unsigned long long>(o.second));
    const double per_second = wall_ms > 0 ? static_cast<double>(count) * 1000.0 / wall_ms : 0.0;
    std::fprintf(stderr, " latency p50 %.3f ms, p99 %.3f ms; %.0f validations/s; peak resident memory %llu KiB\n",
                 percentile(0.50), percentile(0.99), per_second,
                 static_cast<unsigned long long>(plat::peak_resident_kib()));
    if (thread_baseline) {
      const double thread_ms = empty_thread_ms(count);
      const double request_ms = wall_ms / static_cast<double>(std::max<uint64_t>(count, 1));
      std::fprintf(stderr,
                   "naphost validate: wall time per request %.4f ms; empty thread create+join %.4f ms; ratio %.2fx\n",
                   request_ms, thread_ms, thread_ms > 0 ? request_ms / thread_ms : 0.0);
    }
    return all_completed ? 0 : 1;
  } catch (const naphost::usage_error& e) {
    std::fprintf(stderr, "naphost validate: %s (see --help)\n", e.what());
    return 2;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "naphost validate: %s\n", e.what());
    return 1;
  }
}

const naphost::command_t command("validate", "validate clients through the registered validator", &run);

}  // namespace
