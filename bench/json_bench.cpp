// JSON -> Value and Value -> JSON on a 1 MB server answer, side by side with
// RapidJSON (DOM parse, Writer) and nlohmann::json (parse, dump) on the same
// text, and simdjson's bare DOM parse as the floor of parsing. After the runs
// a summary prints our time over each peer's.

#include <benchmark/benchmark.h>
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#include <simdjson.h>

#include <cstdio>
#include <map>
#include <nlohmann/json.hpp>
#include <string>

#include "platform/json.hpp"
#include "ratio_reporter.hpp"

namespace {

using platform::Value;

// 1000 objects of 15 mixed fields: strings (short, long, with escapes and
// non-ASCII), integers, doubles, booleans, null, small arrays and a nested
// dictionary, about 1 MB in all.
const std::string& answerText() {
  static const std::string text = [] {
    std::string out = "{\"results\":[";
    for (int i = 0; i < 1000; ++i) {
      if (i) out += ',';
      char buf[2048];
      std::snprintf(
          buf, sizeof buf,
          "{\"objectId\":\"obj%07d\",\"title\":\"Overskrift nummer %d: v\\u00e6ret snur i Bergen\","
          "\"summary\":\"Vestavinden tok tak i taket p\xC3\xA5 rekkehuset i natt, og naboene st\xC3\xA5r "
          "n\xC3\xA5 sammen om \\\"dugnad\\\" for \xC3\xA5 f\xC3\xA5 det p\xC3\xA5 plass igjen f\xC3\xB8r "
          "helgen.\\nMeteorologene venter mer vind utover kvelden, s\xC3\xA5 f\xC3\xB8lg med her: "
          "oppdateringer hvert kvarter fra v\xC3\xA5r reporter p\xC3\xA5 stedet, med bilder og video fra "
          "hele kysten mellom Stad og Lindesnes. Str\u00f8mmen er borte i flere kommuner, og fergene st\u00e5r "
          "til kai. Politiet ber folk holde seg innend\u00f8rs til uv\u00e6ret har gitt seg. Artikkel %d.\","
          "\"url\":\"http://www.vestavind.test/nyheter/2026/12/06/artikkel-%d.html?hideHeader=1\","
          "\"createdAt\":\"2026-12-06T13:%02d:%02d.%03dZ\",\"views\":%d,\"rank\":%d,"
          "\"score\":%.6f,\"ratio\":%.17g,\"published\":%s,\"featured\":%s,\"deleted\":null,"
          "\"tags\":[\"vær\",\"bergen\",\"nyheter-%d\"],\"position\":[%.6f,%.6f],"
          "\"author\":{\"name\":\"Reporter %d\",\"id\":%d,\"verified\":%s,\"email\":\"r%d@vestavind.test\"}}",
          i, i, i, i, i % 60, (i * 7) % 60, i % 1000, i * 1337, -i, i * 0.125 + 0.001, 1.0 / (i + 3),
          i % 2 ? "true" : "false", i % 3 ? "false" : "true", i % 17, 60.39 + i * 1e-4, 5.32 - i * 1e-4, i % 50,
          100000 + i, i % 5 ? "true" : "false", i % 50);
      out += buf;
    }
    out += "]}";
    return out;
  }();
  return text;
}

void parseValue(benchmark::State& state) {
  const std::string& text = answerText();
  for (auto _ : state) {
    auto result = platform::json::parse(text);
    if (!result.ok()) state.SkipWithError(result.error().message().c_str());
    benchmark::DoNotOptimize(result);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

template <unsigned Flags>
void parseRapidJSON(benchmark::State& state) {
  const std::string& text = answerText();
  for (auto _ : state) {
    rapidjson::Document doc;
    doc.Parse<Flags>(text.c_str());  // its fastest form: NUL-terminated text
    if (doc.HasParseError()) state.SkipWithError("rapidjson parse failed");
    benchmark::DoNotOptimize(doc);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

// The floor: simdjson's DOM parse into its own tape, the parser reused as it
// is meant to be, and no conversion to a Value.
void parseSimdjsonBareDom(benchmark::State& state) {
  const simdjson::padded_string text(answerText());
  simdjson::dom::parser parser;
  for (auto _ : state) {
    simdjson::dom::element doc;
    if (parser.parse(text).get(doc) != simdjson::SUCCESS) state.SkipWithError("simdjson parse failed");
    benchmark::DoNotOptimize(doc);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void parseNlohmann(benchmark::State& state) {
  const std::string& text = answerText();
  for (auto _ : state) {
    auto doc = nlohmann::json::parse(text);
    benchmark::DoNotOptimize(doc);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void writeValue(benchmark::State& state) {
  const Value value = platform::json::parse(answerText()).value();
  std::size_t size = 0;
  for (auto _ : state) {
    std::string out = platform::json::write(value);
    size = out.size();
    benchmark::DoNotOptimize(out);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
}

void writeRapidJSON(benchmark::State& state) {
  rapidjson::Document doc;
  doc.Parse(answerText().c_str());
  std::size_t size = 0;
  for (auto _ : state) {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    doc.Accept(writer);
    size = buffer.GetSize();
    benchmark::DoNotOptimize(buffer.GetString());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
}

void writeNlohmann(benchmark::State& state) {
  const auto doc = nlohmann::json::parse(answerText());
  std::size_t size = 0;
  for (auto _ : state) {
    std::string out = doc.dump();
    size = out.size();
    benchmark::DoNotOptimize(out);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
}

constexpr unsigned kSameChecks = rapidjson::kParseValidateEncodingFlag | rapidjson::kParseFullPrecisionFlag;

BENCHMARK(parseValue)->Unit(benchmark::kMicrosecond);
BENCHMARK(parseRapidJSON<rapidjson::kParseDefaultFlags>)->Name("parseRapidJSON")->Unit(benchmark::kMicrosecond);
BENCHMARK(parseRapidJSON<kSameChecks>)->Name("parseRapidJSONValidatingFullPrecision")->Unit(benchmark::kMicrosecond);
BENCHMARK(parseSimdjsonBareDom)->Unit(benchmark::kMicrosecond);
BENCHMARK(parseNlohmann)->Unit(benchmark::kMicrosecond);
BENCHMARK(writeValue)->Unit(benchmark::kMicrosecond);
BENCHMARK(writeRapidJSON)->Unit(benchmark::kMicrosecond);
BENCHMARK(writeNlohmann)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  std::printf("answer: %zu bytes\n", answerText().size());
  bench::RecordingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\nratios (CPU time over the peer's CPU time; < 1 is faster than the peer)\n");
  bench::printRatio(reporter, "parseValue", "parseRapidJSON", "parse, target <= 1.3:");
  bench::printRatio(reporter, "parseValue", "parseRapidJSONValidatingFullPrecision", "parse, peer with the same checks:");
  bench::printRatio(reporter, "parseValue", "parseNlohmann", "parse:");
  bench::printRatio(reporter, "writeValue", "writeRapidJSON", "write, target <= 1.43 (speed >= 0.7x):");
  bench::printRatio(reporter, "writeValue", "writeNlohmann", "write:");
  bench::printRatio(reporter, "parseValue", "parseSimdjsonBareDom", "parse, distance to the floor:");
  using Aim = bench::ReportRow::Aim;
  bench::reportTimeRatio(reporter, "JSON parse of 1 MB (CPU vs RapidJSON)", "parseValue", "parseRapidJSON", Aim::atMost,
                         1.0);
  bench::reportTimeRatio(reporter, "JSON write of 1 MB (CPU vs RapidJSON)", "writeValue", "writeRapidJSON", Aim::atMost,
                         1.0);
  bench::reportTimeRatio(reporter, "JSON parse of 1 MB (CPU vs simdjson bare DOM, the floor)", "parseValue",
                         "parseSimdjsonBareDom", Aim::none, 0);
  benchmark::Shutdown();
  return 0;
}
