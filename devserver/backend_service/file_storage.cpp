#include "file_storage.hpp"

#include "backend_error.hpp"
#include "operations.hpp"

#include <httplib.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <sstream>

namespace devserver::backend {
namespace {

constexpr std::string_view kUploadPath = "/files/upload";
constexpr std::string_view kFilePrefix = "/files/";

std::string lower(std::string_view text) {
  std::string out(text);
  for (auto& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// Keeps letters, digits, ".", "-" and "_" so a name can never leave the
// storage directory or need escaping in a URL.
std::string safeFileName(std::string_view requested) {
  std::string out;
  for (char c : requested.substr(0, 100)) {
    bool keep = std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_';
    out.push_back(keep ? c : '_');
  }
  if (out.empty() || out.find_first_not_of('.') == std::string::npos) out = "file";
  return out;
}

// A stored type is sent back as a header, so it must not break the header.
bool isHeaderSafe(std::string_view value) {
  if (value.empty() || value.size() >= 200) return false;
  return std::all_of(value.begin(), value.end(), [](char c) { return c >= 0x20 && c < 0x7f; });
}

bool isStoredName(std::string_view name) {
  if (name.empty() || name.size() > 200 || name.find_first_not_of('.') == std::string_view::npos) return false;
  for (char c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-' && c != '_') return false;
  }
  return true;
}

void answerJson(httplib::Response& response, int status, const nlohmann::json& body) {
  response.status = status;
  response.set_content(body.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace), "application/json");
}

void answerError(httplib::Response& response, int status, const std::string& message) {
  answerJson(response, status, {{"code", status}, {"error", message}});
}

}  // namespace

std::optional<std::string> headerParameter(std::string_view header, std::string_view parameter) {
  std::string lowered = lower(header);
  std::size_t pos = 0;
  while ((pos = lowered.find(parameter, pos)) != std::string::npos) {
    bool startsWord = pos == 0 || lowered[pos - 1] == ' ' || lowered[pos - 1] == ';';
    std::size_t after = pos + parameter.size();
    if (startsWord && after < header.size() && header[after] == '=') {
      std::string_view rest = header.substr(after + 1);
      if (!rest.empty() && rest.front() == '"') {
        auto close = rest.find('"', 1);
        if (close == std::string_view::npos) return std::nullopt;
        return std::string(rest.substr(1, close - 1));
      }
      return std::string(rest.substr(0, rest.find(';')));
    }
    pos = after;
  }
  return std::nullopt;
}

bool isActiveContentType(std::string_view contentType) {
  std::string type = lower(contentType.substr(0, contentType.find(';')));
  while (!type.empty() && type.back() == ' ') type.pop_back();
  while (!type.empty() && type.front() == ' ') type.erase(0, 1);
  static constexpr std::string_view kActive[] = {"text/html", "application/xhtml+xml", "image/svg+xml",
                                                 "text/xml", "application/xml", "text/javascript",
                                                 "application/javascript", "application/ecmascript",
                                                 "text/ecmascript", "application/x-javascript"};
  for (std::string_view active : kActive) {
    if (type == active) return true;
  }
  // An unparseable type could be sniffed into anything.
  return type.empty() || type.find('/') == std::string::npos || type.find("script") != std::string::npos;
}

std::optional<std::map<std::string, FormPart>> parseMultipart(std::string_view body, std::string_view boundary) {
  if (boundary.empty() || boundary.size() > 200) return std::nullopt;
  const std::string delimiter = "--" + std::string(boundary);
  std::size_t pos = body.find(delimiter);
  if (pos == std::string_view::npos) return std::nullopt;
  std::map<std::string, FormPart> parts;
  while (true) {
    pos += delimiter.size();
    if (body.substr(pos, 2) == "--") return parts;
    if (body.substr(pos, 2) != "\r\n") return std::nullopt;
    pos += 2;
    auto headerEnd = body.find("\r\n\r\n", pos);
    if (headerEnd == std::string_view::npos) return std::nullopt;
    std::optional<std::string> name;
    FormPart part;
    std::string_view headers = body.substr(pos, headerEnd - pos);
    while (!headers.empty()) {
      auto lineEnd = headers.find("\r\n");
      std::string_view line = headers.substr(0, lineEnd);
      headers = lineEnd == std::string_view::npos ? std::string_view() : headers.substr(lineEnd + 2);
      auto colon = line.find(':');
      if (colon == std::string_view::npos) return std::nullopt;
      std::string field = lower(line.substr(0, colon));
      std::string_view value = line.substr(colon + 1);
      while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
      if (field == "content-disposition") name = headerParameter(value, "name");
      if (field == "content-type") part.contentType = std::string(value);
    }
    std::size_t contentStart = headerEnd + 4;
    auto next = body.find("\r\n" + delimiter, contentStart);
    if (next == std::string_view::npos || !name) return std::nullopt;
    part.content = std::string(body.substr(contentStart, next - contentStart));
    parts[*name] = std::move(part);
    pos = next + 2;
  }
}

FileStorage::FileStorage(const std::filesystem::path& directory, ObjectStore& store, std::uint64_t quotaBytes)
    : directory_(directory), store_(store), quotaBytes_(quotaBytes) {
  std::filesystem::create_directories(directory_);
}

nlohmann::json FileStorage::issueUpload(const std::string& requestedName, const std::string& baseUrl) {
  std::string name = randomAlphanumeric(12) + "-" + safeFileName(requestedName);
  std::string ticket = randomAlphanumeric(32);
  store_.addUploadTicket(ticket, name);
  return {{"name", name},
          {"url", baseUrl + std::string(kFilePrefix) + name},
          {"post_url", baseUrl + std::string(kUploadPath)},
          {"post_params", {{"key", name}, {"ticket", ticket}}}};
}

void FileStorage::handle(const httplib::Request& request, httplib::Response& response, const std::string& baseUrl) {
  if (request.path == kUploadPath) {
    if (request.method != "POST") return answerError(response, 405, "uploads are POSTed");
    return acceptUpload(request, response, baseUrl);
  }
  if (request.path.rfind(kFilePrefix, 0) == 0 && (request.method == "GET" || request.method == "HEAD")) {
    return serveFile(request.path.substr(kFilePrefix.size()), response);
  }
  answerError(response, 404, "no such file");
}

void FileStorage::acceptUpload(const httplib::Request& request, httplib::Response& response,
                               const std::string& baseUrl) {
  std::map<std::string, FormPart> parts;
  if (!request.files.empty()) {
    // The HTTP layer may have split the form already.
    for (const auto& [name, file] : request.files) parts[name] = FormPart{file.content, file.content_type};
  } else {
    auto boundary = headerParameter(request.get_header_value("Content-Type"), "boundary");
    auto parsed = boundary ? parseMultipart(request.body, *boundary) : std::nullopt;
    if (!parsed) return answerError(response, 400, "expected a multipart/form-data body");
    parts = std::move(*parsed);
  }
  auto ticket = parts.find("ticket");
  auto file = parts.find("file");
  if (ticket == parts.end() || file == parts.end()) {
    return answerError(response, 400, "the form needs the parts \"ticket\" and \"file\"");
  }
  if (file->second.content.size() > kMaxFileBytes) {
    return answerError(response, 413, "a file holds at most " + std::to_string(kMaxFileBytes) + " bytes");
  }
  auto stored = static_cast<std::uint64_t>(store_.storedFileBytes());
  if (stored + file->second.content.size() > quotaBytes_) {
    return answerError(response, 507, "file storage is full (" + std::to_string(quotaBytes_) + " bytes)");
  }
  auto name = store_.takeUploadTicket(ticket->second.content);
  if (!name) return answerError(response, 403, "unknown, used or expired upload ticket");

  std::string contentType = "application/octet-stream";
  auto typePart = parts.find("Content-Type");
  if (typePart != parts.end() && isHeaderSafe(typePart->second.content)) {
    contentType = typePart->second.content;
  } else if (isHeaderSafe(file->second.contentType)) {
    contentType = file->second.contentType;
  }

  // Written aside and renamed, so a reader never sees half a file.
  auto target = directory_ / *name;
  auto partial = directory_ / (*name + ".partial");
  {
    std::ofstream out(partial, std::ios::binary | std::ios::trunc);
    out.write(file->second.content.data(), static_cast<std::streamsize>(file->second.content.size()));
    if (!out.flush()) return answerError(response, 500, "could not store the file");
  }
  std::error_code error;
  std::filesystem::rename(partial, target, error);
  if (error) return answerError(response, 500, "could not store the file");
  store_.putFile(*name, contentType, static_cast<std::int64_t>(file->second.content.size()));
  answerJson(response, 201, {{"name", *name}, {"url", baseUrl + std::string(kFilePrefix) + *name}});
}

void FileStorage::serveFile(const std::string& name, httplib::Response& response) {
  auto contentType = isStoredName(name) ? store_.fileContentType(name) : std::nullopt;
  if (!contentType) return answerError(response, 404, "no such file");
  std::ifstream in(directory_ / name, std::ios::binary);
  if (!in) return answerError(response, 404, "no such file");
  std::ostringstream bytes;
  bytes << in.rdbuf();
  response.status = 200;
  response.set_header("X-Content-Type-Options", "nosniff");
  if (isActiveContentType(*contentType)) {
    // A stored page or script would run with this host's origin.
    response.set_header("Content-Disposition", "attachment");
    response.set_content(bytes.str(), "application/octet-stream");
    return;
  }
  response.set_content(bytes.str(), *contentType);
}

Json uploadFile(OperationContext& context, const Json& params) {
  std::string name;
  auto it = params.find("name");
  if (it != params.end() && !it->is_null()) {
    if (!it->is_string()) throw BackendError(code::kInvalidFileName, "\"name\" must be a string");
    name = it->get<std::string>();
  }
  return context.files.issueUpload(name, context.filesBaseUrl);
}

}  // namespace devserver::backend
