#pragma once
// A source of bytes read front to back: a file's contents for an upload, or
// a downloaded file handed to the application. Not thread-safe.

#include <cstddef>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace backend::net {

class InputStream {
 public:
  virtual ~InputStream() = default;
  // Copies up to `capacity` bytes into `buffer`: the count, 0 at the end, or
  // nullopt when the source cannot be read (errorDescription says why).
  virtual std::optional<std::size_t> read(char* buffer, std::size_t capacity) = 0;
  virtual std::string errorDescription() const = 0;
};

// Reads a regular file. open() answers nullptr when it cannot be opened;
// `error`, when given, then says why.
class FileInputStream final : public InputStream {
 public:
  static std::unique_ptr<FileInputStream> open(const std::filesystem::path& path, std::string* error = nullptr);
  ~FileInputStream() override;
  FileInputStream(const FileInputStream&) = delete;
  FileInputStream& operator=(const FileInputStream&) = delete;

  std::optional<std::size_t> read(char* buffer, std::size_t capacity) override;
  std::string errorDescription() const override { return error_; }
  // The file's size when it was opened.
  std::uint64_t size() const noexcept { return size_; }

 private:
  FileInputStream(int fd, std::uint64_t size) : fd_(fd), size_(size) {}
  int fd_;
  std::uint64_t size_;
  std::string error_;
};

// Reads bytes held in memory.
class MemoryInputStream final : public InputStream {
 public:
  explicit MemoryInputStream(std::string bytes) : bytes_(std::move(bytes)) {}
  std::optional<std::size_t> read(char* buffer, std::size_t capacity) override;
  std::string errorDescription() const override { return {}; }

 private:
  std::string bytes_;
  std::size_t offset_ = 0;
};

}  // namespace backend::net
