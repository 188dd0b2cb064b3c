// Queries.
//
// 1. Building the find parameters of a 50-constraint query (comparisons,
//    lists, dates, pointers, geo points, text patterns, a subquery), against
//    a deep copy of the same parameter tree: what building costs beyond
//    producing that many values.
// 2. Finding a 1000-result answer: the answer text decoded (as the runner
//    does) and turned into data objects, in objects per second, against the
//    plain JSON decode of the same text.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <future>
#include <string>

#include "backend/geo_point.hpp"
#include "backend/internal/internal_utils.hpp"
#include "backend/query.hpp"
#include "backend/value_types.hpp"
#include "platform/json.hpp"
#include "ratio_reporter.hpp"

namespace {

using backend::GeoPoint;
using backend::InternalUtils;
using backend::Query;
using platform::Value;

backend::QueryPtr fiftyConstraintQuery() {
  auto query = Query::queryWithClassName("Story");
  auto related = Query::queryWithClassName("Reporter");
  related->whereKeyEqualTo("desk", Value("Bergen"));
  for (int i = 0; i < 10; ++i) {
    const std::string n = std::to_string(i);
    query->whereKeyGreaterThan("views" + n, Value(i * 100));
    query->whereKeyLessThanOrEqualTo("published" + n, Value(platform::Date(1.7e9 + i)));
    query->whereKeyContainedIn("tag" + n, {Value("vær"), Value("bergen"), Value(i)});
    query->whereKeyEqualTo("author" + n, Value(backend::Object::objectWithoutData("Reporter", "rep" + n)));
    if (i % 2) {
      query->whereKeyNearGeoPointWithinKilometers("at" + n, GeoPoint::geoPointWithLatitude(60.39, 5.32), 10 + i);
    } else if (i == 4) {
      query->whereKeyMatchesQuery("desk" + n, related);
    } else {
      query->whereKeyHasPrefix("title" + n, "Vestavind \\E " + n);
    }
  }
  query->orderByDescending("createdAt");
  query->setLimit(100);
  return query;
}

void buildFindParams(benchmark::State& state) {
  auto query = fiftyConstraintQuery();
  for (auto _ : state) benchmark::DoNotOptimize(query->constructFindParams());
}

void copyFindParams(benchmark::State& state) {
  const Value params = fiftyConstraintQuery()->constructFindParams();
  for (auto _ : state) benchmark::DoNotOptimize(params.deepCopy());
}

// 1000 stories of 10 fields, three of them typed.
const std::string& answerText() {
  static const std::string text = [] {
    std::string out = "{\"results\":[";
    for (int i = 0; i < 1000; ++i) {
      if (i) out += ',';
      char buf[768];
      std::snprintf(buf, sizeof buf,
                    "{\"data\":{\"objectId\":\"obj%07d\",\"createdAt\":\"2026-12-06T13:%02d:%02d.%03dZ\","
                    "\"updatedAt\":\"2026-12-07T08:%02d:%02d.%03dZ\",\"title\":\"Overskrift nummer %d: v\\u00e6ret\","
                    "\"author\":{\"__type\":\"Pointer\",\"className\":\"Reporter\",\"objectId\":\"rep%04d\"},"
                    "\"at\":{\"__type\":\"GeoPoint\",\"latitude\":%.4f,\"longitude\":5.32},"
                    "\"when\":{\"__type\":\"Date\",\"iso\":\"2026-12-06T10:00:00.%03dZ\"},"
                    "\"views\":%d,\"tags\":[\"v\\u00e6r\",\"n%d\"],\"published\":%s}}",
                    i, i % 60, (i * 7) % 60, i % 1000, (i * 3) % 60, (i * 11) % 60, (i * 13) % 1000, i, i % 500,
                    60.0 + i * 1e-4, i % 1000, i * 1337, i % 17, i % 2 ? "true" : "false");
      out += buf;
    }
    out += "]}";
    return out;
  }();
  return text;
}

// Answers every find with the decoded answer text, as the command runner does.
class TextTransport final : public backend::QueryTransport {
 public:
  backend::Task<Value> find(const Value&, const backend::SessionToken&, int, double,
                            const backend::CancellationTokenPtr&) override {
    return backend::Task<Value>::taskWithResult(InternalUtils::decodeObject(InternalUtils::parseJSON(answerText())));
  }
  std::string cacheKey(const Value&, const backend::SessionToken&) override { return ""; }
  bool hasCachedResult(const std::string&, double) override { return false; }
  void clearCachedResult(const std::string&) override {}
  void clearAllCachedResults() override {}
};

// The objects of one find, waited for without the main-thread warning.
std::vector<backend::ObjectPtr> objectsFound(Query& query) {
  std::promise<std::vector<backend::ObjectPtr>> found;
  query.findAsync(backend::kCachePolicyIgnoreCache)
      .continueWith([&found](const backend::Task<std::vector<backend::ObjectPtr>>& run) { found.set_value(run.result()); });
  return found.get_future().get();
}

// The work runs on the background queue: measured in wall time, as is its peer.
void findObjects(benchmark::State& state) {
  backend::setQueryTransport(std::make_shared<TextTransport>());
  auto query = Query::queryWithClassName("Story");
  for (auto _ : state) {
    auto objects = objectsFound(*query);
    if (objects.size() != 1000) state.SkipWithError("not every result became an object");
    benchmark::DoNotOptimize(objects);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * 1000);
  backend::setQueryTransport(nullptr);
}

void parsePlain(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(platform::json::parse(answerText()));
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * 1000);
}

BENCHMARK(buildFindParams)->Unit(benchmark::kMicrosecond);
BENCHMARK(copyFindParams)->Unit(benchmark::kMicrosecond);
BENCHMARK(findObjects)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(parsePlain)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  backend::registerValueTypes();
  bench::RecordingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\nratios (CPU time over the peer's CPU time; < 1 is faster than the peer)\n");
  bench::printRatio(reporter, "buildFindParams", "copyFindParams", "50-constraint find parameters:");
  bench::printSpeedRatio(reporter, "findObjects/real_time", "parsePlain/real_time", "1000 results to objects:");
  benchmark::Shutdown();
  return 0;
}
