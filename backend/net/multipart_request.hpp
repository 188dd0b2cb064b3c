#pragma once
// Request bodies of the transport, and the multipart form that file uploads
// send: byte parts held in memory and stream parts read while the body is
// sent, 4096 bytes at a time. Used on the network thread once sending.

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "backend/net/input_stream.hpp"
#include "platform/value.hpp"

namespace backend::net {

// What the transport asks of a request body.
class RequestBody {
 public:
  virtual ~RequestBody() = default;
  virtual std::string contentType() const = 0;
  virtual std::uint64_t length() const = 0;
  // The bytes from `index` on that are contiguous in the body's storage
  // (never empty); nullopt past the end, or when the bytes at `index`
  // cannot be had (a stream part whose stream failed or ended early).
  virtual std::optional<std::span<const char>> bufferPart(std::uint64_t index) = 0;
};

class MultipartRequest final : public RequestBody {
 public:
  static constexpr std::string_view kBoundary = "Boundary5+0xDeadBEEF15BAADF00D";
  static constexpr std::size_t kStreamWindowBytes = 4096;

  MultipartRequest();
  ~MultipartRequest() override;

  // A named part: the boundary line, "content-disposition: form-data;
  // name=\"<name>\"", the empty line and the content.
  void appendPartWithName(std::string_view name, std::string_view content);
  // A named part whose content is read from `stream` while sending; the
  // stream must yield exactly `length` bytes, or the upload fails.
  void appendPartWithName(std::string_view name, std::shared_ptr<InputStream> stream, std::uint64_t length);
  // A part with the given header lines (in order) and content.
  void appendPartWithHeaders(const std::vector<std::pair<std::string, std::string>>& headers, std::string_view body);
  // Each entry as a named part, in the dictionary's order. Raises
  // InvalidArgumentException "Unsupported object of type <class> used in a
  // multipart form" for a value that is neither a string nor bytes.
  void appendParts(const platform::Dictionary& parts);

  // "multipart/form-data; boundary=<boundary>".
  std::string contentType() const override;
  std::uint64_t length() const override;
  std::optional<std::span<const char>> bufferPart(std::uint64_t index) override;

 private:
  class Part;
  class BytePart;
  class StreamPart;

  void appendBytes(std::string_view bytes);
  void appendBoundaryAndHeaders(const std::vector<std::pair<std::string, std::string>>& headers);
  std::uint64_t partsEnd() const;

  std::vector<std::unique_ptr<Part>> parts_;
  std::string footer_;
  // The part that served the last index: bodies are read front to back.
  std::size_t currentPart_ = 0;
};

}  // namespace backend::net
