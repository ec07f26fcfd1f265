// Costs on every request's path in the validator: a verdict cache hit with few
// and with many live entries; and the verdict cache's peak memory as many
// distinct clients pass through, which its bounds on entries and on bytes cap
// whatever the length of the ids the clients send.
#include <benchmark/benchmark.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "ratio_reporter.h"
#include "shv/nap_cache.h"

namespace {

void cache_hit(benchmark::State& state) {
  nap_cache_t cache;
  cache.set_timeout(3600);
  const int entries = static_cast<int>(state.range(0));
  for (int i = 0; i < entries; ++i) cache.set("client-" + std::to_string(i), "0123456789abcdef", i % 2 == 0);
  const std::string probe = "client-" + std::to_string(entries / 2);
  bool compliant = false;
  for (auto _ : state) benchmark::DoNotOptimize(cache.get(probe, "0123456789abcdef", &compliant));
}
BENCHMARK(cache_hit)->Arg(10)->Arg(100000);

// A field of /proc/self/status in KiB.
uint64_t status_kib(const char* field) {
  std::ifstream in("/proc/self/status");
  std::string name;
  uint64_t value = 0;
  while (in >> name) {
    if (name == field) {
      in >> value;
      return value;
    }
    in.ignore(4096, '\n');
  }
  return 0;
}

// The peak memory a cache with the product's bounds reaches while clients
// distinct clients (ids padded to id_length, a digest of 32 hex digits each)
// pass through with a long cache time; measured in a child process of its
// own, in KiB.
uint64_t cache_peak_kib(uint64_t clients, size_t id_length = 0) {
  int pipe_ends[2];
  if (pipe(pipe_ends) != 0) return 0;
  const pid_t child = fork();
  if (child == 0) {
    const uint64_t before = status_kib("VmRSS:");
    {
      nap_cache_t cache;
      cache.set_timeout(86400);
      std::string id;
      for (uint64_t i = 0; i < clients; ++i) {
        id = "client-" + std::to_string(i);
        if (id.size() < id_length) id.resize(id_length, 'x');
        cache.set(id, "9f86d081884c7d659a2feaa0c55ad015", i % 2 == 0);
      }
    }
    const uint64_t growth = status_kib("VmHWM:") - before;
    const ssize_t written = write(pipe_ends[1], &growth, sizeof(growth));
    _exit(written == sizeof(growth) ? 0 : 1);
  }
  close(pipe_ends[1]);
  uint64_t growth = 0;
  if (read(pipe_ends[0], &growth, sizeof(growth)) != sizeof(growth)) growth = 0;
  close(pipe_ends[0]);
  waitpid(child, nullptr, 0);
  return growth;
}

}  // namespace

int main(int argc, char** argv) {
  // First, while the heap holds nothing the children could reuse.
  const uint64_t few = cache_peak_kib(10000);
  const uint64_t at_bound = cache_peak_kib(nap_cache_t::max_entries);
  const uint64_t many = cache_peak_kib(1000000);
  const uint64_t short_ids = cache_peak_kib(200000);
  const uint64_t long_ids = cache_peak_kib(200000, 3900);
  const int status = run_benchmarks_with_ratios(
      argc, argv, {{"cache hit with 100,000 entries / with 10 entries", "cache_hit/100000", "cache_hit/10", 2.0}});
  std::printf("\nVerdict cache peak memory (bound: %zu entries):\n", nap_cache_t::max_entries);
  std::printf("  %-58s %8.1f MB\n", "10,000 distinct clients", static_cast<double>(few) / 1024);
  std::printf("  %-58s %8.1f MB\n", "as many distinct clients as the bound", static_cast<double>(at_bound) / 1024);
  std::printf("  %-58s %8.1f MB\n", "1,000,000 distinct clients", static_cast<double>(many) / 1024);
  std::printf("  %-58s %8.2fx\n", "1,000,000 / 10,000 clients", few != 0 ? static_cast<double>(many) / few : 0.0);
  std::printf("  %-58s %8.2fx\n", "1,000,000 clients / as many as the bound",
              at_bound != 0 ? static_cast<double>(many) / at_bound : 0.0);
  const double budget_mb = static_cast<double>(nap_cache_t::max_bytes) / (1024 * 1024);
  std::printf("\nVerdict cache peak memory by id length (bound: %.0f MB of entries):\n", budget_mb);
  std::printf("  %-58s %8.1f MB\n", "200,000 distinct short ids", static_cast<double>(short_ids) / 1024);
  std::printf("  %-58s %8.1f MB\n", "200,000 distinct 3,900-byte ids", static_cast<double>(long_ids) / 1024);
  std::printf("  %-58s %8.2fx\n", "3,900-byte ids / short ids",
              short_ids != 0 ? static_cast<double>(long_ids) / short_ids : 0.0);
  std::printf("  %-58s %8.2fx\n", "3,900-byte ids / the bound", static_cast<double>(long_ids) / 1024 / budget_mb);
  return status;
}
