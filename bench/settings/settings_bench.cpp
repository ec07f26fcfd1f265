// Settings reads and writes on a real store file: the validator reads the
// settings for every request, the configurator writes them one by one.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "common/settings.h"

namespace {

// A private store for the run, removed afterwards.
struct bench_store_t {
  bench_store_t() {
    char pattern[] = "/tmp/shv-bench-XXXXXX";
    dir = mkdtemp(pattern);
    setenv("SHV_REGISTRY", (dir + "/registry.db").c_str(), 1);
    shv_settings::write("server_name", u"nap.example.org");
    for (const char* name : {"server_port", "server_timeout", "cache_time", "validate"})
      shv_settings::write(name, 1u);
  }
  ~bench_store_t() { std::filesystem::remove_all(dir); }
  std::string dir;
};

void read_number(benchmark::State& state) {
  bench_store_t store;
  for (auto _ : state) benchmark::DoNotOptimize(shv_settings::read_number("server_port"));
}
BENCHMARK(read_number);

// All five settings, as load and the validator's request read them.
void load_blob(benchmark::State& state) {
  bench_store_t store;
  std::string blob;
  for (auto _ : state) {
    shv_settings::load(blob);
    benchmark::DoNotOptimize(blob.data());
  }
}
BENCHMARK(load_blob);

void write_number(benchmark::State& state) {
  bench_store_t store;
  uint32_t value = 0;
  for (auto _ : state) shv_settings::write("cache_time", ++value);
}
BENCHMARK(write_number);

}  // namespace

BENCHMARK_MAIN();
