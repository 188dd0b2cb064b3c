#include "backend/http/multipart_form_data.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <map>
#include <random>
#include <variant>

#include "platform/exceptions.hpp"
#include "segmented_body_stream.hpp"

namespace backend::http {

struct MultipartFormData::Part {
  std::shared_ptr<const std::string> head;  // boundary line, headers, empty line
  std::shared_ptr<const std::string> body;  // unless the content is a file
  std::string filePath;
  std::uint64_t fileLength = 0;
};

namespace {

std::string randomBoundary() {
  std::random_device device;
  static const char* digits = "0123456789abcdef";
  std::string boundary = "Boundary-";
  for (int i = 0; i < 8; ++i) {
    auto word = device();
    for (int nibble = 0; nibble < 8; ++nibble) boundary.push_back(digits[(word >> (nibble * 4)) & 0xF]);
  }
  return boundary;
}

// Quoted header parameters cannot hold a quote or a line break.
std::string quoted(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') out += "%22";
    else if (c == '\r') out += "%0D";
    else if (c == '\n') out += "%0A";
    else out.push_back(c);
  }
  return out + "\"";
}

bool holdsLineBreak(std::string_view text) { return text.find_first_of("\r\n") != std::string_view::npos; }

HeaderFields formHeaders(std::string_view name, std::optional<std::string_view> fileName,
                         std::optional<std::string_view> mimeType) {
  HeaderFields headers;
  std::string disposition = "form-data; name=" + quoted(name);
  if (fileName) disposition += "; filename=" + quoted(*fileName);
  headers.set("Content-Disposition", disposition);
  if (mimeType) {
    if (holdsLineBreak(*mimeType)) throw platform::InvalidArgumentException("A MIME type may not hold a line break");
    headers.set("Content-Type", std::string(*mimeType));
  }
  return headers;
}

platform::Error fileError(const std::string& path, int error) {
  std::int64_t code = error == ENOENT ? kURLErrorFileDoesNotExist
                      : error == EISDIR ? kURLErrorFileIsDirectory
                                        : kURLErrorCannotOpenFile;
  platform::Dictionary info;
  info.set(kLocalizedDescriptionKey, "Cannot read " + path + ": " + std::strerror(error));
  info.set(kFilePathErrorKey, path);
  return platform::Error(kURLErrorDomain, code, platform::Value(std::move(info)));
}

// The size of the readable regular file at `path`, or the errno why not.
std::variant<std::uint64_t, int> readableFileSize(const std::string& path) {
  if (path.empty() || path.find('\0') != std::string::npos) return ENOENT;
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return errno;
  struct stat status {};
  int result = ::fstat(fd, &status) != 0 ? errno : S_ISDIR(status.st_mode) ? EISDIR : S_ISREG(status.st_mode) ? 0 : EINVAL;
  ::close(fd);
  if (result != 0) return result;
  return static_cast<std::uint64_t>(status.st_size);
}

std::string lastPathComponent(const std::string& path) {
  auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::string mimeTypeForPath(std::string_view path) {
  static const std::map<std::string, std::string, std::less<>> types{
      {"css", "text/css"},         {"csv", "text/csv"},         {"gif", "image/gif"},
      {"gz", "application/gzip"},  {"htm", "text/html"},        {"html", "text/html"},
      {"jpeg", "image/jpeg"},      {"jpg", "image/jpeg"},       {"js", "application/javascript"},
      {"json", "application/json"}, {"m4a", "audio/mp4"},       {"mov", "video/quicktime"},
      {"mp3", "audio/mpeg"},       {"mp4", "video/mp4"},        {"pdf", "application/pdf"},
      {"png", "image/png"},        {"svg", "image/svg+xml"},    {"txt", "text/plain"},
      {"webp", "image/webp"},      {"xml", "application/xml"},  {"zip", "application/zip"},
  };
  auto name = path.substr(path.rfind('/') == std::string_view::npos ? 0 : path.rfind('/') + 1);
  auto dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0) return "application/octet-stream";
  std::string extension(name.substr(dot + 1));
  for (auto& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  auto it = types.find(extension);
  return it == types.end() ? "application/octet-stream" : it->second;
}

MultipartFormData::MultipartFormData() : boundary_(randomBoundary()) {}

MultipartFormData::MultipartFormData(std::string boundary) : boundary_(std::move(boundary)) {}

std::string MultipartFormData::contentType() const { return "multipart/form-data; boundary=" + boundary_; }

void MultipartFormData::appendPart(const HeaderFields& headers, std::string body, std::string filePath,
                                   std::uint64_t fileLength) {
  std::string head = "--" + boundary_ + "\r\n";
  for (const auto& [name, value] : headers.all()) head += name + ": " + value + "\r\n";
  head += "\r\n";
  auto part = std::make_shared<Part>();
  part->head = std::make_shared<const std::string>(std::move(head));
  if (filePath.empty()) part->body = std::make_shared<const std::string>(std::move(body));
  part->filePath = std::move(filePath);
  part->fileLength = fileLength;
  parts_.push_back(std::move(part));
}

void MultipartFormData::appendPartWithFileData(std::string data, std::string_view name, std::string_view fileName,
                                               std::string_view mimeType) {
  appendPart(formHeaders(name, fileName, mimeType), std::move(data), {}, 0);
}

std::optional<platform::Error> MultipartFormData::appendPartWithFileURL(const std::string& path,
                                                                       std::string_view name) {
  return appendPartWithFileURL(path, name, lastPathComponent(path), mimeTypeForPath(path));
}

std::optional<platform::Error> MultipartFormData::appendPartWithFileURL(const std::string& path,
                                                                       std::string_view name,
                                                                       std::string_view fileName,
                                                                       std::string_view mimeType) {
  auto size = readableFileSize(path);
  if (auto* error = std::get_if<int>(&size)) return fileError(path, *error);
  appendPart(formHeaders(name, fileName, mimeType), {}, path, std::get<std::uint64_t>(size));
  return std::nullopt;
}

void MultipartFormData::appendPartWithFormData(std::string data, std::string_view name) {
  appendPart(formHeaders(name, std::nullopt, std::nullopt), std::move(data), {}, 0);
}

void MultipartFormData::appendPartWithHeaders(const HeaderFields& headers, std::string body) {
  for (const auto& [name, value] : headers.all()) {
    if (holdsLineBreak(name) || holdsLineBreak(value) || name.find(':') != std::string::npos) {
      throw platform::InvalidArgumentException("A multipart header may not hold a line break, nor its name a colon");
    }
  }
  appendPart(headers, std::move(body), {}, 0);
}

std::shared_ptr<const RequestBodyStream> MultipartFormData::bodyStream() const {
  static const auto lineBreak = std::make_shared<const std::string>("\r\n");
  std::vector<SegmentedBodyStream::Segment> segments;
  segments.reserve(parts_.size() * 3 + 1);
  for (const auto& part : parts_) {
    segments.push_back({part->head, {}, 0});
    segments.push_back({part->body, part->filePath, part->fileLength});
    segments.push_back({lineBreak, {}, 0});
  }
  segments.push_back(SegmentedBodyStream::Segment::of("--" + boundary_ + "--\r\n"));
  return std::make_shared<SegmentedBodyStream>(std::move(segments));
}

std::uint64_t MultipartFormData::contentLength() const { return bodyStream()->length(); }

}  // namespace backend::http
