// The typed value layer and the data-object state model.
//
// 1. Typed decode (parse + decodeObject) and typed encode (encodeToJSON)
//    of a 1000-object answer, against the plain JSON codec on the same
//    text / the same already-typed tree. Target: at most 2.0x.
// 2. performOperation + rebuildEstimatedData on a 200-field object with 3
//    saves in flight, in operations per second, against the same object with
//    no save in flight.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>

#include "backend/internal/internal_utils.hpp"
#include "backend/object.hpp"
#include "platform/json.hpp"
#include "ratio_reporter.hpp"

namespace {

using backend::InternalUtils;
using backend::Object;
using platform::Value;

// 1000 records of 12 fields, five of them typed: two dates, a pointer, a
// byte buffer and a nested dictionary holding a date.
const std::string& answerText() {
  static const std::string text = [] {
    std::string out = "{\"results\":[";
    for (int i = 0; i < 1000; ++i) {
      if (i) out += ',';
      char buf[1024];
      std::snprintf(buf, sizeof buf,
                    "{\"objectId\":\"obj%07d\",\"title\":\"Overskrift nummer %d: v\\u00e6ret snur\","
                    "\"createdAt\":{\"__type\":\"Date\",\"iso\":\"2026-12-06T13:%02d:%02d.%03dZ\"},"
                    "\"updatedAt\":{\"__type\":\"Date\",\"iso\":\"2026-12-07T08:%02d:%02d.%03dZ\"},"
                    "\"author\":{\"__type\":\"Pointer\",\"className\":\"Reporter\",\"objectId\":\"rep%04d\"},"
                    "\"thumb\":{\"__type\":\"Bytes\",\"base64\":\"iVBORw0KGgoAAAANSUhEUgAAAAEAAAAB%04d\"},"
                    "\"views\":%d,\"score\":%.6f,\"published\":%s,\"tags\":[\"v\\u00e6r\",\"bergen\",\"n%d\"],"
                    "\"meta\":{\"source\":\"desk\",\"checked\":{\"__type\":\"Date\",\"iso\":\"2026-12-06T10:00:00.%03dZ\"}},"
                    "\"deleted\":null}",
                    i, i, i % 60, (i * 7) % 60, i % 1000, (i * 3) % 60, (i * 11) % 60, (i * 13) % 1000, i % 500,
                    i % 10000, i * 1337, i * 0.125 + 0.001, i % 2 ? "true" : "false", i % 17, i % 1000);
      out += buf;
    }
    out += "]}";
    return out;
  }();
  return text;
}

void decodePlain(benchmark::State& state) {
  for (auto _ : state) {
    auto parsed = platform::json::parse(answerText());
    benchmark::DoNotOptimize(parsed);
  }
}

void decodeTyped(benchmark::State& state) {
  for (auto _ : state) {
    Value decoded = InternalUtils::decodeObject(platform::json::parse(answerText()).value());
    benchmark::DoNotOptimize(decoded);
  }
}

void encodePlain(benchmark::State& state) {
  const Value typed = platform::json::parse(answerText()).value();
  for (auto _ : state) {
    std::string text = platform::json::write(typed);
    benchmark::DoNotOptimize(text);
  }
}

void encodeTyped(benchmark::State& state) {
  const Value client = InternalUtils::decodeObject(platform::json::parse(answerText()).value());
  for (auto _ : state) {
    std::string text = InternalUtils::encodeToJSON(client, backend::UnsavedChildren::Disallow, backend::DataObjects::Allow);
    benchmark::DoNotOptimize(text);
  }
}

// A fetched object of 200 fields with `savesInFlight` saves of 50 edits each
// started on it.
std::shared_ptr<Object> objectWithSaves(int savesInFlight) {
  platform::Dictionary data;
  for (int i = 0; i < 200; ++i) {
    const std::string key = "field" + std::to_string(i);
    if (i % 4 == 0) {
      data.set(key, Value("text value " + std::to_string(i)));
    } else {
      data.set(key, Value(i));
    }
  }
  auto object = Object::objectWithoutData("Record", "r1");
  object->mergeAfterFetch(Value::dictionary({{"data", Value(std::move(data))}}), backend::Completeness::Complete);
  for (int save = 0; save < savesInFlight; ++save) {
    for (int i = 0; i < 50; ++i) object->incrementKey("field" + std::to_string(1 + ((save * 50 + i) * 4) % 200));
    object->startSave();
  }
  return object;
}

void performAndRebuild(benchmark::State& state) {
  auto object = objectWithSaves(static_cast<int>(state.range(0)));
  std::vector<std::string> keys;
  for (int i = 0; i < 200; ++i) keys.push_back("field" + std::to_string(i));
  std::size_t next = 0;
  for (auto _ : state) {
    const std::string& key = keys[next++ % keys.size()];
    if (next % 4 == 1) {
      object->setObject(Value("edited"), key);
    } else {
      object->setObject(Value(static_cast<int>(next)), key);
    }
    object->rebuildEstimatedData();
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

BENCHMARK(decodePlain)->Unit(benchmark::kMicrosecond);
BENCHMARK(decodeTyped)->Unit(benchmark::kMicrosecond);
BENCHMARK(encodePlain)->Unit(benchmark::kMicrosecond);
BENCHMARK(encodeTyped)->Unit(benchmark::kMicrosecond);
BENCHMARK(performAndRebuild)->ArgName("savesInFlight")->Arg(3)->Arg(0)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  std::printf("answer: %zu bytes\n", answerText().size());
  bench::RecordingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\nratios (CPU time over the peer's CPU time)\n");
  bench::printRatio(reporter, "decodeTyped", "decodePlain", "typed decode, target <= 2.0:");
  bench::printRatio(reporter, "encodeTyped", "encodePlain", "typed encode, target <= 2.0:");
  bench::printRatio(reporter, "performAndRebuild/savesInFlight:3", "performAndRebuild/savesInFlight:0",
             "3 saves in flight vs none:");
  using Aim = bench::ReportRow::Aim;
  bench::reportTimeRatio(reporter, "typed decode over plain JSON (CPU)", "decodeTyped", "decodePlain", Aim::atMost, 1.3);
  bench::reportTimeRatio(reporter, "typed encode over plain JSON (CPU)", "encodeTyped", "encodePlain", Aim::atMost, 1.3);
  auto rebuild = reporter.times.find("performAndRebuild/savesInFlight:3");
  if (rebuild != reporter.times.end()) {
    // Adjusted times are in the benchmark's unit (microseconds).
    std::printf("%-40s %.0f operations/s\n", "performOperation + rebuild, 3 in flight:", 1e6 / rebuild->second);
  }
  benchmark::Shutdown();
  return 0;
}
