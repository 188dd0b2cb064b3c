#include "platform/ui/headless_toolkit.hpp"

#include <gtest/gtest.h>

#include "platform/run_loop.hpp"
#include "platform/service_routing.hpp"
#include "support/loopback_server.hpp"

namespace platform::ui {
namespace {

using namespace std::chrono_literals;

// A loopback site: canned pages by path, "/old" redirects, the rest is 404.
class LoopbackSite : public test_support::LoopbackServer {
 public:
  LoopbackSite()
      : LoopbackServer([](const httplib::Request& request, httplib::Response& response) {
          if (request.path == "/old") {
            response.set_redirect("/moved?x=1");
            return;
          }
          response.status = 404;
          response.set_content("<title>Not here</title>", "text/html");
        }) {}
};

// Records the delegate calls as text, in order.
class Recorder : public WebViewDelegate {
 public:
  bool webViewShouldStartLoad(WebView& webView, const URLRequest& request, WebViewNavigationType type) override {
    log.push_back("ask " + request.url() + (type == WebViewNavigationType::LinkClicked ? " link" : ""));
    return refuse.empty() || request.url().find(refuse) == std::string::npos;
  }
  void webViewDidStartLoad(WebView& webView) override { log.push_back("start"); }
  void webViewDidFinishLoad(WebView& webView) override {
    log.push_back(webView.isLoading() ? "finish (loading)" : "finish");
    ++finishes;
  }
  void webViewDidFailLoad(WebView& webView, const Error& error) override {
    log.push_back("fail " + std::to_string(error.code));
    ++failures;
  }

  std::vector<std::string> log;
  std::string refuse;
  int finishes = 0;
  int failures = 0;
};

class HeadlessWebViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    view = std::static_pointer_cast<HeadlessWebView>(WebView::create(Rect(0, 0, 320, 480)));
    delegate = std::make_shared<Recorder>();
    view->setDelegate(delegate);
  }
  void TearDown() override {
    ServiceRouting::shared().clear();
    HeadlessToolkit::shared().setLoadObserver(nullptr);
  }

  bool waitUntilIdle(int finishes) {
    return RunLoop::main().runUntil(
        [&] { return delegate->finishes + delegate->failures >= finishes && !view->isLoading(); }, 10s);
  }

  LoopbackSite site;
  std::shared_ptr<HeadlessWebView> view;
  std::shared_ptr<Recorder> delegate;
};

TEST_F(HeadlessWebViewTest, SendsHeadersAndReadsTitleAndLinks) {
  site.page("/", R"(<html><head><TITLE> Forside &amp; nytt </TITLE></head>
    <body><a href="/sak/1">En</a> <a HREF='http://other.example/x'>To</a>
    <!-- <a href="/hidden"> --><script>var s = '<a href="/script">';</script>
    <a href=relativ?q=1>Tre</a></body></html>)");
  URLRequest request(site.url("/"));
  request.setValue("1.0.0", "vestavind_mobile_app");
  view->loadRequest(request);

  ASSERT_TRUE(waitUntilIdle(1));
  const auto seen = site.requests();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].header("vestavind_mobile_app"), "1.0.0");
  EXPECT_EQ(view->title(), "Forside & nytt");
  EXPECT_EQ(view->links(), (std::vector<std::string>{site.url("/sak/1"), "http://other.example/x", site.url("/relativ?q=1")}));
  EXPECT_EQ(view->stringByEvaluatingJavaScript("document.title"), "Forside & nytt");
  EXPECT_EQ(view->stringByEvaluatingJavaScript("window.location.href"), site.url("/"));
  EXPECT_EQ(view->stringByEvaluatingJavaScript("alert(1)"), "");
  EXPECT_EQ(delegate->log, (std::vector<std::string>{"ask " + site.url("/"), "start", "finish"}));
}

TEST_F(HeadlessWebViewTest, FramesStartAfterThePageAndTheLastFinishEndsLoading) {
  site.page("/", R"(<frameset><frame src="/a"><frame src="b"></frameset><iframe src="/c"></iframe>)");
  site.page("/a", "<title>A</title>");
  site.page("/b", "<title>B</title>");
  site.page("/c", "<title>C</title>");
  std::vector<WebLoadEvent> events;
  HeadlessToolkit::shared().setLoadObserver([&](const WebLoadEvent& e) { events.push_back(e); });
  view->loadRequest(URLRequest(site.url("/")));

  ASSERT_TRUE(waitUntilIdle(4));
  EXPECT_EQ(view->frames(), (std::vector<std::string>{site.url("/a"), site.url("/b"), site.url("/c")}));
  // Page start; on arrival each frame is asked for and started, then the
  // page finishes while frames load; only the last finish sees no load.
  const std::vector<std::string> head(delegate->log.begin(), delegate->log.begin() + 9);
  EXPECT_EQ(head, (std::vector<std::string>{"ask " + site.url("/"), "start", "ask " + site.url("/a"), "start",
                                            "ask " + site.url("/b"), "start", "ask " + site.url("/c"), "start",
                                            "finish (loading)"}));
  ASSERT_EQ(delegate->log.size(), 12u);
  EXPECT_EQ(delegate->log[9], "finish (loading)");
  EXPECT_EQ(delegate->log[10], "finish (loading)");
  EXPECT_EQ(delegate->log[11], "finish");
  EXPECT_EQ(site.requests().size(), 4u);
  ASSERT_EQ(events.size(), 8u);
  EXPECT_EQ(events[0].kind, WebLoadEvent::Kind::RequestSent);
  EXPECT_FALSE(events[0].isFrame);
  EXPECT_TRUE(events[1].isFrame);
}

TEST_F(HeadlessWebViewTest, RefusedNavigationsSendNothing) {
  site.page("/", R"(<title>Home</title><frame src="/ad">)");
  site.page("/ad", "<title>Ad</title>");
  delegate->refuse = "/ad";
  view->loadRequest(URLRequest(site.url("/")));
  ASSERT_TRUE(waitUntilIdle(1));
  EXPECT_EQ(site.requests().size(), 1u);
  EXPECT_EQ(delegate->finishes, 1);

  delegate->refuse = "/sak";
  view->followLink("/sak/2");
  RunLoop::main().runFor(50ms);
  EXPECT_EQ(site.requests().size(), 1u);
  EXPECT_EQ(delegate->log.back(), "ask " + site.url("/sak/2") + " link");
  EXPECT_FALSE(view->isLoading());
}

TEST_F(HeadlessWebViewTest, HistoryMovesBackAndForward) {
  site.page("/1", "<title>1</title>");
  site.page("/2", "<title>2</title>");
  view->loadRequest(URLRequest(site.url("/1")));
  ASSERT_TRUE(waitUntilIdle(1));
  EXPECT_FALSE(view->canGoBack());
  view->followLink("/2");
  ASSERT_TRUE(waitUntilIdle(2));
  EXPECT_TRUE(view->canGoBack());
  EXPECT_FALSE(view->canGoForward());
  view->goBack();
  ASSERT_TRUE(waitUntilIdle(3));
  EXPECT_EQ(view->title(), "1");
  EXPECT_TRUE(view->canGoForward());
  view->goForward();
  ASSERT_TRUE(waitUntilIdle(4));
  EXPECT_EQ(view->title(), "2");
  EXPECT_FALSE(view->canGoForward());
  view->reload();
  ASSERT_TRUE(waitUntilIdle(5));
  EXPECT_EQ(site.requests().size(), 5u);
  EXPECT_TRUE(view->canGoBack());
}

TEST_F(HeadlessWebViewTest, RoutingSendsTheOriginalHostAndFollowsRedirects) {
  site.page("/moved", "<title>Moved</title>");
  ServiceRouting::shared().routeTo(site.url());
  view->loadRequest(URLRequest("http://m.vestavind.test/old"));
  ASSERT_TRUE(waitUntilIdle(1));
  const auto seen = site.requests();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].header("Host"), "m.vestavind.test");
  EXPECT_EQ(seen[1].header("Host"), "m.vestavind.test");
  EXPECT_EQ(seen[1].path, "/moved");
  EXPECT_EQ(view->stringByEvaluatingJavaScript("window.location.href"), "http://m.vestavind.test/moved?x=1");
  EXPECT_EQ(view->title(), "Moved");
}

TEST_F(HeadlessWebViewTest, UnreachableServerReportsFailure) {
  view->loadRequest(URLRequest("http://127.0.0.1:1/"));
  ASSERT_TRUE(waitUntilIdle(1));
  EXPECT_EQ(delegate->failures, 1);
  EXPECT_EQ(delegate->log.back(), "fail -1004");
}

TEST_F(HeadlessWebViewTest, NewLoadAbandonsTheOldOneAndEmptyURLLoadsNothing) {
  site.page("/1", "<title>1</title>");
  site.page("/2", "<title>2</title>");
  view->loadRequest(URLRequest(""));
  EXPECT_TRUE(delegate->log.empty());
  view->loadRequest(URLRequest(site.url("/1")));
  view->loadRequest(URLRequest(site.url("/2")));
  ASSERT_TRUE(waitUntilIdle(1));
  RunLoop::main().runFor(50ms);
  EXPECT_EQ(delegate->finishes, 1);
  EXPECT_EQ(view->title(), "2");
  EXPECT_FALSE(view->canGoBack());
}

TEST_F(HeadlessWebViewTest, DestroyedViewWithLoadInFlightIsSafe) {
  site.page("/", "<title>x</title>");
  view->loadRequest(URLRequest(site.url("/")));
  view.reset();
  RunLoop::main().runFor(100ms);
  EXPECT_EQ(delegate->finishes, 0);
}

}  // namespace
}  // namespace platform::ui
