#pragma once
// Where a request operation writes the response body: memory (the default)
// or a file the caller named. Not thread-safe: the owning operation calls it
// under its lock.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

namespace backend::http {

class OutputStream {
 public:
  virtual ~OutputStream() = default;
  // Makes the stream writable; calls on an open stream do nothing.
  virtual std::error_code open() = 0;
  // Writes every byte at the current offset.
  virtual std::error_code write(std::string_view bytes) = 0;
  // The number of bytes before the write position.
  virtual std::uint64_t offset() const = 0;
  // Drops everything from `offset` on; writing continues there.
  virtual std::error_code truncate(std::uint64_t offset) = 0;
  virtual void close() = 0;
  // The bytes written, for a memory stream; empty for a file.
  virtual std::string data() const = 0;
  // The file path, or nullopt for memory (for error reports).
  virtual std::optional<std::string> filePath() const = 0;
};

class MemoryOutputStream final : public OutputStream {
 public:
  std::error_code open() override { return {}; }
  std::error_code write(std::string_view bytes) override;
  std::uint64_t offset() const override { return bytes_.size(); }
  std::error_code truncate(std::uint64_t offset) override;
  void close() override {}
  std::string data() const override { return bytes_; }
  std::optional<std::string> filePath() const override { return std::nullopt; }

 private:
  std::string bytes_;
};

// Writes to exactly the path it was given: the first open creates or
// empties the file and refuses a symbolic link, a FIFO, a device or a
// directory there (the error, not a crash, reaches the operation).
class FileOutputStream final : public OutputStream {
 public:
  // Raises InvalidArgumentException for an empty path or one holding a NUL
  // byte (which would name a different file).
  explicit FileOutputStream(std::string path);
  ~FileOutputStream() override;
  FileOutputStream(const FileOutputStream&) = delete;
  FileOutputStream& operator=(const FileOutputStream&) = delete;

  std::error_code open() override;
  std::error_code write(std::string_view bytes) override;
  std::uint64_t offset() const override { return offset_; }
  std::error_code truncate(std::uint64_t offset) override;
  void close() override;
  std::string data() const override { return std::string(); }
  std::optional<std::string> filePath() const override { return path_; }

 private:
  std::string path_;
  int fd_ = -1;
  bool opened_ = false;
  std::uint64_t offset_ = 0;
};

}  // namespace backend::http
