#include "backend/net/input_stream.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace backend::net {

std::unique_ptr<FileInputStream> FileInputStream::open(const std::filesystem::path& path, std::string* error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (error) *error = std::strerror(errno);
    return nullptr;
  }
  struct stat status {};
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    if (error) *error = S_ISREG(status.st_mode) ? std::strerror(errno) : "not a regular file";
    ::close(fd);
    return nullptr;
  }
  return std::unique_ptr<FileInputStream>(new FileInputStream(fd, static_cast<std::uint64_t>(status.st_size)));
}

FileInputStream::~FileInputStream() { ::close(fd_); }

std::optional<std::size_t> FileInputStream::read(char* buffer, std::size_t capacity) {
  for (;;) {
    const ssize_t got = ::read(fd_, buffer, capacity);
    if (got >= 0) return static_cast<std::size_t>(got);
    if (errno == EINTR) continue;
    error_ = std::strerror(errno);
    return std::nullopt;
  }
}

std::optional<std::size_t> MemoryInputStream::read(char* buffer, std::size_t capacity) {
  const std::size_t count = std::min(capacity, bytes_.size() - offset_);
  std::memcpy(buffer, bytes_.data() + offset_, count);
  offset_ += count;
  return count;
}

}  // namespace backend::net
