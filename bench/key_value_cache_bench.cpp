// The key-value cache: reads from its memory layer (peer: a plain
// std::unordered_map lookup), reads from disk (peer: a plain file read), and
// compaction over 1,000 records (peer: the directory scan with one stat per
// file that any compaction needs). Process CPU time, so the cache's
// background touches count too.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <unordered_map>
#include <vector>

#include "backend/internal/internal_utils.hpp"
#include "backend/net/key_value_cache.hpp"
#include "platform/sandbox.hpp"
#include "ratio_reporter.hpp"
#include "support/scratch_directory.hpp"

namespace {

using backend::net::KeyValueCache;

constexpr int kRecords = 1000;
constexpr double kMaxAge = 3600;

std::string keyFor(int i) { return "BECommand.2.find.2.bench" + std::to_string(i); }

std::string valueFor(int i) {
  std::string value = "{\"result\":[";
  for (int j = 0; j < 8; ++j) {
    value += (j ? "," : "") + std::string("{\"objectId\":\"obj") + std::to_string(i * 10 + j) +
             "\",\"title\":\"A story of moderate length for the cache\",\"rank\":" + std::to_string(j) + "}";
  }
  return value + "]}";
}

struct Setup {
  Setup() {
    platform::Sandbox::setRoot(root);
    cache = std::make_unique<KeyValueCache>("BenchKeyValueCache");
    for (int i = 0; i < kRecords; ++i) {
      cache->setObject(valueFor(i), keyFor(i));
      map[keyFor(i)] = valueFor(i);
    }
    cache->waitForDiskFlush();
  }
  ~Setup() {
    cache.reset();
  }
  test_support::ScratchDirectory scratch;
  const std::filesystem::path root = scratch.path();
  std::unique_ptr<KeyValueCache> cache;
  std::unordered_map<std::string, std::string> map;
};

Setup& setup() {
  static Setup instance;
  return instance;
}

std::vector<std::string> keys() {
  std::vector<std::string> all;
  for (int i = 0; i < kRecords; ++i) all.push_back(keyFor(i));
  return all;
}

void countReads(benchmark::State& state, int perIteration = 1) {
  state.counters["reads_per_s"] =
      benchmark::Counter(double(state.iterations()) * perIteration, benchmark::Counter::kIsRate);
}

// Each iteration reads every key once and waits for the background touches
// those reads queued, so their cost is counted.
void BM_CacheMemoryRead(benchmark::State& state) {
  auto& cache = *setup().cache;
  cache.enableMemCache(true);
  auto all = keys();
  for (const auto& key : all) cache.objectForKey(key, kMaxAge);  // loads the memory layer
  cache.waitForDiskFlush();
  for (auto _ : state) {
    for (const auto& key : all) benchmark::DoNotOptimize(cache.objectForKey(key, kMaxAge));
    cache.waitForDiskFlush();
  }
  countReads(state, kRecords);
}

void BM_UnorderedMapRead(benchmark::State& state) {
  const auto& map = setup().map;
  auto all = keys();
  for (auto _ : state) {
    for (const auto& key : all) {
      auto it = map.find(key);
      std::optional<std::string> value;
      if (it != map.end()) value = it->second;
      benchmark::DoNotOptimize(value);
    }
  }
  countReads(state, kRecords);
}

void BM_CacheDiskRead(benchmark::State& state) {
  auto& cache = *setup().cache;
  cache.enableMemCache(false);
  auto all = keys();
  std::size_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(cache.objectForKey(all[i++ % all.size()], kMaxAge));
  cache.enableMemCache(true);
  countReads(state);
}

std::optional<std::string> readWholeFile(const std::filesystem::path& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::string text;
  char buffer[16384];
  ssize_t n;
  while ((n = ::read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<std::size_t>(n));
  ::close(fd);
  return text;
}

void BM_PlainFileRead(benchmark::State& state) {
  auto& cache = *setup().cache;
  std::vector<std::filesystem::path> paths;
  for (const auto& key : keys()) paths.push_back(cache.cacheFileForKey(key));
  std::size_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(readWholeFile(paths[i++ % paths.size()]));
  countReads(state);
}

// 1,000 records under a limit of 1,000: the scan that follows every write.
void BM_CacheCompaction1000(benchmark::State& state) {
  auto& cache = *setup().cache;
  cache.setMaxDiskCacheRecords(kRecords);
  for (auto _ : state) cache.compactDiskCache();
}

void BM_DirectoryScanWithStat1000(benchmark::State& state) {
  auto directory = setup().cache->cacheFileForKey(keyFor(0)).parent_path();
  for (auto _ : state) {
    std::vector<std::pair<std::filesystem::path, long long>> notes;
    for (const auto& entry : std::filesystem::directory_iterator(directory)) {
      struct stat status {};
      if (::stat(entry.path().c_str(), &status) == 0) notes.emplace_back(entry.path(), status.st_atim.tv_sec);
    }
    std::sort(notes.begin(), notes.end(), [](const auto& a, const auto& b) { return a.second < b.second; });
    benchmark::DoNotOptimize(notes);
  }
}

}  // namespace

BENCHMARK(BM_CacheMemoryRead)->Unit(benchmark::kMicrosecond)->MeasureProcessCPUTime();
BENCHMARK(BM_UnorderedMapRead)->Unit(benchmark::kMicrosecond)->MeasureProcessCPUTime();
BENCHMARK(BM_CacheDiskRead)->MeasureProcessCPUTime();
BENCHMARK(BM_PlainFileRead)->MeasureProcessCPUTime();
BENCHMARK(BM_CacheCompaction1000)->Unit(benchmark::kMicrosecond)->MeasureProcessCPUTime();
BENCHMARK(BM_DirectoryScanWithStat1000)->Unit(benchmark::kMicrosecond)->MeasureProcessCPUTime();

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  bench::RecordingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\nratios (process CPU time over the peer's; < 1 is faster than the peer)\n");
  bench::printRatio(reporter, "BM_CacheMemoryRead/process_time", "BM_UnorderedMapRead/process_time",
                    "memory read (with its touches):");
  bench::printRatio(reporter, "BM_CacheDiskRead/process_time", "BM_PlainFileRead/process_time", "disk read:");
  bench::printRatio(reporter, "BM_CacheCompaction1000/process_time", "BM_DirectoryScanWithStat1000/process_time",
                    "compaction of 1,000 records:");
  benchmark::Shutdown();
  return 0;
}
