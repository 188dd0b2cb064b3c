#include "app/view_controller.hpp"

#include "app/nav_bar_dressing.hpp"
#include "support/app/shell_fixture.hpp"

namespace app {
namespace {

using testing::ShellTest;
namespace ui = platform::ui;

class ContentScreenTest : public ShellTest {
 protected:
  // Pushes an article screen for `url` as the sidebar would, and loads it.
  std::shared_ptr<ViewController> openArticle(const std::string& url) {
    auto screen = ViewController::create(url, NavType(kNavBarArticle), "");
    front().pushViewController(screen, false);
    settle();
    return screen;
  }

  std::string imageOf(const std::shared_ptr<ui::BarButtonItem>& item) {
    auto* button = dynamic_cast<ui::Button*>(item->customView().get());
    return button ? button->imageForState(ui::kControlStateNormal).name() : "";
  }
};

TEST_F(ContentScreenTest, HomeScreenOpensEveryTappedLinkAsANewArticleScreen) {
  launch();
  auto home = frontScreen();
  sites.clearRequests();
  home->webView()->followLink("/article/1");
  settle();
  home->webView()->followLink("http://example.test/elsewhere");
  settle();
  ASSERT_EQ(front().viewControllers().size(), 3u);
  auto first = std::dynamic_pointer_cast<ViewController>(front().viewControllers()[1]);
  EXPECT_EQ(first->url(), "http://m.vestavind.test/article/1");
  EXPECT_EQ(first->navType(), "kNavBarArticle");
  EXPECT_EQ(frontScreen()->url(), "http://example.test/elsewhere");
  // The home page itself stayed where it was.
  EXPECT_EQ(home->webView()->request().url(), "http://m.vestavind.test?hideHeader=1");
  EXPECT_EQ(front().view()->layer().animations().back().second.type, ui::kTransitionMoveIn);
}

TEST_F(ContentScreenTest, OtherScreensReissuePublisherLinksWithWhateverAndLoadForeignOnesBare) {
  launch();
  auto article = openArticle("http://www.vestavind.test/sport");
  EXPECT_EQ(sites.requestsFor("/sport").at(0).appHeader, platform::Bundle::main().version().value_or(""));

  article->webView()->followLink("http://www.vestavind.test/sport/kamp");
  settle();
  const auto reissued = sites.requestsFor("/sport/kamp");
  ASSERT_EQ(reissued.size(), 1u);  // refused before anything was sent, then sent once
  EXPECT_EQ(reissued[0].appHeader, "whatever");

  article->webView()->followLink("http://example.test/ute");
  settle();
  const auto foreign = sites.requestsFor("/ute");
  ASSERT_EQ(foreign.size(), 1u);
  EXPECT_FALSE(foreign[0].hasAppHeader);
  EXPECT_EQ(front().viewControllers().size(), 2u);
}

TEST_F(ContentScreenTest, APageWithFramesSendsOneHitAfterTheLastFrame) {
  launch();
  openArticle("http://www.vestavind.test/frames/sak");
  EXPECT_EQ(sites.requestsFor("/frame2").size(), 1u);
  EXPECT_EQ(tracker->screenNames(), (std::vector<std::string>{"Frontpage", "Article"}));
  EXPECT_EQ(tracker->hits.back().get("&t"), platform::Value("appview"));
}

TEST_F(ContentScreenTest, ToolbarShowsRedHistoryButtonsOnlyWhenTheMoveIsPossible) {
  launch();
  EXPECT_EQ(frontScreen()->toolbar(), nullptr);
  auto article = openArticle("http://example.test/a");
  ASSERT_TRUE(article->toolbar());
  auto items = article->toolbar()->items();
  ASSERT_EQ(items.size(), 4u);
  EXPECT_TRUE(items[2]->isFlexibleSpace());
  EXPECT_EQ(imageOf(items[0]), "back_thin_grey.png");
  EXPECT_EQ(imageOf(items[1]), "back_thin_grey.png");
  EXPECT_EQ(imageOf(items[3]), "share_red.png");

  article->webView()->followLink("http://example.test/b");
  settle();
  EXPECT_EQ(imageOf(article->toolbar()->items()[0]), "back_thin_red.png");
  article->webGoBack();
  settle();
  items = article->toolbar()->items();
  EXPECT_EQ(imageOf(items[0]), "back_thin_grey.png");
  EXPECT_EQ(imageOf(items[1]), "back_thin_red.png");
  auto* forward = dynamic_cast<ui::Button*>(items[1]->customView().get());
  EXPECT_EQ(forward->imageForState(ui::kControlStateNormal).orientation(), ui::ImageOrientation::Down);

  // Web back with no history left pops the screen.
  article->webGoBack();
  settle();
  EXPECT_EQ(front().viewControllers().size(), 1u);
}

TEST_F(ContentScreenTest, NavigationBarOfHomeAndArticleScreens) {
  launch();
  auto home = frontScreen();
  EXPECT_EQ(front().navigationBar().backgroundImage(ui::BarMetrics::Default).name(), "navBarHomeBg.png");
  EXPECT_EQ(imageOf(home->navigationItem().leftBarButtonItem()), "vst.png");

  auto article = openArticle("http://www.vestavind.test/a");
  auto left = article->navigationItem().leftBarButtonItem()->customView();
  ASSERT_EQ(left->subviews().size(), 1u);
  auto* homeButton = dynamic_cast<ui::Button*>(left->subviews()[0].get());
  ASSERT_TRUE(homeButton);
  EXPECT_EQ(left->frame().width(), 120);
  EXPECT_EQ(homeButton->titleForState(ui::kControlStateNormal), " TIL FORSIDEN");
  EXPECT_EQ(homeButton->imageEdgeInsets(), (ui::EdgeInsets{0, -15, 0, 0}));
  auto right = article->navigationItem().rightBarButtonItem()->customView();
  auto* menuButton = dynamic_cast<ui::Button*>(right->subviews().at(0).get());
  EXPECT_EQ(menuButton->titleForState(ui::kControlStateNormal), " MENY");
  EXPECT_EQ(menuButton->titleEdgeInsets().left, -75);

  menuButton->tap();
  settle();
  EXPECT_EQ(container()->focusedController(), container()->rightViewController());
  homeButton->tap();
  settle();
  EXPECT_EQ(front().viewControllers().size(), 1u);
}

TEST_F(ContentScreenTest, ArticleScreensSwitchOffPanningOfTheFront) {
  launch();
  EXPECT_TRUE(container()->recognizesPanningOnFrontView());
  openArticle("http://www.vestavind.test/a");
  EXPECT_TRUE(frontScreen()->acceptsScrolling());
  EXPECT_FALSE(container()->recognizesPanningOnFrontView());
  front().popViewController(false);
  settle();
  EXPECT_TRUE(container()->recognizesPanningOnFrontView());
}

TEST_F(ContentScreenTest, AFailedLoadStopsTheSpinnerWithoutAMessage) {
  launch();
  auto screen = openArticle("http://127.0.0.1:1/refused");
  EXPECT_FALSE(screen->webView()->isLoading());
  EXPECT_FALSE(screen->loadingIndicator().isAnimating());
  EXPECT_TRUE(ui::AlertView::visibleAlerts().empty());
}

TEST_F(ContentScreenTest, OnlyWebAddressesReachTheWebView) {
  launch();
  sites.clearRequests();
  for (const char* url : {"file:///etc/passwd", "javascript:alert(1)", "data:text/html,<b>x</b>"}) {
    auto screen = openArticle(url);
    EXPECT_EQ(screen->webView()->request().url(), "") << url;
    EXPECT_FALSE(screen->loadingIndicator().isAnimating()) << url;
  }
  EXPECT_TRUE(sites.requests().empty());
  auto web = openArticle("https://www.vestavind.test/sikker");
  EXPECT_EQ(web->webView()->request().url(), "https://www.vestavind.test/sikker");
}

TEST_F(ContentScreenTest, ShareOffersTitleThenURL) {
  launch();
  auto article = openArticle("http://www.vestavind.test/del");
  article->sharePage();
  auto sheet = std::dynamic_pointer_cast<ui::ActivityViewController>(article->presentedViewController());
  ASSERT_TRUE(sheet);
  EXPECT_EQ(sheet->activityItems(),
            (std::vector<std::string>{"www.vestavind.test/del", "http://www.vestavind.test/del"}));
}

TEST_F(ContentScreenTest, TabletRewritesTheMainSiteAndTheLogoLoadsTheMobileHome) {
  ui::Screen::main().setIdiom(ui::UserInterfaceIdiom::Pad);
  launch();
  EXPECT_EQ(frontScreen()->url(), "http://tablet.vestavind.test?hideHeader=1");
  EXPECT_EQ(frontScreen()->layoutName(), "ViewController_iPad");
  frontScreen()->loadHome();
  settle();
  const auto requests = sites.requestsFor("/?hideHeader=1");
  ASSERT_FALSE(requests.empty());
  EXPECT_EQ(requests.back().host, "m.vestavind.test");
  EXPECT_TRUE(requests.back().hasAppHeader);
}

}  // namespace
}  // namespace app
