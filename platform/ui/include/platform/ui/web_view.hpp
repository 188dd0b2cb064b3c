#pragma once
// The web view: loads pages, keeps a back/forward history, evaluates page
// scripts, and asks its delegate before every navigation. The toolkit makes
// the concrete view (WebView::create); the headless one fetches over HTTP.

#include <memory>
#include <string>

#include "platform/error.hpp"
#include "platform/ui/scroll_view.hpp"
#include "platform/ui/url_request.hpp"

namespace platform::ui {

class WebView;

enum class WebViewNavigationType { LinkClicked, FormSubmitted, BackForward, Reload, FormResubmitted, Other };

// Callbacks on the main thread. Delegates are not owned. Frames of a page
// are reported through the same calls as the page itself.
class WebViewDelegate {
 public:
  virtual ~WebViewDelegate() = default;
  // Asked before each navigation of the page or one of its frames; false
  // stops it before anything is sent. Programmatic loads ask with Other.
  virtual bool webViewShouldStartLoad(WebView& webView, const URLRequest& request, WebViewNavigationType type) {
    return true;
  }
  virtual void webViewDidStartLoad(WebView& webView) {}
  // isLoading() is still true while frames of the page are loading.
  virtual void webViewDidFinishLoad(WebView& webView) {}
  virtual void webViewDidFailLoad(WebView& webView, const Error& error) {}
};

class WebView : public View {
 public:
  // The toolkit's web view.
  static std::shared_ptr<WebView> create(Rect frame = {});
  ~WebView() override;

  std::shared_ptr<WebViewDelegate> delegate() const { return delegate_.lock(); }
  void setDelegate(std::weak_ptr<WebViewDelegate> delegate) { delegate_ = std::move(delegate); }

  // The view the page scrolls in (a subview, always present).
  ScrollView& scrollView() { return *scrollView_; }
  const std::shared_ptr<ScrollView>& scrollViewPtr() const { return scrollView_; }

  bool allowsInlineMediaPlayback() const { return inlineMedia_; }
  void setAllowsInlineMediaPlayback(bool allows) { inlineMedia_ = allows; }

  // Starts loading the request as a programmatic navigation (asks the
  // delegate with Other first). A load in progress is abandoned.
  virtual void loadRequest(const URLRequest& request) = 0;
  // A user's click on a link of the page, given by URL (absolute or relative
  // to the page): asks the delegate with LinkClicked, then loads in place.
  virtual void followLink(const std::string& url) = 0;
  virtual void reload() = 0;
  virtual void stopLoading() = 0;
  virtual void goBack() = 0;
  virtual void goForward() = 0;
  virtual bool canGoBack() const = 0;
  virtual bool canGoForward() const = 0;
  // True from a start until the page and all its frames have finished.
  virtual bool isLoading() const = 0;
  // The request of the page shown (or being loaded); empty before any load.
  virtual URLRequest request() const = 0;
  // Runs a script in the page and answers its result as text; "" when the
  // page cannot answer it.
  virtual std::string stringByEvaluatingJavaScript(const std::string& script) = 0;

 protected:
  explicit WebView(Rect frame);

 private:
  std::weak_ptr<WebViewDelegate> delegate_;
  std::shared_ptr<ScrollView> scrollView_;
  bool inlineMedia_ = false;
};

}  // namespace platform::ui
