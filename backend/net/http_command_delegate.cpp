#include "backend/net/http_command_delegate.hpp"

#include <algorithm>
#include <map>
#include <mutex>

#include "backend/http/url.hpp"

namespace backend::net {
namespace {

struct Registry {
  std::mutex mutex;
  std::map<std::string, std::weak_ptr<HTTPCommandDelegate>> delegates;
};

Registry& registry() {
  static Registry instance;
  return instance;
}

}  // namespace

HTTPCommandDelegate::~HTTPCommandDelegate() {
  // A weak entry of ours can no longer be locked; drop it all the same.
  Registry& shared = registry();
  std::lock_guard lock(shared.mutex);
  for (const auto& host : delegatedHosts_) {
    auto entry = shared.delegates.find(host);
    if (entry != shared.delegates.end() && entry->second.expired()) shared.delegates.erase(entry);
  }
}

std::unique_ptr<ByteStream> HTTPCommandDelegate::takeIdle(const std::string&) { return nullptr; }

void HTTPCommandDelegate::recycle(const std::string&, std::unique_ptr<ByteStream> stream) { stream->close(); }

std::shared_ptr<HTTPCommandDelegate> HTTPCommandDelegate::delegateForURL(std::string_view url) {
  auto parts = http::parseURL(url);
  if (parts) {
    Registry& shared = registry();
    std::lock_guard lock(shared.mutex);
    auto entry = shared.delegates.find(parts->host);
    if (entry != shared.delegates.end()) {
      if (auto delegate = entry->second.lock()) return delegate;
    }
  }
  return defaultDelegate();
}

void HTTPCommandDelegate::connectToUrl(const std::string& url, ConnectCompletion done) {
  delegateForURL(url)->connect(url, std::move(done));
}

void HTTPCommandDelegate::setDelegate(const std::shared_ptr<HTTPCommandDelegate>& delegate, const std::string& host) {
  Registry& shared = registry();
  std::lock_guard lock(shared.mutex);
  auto previous = shared.delegates.find(host);
  if (previous != shared.delegates.end()) {
    if (auto owner = previous->second.lock()) std::erase(owner->delegatedHosts_, host);
    shared.delegates.erase(previous);
  }
  if (!delegate) return;
  shared.delegates[host] = delegate;
  delegate->delegatedHosts_.push_back(host);
}

void HTTPCommandDelegate::delegateForHost(const std::string& host) { setDelegate(shared_from_this(), host); }

void HTTPCommandDelegate::detach() {
  Registry& shared = registry();
  std::lock_guard lock(shared.mutex);
  for (const auto& host : delegatedHosts_) shared.delegates.erase(host);
  delegatedHosts_.clear();
}

}  // namespace backend::net
