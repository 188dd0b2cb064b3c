#include "connection.hpp"

#include <algorithm>
#include <cctype>

#include "network_thread.hpp"
#include "platform/service_routing.hpp"

namespace backend::http {
namespace {

std::string trim(std::string_view text) {
  auto begin = text.find_first_not_of(" \t\r\n");
  if (begin == std::string_view::npos) return std::string();
  auto end = text.find_last_not_of(" \t\r\n");
  return std::string(text.substr(begin, end - begin + 1));
}

std::string lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

}  // namespace

void performOnNetworkThread(platform::Work work) { NetworkThread::shared().post(std::move(work)); }

bool isNetworkThread() { return NetworkThread::shared().isCurrent(); }

Connection::Connection(URLRequest request, std::shared_ptr<ConnectionDelegate> delegate)
    : request_(std::move(request)), delegate_(std::move(delegate)), errorBuffer_(CURL_ERROR_SIZE + 1, '\0') {}

Connection::~Connection() {
  // Only a transfer cut off by the network thread's own end still holds one.
  if (easy_) curl_easy_cleanup(easy_);
  if (headerList_) curl_slist_free_all(headerList_);
}

void Connection::start() {
  easy_ = NetworkThread::shared().takeHandle();
  std::string url = request_.url;
  std::optional<std::string> hostHeader;
  if (auto routed = platform::ServiceRouting::shared().route(request_.url)) {
    url = routed->url;
    hostHeader = routed->hostHeader;
  }
  curl_easy_setopt(easy_, CURLOPT_URL, url.c_str());
  curl_easy_setopt(easy_, CURLOPT_PRIVATE, this);
  curl_easy_setopt(easy_, CURLOPT_ERRORBUFFER, errorBuffer_.data());
  curl_easy_setopt(easy_, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy_, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(easy_, CURLOPT_MAXREDIRS, 10L);
  curl_easy_setopt(easy_, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy_, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  // The timeout bounds silence, not the whole transfer: a large answer on a
  // slow link goes on as long as bytes keep coming (see onProgress).
  curl_easy_setopt(easy_, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(request_.timeoutInterval * 1000));
  lastActivity_ = std::chrono::steady_clock::now();
  curl_easy_setopt(easy_, CURLOPT_HEADERFUNCTION, &Connection::onHeader);
  curl_easy_setopt(easy_, CURLOPT_HEADERDATA, this);
  curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, &Connection::onBody);
  curl_easy_setopt(easy_, CURLOPT_WRITEDATA, this);
  curl_easy_setopt(easy_, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(easy_, CURLOPT_XFERINFOFUNCTION, &Connection::onProgress);
  curl_easy_setopt(easy_, CURLOPT_XFERINFODATA, this);
  // Compressed answers are inflated by curl; the header we send is our own.
  curl_easy_setopt(easy_, CURLOPT_ACCEPT_ENCODING, "");
  if (request_.method == "HEAD") {
    curl_easy_setopt(easy_, CURLOPT_NOBODY, 1L);
  } else if (request_.method != "GET") {
    curl_easy_setopt(easy_, CURLOPT_CUSTOMREQUEST, request_.method.c_str());
  }
  if (request_.body) {
    curl_easy_setopt(easy_, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request_.body->size()));
    curl_easy_setopt(easy_, CURLOPT_POSTFIELDS, request_.body->data());
  } else if (request_.bodyStream) {
    bodyReader_ = request_.bodyStream->open();
    curl_easy_setopt(easy_, CURLOPT_POST, 1L);
    curl_easy_setopt(easy_, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request_.bodyStream->length()));
    curl_easy_setopt(easy_, CURLOPT_READFUNCTION, &Connection::onRead);
    curl_easy_setopt(easy_, CURLOPT_READDATA, this);
    curl_easy_setopt(easy_, CURLOPT_SEEKFUNCTION, &Connection::onSeek);
    curl_easy_setopt(easy_, CURLOPT_SEEKDATA, this);
  } else if (request_.method == "POST") {
    curl_easy_setopt(easy_, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(0));
    curl_easy_setopt(easy_, CURLOPT_POSTFIELDS, "");
  }
  for (const auto& [name, value] : request_.headers.all()) {
    if (hostHeader && lower(name) == "host") continue;
    headerList_ = curl_slist_append(headerList_, (name + ": " + value).c_str());
  }
  if (hostHeader) headerList_ = curl_slist_append(headerList_, ("Host: " + *hostHeader).c_str());
  // curl adds these on its own unless told not to; the request says what it sends.
  if (!request_.headers.get("Content-Type")) headerList_ = curl_slist_append(headerList_, "Content-Type:");
  headerList_ = curl_slist_append(headerList_, "Expect:");
  curl_easy_setopt(easy_, CURLOPT_HTTPHEADER, headerList_);
  pendingResponse_.url = request_.url;
  NetworkThread::shared().add(shared_from_this(), easy_);
}

void Connection::cancel() {
  delegate_.reset();
  releaseHandle();
}

void Connection::releaseHandle() {
  if (!easy_) return;
  auto& thread = NetworkThread::shared();
  thread.remove(easy_);
  thread.recycle(easy_);
  easy_ = nullptr;
}

size_t Connection::onHeader(char* data, size_t size, size_t count, void* opaque) {
  auto* self = static_cast<Connection*>(opaque);
  std::string_view line(data, size * count);
  if (line.rfind("HTTP/", 0) == 0) {
    // A new response head (after 100-continue or a redirect) starts afresh.
    self->pendingResponse_.headers = HeaderFields();
    return size * count;
  }
  auto colon = line.find(':');
  if (colon != std::string_view::npos) {
    self->pendingResponse_.headers.set(trim(line.substr(0, colon)), trim(line.substr(colon + 1)));
  }
  return size * count;
}

size_t Connection::onBody(char* data, size_t size, size_t count, void* opaque) {
  auto* self = static_cast<Connection*>(opaque);
  self->deliverResponseOnce();
  if (self->delegate_) self->delegate_->connectionDidReceiveData(std::string_view(data, size * count));
  return size * count;
}

size_t Connection::onRead(char* buffer, size_t size, size_t count, void* opaque) {
  auto* self = static_cast<Connection*>(opaque);
  auto read = self->bodyReader_->read(buffer, size * count);
  return read ? *read : CURL_READFUNC_ABORT;
}

// curl rewinds the body to send it again (a reused connection that was
// closed, a redirect that keeps the method); only a restart is possible.
int Connection::onSeek(void* opaque, curl_off_t offset, int origin) {
  auto* self = static_cast<Connection*>(opaque);
  if (offset != 0 || origin != SEEK_SET) return CURL_SEEKFUNC_CANTSEEK;
  self->bodyReader_ = self->request_.bodyStream->open();
  return CURL_SEEKFUNC_OK;
}

int Connection::onProgress(void* opaque, curl_off_t, curl_off_t dlNow, curl_off_t ulTotal, curl_off_t ulNow) {
  auto* self = static_cast<Connection*>(opaque);
  const auto now = std::chrono::steady_clock::now();
  if (dlNow + ulNow != self->bytesMoved_) {
    self->bytesMoved_ = dlNow + ulNow;
    self->lastActivity_ = now;
  } else if (self->request_.timeoutInterval > 0 &&
             now - self->lastActivity_ > std::chrono::duration<double>(self->request_.timeoutInterval)) {
    self->idleTimedOut_ = true;
    return 1;
  }
  if (ulNow > self->lastUploaded_ && self->delegate_) {
    long long chunk = ulNow - self->lastUploaded_;
    self->lastUploaded_ = ulNow;
    self->delegate_->connectionDidSendBodyData(chunk, ulNow, ulTotal);
  }
  return 0;
}

void Connection::deliverResponseOnce() {
  if (responseDelivered_ || !delegate_) return;
  responseDelivered_ = true;
  URLResponse response = pendingResponse_;
  curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &response.statusCode);
  if (auto type = response.headers.get("Content-Type")) {
    auto semicolon = type->find(';');
    response.mimeType = lower(trim(type->substr(0, semicolon)));
    if (semicolon != std::string::npos) {
      auto params = lower(type->substr(semicolon + 1));
      auto charset = params.find("charset=");
      if (charset != std::string::npos) {
        auto value = trim(params.substr(charset + 8));
        value = value.substr(0, value.find(';'));
        if (!value.empty() && value.front() == '"') value = value.substr(1, value.find('"', 1) - 1);
        response.textEncodingName = value;
      }
    }
  }
  if (auto length = response.headers.get("Content-Length")) {
    try {
      response.expectedContentLength = std::stoll(*length);
    } catch (...) {
      response.expectedContentLength = -1;
    }
  }
  delegate_->connectionDidReceiveResponse(std::move(response));
}

void Connection::handleDone(CURLcode code) {
  auto self = shared_from_this();
  if (delegate_) {
    if (code == CURLE_OK) {
      deliverResponseOnce();
      if (delegate_) delegate_->connectionDidFinishLoading();
    } else {
      delegate_->connectionDidFail(transferError(code));
    }
    delegate_.reset();
  }
  releaseHandle();
}

platform::Error Connection::transferError(CURLcode code) const {
  std::int64_t errorCode = kURLErrorNetworkConnectionLost;
  if (code == CURLE_OPERATION_TIMEDOUT || idleTimedOut_) errorCode = kURLErrorTimedOut;
  if (code == CURLE_COULDNT_RESOLVE_HOST) errorCode = kURLErrorCannotFindHost;
  if (code == CURLE_COULDNT_CONNECT) errorCode = kURLErrorCannotConnectToHost;
  std::string text = idleTimedOut_ ? "The request timed out." : errorBuffer_.c_str();
  if (text.empty()) text = curl_easy_strerror(code);
  platform::Dictionary info;
  info.set(kLocalizedDescriptionKey, text);
  info.set(kURLErrorFailingURLStringKey, request_.url);
  return platform::Error(kURLErrorDomain, errorCode, platform::Value(std::move(info)));
}

}  // namespace backend::http
