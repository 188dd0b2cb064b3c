#pragma once

#include "object_store.hpp"

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace httplib {
struct Request;
struct Response;
}  // namespace httplib

namespace devserver::backend {

// One part of a multipart/form-data body.
struct FormPart {
  std::string content;
  std::string contentType;
};

// Parses a multipart/form-data body with the given boundary into its named
// parts (a later part with the same name wins). Text before the first
// boundary is skipped. Nothing when the body is malformed.
std::optional<std::map<std::string, FormPart>> parseMultipart(std::string_view body, std::string_view boundary);

// The value of a parameter such as name="x" in a header value (the first
// one, matched case-insensitively), or nothing.
std::optional<std::string> headerParameter(std::string_view header, std::string_view parameter);

// True for content types a browser would run or render as a page (HTML,
// SVG, XML, scripts); such files are served as downloads only.
bool isActiveContentType(std::string_view contentType);

// The file storage host: hands out upload slots ("upload_file"), takes the
// multipart form post of a slot and serves stored bytes. Files live in
// `directory`, at most kMaxFileBytes each and `quotaBytes` together. Not
// thread-safe: the owner serialises calls.
class FileStorage {
 public:
  static constexpr std::size_t kMaxFileBytes = 10 * 1024 * 1024;

  FileStorage(const std::filesystem::path& directory, ObjectStore& store, std::uint64_t quotaBytes);

  // The "upload_file" result for a file called `requestedName` (may be
  // empty): {"name", "url", "post_url", "post_params"}, URLs below
  // `baseUrl` (scheme://host[:port]).
  nlohmann::json issueUpload(const std::string& requestedName, const std::string& baseUrl);

  // Serves "POST /files/upload" (the form post; 201 on success, 400 for a
  // malformed form, 403 for an unknown, used or expired ticket, 413 when too
  // large, 507 when the quota is used up)
  // and "GET /files/<name>" (200 with the bytes, 404 when unknown). Any
  // other request answers 404 or 405.
  void handle(const httplib::Request& request, httplib::Response& response, const std::string& baseUrl);

 private:
  void acceptUpload(const httplib::Request& request, httplib::Response& response, const std::string& baseUrl);
  void serveFile(const std::string& name, httplib::Response& response);

  std::filesystem::path directory_;
  ObjectStore& store_;
  std::uint64_t quotaBytes_;
};

}  // namespace devserver::backend
