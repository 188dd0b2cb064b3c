#include "app/view_controller.hpp"

#include "app/app_header.hpp"
#include "app/article_transition.hpp"
#include "app/link_policy.hpp"
#include "app/nav_bar_dressing.hpp"
#include "app/services.hpp"
#include "app/site_constants.hpp"
#include "app/url_rewriting.hpp"
#include "platform/log.hpp"
#include "platform/url.hpp"
#include "platform/ui/control.hpp"
#include "platform/ui/navigation_controller.hpp"
#include "platform/ui/window.hpp"
#include "reveal_access.hpp"

namespace app {

namespace ui = platform::ui;

namespace {

constexpr ui::Rect kIndicatorFrame(0, 0, 20, 20);

std::shared_ptr<ui::Button> customButton(ui::Rect frame, std::string_view imageName) {
  auto button = ui::Button::create(ui::ButtonType::Custom);
  button->setFrame(frame);
  button->setImage(ui::Image::named(imageName));
  return button;
}

}  // namespace

ViewController::ViewController(const std::string& url, NavType navType, std::string title)
    : title_(std::move(title)),
      url_(rewriteURLForDevice(url, currentDeviceKind())),
      navType_(std::move(navType)),
      layoutName_(contentLayoutName(currentDeviceKind())) {
  setTitle(title_);
}

std::shared_ptr<ViewController> ViewController::create(const std::string& url, NavType navType, std::string title) {
  return std::make_shared<ViewController>(url, std::move(navType), std::move(title));
}

bool ViewController::headerIsNeeded(const std::string& url) const { return app::headerIsNeeded(url, headerURLs_); }

// Stands in for the layout file: a full-screen view holding the web view,
// with this screen as the web view's delegate.
void ViewController::loadView() {
  const ui::Rect bounds = ui::Screen::main().bounds();
  auto root = ui::View::create(ui::Rect(0, 0, bounds.width(), bounds.height()));
  root->setAutoresizingMask(ui::kAutoresizingFlexibleWidth | ui::kAutoresizingFlexibleHeight);
  webView_ = ui::WebView::create(root->bounds());
  webView_->setAutoresizingMask(ui::kAutoresizingFlexibleWidth | ui::kAutoresizingFlexibleHeight);
  webView_->setDelegate(sharedAs<ViewController>());
  root->addSubview(webView_);
  setView(root);
}

void ViewController::viewDidLoad() {
  ui::ViewController::viewDidLoad();
  ui::ScrollView& scrollView = webView_->scrollView();
  // The over-scroll shadows.
  for (const auto& subview : scrollView.subviews()) {
    if (dynamic_cast<ui::ImageView*>(subview.get())) subview->setHidden(true);
  }
  scrollView.setDelegate(sharedAs<ViewController>());
  webView_->setAllowsInlineMediaPlayback(false);
  scrollView.setDecelerationRate(ui::kScrollViewDecelerationRateNormal);

  auto refresh = ui::RefreshControl::create();
  std::weak_ptr<ViewController> weakSelf = sharedAs<ViewController>();
  refresh->addAction(ui::kControlEventValueChanged, [weakSelf](ui::Control&) {
    if (auto self = weakSelf.lock()) self->handleRefresh();
  });
  scrollView.addSubview(refresh);

  headerURLs_.assign(kPublisherDomains.begin(), kPublisherDomains.end());

  // Made before the load: a web view may report the start from inside loadRequest.
  loadingIndicator_ = ui::ActivityIndicatorView::create(kIndicatorFrame);

  loadInitialPage();

  if (navType_ != kNavBarVestavind) {
    auto root = view();
    const ui::Rect bounds = root->bounds();
    toolbar_ = ui::Toolbar::create(ui::Rect(0, bounds.height() - ui::kToolbarHeight, bounds.width(), ui::kToolbarHeight));
    toolbar_->setAutoresizingMask(ui::kAutoresizingFlexibleWidth | ui::kAutoresizingFlexibleTopMargin);
    root->addSubview(toolbar_);
  }

  loadingIndicator_->setStyle(ui::ActivityIndicatorStyle::White);
  loadingIndicator_->setHidesWhenStopped(true);
  installTitleIndicator();
}

void ViewController::loadInitialPage() {
  if (url_.empty()) return;
  // Pushes and the menu come from outside: a local file or a script URL
  // must never reach the web view (nor be shared on from it).
  if (!platform::isWebURL(url_)) {
    platform::log("Not a web address, not loaded: " + url_);
    return;
  }
  ui::URLRequest request(url_);
  if (headerIsNeeded(request.url())) request.setValue(appHeaderValue(), kAppHeaderField);
  webView_->loadRequest(request);
}

void ViewController::installTitleIndicator() {
  auto container = ui::View::create(kIndicatorFrame);
  container->addSubview(loadingIndicator_);
  navigationItem().setTitleView(container);
}

std::shared_ptr<ui::View> ViewController::makeBarButtonContainer(double width, double height,
                                                                 std::shared_ptr<ui::View> button) {
  auto container = ui::View::create(ui::Rect(0, 0, width, height));
  container->addSubview(std::move(button));
  return container;
}

void ViewController::viewWillAppear(bool animated) {
  ui::ViewController::viewWillAppear(animated);
  ui::NavigationController* navigation = navigationController();
  if (!navigation) return;
  ui::NavigationBar& bar = navigation->navigationBar();
  const double barHeight = bar.frame().height() > 0 ? bar.frame().height() : ui::kNavigationBarHeight;
  bar.setBackgroundImage(ui::Image::named(kContentBarBackground), ui::BarMetrics::Default);
  std::weak_ptr<ViewController> weakSelf = sharedAs<ViewController>();
  auto action = [weakSelf](void (ViewController::*method)()) {
    return [weakSelf, method](ui::Control&) {
      if (auto self = weakSelf.lock()) ((*self).*method)();
    };
  };

  auto home = customButton(ui::Rect(0, 0, 120, barHeight), kHomeButtonImage);
  home->addAction(ui::kControlEventTouchUpInside, action(&ViewController::goHome));
  home->setTitle(std::string(kHomeButtonTitle));
  home->setTitleEdgeInsets({});
  home->setTitleFont(ui::Font::systemFont(13));
  home->setImageEdgeInsets({0, -15, 0, 0});
  home->setAccessibilityLabel("Til forsiden");
  navigationItem().setLeftBarButtonItem(ui::BarButtonItem::withCustomView(makeBarButtonContainer(120, barHeight, home)));

  auto menu = customButton(ui::Rect(0, 0, 60, barHeight), kMenuButtonImage);
  menu->addAction(ui::kControlEventTouchUpInside, action(&ViewController::showMenu));
  menu->setTitle(std::string(kMenuButtonTitle));
  menu->setImageEdgeInsets({0, 60 - menu->imageForState(ui::kControlStateNormal).size().width, 0, 0});
  menu->setTitleEdgeInsets({0, -75, 0, 0});
  menu->setTitleFont(ui::Font::systemFont(13));
  menu->setAccessibilityLabel("Meny");
  navigationItem().setRightBarButtonItem(ui::BarButtonItem::withCustomView(makeBarButtonContainer(60, barHeight, menu)));

  if (navType_ == kNavBarVestavind) {
    platform::log("VESTAVIND");
    const ui::Image logo = ui::Image::named(kHomeLogoImage);
    auto logoButton = customButton(ui::Rect(ui::Point{}, logo.size()), kHomeLogoImage);
    logoButton->setImageEdgeInsets({});
    logoButton->setAccessibilityLabel("Forsiden");
    logoButton->addAction(ui::kControlEventTouchUpInside, action(&ViewController::loadHome));
    navigationItem().setLeftBarButtonItem(ui::BarButtonItem::withCustomView(logoButton));
  } else {
    platform::log("ARTICLE");
    drawToolbar();
  }
}

void ViewController::drawToolbar() {
  platform::log("Drawing bottom navbar");
  if (!toolbar_) return;
  const double side = toolbar_->frame().height();
  std::weak_ptr<ViewController> weakSelf = sharedAs<ViewController>();
  auto action = [weakSelf](void (ViewController::*method)()) {
    return [weakSelf, method](ui::Control&) {
      if (auto self = weakSelf.lock()) ((*self).*method)();
    };
  };

  auto back = customButton(ui::Rect(side + 10, 0, side, side), historyButtonImage(webView_->canGoBack()));
  back->addAction(ui::kControlEventTouchUpInside, action(&ViewController::webGoBack));
  back->setAccessibilityLabel("Tilbake");

  const ui::Image forwardImage =
      ui::Image::named(historyButtonImage(webView_->canGoForward())).withOrientation(ui::ImageOrientation::Down);
  auto forward = ui::Button::create(ui::ButtonType::Custom);
  forward->setFrame(ui::Rect(side + 10, 0, side, side));
  forward->setImage(forwardImage, ui::kControlStateNormal);
  forward->setImage(forwardImage, ui::kControlStateHighlighted);
  forward->setContentHorizontalAlignment(ui::ContentHorizontalAlignment::Center);
  forward->addAction(ui::kControlEventTouchUpInside, action(&ViewController::webGoForward));
  forward->setAccessibilityLabel("Fram");

  const ui::Image shareImage = ui::Image::named(kShareImage);
  auto share = customButton(ui::Rect(0, 0, shareImage.size().width + 10, shareImage.size().height), kShareImage);
  share->addAction(ui::kControlEventTouchUpInside, action(&ViewController::sharePage));
  share->setAccessibilityLabel("Del");

  toolbar_->setItems({ui::BarButtonItem::withCustomView(back), ui::BarButtonItem::withCustomView(forward),
                      ui::BarButtonItem::flexibleSpace(), ui::BarButtonItem::withCustomView(share)});
}

bool ViewController::webViewShouldStartLoad(ui::WebView& webView, const ui::URLRequest& request,
                                            ui::WebViewNavigationType type) {
  const bool linkClicked = type == ui::WebViewNavigationType::LinkClicked;
  switch (decideLinkAction(linkClicked, navType_, headerIsNeeded(request.url()))) {
    case LinkAction::Load:
      return true;
    case LinkAction::OpenArticleScreen: {
      platform::log(navType_);
      ui::NavigationController* navigation = navigationController();
      if (!navigation) return false;
      playArticleTransition(*navigation->view());
      navigation->pushViewController(ViewController::create(request.url(), NavType(kNavBarArticle), ""), false);
      return false;
    }
    case LinkAction::ReissueWithHeader: {
      ui::URLRequest copy = request;
      copy.setValue(std::string(kReissuedLinkHeaderValue), kAppHeaderField);
      webView.loadRequest(copy);
      platform::log("No header");
      return false;
    }
  }
  return true;
}

void ViewController::webViewDidStartLoad(ui::WebView&) {
  if (navType_ == kNavBarArticle) installTitleIndicator();
  loadingIndicator_->startAnimating();
}

void ViewController::webViewDidFinishLoad(ui::WebView& webView) {
  loadingIndicator_->stopAnimating();
  // Frames of the page are still arriving; the page counts once, at the end.
  if (webView.isLoading()) return;
  if (navType_ == kNavBarVestavind) {
    sendScreenView("Frontpage");
    return;
  }
  drawToolbar();
  sendScreenView("Article");
}

void ViewController::webViewDidFailLoad(ui::WebView&, const platform::Error&) { loadingIndicator_->stopAnimating(); }

void ViewController::sendScreenView(const char* screenName) {
  auto tracker = Services::defaultTracker();
  if (!tracker) return;
  platform::Dictionary hit;
  hit.set("&t", "appview");
  hit.set("&cd", screenName);
  tracker->send(hit);
}

void ViewController::goHome() {
  ui::NavigationController* navigation = navigationController();
  if (!navigation || navigation->viewControllers().empty()) return;
  navigation->setViewControllers({navigation->viewControllers().front()}, true);
}

void ViewController::showMenu() {
  auto container = containerOf(*this);
  if (!container) return;
  if (container->focusedController() == container->leftViewController()) {
    container->showViewController(container->frontViewController());
  } else {
    container->showViewController(container->rightViewController());
  }
}

void ViewController::loadHome() {
  ui::URLRequest request(std::string(kMobileSiteURL) + "?" + std::string(kHideHeaderFlag));
  request.setValue(appHeaderValue(), kAppHeaderField);
  webView_->loadRequest(request);
  webView_->scrollView().setContentOffset({0, 0}, false);
}

void ViewController::webGoBack() {
  if (webView_->canGoBack()) {
    webView_->goBack();
  } else if (ui::NavigationController* navigation = navigationController()) {
    navigation->popViewController(true);
  }
}

void ViewController::webGoForward() {
  if (webView_->canGoForward()) webView_->goForward();
}

void ViewController::sharePage() {
  const std::string url = webView_->stringByEvaluatingJavaScript("window.location.href");
  const std::string title = webView_->stringByEvaluatingJavaScript("document.title");
  presentViewController(std::make_shared<ui::ActivityViewController>(std::vector<std::string>{title, url}), true);
}

void ViewController::handleRefresh() {
  loadingIndicator_->setStyle(ui::ActivityIndicatorStyle::White);
  loadingIndicator_->setHidesWhenStopped(true);
  webView_->reload();
  if (auto refresh = webView_->scrollView().refreshControl()) refresh->endRefreshing();
}

void ViewController::refreshPage() {
  webView_->reload();
  webView_->scrollView().setContentOffset({0, 0}, false);
}

void ViewController::goBack() {
  if (ui::NavigationController* navigation = navigationController()) navigation->popViewController(true);
}

void ViewController::swipeToGoBack() { goBack(); }

void ViewController::backToHomePage() {
  if (ui::NavigationController* navigation = navigationController()) navigation->popToRootViewController(true);
}

void ViewController::viewDidAppear(bool animated) {
  ui::ViewController::viewDidAppear(animated);
  acceptScrolling_ = true;
  if (auto container = containerOf(*this)) {
    container->setRecognizesPanningOnFrontView(navType_ != kNavBarArticle);
  }
}

void ViewController::viewWillDisappear(bool animated) {
  ui::ViewController::viewWillDisappear(animated);
  platform::log("VIEW WILL DISAPPEAR");
  acceptScrolling_ = false;
}

}  // namespace app
