#include "platform/ui/headless_toolkit.hpp"

#include <gtest/gtest.h>
#include <httplib.h>

#include <mutex>
#include <thread>

#include "platform/run_loop.hpp"
#include "platform/service_routing.hpp"

namespace platform::ui {
namespace {

using namespace std::chrono_literals;

// A loopback site: pages by path, and every request it saw.
class LoopbackSite {
 public:
  LoopbackSite() {
    server_.Get(".*", [this](const httplib::Request& request, httplib::Response& response) {
      {
        std::lock_guard lock(mutex_);
        seen_.push_back(request);
      }
      if (request.path == "/old") {
        response.set_redirect("/moved?x=1");
        return;
      }
      auto it = pages_.find(request.path);
      if (it == pages_.end()) {
        response.status = 404;
        response.set_content("<title>Not here</title>", "text/html");
        return;
      }
      response.set_content(it->second, "text/html; charset=utf-8");
    });
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    // A stop before the listener runs is lost, and the join would then wait for ever.
    while (!server_.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ~LoopbackSite() {
    server_.stop();
    thread_.join();
  }

  void page(std::string path, std::string html) { pages_[std::move(path)] = std::move(html); }
  std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }
  std::string base() const { return url(""); }
  std::vector<httplib::Request> seen() {
    std::lock_guard lock(mutex_);
    return seen_;
  }

 private:
  httplib::Server server_;
  int port_ = 0;
  std::thread thread_;
  std::map<std::string, std::string> pages_;
  std::mutex mutex_;
  std::vector<httplib::Request> seen_;
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
  const auto seen = site.seen();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].get_header_value("vestavind_mobile_app"), "1.0.0");
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
  EXPECT_EQ(site.seen().size(), 4u);
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
  EXPECT_EQ(site.seen().size(), 1u);
  EXPECT_EQ(delegate->finishes, 1);

  delegate->refuse = "/sak";
  view->followLink("/sak/2");
  RunLoop::main().runFor(50ms);
  EXPECT_EQ(site.seen().size(), 1u);
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
  EXPECT_EQ(site.seen().size(), 5u);
  EXPECT_TRUE(view->canGoBack());
}

TEST_F(HeadlessWebViewTest, RoutingSendsTheOriginalHostAndFollowsRedirects) {
  site.page("/moved", "<title>Moved</title>");
  ServiceRouting::shared().routeTo(site.base());
  view->loadRequest(URLRequest("http://m.vestavind.test/old"));
  ASSERT_TRUE(waitUntilIdle(1));
  const auto seen = site.seen();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].get_header_value("Host"), "m.vestavind.test");
  EXPECT_EQ(seen[1].get_header_value("Host"), "m.vestavind.test");
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
