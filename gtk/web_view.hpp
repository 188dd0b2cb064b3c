#pragma once
// The web view of the window mode, on WebKitGTK. Every navigation of the
// page is put to the delegate through WebKit's policy decision (link clicks
// apart from every other kind); requests the app makes carry their header
// fields; script results are waited for on a nested main-loop iteration.
// Main thread only.

#include <functional>
#include <memory>
#include <string>

#include "platform/ui/web_view.hpp"

typedef struct _GtkWidget GtkWidget;
typedef struct _WebKitNetworkSession WebKitNetworkSession;

namespace gtk {

namespace ui = platform::ui;

class WebView final : public ui::WebView {
 public:
  // A view on `session` (referenced, not owned).
  WebView(ui::Rect frame, WebKitNetworkSession* session);
  ~WebView() override;

  // The WebKit widget (owned by this view; the canvas parents it).
  GtkWidget* widget() const;

  void loadRequest(const ui::URLRequest& request) override;
  // Clicks a link to `url` inside the page, so WebKit reports a link click.
  void followLink(const std::string& url) override;
  void reload() override;
  void stopLoading() override;
  void goBack() override;
  void goForward() override;
  bool canGoBack() const override;
  bool canGoForward() const override;
  bool isLoading() const override;
  ui::URLRequest request() const override;
  // Waits up to 3 seconds for the page's answer; "" on failure or timeout.
  std::string stringByEvaluatingJavaScript(const std::string& script) override;

  // Scrolls the page to `offset` (the scroll view's offset set by the program).
  void scrollTo(ui::Point offset);

  // Whether the page was at its top when it last said so: pages report
  // their scroll position to the app as they scroll, a little after the
  // fact, and the scroll view's offset follows. True for a page that has
  // not reported yet.
  bool isScrolledToTop() const;

  // Called each time a loaded page has been painted by the web process and
  // handed to the window (with the page's address); the window's next frame
  // shows it. Null for none.
  void setPaintedHandler(std::function<void(const std::string& url)> handler);

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

// The network session every web view of the window uses: ephemeral, with
// the service hosts sent through the routed local server as an HTTP proxy
// when routing is active. Created on first use; main thread.
WebKitNetworkSession* sharedNetworkSession();

}  // namespace gtk
