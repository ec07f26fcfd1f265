// Runs the registered benchmarks and then prints, for each named pair, the
// ratio of their real times measured in this same run (the machines are shared
// and noisy: only ratios from one run are comparable).
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

class ratio_reporter_t : public benchmark::ConsoleReporter {
 public:
  struct pair_t {
    std::string label;
    std::string subject;    // benchmark name (prefix match on the run name)
    std::string reference;  // benchmark name
    double target;          // printed for orientation, never asserted
  };
  explicit ratio_reporter_t(std::vector<pair_t> pairs) : pairs_(std::move(pairs)) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Iteration && !run.error_occurred) {
        times_[run.benchmark_name()] = run.GetAdjustedRealTime();
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }

  void Finalize() override {
    ConsoleReporter::Finalize();
    std::printf("\nRatios (same run):\n");
    for (const pair_t& p : pairs_) {
      const double subject = find(p.subject);
      const double reference = find(p.reference);
      if (subject <= 0 || reference <= 0) {
        std::printf("  %-58s n/a (not run)\n", p.label.c_str());
        continue;
      }
      std::printf("  %-58s %6.2fx  (target %s %.2fx)\n", p.label.c_str(), subject / reference,
                  p.target >= 1 ? "<=" : ">=", p.target);
    }
  }

 private:
  double find(const std::string& name) const {
    for (const auto& [key, value] : times_) {
      if (key == name || key.rfind(name + "/", 0) == 0) return value;  // exact, or any argument
    }
    return -1;
  }
  std::vector<pair_t> pairs_;
  std::map<std::string, double> times_;
};

// main() for a benchmark program with ratio pairs.
inline int run_benchmarks_with_ratios(int argc, char** argv, std::vector<ratio_reporter_t::pair_t> pairs) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  ratio_reporter_t reporter(std::move(pairs));
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
