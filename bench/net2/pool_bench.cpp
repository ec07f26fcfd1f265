// Cost of one I/O pool of two threads, created and destroyed (paid once per
// server query), next to the bare minimum: an I/O context, a work guard and
// two plain threads serving it, stopped and joined.
#include <benchmark/benchmark.h>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/thread/thread.hpp>

#include "net2/pool.h"

namespace {

void pool_create_destroy(benchmark::State& state) {
  for (auto _ : state) {
    net2::pool p(2, "nap", "Pool");
  }
}
BENCHMARK(pool_create_destroy)->UseRealTime();

void bare_threads_create_destroy(benchmark::State& state) {
  for (auto _ : state) {
    boost::asio::io_context service;
    auto work = boost::asio::make_work_guard(service);
    boost::thread_group threads;
    for (int i = 0; i < 2; ++i) threads.create_thread([&service] { service.run(); });
    service.stop();
    threads.join_all();
  }
}
BENCHMARK(bare_threads_create_destroy)->UseRealTime();

}  // namespace
