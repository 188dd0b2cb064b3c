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
      // Aggregates (with repetitions) are kept under their own names, such as
      // "<name>_median".
      if (!run.error_occurred) {
        times[run.benchmark_name()] = run.GetAdjustedCPUTime();
        realTimes[run.benchmark_name()] = run.GetAdjustedRealTime();
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> times;
  // Wall time, for work that waits on other threads or on the network.
  std::map<std::string, double> realTimes;
};

// Prints ours / peer CPU time; prints nothing when either did not run.
inline void printRatio(const RecordingReporter& r, const char* ours, const char* peer, const char* what) {
  auto a = r.times.find(ours), b = r.times.find(peer);
  if (a == r.times.end() || b == r.times.end()) return;
  std::printf("%-44s %s / %s time = %.2fx\n", what, ours, peer, a->second / b->second);
}

// Prints peer / ours wall time: our speed as a share of the peer's.
inline void printSpeedRatio(const RecordingReporter& r, const char* ours, const char* peer, const char* what) {
  auto a = r.realTimes.find(ours), b = r.realTimes.find(peer);
  if (a == r.realTimes.end() || b == r.realTimes.end()) return;
  std::printf("%-44s %s / %s speed = %.2fx\n", what, ours, peer, b->second / a->second);
}

}  // namespace bench
