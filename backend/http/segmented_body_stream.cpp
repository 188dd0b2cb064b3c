#include "segmented_body_stream.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace backend::http {
namespace {

class SegmentReader final : public RequestBodyReader {
 public:
  using Segments = std::vector<SegmentedBodyStream::Segment>;
  explicit SegmentReader(std::shared_ptr<const Segments> segments) : segments_(std::move(segments)) {}
  ~SegmentReader() override { closeFile(); }

  std::optional<std::size_t> read(char* buffer, std::size_t capacity) override {
    while (index_ < segments_->size()) {
      const auto& segment = (*segments_)[index_];
      auto read = segment.filePath.empty() ? readBytes(segment, buffer, capacity) : readFile(segment, buffer, capacity);
      if (!read) return std::nullopt;
      if (*read > 0) return read;
      nextSegment();
    }
    return 0;
  }

 private:
  std::optional<std::size_t> readBytes(const SegmentedBodyStream::Segment& segment, char* buffer, std::size_t capacity) {
    if (!segment.bytes) return 0;
    auto count = std::min<std::size_t>(capacity, segment.bytes->size() - position_);
    std::memcpy(buffer, segment.bytes->data() + position_, count);
    position_ += count;
    return count;
  }

  std::optional<std::size_t> readFile(const SegmentedBodyStream::Segment& segment, char* buffer, std::size_t capacity) {
    if (position_ == segment.fileLength) return 0;
    if (fd_ < 0) {
      fd_ = ::open(segment.filePath.c_str(), O_RDONLY | O_CLOEXEC);
      if (fd_ < 0) return std::nullopt;
    }
    auto wanted = static_cast<std::size_t>(std::min<std::uint64_t>(capacity, segment.fileLength - position_));
    ssize_t got;
    do {
      got = ::read(fd_, buffer, wanted);
    } while (got < 0 && errno == EINTR);
    // A file that shrank since it was appended would leave the announced
    // length unmet; fail rather than send a short body.
    if (got <= 0) return std::nullopt;
    position_ += static_cast<std::uint64_t>(got);
    return static_cast<std::size_t>(got);
  }

  void nextSegment() {
    closeFile();
    ++index_;
    position_ = 0;
  }

  void closeFile() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

  std::shared_ptr<const Segments> segments_;
  std::size_t index_ = 0;
  std::uint64_t position_ = 0;
  int fd_ = -1;
};

}  // namespace

SegmentedBodyStream::SegmentedBodyStream(std::vector<Segment> segments)
    : segments_(std::make_shared<const std::vector<Segment>>(std::move(segments))) {
  for (const auto& segment : *segments_) {
    if (!segment.filePath.empty()) length_ += segment.fileLength;
    else if (segment.bytes) length_ += segment.bytes->size();
  }
}

std::unique_ptr<RequestBodyReader> SegmentedBodyStream::open() const { return std::make_unique<SegmentReader>(segments_); }

}  // namespace backend::http
