// Costs on every request's path in the validator: a verdict cache hit with few
// and with many live entries.
#include <benchmark/benchmark.h>

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

}  // namespace

int main(int argc, char** argv) {
  return run_benchmarks_with_ratios(
      argc, argv, {{"cache hit with 100,000 entries / with 10 entries", "cache_hit/100000", "cache_hit/10", 2.0}});
}
