// Costs of the core library on the paths every request takes: a log call at a
// disabled level, a written log line (against a well-known logging library's
// synchronous file sink), and number parsing.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <string>
#include <unistd.h>

#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/spdlog.h>

#include "kern/fd_logger.h"
#include "kern/logger.h"
#include "kern/numstrings.h"
#include "ratio_reporter.h"

namespace {

__attribute__((noinline)) void empty_function(int level, const char* format, int value) {
  benchmark::DoNotOptimize(level);
  benchmark::DoNotOptimize(format);
  benchmark::DoNotOptimize(value);
}

void empty_call(benchmark::State& state) {
  int i = 0;
  for (auto _ : state) empty_function(lvl_debug3, "value %d", ++i);
}
BENCHMARK(empty_call);

void log_disabled_level(benchmark::State& state) {
  if_logger_t* saved = global_logger;
  fd_logger_t logger(-1);
  logger.set_level(lvl_info);
  global_logger = &logger;
  int i = 0;
  for (auto _ : state) KLOG(lvl_debug3, "value %d", ++i);
  global_logger = saved;
}
BENCHMARK(log_disabled_level);

std::string temp_path(const char* tag) {
  return std::string("/tmp/kern_bench_") + tag + "_" + std::to_string(getpid()) + ".log";
}

const char message_format[] = "[NAP] client %s digest %s verdict %d";

void fd_logger_lines(benchmark::State& state) {
  const std::string path = temp_path("fd");
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  fd_logger_t::set_repeat_suppression(false);
  fd_logger_t logger(fd);
  if_logger_t* saved = global_logger;
  global_logger = &logger;
  int i = 0;
  for (auto _ : state) KLOG(lvl_info, message_format, "client-0001", "0123456789abcdef", ++i);
  global_logger = saved;
  state.SetItemsProcessed(state.iterations());
  close(fd);
  unlink(path.c_str());
}
BENCHMARK(fd_logger_lines);

// The same line through a synchronous file sink; "flushed" flushes every line,
// which is what fd_logger_t guarantees (each line is in the file when the call
// returns), "buffered" leaves lines in the stdio buffer.
void spdlog_lines(benchmark::State& state, bool flush_each) {
  const std::string path = temp_path(flush_each ? "spdlog_flushed" : "spdlog_buffered");
  auto sink = std::make_shared<spdlog::sinks::basic_file_sink_mt>(path, true);
  spdlog::logger logger("bench", sink);
  logger.set_pattern("%Y%m%d.%H%M%S.%e %l [%P %t] %v");
  logger.set_level(spdlog::level::info);
  if (flush_each) logger.flush_on(spdlog::level::trace);
  int i = 0;
  for (auto _ : state) logger.info("[NAP] client {} digest {} verdict {}", "client-0001", "0123456789abcdef", ++i);
  state.SetItemsProcessed(state.iterations());
  logger.flush();
  unlink(path.c_str());
}

void spdlog_flushed(benchmark::State& state) { spdlog_lines(state, true); }
void spdlog_buffered(benchmark::State& state) { spdlog_lines(state, false); }
BENCHMARK(spdlog_flushed);
BENCHMARK(spdlog_buffered);

void parse_uint64(benchmark::State& state) {
  const char* texts[] = {"2193", "10000", "65535", "18446744073709551615", "6.5535E4"};
  size_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(string_to_uint64(texts[i++ % 5]));
}
BENCHMARK(parse_uint64);

}  // namespace

int main(int argc, char** argv) {
  return run_benchmarks_with_ratios(
      argc, argv,
      {{"disabled-level log call / empty function call", "log_disabled_level", "empty_call", 2.0},
       // time per line: 1.25x the time is 0.8x the lines per second
       {"fd_logger_t line / spdlog line flushed each time", "fd_logger_lines", "spdlog_flushed", 1.25},
       {"fd_logger_t line / spdlog line left in its buffer", "fd_logger_lines", "spdlog_buffered", 1.25}});
}
