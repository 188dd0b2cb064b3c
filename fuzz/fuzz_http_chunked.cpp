// A chunked response body, fed whole and byte by byte: both readings must
// agree on the bytes, on being done and on refusing the input.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "http_response.hpp"

using backend::net::HTTPResponse;

namespace {

constexpr std::string_view kHead = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";

struct Reading {
  bool refused = false;
  bool done = false;
  std::string body;
};

Reading read(std::string_view body, std::size_t step) {
  HTTPResponse response;
  Reading reading;
  if (response.appendBytes(kHead.data(), kHead.size()) < 0) std::abort();
  for (std::size_t at = 0; at < body.size() && !reading.refused; at += step) {
    const std::string_view piece = body.substr(at, step);
    reading.refused = response.appendBytes(piece.data(), piece.size()) < 0;
  }
  reading.done = response.done();
  if (!reading.refused) reading.body = response.responseData();
  return reading;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view body(reinterpret_cast<const char*>(data), size);
  const Reading whole = read(body, body.size() + 1);
  const Reading bytewise = read(body, 1);
  if (whole.refused != bytewise.refused || whole.done != bytewise.done || whole.body != bytewise.body) std::abort();
  if (whole.body.size() > body.size()) std::abort();
  return 0;
}
