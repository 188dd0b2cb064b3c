// Persisting hits as the dispatcher does (insert, then save, on the analytics
// thread) side by side with bare SQLite committing one row per transaction in
// the same journal mode; and building the wire lines of 10,000 hits side by
// side with joining the same pairs unencoded.

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <chrono>
#include <filesystem>
#include <random>

#include "data_store.hpp"
#include "parameter_archive.hpp"
#include "platform/event_loop_thread.hpp"
#include "ratio_reporter.hpp"
#include "request_builder.hpp"
#include "tracker_model.hpp"
#include "support/scratch_directory.hpp"

namespace {

using Clock = std::chrono::steady_clock;
using platform::Value;

constexpr int kRound = 500;

analytics::ParameterMap typicalHit(int i) {
  analytics::TrackerModel model([] { return std::string("5e2d5a6c-1f7e-4c3b-9d7e-0a1b2c3d4e5f"); });
  model.set(std::string("&tid"), Value("AN-318264-9"));
  model.set(std::string("&sc"), Value("start"));
  model.set(std::string("&_u"), Value(".etnKoL"));
  return model.copyWithOverride({{"&t", Value("appview")}, {"&cd", Value(i % 2 ? "Frontpage" : "Article")}})
      .buildDictionary();
}

// The peer: one INSERT per BEGIN/COMMIT, WAL with synchronous=NORMAL.
class BareSqlite {
 public:
  explicit BareSqlite(const std::filesystem::path& file) {
    sqlite3_open(file.c_str(), &db_);
    sqlite3_exec(db_, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;"
                      "CREATE TABLE hit (id INTEGER PRIMARY KEY AUTOINCREMENT, timestamp REAL, parameters BLOB);"
                      "CREATE INDEX hit_timestamp ON hit(timestamp);",
                 nullptr, nullptr, nullptr);
    sqlite3_prepare_v2(db_, "BEGIN IMMEDIATE", -1, &begin_, nullptr);
    sqlite3_prepare_v2(db_, "INSERT INTO hit (timestamp, parameters) VALUES (?, ?)", -1, &insert_, nullptr);
    sqlite3_prepare_v2(db_, "COMMIT", -1, &commit_, nullptr);
  }
  ~BareSqlite() {
    sqlite3_finalize(begin_);
    sqlite3_finalize(insert_);
    sqlite3_finalize(commit_);
    sqlite3_close(db_);
  }
  void insert(double timestamp, const std::string& blob) {
    step(begin_);
    sqlite3_bind_double(insert_, 1, timestamp);
    sqlite3_bind_blob(insert_, 2, blob.data(), static_cast<int>(blob.size()), SQLITE_STATIC);
    step(insert_);
    step(commit_);
  }

 private:
  static void step(sqlite3_stmt* statement) {
    sqlite3_step(statement);
    sqlite3_reset(statement);
  }
  sqlite3* db_ = nullptr;
  sqlite3_stmt* begin_ = nullptr;
  sqlite3_stmt* insert_ = nullptr;
  sqlite3_stmt* commit_ = nullptr;
};

// Alternating rounds of the two, so both see the same machine load.
void BM_PersistHitsVsBareSqlite(benchmark::State& state) {
  test_support::ScratchDirectory dir;
  platform::EventLoopThread thread("ANThread-bench");
  analytics::DataStore::Options options;
  options.directory = dir.path();
  options.thread = &thread;
  options.maxHitCount = static_cast<std::uint64_t>(state.range(0));
  analytics::DataStore store(options);
  store.clientId();  // set-up done
  BareSqlite bare(dir.path() / "bare.sql");
  auto parameters = typicalHit(0);
  std::string blob = analytics::encodeParameterArchive(parameters);
  Clock::duration storeTime{}, bareTime{};
  std::int64_t hits = 0;
  for (auto _ : state) {
    auto t0 = Clock::now();
    for (int i = 0; i < kRound; ++i) bare.insert(1.7e9 + i, blob);
    auto t1 = Clock::now();
    // The dispatcher's persist step runs on the analytics thread.
    thread.perform(
        [&] {
          for (int i = 0; i < kRound; ++i) {
            store.addHit({platform::Date::now(), parameters, std::nullopt});
            store.save();
          }
        },
        platform::EventLoopThread::Wait::Yes);
    auto t2 = Clock::now();
    bareTime += t1 - t0;
    storeTime += t2 - t1;
    hits += kRound;
  }
  double storeRate = hits / std::chrono::duration<double>(storeTime).count();
  double bareRate = hits / std::chrono::duration<double>(bareTime).count();
  state.counters["store_hits_per_s"] = storeRate;
  state.counters["bare_rows_per_s"] = bareRate;
  state.counters["ratio_vs_bare"] = storeRate / bareRate;
}
// 0: no cap (the same work as the peer); 100 and 2000 (the default): a cap
// reached early, so the store runs full.
BENCHMARK(BM_PersistHitsVsBareSqlite)->Arg(0)->Arg(100)->Arg(2000)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

std::vector<analytics::HitRecord> tenThousandHits() {
  std::vector<analytics::HitRecord> hits;
  hits.reserve(10000);
  for (int i = 0; i < 10000; ++i) hits.push_back({platform::Date(1.7e9 + i), typicalHit(i), std::nullopt});
  return hits;
}

void BM_WireLines(benchmark::State& state) {
  auto hits = tenThousandHits();
  analytics::RequestBuilder builder("ua");
  platform::Date now(1.7e9 + 20000);
  std::size_t bytes = 0;
  for (auto _ : state) {
    for (const auto& hit : hits) {
      auto line = builder.parametersForHit(hit, now);
      bytes += line.size();
      benchmark::DoNotOptimize(line);
    }
  }
  state.counters["lines_per_s"] = benchmark::Counter(10000.0 * state.iterations(), benchmark::Counter::kIsRate);
  state.counters["bytes_per_line"] = double(bytes) / (10000.0 * state.iterations());
}
BENCHMARK(BM_WireLines)->Unit(benchmark::kMillisecond);

// The peer: the same pairs joined without percent-encoding or the time fields.
void BM_JoinPairsUnencoded(benchmark::State& state) {
  auto hits = tenThousandHits();
  for (auto _ : state) {
    for (const auto& hit : hits) {
      std::string line;
      line.reserve(512);
      for (const auto& [key, value] : hit.parameters) {
        const std::string* text = value.string();
        if (!text || key.empty() || key[0] != '&') continue;
        if (!line.empty()) line.push_back('&');
        line.append(key, 1).append("=").append(*text);
      }
      benchmark::DoNotOptimize(line);
    }
  }
  state.counters["lines_per_s"] = benchmark::Counter(10000.0 * state.iterations(), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_JoinPairsUnencoded)->Unit(benchmark::kMillisecond);

// A row from the rates the persist benchmark counted for one cap.
void reportPersistRow(const bench::RecordingReporter& reporter, const std::string& path, int cap) {
  std::string name = "BM_PersistHitsVsBareSqlite/" + std::to_string(cap) + "/min_time:2.000/real_time";
  bench::reportRow({path, reporter.counter(name, "store_hits_per_s"), reporter.counter(name, "bare_rows_per_s"),
                    "hits/s", reporter.counter(name, "ratio_vs_bare"), bench::ReportRow::Aim::atLeast, 0.9});
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  bench::RecordingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\nrows (hits persisted per second against bare SQLite's rows)\n");
  reportPersistRow(reporter, "analytics hit persisted, no cap (speed vs bare SQLite)", 0);
  reportPersistRow(reporter, "analytics hit persisted, store at a 100 cap", 100);
  reportPersistRow(reporter, "analytics hit persisted, store at its 2,000 cap", 2000);
  benchmark::Shutdown();
  return 0;
}
