#pragma once
// The content screen: one page of the publisher's sites in a web view under
// the native navigation bar, with a bottom toolbar (web back, forward,
// share) everywhere but on the home screen. Main thread only.

#include <memory>
#include <string>
#include <vector>

#include "app/device_kind.hpp"
#include "app/nav_type.hpp"
#include "platform/ui/bars.hpp"
#include "platform/ui/label.hpp"
#include "platform/ui/scroll_view.hpp"
#include "platform/ui/view_controller.hpp"
#include "platform/ui/web_view.hpp"

namespace app {

class ViewController : public platform::ui::ViewController,
                       public platform::ui::WebViewDelegate,
                       public platform::ui::ScrollViewDelegate {
 public:
  // A screen for `url` (rewritten for the main screen's device kind), the
  // nav type (empty: none) and title. Create it through create().
  ViewController(const std::string& url, NavType navType, std::string title);
  static std::shared_ptr<ViewController> create(const std::string& url, NavType navType, std::string title);

  const std::string& url() const { return url_; }
  const NavType& navType() const { return navType_; }
  const std::string& navTitle() const { return title_; }
  // "ViewController_iPad" or "ViewController_iPhone".
  const std::string& layoutName() const { return layoutName_; }
  bool acceptsScrolling() const { return acceptScrolling_; }

  platform::ui::WebView* webView() const { return webView_.get(); }
  // Null on the home screen.
  platform::ui::Toolbar* toolbar() const { return toolbar_.get(); }
  platform::ui::ActivityIndicatorView& loadingIndicator() { return *loadingIndicator_; }
  const std::vector<std::string>& headerURLs() const { return headerURLs_; }

  // True when `url` belongs to one of headerURLs().
  bool headerIsNeeded(const std::string& url) const;

  // Screen events.
  void loadView() override;
  void viewDidLoad() override;
  void viewWillAppear(bool animated) override;
  void viewDidAppear(bool animated) override;
  void viewWillDisappear(bool animated) override;

  // Web view delegate: the link policy and load progress.
  bool webViewShouldStartLoad(platform::ui::WebView& webView, const platform::ui::URLRequest& request,
                              platform::ui::WebViewNavigationType type) override;
  void webViewDidStartLoad(platform::ui::WebView& webView) override;
  void webViewDidFinishLoad(platform::ui::WebView& webView) override;
  // No message for a failed load, but the spinner stops.
  void webViewDidFailLoad(platform::ui::WebView& webView, const platform::Error& error) override;

  // Button and control actions.
  void goHome();
  void showMenu();
  void loadHome();
  void webGoBack();
  void webGoForward();
  void sharePage();
  void handleRefresh();
  void drawToolbar();
  void goBack();
  void swipeToGoBack();
  void backToHomePage();
  void refreshPage();

 private:
  std::shared_ptr<platform::ui::View> makeBarButtonContainer(double width, double height,
                                                             std::shared_ptr<platform::ui::View> button);
  void installTitleIndicator();
  void loadInitialPage();
  void sendScreenView(const char* screenName);

  std::string title_;
  std::string url_;
  NavType navType_;
  std::string layoutName_;
  bool acceptScrolling_ = false;
  std::shared_ptr<platform::ui::WebView> webView_;
  std::shared_ptr<platform::ui::Toolbar> toolbar_;
  std::shared_ptr<platform::ui::ActivityIndicatorView> loadingIndicator_;
  std::vector<std::string> headerURLs_;
};

}  // namespace app
