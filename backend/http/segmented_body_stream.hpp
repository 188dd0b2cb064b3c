#pragma once
// A request body made of byte strings held in memory and byte ranges of
// files read while the body is sent.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "backend/http/url_request.hpp"

namespace backend::http {

class SegmentedBodyStream final : public RequestBodyStream {
 public:
  struct Segment {
    // Sent as they are when `filePath` is empty (shared, not copied).
    std::shared_ptr<const std::string> bytes;
    // Else the first `fileLength` bytes of this file.
    std::string filePath;
    std::uint64_t fileLength = 0;

    static Segment of(std::string bytes) { return {std::make_shared<const std::string>(std::move(bytes)), {}, 0}; }
  };

  explicit SegmentedBodyStream(std::vector<Segment> segments);

  std::uint64_t length() const override { return length_; }
  // A reader that fails when a file cannot be opened or ends early.
  std::unique_ptr<RequestBodyReader> open() const override;

 private:
  // Shared with open readers, which may outlive the stream.
  std::shared_ptr<const std::vector<Segment>> segments_;
  std::uint64_t length_ = 0;
};

}  // namespace backend::http
