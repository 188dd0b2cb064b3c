#pragma once
// The headless toolkit: the UI model kept in memory, for tests and the
// terminal mode. Animations complete on the main queue after their time;
// web views fetch pages over HTTP (libcurl) off the main thread and report
// to their delegates on the main queue.

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/ui/toolkit.hpp"
#include "platform/ui/url_request.hpp"
#include "platform/ui/web_view.hpp"

namespace platform::ui {

// What a headless web view did, for observers (the terminal's log, tests).
struct WebLoadEvent {
  enum class Kind { RequestSent, Finished, Failed };
  Kind kind = Kind::RequestSent;
  const WebView* webView = nullptr;  // identity only; may be gone when read later
  URLRequest request;                // as sent (headers included)
  bool isFrame = false;
  int httpStatus = 0;                // Finished: the answer's status
  std::string title;                 // Finished: the page's <title>
  std::string errorMessage;          // Failed
};

class HeadlessToolkit final : public Toolkit {
 public:
  // The instance toolkit() answers when no other is installed.
  static HeadlessToolkit& shared();

  std::shared_ptr<WebView> makeWebView(Rect frame) override;
  void animate(const AnimationRequest& request, std::function<void()> animations,
               std::function<void(bool finished)> completion) override;
  void didPresent(ViewController& presenter, ViewController& presented, bool animated) override;

  // Called on the main queue for each request a headless web view sends and
  // each load that ends. Replaces the previous observer; null removes it.
  void setLoadObserver(std::function<void(const WebLoadEvent&)> observer);
  void notifyLoad(const WebLoadEvent& event);

  // Animations started so far (tests).
  int animationCount() const { return animationCount_; }
  // Animations whose completion has not run yet: a late timer on a busy
  // machine keeps them running past their duration.
  int animationsInFlight() const { return animationsInFlight_.load(); }

 private:
  std::mutex mutex_;
  std::function<void(const WebLoadEvent&)> observer_;
  int animationCount_ = 0;
  std::atomic<int> animationsInFlight_{0};
};

// The headless web view. A page load: the delegate is asked, the page is
// fetched (with the request's header fields, through platform::ServiceRouting),
// its <title>, links (<a href>) and frames (<frame src>, <iframe src>) are
// read; the page's start is reported before the fetch, each frame is then
// asked for and started, the page finishes, and each frame finishes when it
// arrives — so isLoading() turns false only at the last finish.
class HeadlessWebView final : public WebView {
 public:
  explicit HeadlessWebView(Rect frame);
  ~HeadlessWebView() override;

  void loadRequest(const URLRequest& request) override;
  void followLink(const std::string& url) override;
  void reload() override;
  void stopLoading() override;
  void goBack() override;
  void goForward() override;
  bool canGoBack() const override;
  bool canGoForward() const override;
  bool isLoading() const override;
  URLRequest request() const override;
  // Answers "window.location.href" (the page's URL after redirects) and
  // "document.title"; "" for anything else.
  std::string stringByEvaluatingJavaScript(const std::string& script) override;

  // The page shown: its URL after redirects, title, absolute link URLs in
  // document order, and absolute frame URLs.
  const std::string& currentURL() const;
  const std::string& title() const;
  const std::vector<std::string>& links() const;
  const std::vector<std::string>& frames() const;


 private:
  struct Impl;
  void bindOwner();
  std::shared_ptr<Impl> impl_;
};

}  // namespace platform::ui
