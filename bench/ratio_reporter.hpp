#pragma once
// A console reporter that also keeps each benchmark's CPU time, so a run can
// end with ratios against its peer. CPU time: the machine is shared, so wall
// time would also count other people's work.

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
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
        unitMultipliers[run.benchmark_name()] = benchmark::GetTimeUnitMultiplier(run.time_unit);
        for (const auto& [counter, value] : run.counters) counters[run.benchmark_name()][counter] = value.value;
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> times;
  // Wall time, for work that waits on other threads or on the network.
  std::map<std::string, double> realTimes;
  // Per run: how many of its time unit make a second.
  std::map<std::string, double> unitMultipliers;
  std::map<std::string, std::map<std::string, double>> counters;

  // CPU (or wall) time of one iteration in seconds; NaN when it did not run.
  double seconds(const std::string& name, bool wall = false) const {
    const auto& source = wall ? realTimes : times;
    auto time = source.find(name);
    if (time == source.end()) return std::nan("");
    return time->second / unitMultipliers.at(name);
  }
  // A counter of a run; NaN when the run or the counter is missing.
  double counter(const std::string& name, const std::string& counterName) const {
    auto run = counters.find(name);
    if (run == counters.end()) return std::nan("");
    auto value = run->second.find(counterName);
    return value == run->second.end() ? std::nan("") : value->second;
  }
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

// One row of the run's report: ours against the peer, as a ratio, with the
// aim it should meet. A time ratio (ours / peer) meets an "at most" aim; a
// speed ratio (peer / ours) meets an "at least" aim. A row without an aim
// only shows where we stand.
struct ReportRow {
  enum class Aim { atMost, atLeast, none };
  std::string path;
  double ours = std::nan("");
  double peer = std::nan("");
  std::string unit;  // of ours and peer, for example "us/op"
  double ratio = std::nan("");
  Aim aim = Aim::none;
  double aimRatio = std::nan("");

  bool measured() const { return !std::isnan(ratio); }
  bool met() const {
    if (aim == Aim::atMost) return ratio <= aimRatio;
    if (aim == Aim::atLeast) return ratio >= aimRatio;
    return true;
  }
};

// Prints the row and appends it to the file named by VV_BENCH_ROWS (one
// tab-separated line: path, ours, peer, unit, ratio, aim, met), which the
// benchmark runner turns into the run's report. A row that did not run is
// skipped.
inline void reportRow(const ReportRow& row) {
  if (!row.measured()) return;
  const char* aimText = row.aim == ReportRow::Aim::atMost ? "<=" : row.aim == ReportRow::Aim::atLeast ? ">=" : "";
  char aim[32] = "-";
  if (row.aim != ReportRow::Aim::none) std::snprintf(aim, sizeof aim, "%s %.2fx", aimText, row.aimRatio);
  const char* met = row.aim == ReportRow::Aim::none ? "-" : row.met() ? "yes" : "NO";
  std::printf("%-52s ours %.4g %s, peer %.4g %s, ratio %.2fx, aim %s, met: %s\n", row.path.c_str(), row.ours,
              row.unit.c_str(), row.peer, row.unit.c_str(), row.ratio, aim, met);
  const char* rowsFile = std::getenv("VV_BENCH_ROWS");
  if (!rowsFile || !*rowsFile) return;
  if (FILE* out = std::fopen(rowsFile, "a")) {
    std::fprintf(out, "%s\t%.4g %s\t%.4g %s\t%.2fx\t%s\t%s\n", row.path.c_str(), row.ours, row.unit.c_str(),
                 row.peer, row.unit.c_str(), row.ratio, aim, met);
    std::fclose(out);
  }
}

// Time per iteration in microseconds, for rows.
inline double micros(const RecordingReporter& r, const std::string& name, bool wall = false) {
  return r.seconds(name, wall) * 1e6;
}

// A row of our time over the peer's (CPU time, or wall time with `wall`).
inline void reportTimeRatio(const RecordingReporter& r, const std::string& path, const std::string& ours,
                            const std::string& peer, ReportRow::Aim aim, double aimRatio, bool wall = false) {
  double a = micros(r, ours, wall), b = micros(r, peer, wall);
  reportRow({path, a, b, "us", a / b, aim, aimRatio});
}

// A row of our speed as a share of the peer's (peer wall time over ours).
inline void reportSpeedRatio(const RecordingReporter& r, const std::string& path, const std::string& ours,
                             const std::string& peer, ReportRow::Aim aim, double aimRatio) {
  double a = micros(r, ours, true), b = micros(r, peer, true);
  reportRow({path, a, b, "us", b / a, aim, aimRatio});
}

}  // namespace bench
