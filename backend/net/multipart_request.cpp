#include "multipart_request.hpp"

#include "backend/internal/internal_utils.hpp"
#include "platform/exceptions.hpp"
#include "platform/log.hpp"

namespace backend::net {

class MultipartRequest::Part {
 public:
  explicit Part(std::uint64_t offset) : offset_(offset) {}
  virtual ~Part() = default;
  std::uint64_t offset() const noexcept { return offset_; }
  virtual std::uint64_t size() const = 0;
  // Bytes from `index` (relative to the part) on; nullopt when unavailable.
  virtual std::optional<std::span<const char>> bufferPart(std::uint64_t index) = 0;

 private:
  std::uint64_t offset_;
};

class MultipartRequest::BytePart final : public Part {
 public:
  using Part::Part;
  void append(std::string_view bytes) { data_.append(bytes); }
  std::uint64_t size() const override { return data_.size(); }
  std::optional<std::span<const char>> bufferPart(std::uint64_t index) override {
    return std::span<const char>(data_.data() + index, data_.size() - index);
  }

 private:
  std::string data_;
};

class MultipartRequest::StreamPart final : public Part {
 public:
  StreamPart(std::uint64_t offset, std::shared_ptr<InputStream> stream, std::uint64_t size)
      : Part(offset), stream_(std::move(stream)), size_(size) {}
  std::uint64_t size() const override { return size_; }

  std::optional<std::span<const char>> bufferPart(std::uint64_t index) override {
    if (index < bufferIndex_) throw platform::InternalInconsistencyException("Multi-part form buffers are currupt");
    while (index >= bufferIndex_ + validBufferSize_) {
      if (!readNextWindow()) return std::nullopt;
    }
    const std::size_t skip = static_cast<std::size_t>(index - bufferIndex_);
    return std::span<const char>(cachedBuffer_.data() + skip, validBufferSize_ - skip);
  }

 private:
  // Moves the window past the bytes it held; false when the stream has
  // nothing more to give before the promised length.
  bool readNextWindow() {
    bufferIndex_ += validBufferSize_;
    validBufferSize_ = 0;
    const std::uint64_t wanted = std::min<std::uint64_t>(cachedBuffer_.size(), size_ - bufferIndex_);
    if (wanted == 0) return false;
    auto got = stream_->read(cachedBuffer_.data(), static_cast<std::size_t>(wanted));
    if (!got) {
      platform::log("Stream error: " + stream_->errorDescription());
      return false;
    }
    validBufferSize_ = *got;
    return *got > 0;
  }

  std::shared_ptr<InputStream> stream_;
  std::uint64_t size_;
  std::array<char, kStreamWindowBytes> cachedBuffer_{};
  std::uint64_t bufferIndex_ = 0;
  std::size_t validBufferSize_ = 0;
};

MultipartRequest::MultipartRequest() : footer_("\r\n--" + std::string(kBoundary) + "--") {}

MultipartRequest::~MultipartRequest() = default;

std::string MultipartRequest::contentType() const { return "multipart/form-data; boundary=" + std::string(kBoundary); }

void MultipartRequest::appendBytes(std::string_view bytes) {
  if (!parts_.empty()) {
    if (auto* last = dynamic_cast<BytePart*>(parts_.back().get())) return last->append(bytes);
  }
  auto part = std::make_unique<BytePart>(partsEnd());
  part->append(bytes);
  parts_.push_back(std::move(part));
}

void MultipartRequest::appendBoundaryAndHeaders(const std::vector<std::pair<std::string, std::string>>& headers) {
  std::string text = "\r\n--" + std::string(kBoundary) + "\r\n";
  for (const auto& [name, value] : headers) text += name + ": " + value + "\r\n";
  text += "\r\n";
  appendBytes(text);
}

namespace {
std::vector<std::pair<std::string, std::string>> dispositionFor(std::string_view name) {
  return {{"content-disposition", "form-data; name=\"" + std::string(name) + "\""}};
}
}  // namespace

void MultipartRequest::appendPartWithName(std::string_view name, std::string_view content) {
  appendPartWithHeaders(dispositionFor(name), content);
}

void MultipartRequest::appendPartWithName(std::string_view name, std::shared_ptr<InputStream> stream,
                                          std::uint64_t length) {
  appendBoundaryAndHeaders(dispositionFor(name));
  const std::uint64_t offset = partsEnd();
  parts_.push_back(std::make_unique<StreamPart>(offset, std::move(stream), length));
}

void MultipartRequest::appendPartWithHeaders(const std::vector<std::pair<std::string, std::string>>& headers,
                                             std::string_view body) {
  appendBoundaryAndHeaders(headers);
  appendBytes(body);
}

void MultipartRequest::appendParts(const platform::Dictionary& parts) {
  for (const auto& [name, value] : parts) {
    if (const std::string* text = value.string()) {
      appendPartWithName(name, *text);
    } else if (const platform::Bytes* bytes = value.bytes()) {
      appendPartWithName(name, std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()));
    } else {
      throw platform::InvalidArgumentException("Unsupported object of type " + InternalUtils::className(value) +
                                               " used in a multipart form");
    }
  }
}

std::uint64_t MultipartRequest::partsEnd() const {
  return parts_.empty() ? 0 : parts_.back()->offset() + parts_.back()->size();
}

std::uint64_t MultipartRequest::length() const { return partsEnd() + footer_.size(); }

std::optional<std::span<const char>> MultipartRequest::bufferPart(std::uint64_t index) {
  const std::uint64_t end = partsEnd();
  if (index >= end) {
    if (index >= end + footer_.size()) return std::nullopt;
    const std::size_t skip = static_cast<std::size_t>(index - end);
    return std::span<const char>(footer_.data() + skip, footer_.size() - skip);
  }
  if (currentPart_ >= parts_.size() || index < parts_[currentPart_]->offset()) currentPart_ = 0;
  while (index >= parts_[currentPart_]->offset() + parts_[currentPart_]->size()) ++currentPart_;
  Part& part = *parts_[currentPart_];
  return part.bufferPart(index - part.offset());
}

}  // namespace backend::net
