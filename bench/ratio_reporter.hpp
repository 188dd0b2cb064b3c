#pragma once
// A console reporter that also keeps each benchmark's CPU time, so a run can
// end with ratios against its peer. CPU time: the machine is shared, so wall
// time would also count other people's work.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace bench {

class RecordingReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Iteration && !run.error_occurred) times[run.benchmark_name()] = run.GetAdjustedCPUTime();
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> times;
};

// Prints ours / peer CPU time; prints nothing when either did not run.
inline void printRatio(const RecordingReporter& r, const char* ours, const char* peer, const char* what) {
  auto a = r.times.find(ours), b = r.times.find(peer);
  if (a == r.times.end() || b == r.times.end()) return;
  std::printf("%-44s %s / %s time = %.2fx\n", what, ours, peer, a->second / b->second);
}

}  // namespace bench
