#include "backend/http/output_stream.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/exceptions.hpp"

namespace backend::http {
namespace {

std::error_code lastError() { return {errno, std::generic_category()}; }

}  // namespace

std::error_code MemoryOutputStream::write(std::string_view bytes) {
  bytes_.append(bytes);
  return {};
}

std::error_code MemoryOutputStream::truncate(std::uint64_t offset) {
  if (offset < bytes_.size()) bytes_.resize(offset);
  return {};
}

FileOutputStream::FileOutputStream(std::string path) : path_(std::move(path)) {
  if (path_.empty() || path_.find('\0') != std::string::npos) {
    throw platform::InvalidArgumentException("The response file path must be a non-empty path without NUL bytes");
  }
}

FileOutputStream::~FileOutputStream() { close(); }

std::error_code FileOutputStream::open() {
  if (opened_) return {};
  // O_NONBLOCK: opening a FIFO without a reader must fail, not hang the
  // network thread. O_NOFOLLOW: a link planted at the path is not followed.
  int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0666);
  if (fd < 0) return lastError();
  struct stat status {};
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    auto error = S_ISREG(status.st_mode) ? lastError() : std::make_error_code(std::errc::invalid_argument);
    ::close(fd);
    return error;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  fd_ = fd;
  opened_ = true;
  offset_ = 0;
  return {};
}

std::error_code FileOutputStream::write(std::string_view bytes) {
  if (fd_ < 0) return std::make_error_code(std::errc::bad_file_descriptor);
  while (!bytes.empty()) {
    auto written = ::pwrite(fd_, bytes.data(), bytes.size(), static_cast<off_t>(offset_));
    if (written < 0) {
      if (errno == EINTR) continue;
      return lastError();
    }
    offset_ += static_cast<std::uint64_t>(written);
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return {};
}

std::error_code FileOutputStream::truncate(std::uint64_t offset) {
  if (fd_ < 0 || offset >= offset_) return {};
  // Cut the file too: a shorter new body must not keep the old tail.
  if (::ftruncate(fd_, static_cast<off_t>(offset)) != 0) return lastError();
  offset_ = offset;
  return {};
}

void FileOutputStream::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

}  // namespace backend::http
