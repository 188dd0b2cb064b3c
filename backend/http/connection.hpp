#pragma once
// One transfer on the shared network thread (libcurl multi). Internal to
// the request operations.

#include <curl/curl.h>

#include <chrono>
#include <memory>
#include <string>
#include <string_view>

#include "backend/http/url_request.hpp"
#include "platform/error.hpp"
#include "platform/event_loop_thread.hpp"

namespace backend::http {

// Receives the transfer's events, on the network thread.
class ConnectionDelegate {
 public:
  virtual ~ConnectionDelegate() = default;
  virtual void connectionDidReceiveResponse(URLResponse response) = 0;
  virtual void connectionDidReceiveData(std::string_view bytes) = 0;
  virtual void connectionDidSendBodyData(long long written, long long totalWritten, long long expected) = 0;
  virtual void connectionDidFinishLoading() = 0;
  virtual void connectionDidFail(platform::Error error) = 0;
};

class Connection : public std::enable_shared_from_this<Connection> {
 public:
  Connection(URLRequest request, std::shared_ptr<ConnectionDelegate> delegate);
  ~Connection();

  // Both on the network thread. After cancel() the delegate hears nothing more.
  void start();
  void cancel();

  // For the network thread's event pump: the transfer ended with `code`.
  void handleDone(CURLcode code);

 private:
  static size_t onHeader(char* data, size_t size, size_t count, void* self);
  static size_t onBody(char* data, size_t size, size_t count, void* self);
  static size_t onRead(char* buffer, size_t size, size_t count, void* self);
  static int onSeek(void* self, curl_off_t offset, int origin);
  static int onProgress(void* self, curl_off_t dlTotal, curl_off_t dlNow, curl_off_t ulTotal, curl_off_t ulNow);
  void deliverResponseOnce();
  // Gives the easy handle back to the network thread for the next transfer.
  void releaseHandle();
  platform::Error transferError(CURLcode code) const;

  URLRequest request_;
  std::shared_ptr<ConnectionDelegate> delegate_;
  CURL* easy_ = nullptr;
  curl_slist* headerList_ = nullptr;
  std::unique_ptr<RequestBodyReader> bodyReader_;
  std::string errorBuffer_;
  URLResponse pendingResponse_;
  bool responseDelivered_ = false;
  long long lastUploaded_ = 0;
  // The idle timeout: bytes moved so far, and when they last moved.
  long long bytesMoved_ = 0;
  std::chrono::steady_clock::time_point lastActivity_;
  bool idleTimedOut_ = false;
};

// Runs work on the one thread that carries every request operation's
// connection, waking the transfer pump so the work is not delayed.
void performOnNetworkThread(platform::Work work);
// True on that thread.
bool isNetworkThread();

}  // namespace backend::http
