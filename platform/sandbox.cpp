#include "platform/sandbox.hpp"

#include <errno.h>
#include <stdio.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <random>

#include "platform/log.hpp"

namespace fs = std::filesystem;

namespace platform {
namespace {

std::mutex rootMutex;
fs::path overriddenRoot;
std::atomic<std::uint64_t> rootChanges{0};

fs::path homeDirectory() {
  const char* home = std::getenv("HOME");
  if (home && home[0] == '/') return home;
  if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir) return entry->pw_dir;
  return "/tmp";
}

fs::path defaultRoot() {
  const char* dataHome = std::getenv("XDG_DATA_HOME");
  fs::path base = (dataHome && dataHome[0] == '/') ? fs::path(dataHome) : homeDirectory() / ".local" / "share";
  return base / "vestavind-reader";
}

fs::path ensureDirectory(fs::path path) {
  std::error_code error;
  fs::create_directories(path, error);
  if (error) log("Unable to create directory " + path.string() + ": " + error.message());
  return path;
}

std::error_code lastError() { return {errno, std::generic_category()}; }

// Where the file name starts in `path` (0 without a directory part).
std::size_t fileNameStart(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? 0 : slash + 1;
}

// A name no other writer in this directory picks, hidden from listings.
// Plain text rather than a path: it only goes to system calls.
std::string temporarySibling(const fs::path& path) {
  thread_local std::mt19937_64 random{std::random_device{}()};
  const std::string& full = path.native();
  const std::size_t nameStart = fileNameStart(full);
  char suffix[32];
  const auto suffixLength = static_cast<std::size_t>(
      std::snprintf(suffix, sizeof suffix, ".tmp-%016llx", static_cast<unsigned long long>(random())));
  std::string temporary;
  temporary.reserve(full.size() + 1 + suffixLength);
  temporary.append(full, 0, nameStart).append(1, '.').append(full, nameStart).append(suffix, suffixLength);
  return temporary;
}

std::string directoryOf(const fs::path& path) {
  const std::string& full = path.native();
  const std::size_t nameStart = fileNameStart(full);
  if (nameStart == 0) return ".";
  return nameStart == 1 ? "/" : full.substr(0, nameStart - 1);
}

std::error_code writeAll(int fd, std::string_view bytes) {
  std::size_t written = 0;
  while (written < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return lastError();
    written += static_cast<std::size_t>(n);
  }
  return {};
}

std::error_code syncDirectory(const std::string& directory) {
  int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return lastError();
  std::error_code error;
  if (::fsync(fd) != 0) error = lastError();
  ::close(fd);
  return error;
}

std::error_code writeAndSync(const std::string& temporary, std::string_view bytes, unsigned mode, bool& created) {
  int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, static_cast<mode_t>(mode));
  if (fd < 0) return lastError();
  created = true;
  std::error_code error = writeAll(fd, bytes);
  if (!error && ::fsync(fd) != 0) error = lastError();
  if (::close(fd) != 0 && !error) error = lastError();
  return error;
}

// Renames unless `to` exists.
std::error_code renameExclusively(const std::string& from, const fs::path& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return {};
  if (errno != EINVAL && errno != ENOSYS) return lastError();
  int claim = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (claim < 0) return lastError();
  ::close(claim);
  if (::rename(from.c_str(), to.c_str()) == 0) return {};
  std::error_code error = lastError();
  ::unlink(to.c_str());
  return error;
}

}  // namespace

fs::path Sandbox::root() {
  std::lock_guard lock(rootMutex);
  return overriddenRoot.empty() ? defaultRoot() : overriddenRoot;
}

void Sandbox::setRoot(fs::path root) {
  std::lock_guard lock(rootMutex);
  overriddenRoot = std::move(root);
  rootChanges.fetch_add(1, std::memory_order_release);
}

std::uint64_t Sandbox::rootGeneration() noexcept { return rootChanges.load(std::memory_order_acquire); }

fs::path Sandbox::library() { return ensureDirectory(root() / "Library"); }
fs::path Sandbox::caches() { return ensureDirectory(root() / "Library" / "Caches"); }
fs::path Sandbox::documents() { return ensureDirectory(root() / "Documents"); }
fs::path Sandbox::tmp() { return ensureDirectory(root() / "tmp"); }

std::error_code replaceFileAtomically(const fs::path& path, std::string_view bytes, unsigned mode) {
  if (path.filename().empty()) return std::make_error_code(std::errc::is_a_directory);
  const std::string temporary = temporarySibling(path);
  bool created = false;
  std::error_code error = writeAndSync(temporary, bytes, mode, created);
  if (!error && ::rename(temporary.c_str(), path.c_str()) != 0) error = lastError();
  if (error && created) ::unlink(temporary.c_str());
  return error;
}

std::error_code writeFileAtomically(const fs::path& path, std::string_view bytes, unsigned mode) {
  if (auto error = replaceFileAtomically(path, bytes, mode)) return error;
  // The rename itself is durable only once the directory entry is on disk.
  return syncDirectory(directoryOf(path));
}

std::error_code writeNewFileAtomically(const fs::path& path, std::string_view bytes, unsigned mode) {
  if (path.filename().empty()) return std::make_error_code(std::errc::is_a_directory);
  const std::string temporary = temporarySibling(path);
  bool created = false;
  std::error_code error = writeAndSync(temporary, bytes, mode, created);
  if (!error) error = renameExclusively(temporary, path);
  if (error && created) ::unlink(temporary.c_str());
  return error ? error : syncDirectory(directoryOf(path));
}

std::optional<std::string> readFile(const fs::path& path, std::error_code* error) {
  auto fail = [&](std::error_code code) -> std::optional<std::string> {
    if (error) *error = code;
    return std::nullopt;
  };
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return fail(lastError());
  std::string content;
  char buffer[64 * 1024];
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      std::error_code code = lastError();
      ::close(fd);
      return fail(code);
    }
    if (n == 0) break;
    content.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  if (error) error->clear();
  return content;
}

bool isSafeRelativePath(std::string_view relative) {
  if (relative.empty() || relative.front() == '/') return false;
  if (relative.find('\0') != std::string_view::npos) return false;
  std::size_t start = 0;
  while (start <= relative.size()) {
    std::size_t end = relative.find('/', start);
    if (end == std::string_view::npos) end = relative.size();
    if (relative.substr(start, end - start) == "..") return false;
    start = end + 1;
  }
  return true;
}

std::optional<fs::path> pathInside(const fs::path& directory, std::string_view relative) {
  if (!isSafeRelativePath(relative)) return std::nullopt;
  return directory / fs::path(std::string(relative));
}

bool setExcludedFromBackup(const fs::path& path) {
  return ::setxattr(path.c_str(), kExcludeFromBackupAttribute, "1", 1, 0) == 0;
}

bool isExcludedFromBackup(const fs::path& path) {
  char value[2] = {};
  ssize_t n = ::getxattr(path.c_str(), kExcludeFromBackupAttribute, value, sizeof value);
  return n == 1 && value[0] == '1';
}

}  // namespace platform
