#pragma once
// Builds a "multipart/form-data" body (RFC 7578): each part is framed by
// "--<boundary>" CRLF, its header lines, an empty line, its content and CRLF;
// the body ends with "--<boundary>--" CRLF. File parts named by path are
// read while the body is sent, not held in memory.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "backend/http/url_request.hpp"
#include "platform/error.hpp"

namespace backend::http {

class MultipartFormData {
 public:
  // A form with a fresh random boundary.
  MultipartFormData();
  explicit MultipartFormData(std::string boundary);

  const std::string& boundary() const noexcept { return boundary_; }
  // "multipart/form-data; boundary=<boundary>".
  std::string contentType() const;

  // A file part: `data` under the field `name`, announced with `fileName`
  // and `mimeType`. Quotes and line breaks in names are percent-escaped.
  void appendPartWithFileData(std::string data, std::string_view name, std::string_view fileName,
                              std::string_view mimeType);
  // A file part with the contents of the regular file at `path`, its last
  // path component as file name and a MIME type guessed from its extension.
  // Fails (appending nothing) with an error in the URL-loading domain when
  // the path names no readable regular file. The file is read when the body
  // is sent; a file that shrank by then fails the transfer.
  std::optional<platform::Error> appendPartWithFileURL(const std::string& path, std::string_view name);
  std::optional<platform::Error> appendPartWithFileURL(const std::string& path, std::string_view name,
                                                       std::string_view fileName, std::string_view mimeType);
  // A plain field.
  void appendPartWithFormData(std::string data, std::string_view name);
  // A part with exactly these headers. Raises InvalidArgumentException when
  // a header name or value holds a line break (it would forge framing).
  void appendPartWithHeaders(const HeaderFields& headers, std::string body);

  // The body so far, closing boundary included; the form may be appended to
  // further, later bodies are independent.
  std::shared_ptr<const RequestBodyStream> bodyStream() const;
  std::uint64_t contentLength() const;

 private:
  struct Part;
  void appendPart(const HeaderFields& headers, std::string body, std::string filePath, std::uint64_t fileLength);

  std::string boundary_;
  std::vector<std::shared_ptr<const Part>> parts_;
};

// The MIME type for a file name's extension ("application/octet-stream"
// when unknown).
std::string mimeTypeForPath(std::string_view path);

}  // namespace backend::http
