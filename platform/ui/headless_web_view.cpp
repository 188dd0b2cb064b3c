#include <algorithm>
#include <atomic>
#include <cctype>
#include <functional>
#include <optional>

#include "html_scan.hpp"
#include "page_fetcher.hpp"
#include "platform/executor.hpp"
#include "platform/ui/headless_toolkit.hpp"
#include "url_resolve.hpp"

namespace platform::ui {

namespace {

// A page with more frames than this is not a page we should fan out for.
constexpr std::size_t kMaxFrames = 16;

enum class HistoryStep { NewEntry, Reload, Back, Forward };

std::string trimScript(std::string script) {
  auto isSpace = [](unsigned char c) { return std::isspace(c) != 0; };
  while (!script.empty() && (isSpace(script.back()) || script.back() == ';')) script.pop_back();
  script.erase(script.begin(), std::find_if_not(script.begin(), script.end(), isSpace));
  return script;
}

}  // namespace

// State of one headless web view; main thread only. Background fetches hold
// copies of what they need and report back through the main queue, where a
// result of an abandoned load (older generation) is dropped.
struct HeadlessWebView::Impl : std::enable_shared_from_this<HeadlessWebView::Impl> {
  std::weak_ptr<HeadlessWebView> owner;

  URLRequest request;  // the page's request (also while loading)
  std::string currentURL;
  detail::PageOutline outline;
  std::vector<std::string> links;
  std::vector<std::string> frames;

  std::vector<URLRequest> history;
  int historyIndex = -1;

  std::uint64_t generation = 0;
  int pending = 0;
  std::shared_ptr<std::atomic<bool>> cancelFlag = std::make_shared<std::atomic<bool>>(false);

  void abandon() {
    cancelFlag->store(true);
    cancelFlag = std::make_shared<std::atomic<bool>>(false);
    ++generation;
    pending = 0;
  }

  // The navigation of the page: ask, abandon the old load, start, fetch.
  void startPageLoad(HeadlessWebView& view, const URLRequest& request, WebViewNavigationType type, HistoryStep step) {
    if (request.url().empty()) return;
    if (auto d = view.delegate(); d && !d->webViewShouldStartLoad(view, request, type)) return;
    abandon();
    this->request = request;
    pending = 1;
    const std::uint64_t started = generation;
    HeadlessToolkit::shared().notifyLoad(event(WebLoadEvent::Kind::RequestSent, view, request, false));
    if (auto d = view.delegate()) d->webViewDidStartLoad(view);
    // A delegate may have started another load from its callback.
    if (generation != started) return;
    fetchThen(request, [request, step](HeadlessWebView& v, Impl& impl, detail::FetchedPage page) {
      impl.pageFetched(v, request, step, std::move(page));
    });
  }

  // Runs the fetch on the background pool and `done` with its result on the
  // main queue, unless the view is gone or the load was abandoned meanwhile.
  void fetchThen(URLRequest request, std::function<void(HeadlessWebView&, Impl&, detail::FetchedPage)> done) {
    const std::uint64_t started = generation;
    auto cancel = cancelFlag;
    std::weak_ptr<Impl> weakImpl = weak_from_this();
    backgroundQueue().post([request = std::move(request), cancel, weakImpl, started, done = std::move(done)] {
      auto page = detail::fetchPage(request, cancel);
      mainQueue().post([page = std::move(page), weakImpl, started, done]() mutable {
        auto impl = weakImpl.lock();
        if (!impl || impl->generation != started) return;
        auto view = impl->owner.lock();
        if (!view) return;
        done(*view, *impl, std::move(page));
      });
    });
  }

  void pageFetched(HeadlessWebView& view, const URLRequest& pageRequest, HistoryStep step, detail::FetchedPage page) {
    if (!page.ok) {
      pending = 0;
      return reportFailure(view, pageRequest, false, page.error);
    }
    commitHistory(pageRequest, step);
    currentURL = page.finalURL;
    outline = detail::scanPage(page.body);
    links.clear();
    for (const auto& link : outline.links) links.push_back(detail::resolveURL(page.finalURL, link));
    frames.clear();
    for (const auto& frame : outline.frames) {
      if (frames.size() == kMaxFrames) break;
      frames.push_back(detail::resolveURL(page.finalURL, frame));
    }
    const std::uint64_t started = generation;
    startFrames(view);
    if (generation != started) return;
    --pending;
    reportFinish(view, pageRequest, false, page.status, outline.title);
  }

  void startFrames(HeadlessWebView& view) {
    const auto frameURLs = frames;
    for (const auto& frameURL : frameURLs) {
      URLRequest frameRequest(frameURL);
      if (auto d = view.delegate(); d && !d->webViewShouldStartLoad(view, frameRequest, WebViewNavigationType::Other)) {
        continue;
      }
      const std::uint64_t started = generation;
      ++pending;
      HeadlessToolkit::shared().notifyLoad(event(WebLoadEvent::Kind::RequestSent, view, frameRequest, true));
      if (auto d = view.delegate()) d->webViewDidStartLoad(view);
      if (generation != started) return;
      fetchThen(frameRequest, [frameRequest](HeadlessWebView& v, Impl& impl, detail::FetchedPage page) {
        impl.frameFetched(v, frameRequest, std::move(page));
      });
    }
  }

  void frameFetched(HeadlessWebView& view, const URLRequest& frameRequest, detail::FetchedPage page) {
    --pending;
    if (!page.ok) return reportFailure(view, frameRequest, true, page.error);
    reportFinish(view, frameRequest, true, page.status, detail::scanPage(page.body).title);
  }

  void commitHistory(const URLRequest& committed, HistoryStep step) {
    switch (step) {
      case HistoryStep::NewEntry:
        history.resize(static_cast<std::size_t>(historyIndex + 1));
        history.push_back(committed);
        historyIndex = static_cast<int>(history.size()) - 1;
        break;
      case HistoryStep::Back: --historyIndex; break;
      case HistoryStep::Forward: ++historyIndex; break;
      case HistoryStep::Reload: break;
    }
  }

  static WebLoadEvent event(WebLoadEvent::Kind kind, const WebView& view, const URLRequest& request, bool isFrame) {
    WebLoadEvent e;
    e.kind = kind;
    e.webView = &view;
    e.request = request;
    e.isFrame = isFrame;
    return e;
  }

  static void reportFailure(HeadlessWebView& view, const URLRequest& failed, bool isFrame, const Error& error) {
    auto e = event(WebLoadEvent::Kind::Failed, view, failed, isFrame);
    e.errorMessage = error.message();
    HeadlessToolkit::shared().notifyLoad(e);
    if (auto d = view.delegate()) d->webViewDidFailLoad(view, error);
  }

  static void reportFinish(HeadlessWebView& view, const URLRequest& finished, bool isFrame, int status,
                           const std::string& title) {
    auto e = event(WebLoadEvent::Kind::Finished, view, finished, isFrame);
    e.httpStatus = status;
    e.title = title;
    HeadlessToolkit::shared().notifyLoad(e);
    if (auto d = view.delegate()) d->webViewDidFinishLoad(view);
  }
};

HeadlessWebView::HeadlessWebView(Rect frame) : WebView(frame), impl_(std::make_shared<Impl>()) {}

HeadlessWebView::~HeadlessWebView() { impl_->cancelFlag->store(true); }

void HeadlessWebView::bindOwner() {
  if (impl_->owner.expired()) impl_->owner = std::static_pointer_cast<HeadlessWebView>(shared_from_this());
}

void HeadlessWebView::loadRequest(const URLRequest& request) {
  bindOwner();
  impl_->startPageLoad(*this, request, WebViewNavigationType::Other, HistoryStep::NewEntry);
}

void HeadlessWebView::followLink(const std::string& url) {
  bindOwner();
  const std::string base = impl_->currentURL.empty() ? impl_->request.url() : impl_->currentURL;
  impl_->startPageLoad(*this, URLRequest(detail::resolveURL(base, url)), WebViewNavigationType::LinkClicked,
                       HistoryStep::NewEntry);
}

void HeadlessWebView::reload() {
  if (impl_->request.url().empty()) return;
  bindOwner();
  impl_->startPageLoad(*this, impl_->request, WebViewNavigationType::Reload, HistoryStep::Reload);
}

void HeadlessWebView::stopLoading() { impl_->abandon(); }

void HeadlessWebView::goBack() {
  if (!canGoBack()) return;
  bindOwner();
  impl_->startPageLoad(*this, impl_->history[impl_->historyIndex - 1], WebViewNavigationType::BackForward,
                       HistoryStep::Back);
}

void HeadlessWebView::goForward() {
  if (!canGoForward()) return;
  bindOwner();
  impl_->startPageLoad(*this, impl_->history[impl_->historyIndex + 1], WebViewNavigationType::BackForward,
                       HistoryStep::Forward);
}

bool HeadlessWebView::canGoBack() const { return impl_->historyIndex > 0; }

bool HeadlessWebView::canGoForward() const {
  return impl_->historyIndex >= 0 && impl_->historyIndex + 1 < static_cast<int>(impl_->history.size());
}

bool HeadlessWebView::isLoading() const { return impl_->pending > 0; }

URLRequest HeadlessWebView::request() const { return impl_->request; }

std::string HeadlessWebView::stringByEvaluatingJavaScript(const std::string& script) {
  const std::string s = trimScript(script);
  if (s == "window.location.href" || s == "document.location.href" || s == "location.href") return impl_->currentURL;
  if (s == "document.title") return impl_->outline.title;
  return {};
}

const std::string& HeadlessWebView::currentURL() const { return impl_->currentURL; }
const std::string& HeadlessWebView::title() const { return impl_->outline.title; }
const std::vector<std::string>& HeadlessWebView::links() const { return impl_->links; }
const std::vector<std::string>& HeadlessWebView::frames() const { return impl_->frames; }

}  // namespace platform::ui
