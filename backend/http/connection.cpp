#include "connection.hpp"

#include <algorithm>
#include <cctype>
#include <map>

#include "platform/executor.hpp"
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

// Completions hop from the network thread to these queues. Creating them
// before the thread makes them outlive it at exit (statics die in reverse).
void touchCompletionQueues() {
  platform::backgroundQueue();
  platform::mainQueue();
}

// The multi handle and the pump that drives it on the network thread.
class Multi {
 public:
  Multi()
      : global_(curl_global_init(CURL_GLOBAL_DEFAULT)),
        multi_(curl_multi_init()),
        thread_((touchCompletionQueues(), std::make_unique<platform::EventLoopThread>("BENetworking"))) {}
  ~Multi() {
    // Stop the loop first so that nothing touches the handle while it goes.
    thread_->perform([this] { connections_.clear(); }, platform::EventLoopThread::Wait::Yes);
    thread_.reset();
    curl_multi_cleanup(multi_);
  }

  platform::EventLoopThread& thread() { return *thread_; }

  void add(const std::shared_ptr<Connection>& connection, CURL* easy) {
    connections_[easy] = connection;
    curl_multi_add_handle(multi_, easy);
    schedulePump();
  }

  void remove(CURL* easy) {
    if (connections_.erase(easy) > 0) curl_multi_remove_handle(multi_, easy);
  }

  // Work posted from other threads must interrupt a poll in progress.
  void wakeUp() { curl_multi_wakeup(multi_); }

 private:
  void schedulePump() {
    if (pumping_) return;
    pumping_ = true;
    thread_->post([this] { pump(); });
  }

  void pump() {
    int running = 0;
    curl_multi_perform(multi_, &running);
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(multi_, &queued)) {
      if (message->msg != CURLMSG_DONE) continue;
      auto it = connections_.find(message->easy_handle);
      if (it == connections_.end()) continue;
      auto connection = it->second;
      auto code = message->data.result;
      remove(message->easy_handle);
      connection->handleDone(code);
    }
    if (connections_.empty()) {
      pumping_ = false;
      return;
    }
    curl_multi_poll(multi_, nullptr, 0, 50, nullptr);
    thread_->post([this] { pump(); });
  }

  CURLcode global_;
  CURLM* multi_;
  std::unique_ptr<platform::EventLoopThread> thread_;
  std::map<CURL*, std::shared_ptr<Connection>> connections_;
  bool pumping_ = false;
};

Multi& multi() {
  static Multi instance;
  return instance;
}

}  // namespace

void performOnNetworkThread(platform::Work work) {
  auto& m = multi();
  m.thread().post(std::move(work));
  m.wakeUp();
}

bool isNetworkThread() { return multi().thread().runsOnCurrentThread(); }

Connection::Connection(URLRequest request, std::shared_ptr<ConnectionDelegate> delegate)
    : request_(std::move(request)), delegate_(std::move(delegate)), errorBuffer_(CURL_ERROR_SIZE + 1, '\0') {}

Connection::~Connection() {
  if (easy_) curl_easy_cleanup(easy_);
  if (headerList_) curl_slist_free_all(headerList_);
}

void Connection::start() {
  easy_ = curl_easy_init();
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
  curl_easy_setopt(easy_, CURLOPT_TIMEOUT_MS, static_cast<long>(request_.timeoutInterval * 1000));
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
  multi().add(shared_from_this(), easy_);
}

void Connection::cancel() {
  if (easy_) multi().remove(easy_);
  delegate_.reset();
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

int Connection::onProgress(void* opaque, curl_off_t, curl_off_t, curl_off_t ulTotal, curl_off_t ulNow) {
  auto* self = static_cast<Connection*>(opaque);
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
  if (!delegate_) return;
  if (code == CURLE_OK) {
    deliverResponseOnce();
    if (delegate_) delegate_->connectionDidFinishLoading();
  } else {
    delegate_->connectionDidFail(transferError(code));
  }
  delegate_.reset();
}

platform::Error Connection::transferError(CURLcode code) const {
  std::int64_t errorCode = kURLErrorNetworkConnectionLost;
  if (code == CURLE_OPERATION_TIMEDOUT) errorCode = kURLErrorTimedOut;
  if (code == CURLE_COULDNT_RESOLVE_HOST) errorCode = kURLErrorCannotFindHost;
  if (code == CURLE_COULDNT_CONNECT) errorCode = kURLErrorCannotConnectToHost;
  std::string text = errorBuffer_.c_str();
  if (text.empty()) text = curl_easy_strerror(code);
  platform::Dictionary info;
  info.set(kLocalizedDescriptionKey, text);
  info.set(kURLErrorFailingURLStringKey, request_.url);
  return platform::Error(kURLErrorDomain, errorCode, platform::Value(std::move(info)));
}

}  // namespace backend::http
