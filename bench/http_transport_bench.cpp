// The file transport's response parsing beside http_parser on the same
// bytes: header blocks (both sides keep the status and every field), and
// bodies in memory, plain and chunked, fed in socket-sized reads.

#include <benchmark/benchmark.h>
#include <http_parser.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "http_response.hpp"
#include "ratio_reporter.hpp"

namespace {

constexpr std::size_t kReadBytes = 16 * 1024;
constexpr std::size_t kBodyBytes = 64 * 1024 * 1024;

const std::string& headerBlock() {
  static const std::string text =
      "HTTP/1.1 200 OK\r\n"
      "Server: nginx/1.22.1\r\n"
      "Date: Mon, 07 Dec 2026 03:30:00 GMT\r\n"
      "Content-Type: image/png\r\n"
      "Content-Length: 0\r\n"
      "Last-Modified: Sun, 06 Dec 2026 21:12:09 GMT\r\n"
      "Connection: keep-alive\r\n"
      "ETag: \"6570e3c9-2a3f1\"\r\n"
      "Cache-Control: public, max-age=31536000\r\n"
      "X-Content-Type-Options: nosniff\r\n"
      "Accept-Ranges: bytes\r\n"
      "\r\n";
  return text;
}

std::string plainResponse() {
  return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(kBodyBytes) + "\r\n\r\n" + std::string(kBodyBytes, 'b');
}

std::string chunkedResponse() {
  std::string text = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
  constexpr std::size_t kChunk = 8192;
  char size[16];
  for (std::size_t sent = 0; sent < kBodyBytes; sent += kChunk) {
    text.append(size, static_cast<std::size_t>(std::snprintf(size, sizeof size, "%zx\r\n", kChunk)));
    text.append(kChunk, 'b');
    text.append("\r\n");
  }
  return text + "0\r\n\r\n";
}

// What the peer keeps: the status and the fields, as our parser does.
struct PeerHeaders {
  int status = 0;
  std::string reason;
  std::vector<std::pair<std::string, std::string>> fields;
  bool complete = false;
};

http_parser_settings peerSettings() {
  http_parser_settings settings;
  http_parser_settings_init(&settings);
  settings.on_status = [](http_parser* parser, const char* at, std::size_t length) {
    static_cast<PeerHeaders*>(parser->data)->reason.append(at, length);
    return 0;
  };
  settings.on_header_field = [](http_parser* parser, const char* at, std::size_t length) {
    static_cast<PeerHeaders*>(parser->data)->fields.emplace_back(std::string(at, length), std::string());
    return 0;
  };
  settings.on_header_value = [](http_parser* parser, const char* at, std::size_t length) {
    static_cast<PeerHeaders*>(parser->data)->fields.back().second.append(at, length);
    return 0;
  };
  settings.on_headers_complete = [](http_parser* parser) {
    auto* headers = static_cast<PeerHeaders*>(parser->data);
    headers->status = static_cast<int>(parser->status_code);
    headers->complete = true;
    return 0;
  };
  return settings;
}

void BM_OurHeaderParse(benchmark::State& state) {
  const std::string& text = headerBlock();
  for (auto _ : state) {
    auto headers = backend::net::HTTPHeaders::response();
    benchmark::DoNotOptimize(headers.appendBytes(text.data(), text.size()));
    benchmark::DoNotOptimize(headers.statusCode());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

void BM_HttpParserHeaderParse(benchmark::State& state) {
  const std::string& text = headerBlock();
  const http_parser_settings settings = peerSettings();
  for (auto _ : state) {
    PeerHeaders headers;
    http_parser parser;
    http_parser_init(&parser, HTTP_RESPONSE);
    parser.data = &headers;
    benchmark::DoNotOptimize(http_parser_execute(&parser, &settings, text.data(), text.size()));
    benchmark::DoNotOptimize(headers.complete);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

void feedInReads(const std::string& text, backend::net::HTTPResponse& response) {
  for (std::size_t at = 0; at < text.size(); at += kReadBytes) {
    const std::size_t count = std::min(kReadBytes, text.size() - at);
    response.appendBytes(text.data() + at, count);
  }
}

void bodyBenchmark(benchmark::State& state, const std::string& text) {
  for (auto _ : state) {
    backend::net::HTTPResponse response;
    feedInReads(text, response);
    if (!response.done()) state.SkipWithError("the body did not complete");
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBodyBytes));
}

void BM_OurPlainBody(benchmark::State& state) { bodyBenchmark(state, plainResponse()); }

// The floor for a body kept in memory: a string that knows the whole size up
// front, fed the same reads. Fresh memory costs a page fault per page either way.
void BM_ReservedStringBody(benchmark::State& state) {
  const std::string text = plainResponse();
  for (auto _ : state) {
    std::string body;
    body.reserve(kBodyBytes);
    for (std::size_t at = 0; at < text.size(); at += kReadBytes) {
      body.append(text.data() + at, std::min(kReadBytes, text.size() - at));
    }
    benchmark::DoNotOptimize(body.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBodyBytes));
}
void BM_OurChunkedBody(benchmark::State& state) { bodyBenchmark(state, chunkedResponse()); }

}  // namespace

BENCHMARK(BM_OurHeaderParse)->MeasureProcessCPUTime();
BENCHMARK(BM_HttpParserHeaderParse)->MeasureProcessCPUTime();
BENCHMARK(BM_OurPlainBody)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
BENCHMARK(BM_ReservedStringBody)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
BENCHMARK(BM_OurChunkedBody)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  bench::RecordingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\nratios (process CPU time over the peer's; < 1 is faster than the peer)\n");
  bench::printRatio(reporter, "BM_OurHeaderParse/process_time", "BM_HttpParserHeaderParse/process_time",
                    "header block (aim <= 1.5x):");
  bench::printRatio(reporter, "BM_OurChunkedBody/process_time", "BM_OurPlainBody/process_time",
                    "chunked body over plain (aim <= 1.5x):");
  using Aim = bench::ReportRow::Aim;
  bench::reportTimeRatio(reporter, "HTTP header block (vs http_parser)", "BM_OurHeaderParse/process_time",
                         "BM_HttpParserHeaderParse/process_time", Aim::atMost, 1.5);
  bench::reportTimeRatio(reporter, "HTTP chunked body (vs our plain body)", "BM_OurChunkedBody/process_time",
                         "BM_OurPlainBody/process_time", Aim::atMost, 1.5);
  bench::reportTimeRatio(reporter, "HTTP plain body in memory (vs a reserved string)",
                         "BM_OurPlainBody/process_time", "BM_ReservedStringBody/process_time", Aim::none, 0);
  auto plain = reporter.times.find("BM_OurPlainBody/process_time");
  if (plain != reporter.times.end()) {
    // CPU time per iteration is in the benchmark's unit, milliseconds.
    std::printf("%-44s %.2f GB/s (aim >= 5)\n", "plain body in memory:", kBodyBytes / (plain->second / 1000.0) / 1e9);
  }
  benchmark::Shutdown();
  return 0;
}
