// The reader's window end to end under a virtual display: the real program
// against the local services, driven through its command channel; each step
// is saved as a screenshot and checked for what it must show.

#include <gtest/gtest.h>
#include <httplib.h>

#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <filesystem>
#include <regex>
#include <sstream>
#include <set>
#include <string>
#include <thread>

#include "app/http_get.hpp"
#include "devserver/server.hpp"
#include "gtk/png_image.hpp"
#include "platform/json.hpp"
#include "private_session_bus.hpp"
#include "support/collected_hits.hpp"
#include "support/newsreader_process.hpp"
#include "support/program_run.hpp"
#include "support/scratch_directory.hpp"

namespace {

namespace fs = std::filesystem;

// The app header the local services saw on a request for host and path;
// nullopt when no such request arrived.
std::optional<std::string> appHeaderSeen(const devserver::Server& server, const std::string& host,
                                         const std::string& path) {
  const auto answer = app::httpGet(server.baseUrl() + "/_admin/requests?host=" + host);
  if (!answer) return std::nullopt;
  auto parsed = platform::json::parse(answer->body);
  if (!parsed) return std::nullopt;
  const platform::Array* list = parsed.value()["requests"].array();
  if (!list) return std::nullopt;
  std::optional<std::string> seen;
  for (const platform::Value& request : *list) {
    if (request["path"] != platform::Value(path)) continue;
    const platform::Value header = request["headers"]["vestavind_mobile_app"];
    seen = header.isString() ? header.asString() : "";
  }
  return seen;
}

// Waits (up to a minute) until the reader has registered its push token with
// the publisher's provider.
bool waitForProviderRegistration(const devserver::Server& server) {
  for (int attempt = 0; attempt < 600; ++attempt) {
    const auto answer = app::httpGet(server.baseUrl() + "/_admin/requests?host=www.vestavind.test");
    if (answer && answer->body.find("/pn/addDevice/") != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return false;
}

// How many requests for host and path the local services saw.
int requestsSeen(const devserver::Server& server, const std::string& host, const std::string& path) {
  const auto answer = app::httpGet(server.baseUrl() + "/_admin/requests?host=" + host);
  if (!answer) return -1;
  auto parsed = platform::json::parse(answer->body);
  if (!parsed) return -1;
  const platform::Array* list = parsed.value()["requests"].array();
  if (!list) return -1;
  int seen = 0;
  for (const platform::Value& request : *list) seen += request["path"] == platform::Value(path);
  return seen;
}

// Whether the services collected a screen view of `screen` ("Article",
// "Frontpage") carrying the session mark `mark`.
bool sawScreenView(const devserver::Server& server, const std::string& screen, const std::string& mark) {
  const auto answer = app::httpGet(server.baseUrl() + "/_admin/hits");
  if (!answer) return false;
  auto parsed = platform::json::parse(answer->body);
  const platform::Array* hits = parsed ? parsed.value()["hits"].array() : nullptr;
  for (const platform::Value& hit : hits ? *hits : platform::Array()) {
    const platform::Value parameters = hit["parameters"];
    if (parameters["cd"] == platform::Value(screen) && parameters["sc"] == platform::Value(mark)) return true;
  }
  return false;
}

// How often `text` occurs in `output`.
int occurrences(const std::string& output, const std::string& text) {
  int count = 0;
  for (auto at = output.find(text); at != std::string::npos; at = output.find(text, at + text.size())) ++count;
  return count;
}

// Polls `condition` every 100 ms for up to `limit`.
bool eventually(const std::function<bool()>& condition, std::chrono::seconds limit = std::chrono::seconds(60)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return true;
}

// --- real input on the virtual display ---

// Runs xdotool with `arguments`; what it printed, or nullopt when it failed.
std::optional<std::string> xdotool(const std::string& arguments) {
  FILE* pipe = ::popen(("xdotool " + arguments + " 2>/dev/null").c_str(), "r");
  if (!pipe) return std::nullopt;
  std::string printed;
  char chunk[512];
  while (std::size_t count = std::fread(chunk, 1, sizeof chunk, pipe)) printed.append(chunk, count);
  const int status = ::pclose(pipe);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
  return printed;
}

// The X window of the process `pid`, once it is shown; "" when it never is.
std::string windowOf(pid_t pid) {
  std::string window;
  eventually([&] {
    const auto found = xdotool("search --onlyvisible --pid " + std::to_string(pid));
    if (!found || found->empty()) return false;
    window = found->substr(0, found->find('\n'));
    return true;
  });
  return window;
}

// How many windows of the process `pid` are shown.
int windowCount(pid_t pid) {
  const std::string found = xdotool("search --onlyvisible --pid " + std::to_string(pid)).value_or("");
  return int(std::count(found.begin(), found.end(), '\n'));
}

// --- what a screenshot shows ---

struct Region {
  int x0, y0, x1, y1;
};

bool near(const gtk::Rgba& p, int r, int g, int b, int tolerance = 6) {
  return std::abs(p.red - r) <= tolerance && std::abs(p.green - g) <= tolerance && std::abs(p.blue - b) <= tolerance;
}

// Not one flat colour: many distinct colours.
std::size_t distinctColours(const gtk::RgbaImage& image) {
  std::set<std::uint32_t> colours;
  for (const auto& p : image.pixels) colours.insert((p.red >> 3) << 10 | (p.green >> 3) << 5 | (p.blue >> 3));
  return colours.size();
}

// Pixel rows in the region that are a line of the given colour across at least 90% of it.
int linesOf(const gtk::RgbaImage& image, Region region, int r, int g, int b) {
  int lines = 0;
  for (int y = region.y0; y < region.y1; ++y) {
    int matching = 0;
    for (int x = region.x0; x < region.x1; ++x) matching += near(image.at(x, y), r, g, b);
    if (matching * 10 >= (region.x1 - region.x0) * 9) ++lines;
  }
  return lines;
}

double brightness(const gtk::RgbaImage& image, Region region) {
  double sum = 0;
  int count = 0;
  for (int y = region.y0; y < region.y1; ++y) {
    for (int x = region.x0; x < region.x1; ++x) {
      const auto p = image.at(x, y);
      sum += (p.red + p.green + p.blue) / 3.0;
      ++count;
    }
  }
  return count ? sum / count : 0;
}

// Share of pixels that differ between two images in a region.
double changed(const gtk::RgbaImage& a, const gtk::RgbaImage& b, Region region) {
  int differing = 0;
  int count = 0;
  for (int y = region.y0; y < region.y1; ++y) {
    for (int x = region.x0; x < region.x1; ++x) {
      const auto p = a.at(x, y);
      const auto q = b.at(x, y);
      differing += std::abs(p.red - q.red) + std::abs(p.green - q.green) + std::abs(p.blue - q.blue) > 30;
      ++count;
    }
  }
  return count ? double(differing) / count : 0;
}

// Pixels of the given colour in the region.
int pixelsOf(const gtk::RgbaImage& image, Region region, int r, int g, int b) {
  int count = 0;
  for (int y = region.y0; y < region.y1; ++y) {
    for (int x = region.x0; x < region.x1; ++x) count += near(image.at(x, y), r, g, b, 12);
  }
  return count;
}

// The separator lines between sidebar rows and the toolbar's top border.
constexpr int kSeparator[3] = {200, 199, 204};
constexpr int kToolbarBorder[3] = {179, 179, 184};
// The ring around the control the keyboard is on.
constexpr int kFocusRing[3] = {0, 122, 255};

class NewsreaderWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* dir = std::getenv("GUI_SCREENSHOT_DIR");
    screenshots_ = dir ? fs::path(dir) : fs::temp_directory_path() / "vv-gui-screenshots";
    fs::create_directories(screenshots_);
    server_.start();
  }
  void TearDown() override {
    server_.stop();
  }

  // The reader on the local services, in a phone window unless `arguments` or
  // what it remembers say otherwise.
  test_support::NewsreaderProcess startReader(const test_support::NewsreaderProcess::Environment& environment = {},
                                              std::vector<std::string> arguments = {}) {
    arguments.insert(arguments.begin(), {"--services", server_.baseUrl(), "--data-dir", dataDir_.string()});
    return test_support::NewsreaderProcess(NEWSREADER_PATH, arguments, environment);
  }

  // Saves the window as step `name` and reads it back.
  gtk::RgbaImage shoot(test_support::NewsreaderProcess& reader, const std::string& name) {
    const fs::path path = screenshots_ / (name + ".png");
    fs::remove(path);
    EXPECT_TRUE(reader.run("screenshot " + path.string())) << reader.output();
    auto image = gtk::readPng(path.string());
    EXPECT_TRUE(image) << "no screenshot " << path << "\n" << reader.output();
    if (!image) return {};
    EXPECT_EQ(image->width, 390);
    EXPECT_EQ(image->height, 844);
    // Not blank: a page, bars and text give many colours.
    EXPECT_GT(distinctColours(*image), 20u) << name;
    return *image;
  }

  devserver::Server server_{devserver::Server::Options{}};
  fs::path screenshots_;
  test_support::ScratchDirectory scratch_;
  const fs::path dataDir_ = scratch_.path();
};

TEST_F(NewsreaderWindow, BrowsesMenuSectionAndArticleAndShowsAPush) {
  auto reader = startReader();
  ASSERT_TRUE(reader.waitForLine("ready", std::chrono::seconds(120))) << reader.output();
  // The home page came through the services with the app's own header.
  const auto homeHeader = appHeaderSeen(server_, "m.vestavind.test", "/");
  ASSERT_TRUE(homeHeader);
  EXPECT_FALSE(homeHeader->empty());
  // Its hit carries the start-up's analytics calls, each once.
  const auto firstHit = test_support::waitForFirstHit(server_.baseUrl(), "appview");
  ASSERT_TRUE(firstHit) << reader.output();
  EXPECT_EQ((*firstHit)["_u"], platform::Value(".etnKoL")) << (*firstHit)["_u"].description();

  const Region sidebar{130, 50, 380, 400};
  const Region bottomBar{0, 844 - 44, 390, 844 - 43};
  const Region page{10, 60, 380, 700};

  const auto home = shoot(reader, "01-home");
  EXPECT_EQ(linesOf(home, sidebar, kSeparator[0], kSeparator[1], kSeparator[2]), 0);
  // The launch said when its first frame showed the home page.
  EXPECT_EQ(occurrences(reader.output(), "first page drawn http://m.vestavind.test/?hideHeader=1\n"), 1)
      << reader.output();
  EXPECT_EQ(linesOf(home, bottomBar, kToolbarBorder[0], kToolbarBorder[1], kToolbarBorder[2]), 0);

  ASSERT_TRUE(reader.run("open")) << reader.output();
  const auto menu = shoot(reader, "02-menu-open");
  // The sidebar's rows, one separator each, where the page was.
  EXPECT_GE(linesOf(menu, sidebar, kSeparator[0], kSeparator[1], kSeparator[2]), 3) << reader.output();
  EXPECT_GT(changed(home, menu, sidebar), 0.1);

  ASSERT_TRUE(reader.run("select 0")) << reader.output();
  ASSERT_NE(reader.output().find("screen pushed: kNavBarVestavindSection"), std::string::npos) << reader.output();
  const auto section = shoot(reader, "03-section");
  EXPECT_EQ(linesOf(section, sidebar, kSeparator[0], kSeparator[1], kSeparator[2]), 0) << "the sidebar closed";
  EXPECT_EQ(linesOf(section, bottomBar, kToolbarBorder[0], kToolbarBorder[1], kToolbarBorder[2]), 1)
      << "a section screen has the toolbar";

  ASSERT_TRUE(reader.send("links"));
  const auto links = reader.waitForLine("links ");
  ASSERT_TRUE(links) << reader.output();
  std::smatch article;
  ASSERT_TRUE(std::regex_search(*links, article, std::regex(R"(http://\S+/[a-z-]+/[0-9]+-\S+)"))) << *links;
  const std::string articleURL = article.str();
  ASSERT_TRUE(reader.run("tap " + articleURL)) << reader.output();
  const auto followed = shoot(reader, "04-article");
  // The tapped publisher link loads in place on the section screen.
  EXPECT_NE(reader.output().find("page " + articleURL), std::string::npos) << reader.output();
  EXPECT_GT(changed(section, followed, page), 0.01);
  // Refused once, then loaded again by the app with its header.
  std::smatch parts;
  ASSERT_TRUE(std::regex_match(articleURL, parts, std::regex(R"(http://([^/]+)(/.*))")));
  EXPECT_EQ(appHeaderSeen(server_, parts[1], parts[2]), std::optional<std::string>("whatever")) << articleURL;

  ASSERT_TRUE(reader.run("back")) << reader.output();
  const auto back = shoot(reader, "05-back");
  EXPECT_LT(changed(section, back, page), 0.01) << "back shows the section page again";

  // A push sent through the services' gateway to every registered reader.
  ASSERT_TRUE(waitForProviderRegistration(server_)) << reader.output();
  httplib::Client services(server_.baseUrl());
  const auto sent = services.Post("/_admin/push/send",
                                  R"({"all": true, "alert": "Ny sak", "url": "http://www.vestavind.test/"})",
                                  "application/json");
  ASSERT_TRUE(sent && sent->status == 200) << (sent ? sent->body : "no answer");
  ASSERT_TRUE(reader.waitForLine("alert shown: tag 0 \"Vestavind\" \"Ny sak\"")) << reader.output();
  const auto pushed = shoot(reader, "06-push-alert");
  // The veil darkens the window around the alert's light box.
  EXPECT_LT(brightness(pushed, {0, 60, 60, 200}), brightness(back, {0, 60, 60, 200}) - 40);
  EXPECT_GT(brightness(pushed, {64, 372, 80, 470}), 200);

  ASSERT_TRUE(reader.run("answer 1")) << reader.output();
  EXPECT_NE(reader.output().find("screen pushed: kNavBarArticle"), std::string::npos) << reader.output();
  shoot(reader, "07-pushed-article");

  // And one through the backend, to the installations on the news channel.
  fs::create_directories(dataDir_ / "ctl");
  const auto viaBackend = test_support::runProgram(
      {BACKENDCTL_PATH, "--server", server_.baseUrl(), "--data-dir", (dataDir_ / "ctl").string(), "push", "--channel",
       "newsUpdates", "--message", "Fra kanalen", "--data", R"({"url": "http://www.vestavind.test/"})"},
      dataDir_ / "ctl");
  ASSERT_EQ(viaBackend.status, 0) << viaBackend.err;
  ASSERT_TRUE(reader.waitForLine("alert shown: tag 0 \"Vestavind\" \"Fra kanalen\"")) << reader.output();
  ASSERT_TRUE(reader.run("answer 0")) << reader.output();
  // Only the launch's first page: later pages say nothing of the kind.
  EXPECT_EQ(occurrences(reader.output(), "first page drawn "), 1) << reader.output();

  ASSERT_TRUE(reader.send("quit"));
  EXPECT_EQ(reader.closeInputAndWait(), 0) << reader.output();
}

TEST_F(NewsreaderWindow, TakesRealPointerInputForRefreshAndTheSidebarAndShowsTheBadge) {
  auto reader = startReader();
  ASSERT_TRUE(reader.waitForLine("ready", std::chrono::seconds(120))) << reader.output();
  const std::string window = windowOf(reader.pid());
  ASSERT_FALSE(window.empty()) << "the reader's window is not on the display";
  const std::string on = " --window " + window + " ";

  // Wheel notches upward over the home page, already at its top, pull it.
  const int homeLoads = requestsSeen(server_, "m.vestavind.test", "/");
  ASSERT_GE(homeLoads, 1);
  ASSERT_TRUE(xdotool("mousemove" + on + "195 450 click --repeat 6 --delay 40 4"));
  ASSERT_TRUE(reader.waitForLine("refresh pulled (overscroll)")) << reader.output();
  EXPECT_TRUE(eventually([&] { return requestsSeen(server_, "m.vestavind.test", "/") > homeLoads; }))
      << "the page was not loaded again";
  ASSERT_TRUE(reader.run("screens")) << reader.output();

  const Region sidebar{130, 50, 380, 400};
  const Region uncovered{200, 50, 380, 400};
  // A mouse drag across the page's text selects it, as everywhere on the
  // desktop; the front stays where it is.
  ASSERT_TRUE(xdotool("mousemove" + on + "230 140 mousedown 1 mousemove" + on + "180 141 mousemove" + on +
                      "130 141 mousemove" + on + "80 141 mousemove" + on + "10 141 mouseup 1"));
  ASSERT_TRUE(reader.run("screens")) << reader.output();
  const auto selecting = shoot(reader, "08-drag-selects-text");
  EXPECT_EQ(linesOf(selecting, uncovered, kSeparator[0], kSeparator[1], kSeparator[2]), 0) << "the front moved";
  ASSERT_TRUE(reader.send("selection"));
  const auto selected = reader.waitForLine("selection ");
  ASSERT_TRUE(selected) << reader.output();
  EXPECT_NE(selected->find("kysten"), std::string::npos) << *selected;

  // The front follows a drag on its navigation bar: 200 points left uncovers that much sidebar.
  ASSERT_TRUE(xdotool("mousemove" + on + "250 22 mousedown 1 mousemove" + on + "200 23 mousemove" + on +
                      "150 23 mousemove" + on + "100 23 mousemove" + on + "50 23"));
  const auto dragging = shoot(reader, "08-pan-dragging");
  EXPECT_GE(linesOf(dragging, uncovered, kSeparator[0], kSeparator[1], kSeparator[2]), 3) << "sidebar under the front";
  EXPECT_EQ(linesOf(dragging, {20, 50, 180, 400}, kSeparator[0], kSeparator[1], kSeparator[2]), 0)
      << "the front still covers the rest";
  // Held still, then let go: a slow release past half the width opens the sidebar.
  ASSERT_TRUE(xdotool("mouseup 1"));
  ASSERT_TRUE(reader.run("screens")) << reader.output();
  const auto opened = shoot(reader, "09-pan-released-open");
  EXPECT_GE(linesOf(opened, sidebar, kSeparator[0], kSeparator[1], kSeparator[2]), 3);

  // 100 points back to the right on the bar, slowly: not past half, it stays open.
  ASSERT_TRUE(xdotool("mousemove" + on + "10 22 mousedown 1 mousemove" + on + "35 23 mousemove" + on +
                      "60 23 mousemove" + on + "85 23 mousemove" + on + "110 23"));
  ASSERT_TRUE(reader.run("screens")) << reader.output();
  ASSERT_TRUE(xdotool("mouseup 1"));
  ASSERT_TRUE(reader.run("screens")) << reader.output();
  const auto stillOpen = shoot(reader, "10-pan-slow-stays-open");
  EXPECT_GE(linesOf(stillOpen, sidebar, kSeparator[0], kSeparator[1], kSeparator[2]), 3);
  // The same 100 points as a quick swipe close it. A swipe that a loaded
  // machine stretched below the threshold leaves it open, so it may be tried
  // again a few times.
  const auto swipeClosed = [&] {
    EXPECT_TRUE(xdotool("mousemove" + on + "10 22 mousedown 1 mousemove" + on + "35 23 mousemove" + on +
                        "60 23 mousemove" + on + "85 23 mousemove" + on + "110 23 mouseup 1"));
    EXPECT_TRUE(reader.run("screens")) << reader.output();
    return linesOf(shoot(reader, "11-pan-swipe-closed"), sidebar, kSeparator[0], kSeparator[1], kSeparator[2]) == 0;
  };
  EXPECT_TRUE(swipeClosed() || swipeClosed() || swipeClosed()) << "a quick swipe leaves the sidebar open";

  // Two fingers on a touchpad (fed through the touchpad's path: the virtual
  // display has none): upward scrolling is the page's, a sideways swipe over
  // the page moves the front as a finger would.
  ASSERT_TRUE(reader.run("touchpad 195 450 10 -250")) << reader.output();
  EXPECT_NE(reader.output().find("touchpad left to the page"), std::string::npos) << reader.output();
  EXPECT_EQ(linesOf(shoot(reader, "12-touchpad-scrolls"), sidebar, kSeparator[0], kSeparator[1], kSeparator[2]), 0);
  ASSERT_TRUE(reader.run("touchpad 195 450 250 10")) << reader.output();
  EXPECT_NE(reader.output().find("touchpad moved the panels"), std::string::npos) << reader.output();
  EXPECT_GE(linesOf(shoot(reader, "12-touchpad-swiped-open"), sidebar, kSeparator[0], kSeparator[1], kSeparator[2]), 3);
  ASSERT_TRUE(reader.run("touchpad 60 450 -250 0")) << reader.output();
  EXPECT_EQ(linesOf(shoot(reader, "12-touchpad-swiped-closed"), sidebar, kSeparator[0], kSeparator[1], kSeparator[2]), 0);

  // A push with a badge: the window title counts it.
  ASSERT_TRUE(waitForProviderRegistration(server_)) << reader.output();
  httplib::Client services(server_.baseUrl());
  const auto sent = services.Post(
      "/_admin/push/send",
      R"({"all": true, "payload": {"aps": {"alert": "Tre nye", "badge": 3}, "url": "http://www.vestavind.test/"}})",
      "application/json");
  ASSERT_TRUE(sent && sent->status == 200) << (sent ? sent->body : "no answer");
  ASSERT_TRUE(reader.waitForLine("alert shown: tag 0 \"Vestavind\" \"Tre nye\"")) << reader.output();
  std::string title;
  EXPECT_TRUE(eventually([&] {
    title = xdotool("getwindowname " + window).value_or("");
    return title.rfind("Vestavind (3)", 0) == 0;
  })) << title;
  ASSERT_TRUE(reader.run("answer 0")) << reader.output();

  ASSERT_TRUE(reader.send("quit"));
  EXPECT_EQ(reader.closeInputAndWait(), 0) << reader.output();
}

// The page's scroll position and the model's, as the reader reports them.
std::pair<long, long> scrollOf(test_support::NewsreaderProcess& reader) {
  if (!reader.send("scroll")) return {-1, -1};
  const auto line = reader.waitForLine("scroll page ");
  long page = -1;
  long model = -1;
  if (line) std::sscanf(line->c_str(), "%ld model %ld", &page, &model);
  return {page, model};
}

TEST_F(NewsreaderWindow, KeepsTheScrollPositionThroughAResizeAndFollowsTheWindowStates) {
  // Minimising and activating need a window manager on the display.
  test_support::NewsreaderProcess windowManager("/usr/bin/openbox", {"--sm-disable"});
  auto reader = startReader();
  ASSERT_TRUE(reader.waitForLine("ready", std::chrono::seconds(120))) << reader.output();
  const std::string window = windowOf(reader.pid());
  ASSERT_FALSE(window.empty()) << "the reader's window is not on the display";
  ASSERT_TRUE(xdotool("windowactivate --sync " + window));

  // A window lower than the page, so that it scrolls.
  ASSERT_TRUE(xdotool("windowsize --sync " + window + " 390 400"));
  ASSERT_TRUE(reader.run("screens")) << reader.output();
  ASSERT_TRUE(xdotool("mousemove --window " + window + " 195 300 click --repeat 3 --delay 40 5"));
  // Wheel scrolling glides: wait until the page stands still and the model agrees.
  std::pair<long, long> scrolled{-1, -1};
  EXPECT_TRUE(eventually([&] {
    const auto previous = scrolled;
    scrolled = scrollOf(reader);
    return scrolled.first > 0 && scrolled.first == scrolled.second && scrolled == previous;
  }, std::chrono::seconds(20))) << "page " << scrolled.first << " model " << scrolled.second;
  ASSERT_TRUE(xdotool("windowsize --sync " + window + " 360 450"));
  ASSERT_TRUE(reader.run("screens")) << reader.output();
  const auto resized = scrollOf(reader);
  EXPECT_EQ(resized.first, scrolled.first) << "a resize keeps the page where it was";
  EXPECT_EQ(resized.second, scrolled.first);
  // Wheeling up to the top and on past it without a rest there never reloads the page.
  const int homeLoads = requestsSeen(server_, "m.vestavind.test", "/");
  ASSERT_TRUE(xdotool("mousemove --window " + window + " 180 300 click --repeat 10 --delay 40 4"));
  EXPECT_TRUE(eventually([&] { return scrollOf(reader).first == 0; }, std::chrono::seconds(20)));
  ASSERT_TRUE(reader.run("screens")) << reader.output();
  EXPECT_EQ(reader.output().find("refresh pulled"), std::string::npos) << reader.output();
  EXPECT_EQ(requestsSeen(server_, "m.vestavind.test", "/"), homeLoads);
  ASSERT_TRUE(xdotool("windowsize --sync " + window + " 390 844"));
  ASSERT_TRUE(reader.run("screens")) << reader.output();

  // Minimised: the session ends, and a push opens its article at once.
  ASSERT_TRUE(waitForProviderRegistration(server_)) << reader.output();
  ASSERT_TRUE(xdotool("windowminimize --sync " + window));
  ASSERT_TRUE(reader.waitForLine("application state background")) << reader.output();
  httplib::Client services(server_.baseUrl());
  const auto sent = services.Post("/_admin/push/send",
                                  R"({"all": true, "alert": "Ny sak", "url": "http://www.vestavind.test/"})",
                                  "application/json");
  ASSERT_TRUE(sent && sent->status == 200) << (sent ? sent->body : "no answer");
  ASSERT_TRUE(reader.waitForLine("screen pushed: kNavBarArticle")) << reader.output();
  EXPECT_EQ(reader.output().find("alert shown"), std::string::npos) << reader.output();
  EXPECT_TRUE(eventually([&] { return sawScreenView(server_, "Article", "end"); })) << "no hit marked end";

  // Back in front: a new session starts.
  ASSERT_TRUE(xdotool("windowactivate --sync " + window));
  ASSERT_TRUE(reader.waitForLine("application state active")) << reader.output();
  ASSERT_TRUE(reader.run("refresh")) << reader.output();
  EXPECT_TRUE(eventually([&] { return sawScreenView(server_, "Article", "start"); })) << "no hit marked start";
  shoot(reader, "13-back-in-front");

  ASSERT_TRUE(reader.send("quit"));
  EXPECT_EQ(reader.closeInputAndWait(), 0) << reader.output();
}

// Presses keys (xdotool key names) on whatever window has the keyboard.
bool press(const std::string& keys) { return xdotool("key --delay 60 " + keys).has_value(); }

TEST_F(NewsreaderWindow, TheKeyboardReachesEveryAction) {
  auto reader = startReader();
  ASSERT_TRUE(reader.waitForLine("ready", std::chrono::seconds(120))) << reader.output();
  const std::string window = windowOf(reader.pid());
  ASSERT_FALSE(window.empty()) << "the reader's window is not on the display";
  // With no window manager the keyboard follows the pointer.
  ASSERT_TRUE(xdotool("mousemove --window " + window + " 195 450"));
  const Region sidebar{130, 50, 380, 400};
  const auto sidebarRows = [&](const std::string& name) {
    EXPECT_TRUE(reader.run("screens")) << reader.output();
    return linesOf(shoot(reader, name), sidebar, kSeparator[0], kSeparator[1], kSeparator[2]);
  };

  ASSERT_TRUE(press("ctrl+m"));
  EXPECT_GE(sidebarRows("14-key-menu-open"), 3) << reader.output();
  ASSERT_TRUE(press("Escape"));
  EXPECT_EQ(sidebarRows("15-key-menu-closed"), 0) << reader.output();
  ASSERT_TRUE(press("F10"));
  EXPECT_GE(sidebarRows("16-key-f10-open"), 3) << reader.output();
  ASSERT_TRUE(press("F10"));
  EXPECT_EQ(sidebarRows("17-key-f10-closed"), 0) << reader.output();

  // Ctrl+F: the search field takes the typing; "&" stays part of the query.
  ASSERT_TRUE(press("ctrl+f"));
  ASSERT_TRUE(reader.run("screens")) << reader.output();
  ASSERT_TRUE(xdotool("type --delay 60 'R&B'"));
  ASSERT_TRUE(press("Return"));
  ASSERT_TRUE(reader.waitForLine("screen pushed: kNavBarArticle \"Søk\" http://m.vestavind.test/tekstarkiv/?q=R%26B"))
      << reader.output();
  ASSERT_TRUE(reader.run("screens")) << reader.output();
  ASSERT_TRUE(press("alt+Home"));
  ASSERT_TRUE(reader.waitForLine("screen replaced: 1 left")) << reader.output();

  // Enter takes an alert's default button.
  ASSERT_TRUE(waitForProviderRegistration(server_)) << reader.output();
  httplib::Client services(server_.baseUrl());
  const auto sent = services.Post("/_admin/push/send",
                                  R"({"all": true, "alert": "Ny sak", "url": "http://www.vestavind.test/"})",
                                  "application/json");
  ASSERT_TRUE(sent && sent->status == 200) << (sent ? sent->body : "no answer");
  ASSERT_TRUE(reader.waitForLine("alert shown: tag 0")) << reader.output();
  ASSERT_TRUE(press("Return"));
  ASSERT_TRUE(reader.waitForLine("screen pushed: kNavBarArticle \"\" http://www.vestavind.test/")) << reader.output();
  ASSERT_TRUE(reader.run("screens")) << reader.output();
  // Alt+Left with no page to go back to leaves the article screen.
  ASSERT_TRUE(press("alt+Left"));
  ASSERT_TRUE(reader.waitForLine("screen popped: kNavBarArticle")) << reader.output();
  ASSERT_TRUE(press("ctrl+r"));
  ASSERT_TRUE(reader.waitForLine("refresh pulled (key)")) << reader.output();

  ASSERT_TRUE(press("question"));
  ASSERT_TRUE(reader.waitForLine("shortcuts window shown")) << reader.output();
  EXPECT_TRUE(eventually([&] { return windowCount(reader.pid()) == 2; }, std::chrono::seconds(20)))
      << "no second window";
  ASSERT_TRUE(press("Escape"));
  // Ctrl+Q must reach the reader's window, not the closing shortcuts window.
  EXPECT_TRUE(eventually([&] { return windowCount(reader.pid()) == 1; }, std::chrono::seconds(20)))
      << "the shortcuts window stayed";
  ASSERT_TRUE(xdotool("windowfocus --sync " + window));
  ASSERT_TRUE(xdotool("mousemove --window " + window + " 195 450"));
  ASSERT_TRUE(press("ctrl+q"));
  EXPECT_EQ(reader.closeInputAndWait(), 0) << reader.output();
}

TEST_F(NewsreaderWindow, RemembersItsSizeAndLayout) {
  {
    auto reader = startReader({}, {"--device", "tablet"});
    ASSERT_TRUE(reader.waitForLine("ready", std::chrono::seconds(120))) << reader.output();
    const std::string window = windowOf(reader.pid());
    ASSERT_FALSE(window.empty());
    ASSERT_TRUE(xdotool("windowsize --sync " + window + " 900 700"));
    ASSERT_TRUE(reader.run("screens")) << reader.output();
    ASSERT_TRUE(reader.send("quit"));
    ASSERT_EQ(reader.closeInputAndWait(), 0) << reader.output();
  }
  auto reader = startReader();
  ASSERT_TRUE(reader.waitForLine("ready", std::chrono::seconds(120))) << reader.output();
  const std::string window = windowOf(reader.pid());
  ASSERT_FALSE(window.empty());
  EXPECT_NE(xdotool("getwindowgeometry " + window).value_or("").find("Geometry: 900x700"), std::string::npos);
  ASSERT_TRUE(reader.run("screens")) << reader.output();
  EXPECT_NE(reader.output().find("  0 kNavBarVestavind \"\" http://tablet.vestavind.test"), std::string::npos)
      << reader.output();
  ASSERT_TRUE(reader.send("quit"));
  EXPECT_EQ(reader.closeInputAndWait(), 0) << reader.output();
}

TEST_F(NewsreaderWindow, SharesThroughTheDesktopPortalOnlyWhereOneIsOnTheBus) {
  gui_test::PrivateSessionBus bus;
  gui_test::FakeEmailPortal portal(bus.address());
  auto reader = startReader({{"DBUS_SESSION_BUS_ADDRESS", bus.address()}});
  ASSERT_TRUE(reader.waitForLine("ready", std::chrono::seconds(120))) << reader.output();
  std::smatch page;
  const std::string& shown = reader.output();
  ASSERT_TRUE(std::regex_search(shown, page, std::regex(R"re(page (\S+) title "([^"]*)")re"))) << shown;
  const std::string url = page[1];
  const std::string title = page[2];

  ASSERT_TRUE(reader.send("share"));
  EXPECT_TRUE(reader.waitForLine("share sheet: \"" + title + "\" \"" + url + "\" (copied to the clipboard)"))
      << reader.output();
  ASSERT_TRUE(reader.waitForLine("share: the desktop's portal took the page")) << reader.output();
  ASSERT_EQ(portal.composed().size(), 1u);
  EXPECT_EQ(portal.composed()[0].subject, title);
  EXPECT_EQ(portal.composed()[0].body, url);

  // With no portal on the bus the clipboard alone takes the page.
  portal.leave();
  ASSERT_TRUE(reader.send("share"));
  EXPECT_TRUE(reader.waitForLine("share sheet: \"" + title + "\" \"" + url + "\" (copied to the clipboard)"))
      << reader.output();
  EXPECT_TRUE(reader.waitForLine("share: no desktop portal; the clipboard alone")) << reader.output();
  EXPECT_EQ(portal.composed().size(), 1u);

  ASSERT_TRUE(reader.send("quit"));
  EXPECT_EQ(reader.closeInputAndWait(), 0) << reader.output();
}


// A screen reader's view of the reader: its accessibility tree read over
// AT-SPI on a session bus of the test's own, with the desktop's
// accessibility bus launched on it.
class ScreenReader {
 public:
  ScreenReader() : launcher_(kBusLauncher, {"--launch-immediately"}, {{"DBUS_SESSION_BUS_ADDRESS", bus_.address()}}) {}
  // Asked to end, the launcher takes its accessibility bus with it (killed,
  // it would leave the bus holding the test's output open).
  ~ScreenReader() {
    ::kill(launcher_.pid(), SIGTERM);
    launcher_.closeInputAndWait();
  }
  ScreenReader(const ScreenReader&) = delete;
  ScreenReader& operator=(const ScreenReader&) = delete;

  const std::string& busAddress() const { return bus_.address(); }

  // The tree, one "role | name | description" line per node; empty when
  // the reader is not on the bus.
  std::string tree() {
    const auto run = test_support::runProgram({kPython, ACCESSIBILITY_TREE_PATH, bus_.address(), kAppName}, scratch_.path());
    return run.status == 0 ? run.out : "";
  }

  // Whether the tree has a line starting (after its indent) with `node`.
  bool shows(const std::string& node) {
    const std::string lines = tree();
    return lines.find("\n" + node) != std::string::npos || lines.find(" " + node) != std::string::npos;
  }

  // Carries out the action of the node named `name`, as a screen reader's user would.
  bool press(const std::string& name) {
    return test_support::runProgram({kPython, ACCESSIBILITY_TREE_PATH, bus_.address(), kAppName, "--press", name},
                                    scratch_.path())
               .status == 0;
  }

 private:
  static constexpr const char* kBusLauncher = "/usr/libexec/at-spi-bus-launcher";
  static constexpr const char* kPython = "/usr/bin/python3";
  static constexpr const char* kAppName = "test.vestavind.reader";
  gui_test::PrivateSessionBus bus_;
  test_support::NewsreaderProcess launcher_;
  test_support::ScratchDirectory scratch_;
};

TEST_F(NewsreaderWindow, AScreenReaderFindsAndPressesEveryControl) {
  ScreenReader screenReader;
  // GTK reaches assistive technology through the session bus.
  auto reader = startReader({{"DBUS_SESSION_BUS_ADDRESS", screenReader.busAddress()}, {"NO_AT_BRIDGE", std::nullopt}});
  ASSERT_TRUE(reader.waitForLine("ready", std::chrono::seconds(120))) << reader.output();
  ASSERT_TRUE(reader.run("screens")) << reader.output();

  std::string tree;
  EXPECT_TRUE(eventually([&] {
    tree = screenReader.tree();
    return tree.find("push button | Meny") != std::string::npos;
  }, std::chrono::seconds(30))) << tree;
  EXPECT_NE(tree.find("push button | Forsiden"), std::string::npos) << tree;
  // The sidebar lies under the page: nothing of it is offered.
  EXPECT_EQ(tree.find("list item"), std::string::npos) << tree;

  // The menu button, pressed through the tree, opens the sidebar; its rows
  // are a list, the ones with a deeper level say so.
  ASSERT_TRUE(screenReader.press("Meny")) << screenReader.tree();
  // Once it is open, the page's controls are out of reach.
  EXPECT_TRUE(eventually([&] {
    tree = screenReader.tree();
    return tree.find("list item | Glimt | åpner en undermeny") != std::string::npos &&
           tree.find("push button | Meny") == std::string::npos;
  }, std::chrono::seconds(20))) << tree;
  EXPECT_NE(tree.find("list item | Nyheter | \n"), std::string::npos) << tree;
  shoot(reader, "20-a11y-menu-open");

  ASSERT_TRUE(screenReader.press("Nyheter")) << screenReader.tree();
  ASSERT_TRUE(reader.waitForLine("screen pushed: kNavBarVestavindSection")) << reader.output();
  ASSERT_TRUE(reader.run("screens")) << reader.output();
  EXPECT_TRUE(eventually([&] {
    tree = screenReader.tree();
    return tree.find("push button | Del") != std::string::npos;
  }, std::chrono::seconds(20))) << tree;
  EXPECT_NE(tree.find("push button | Tilbake"), std::string::npos) << tree;
  EXPECT_NE(tree.find("push button | Fram"), std::string::npos) << tree;
  EXPECT_NE(tree.find("push button | Til forsiden"), std::string::npos) << tree;
  ASSERT_TRUE(screenReader.press("Del")) << tree;
  ASSERT_TRUE(reader.waitForLine("share sheet: ")) << reader.output();

  // An alert is a dialog with its title, message and buttons, and the only
  // thing offered while it is shown.
  ASSERT_TRUE(reader.send(R"(push {"aps": {"alert": "Ny sak"}, "url": "http://www.vestavind.test/"})"));
  ASSERT_TRUE(reader.waitForLine("alert shown: tag 0")) << reader.output();
  EXPECT_TRUE(eventually([&] {
    tree = screenReader.tree();
    return tree.find("dialog | Vestavind | Ny sak") != std::string::npos;
  }, std::chrono::seconds(20))) << tree;
  EXPECT_NE(tree.find("push button | Lukk"), std::string::npos) << tree;
  EXPECT_EQ(tree.find("push button | Del"), std::string::npos) << tree;
  ASSERT_TRUE(screenReader.press("Les mer")) << tree;
  ASSERT_TRUE(reader.waitForLine("screen pushed: kNavBarArticle \"\" http://www.vestavind.test/")) << reader.output();

  ASSERT_TRUE(reader.send("quit"));
  EXPECT_EQ(reader.closeInputAndWait(), 0) << reader.output();
}

// The line of the node the keyboard is on ("role | name | description"), or "".
std::string focusedNode(const std::string& tree) {
  const auto end = tree.find(" | focused");
  if (end == std::string::npos) return "";
  const auto start = tree.find_last_of('\n', end);
  const std::string line = tree.substr(start == std::string::npos ? 0 : start + 1, end - (start == std::string::npos ? 0 : start + 1));
  return line.substr(line.find_first_not_of(' '));
}

TEST_F(NewsreaderWindow, TabAndTheArrowsMoveAVisibleFocusAndEnterPresses) {
  ScreenReader screenReader;  // tells where the keyboard is
  auto reader = startReader({{"DBUS_SESSION_BUS_ADDRESS", screenReader.busAddress()}, {"NO_AT_BRIDGE", std::nullopt}});
  ASSERT_TRUE(reader.waitForLine("ready", std::chrono::seconds(120))) << reader.output();
  const std::string window = windowOf(reader.pid());
  ASSERT_FALSE(window.empty()) << "the reader's window is not on the display";
  // With no window manager the keyboard follows the pointer.
  ASSERT_TRUE(xdotool("mousemove --window " + window + " 195 450"));
  const Region menuButton{320, 0, 390, 44};
  EXPECT_EQ(pixelsOf(shoot(reader, "21-focus-none"), menuButton, kFocusRing[0], kFocusRing[1], kFocusRing[2]), 0);

  // Tab walks the controls; one of them is the menu button, ringed.
  const auto tabTo = [&](const std::string& node) {
    for (int presses = 0; presses < 20; ++presses) {
      if (focusedNode(screenReader.tree()) == node) return true;
      if (!press("Tab")) return false;
    }
    return false;
  };
  ASSERT_TRUE(tabTo("push button | Meny | ")) << screenReader.tree();
  ASSERT_TRUE(reader.run("screens")) << reader.output();
  EXPECT_GT(pixelsOf(shoot(reader, "22-focus-ring-menu"), menuButton, kFocusRing[0], kFocusRing[1], kFocusRing[2]), 40);

  // Enter presses it: the sidebar opens.
  ASSERT_TRUE(press("Return"));
  std::string tree;
  EXPECT_TRUE(eventually([&] {
    tree = screenReader.tree();
    return tree.find("list item | Nyheter") != std::string::npos && tree.find("push button | Meny") == std::string::npos;
  }, std::chrono::seconds(20))) << tree;

  // Down and Up go from row to row, and Enter opens the one the ring is on.
  ASSERT_TRUE(tabTo("list item | Nyheter | ")) << screenReader.tree();
  ASSERT_TRUE(press("Down"));
  EXPECT_TRUE(eventually([&] { return focusedNode(screenReader.tree()) == "list item | Innenriks | "; }))
      << screenReader.tree();
  ASSERT_TRUE(press("Down Down Up"));
  EXPECT_TRUE(eventually([&] { return focusedNode(screenReader.tree()) == "list item | Utenriks | "; }))
      << screenReader.tree();
  ASSERT_TRUE(reader.run("screens")) << reader.output();
  const Region utenriks{120, 132, 390, 176};
  EXPECT_GT(pixelsOf(shoot(reader, "23-focus-ring-row"), utenriks, kFocusRing[0], kFocusRing[1], kFocusRing[2]), 40);
  ASSERT_TRUE(press("Return"));
  ASSERT_TRUE(reader.waitForLine("screen pushed: kNavBarVestavindSection \"Utenriks\"")) << reader.output();

  ASSERT_TRUE(reader.send("quit"));
  EXPECT_EQ(reader.closeInputAndWait(), 0) << reader.output();
}

TEST_F(NewsreaderWindow, ScreensMoveInAndOutUnlessTheDesktopAsksForLessMotionAndEndTheSameEitherWay) {
  // The desktop's wish for less motion, as GTK reads it from its settings file.
  test_support::ScratchDirectory config;
  fs::create_directories(config.path() / "gtk-4.0");
  std::ofstream(config.path() / "gtk-4.0" / "settings.ini") << "[Settings]\ngtk-enable-animations=false\n";

  const auto openArticle = [&](const test_support::NewsreaderProcess::Environment& environment, const std::string& shot,
                               const std::string& expected) {
    auto reader = startReader(environment);
    EXPECT_TRUE(reader.waitForLine("ready", std::chrono::seconds(120))) << reader.output();
    EXPECT_TRUE(reader.send("links"));
    const auto links = reader.waitForLine("links ");
    std::smatch article;
    EXPECT_TRUE(links && std::regex_search(*links, article, std::regex(R"(http://\S+/[a-z-]+/[0-9]+-\S+)")))
        << reader.output();
    EXPECT_TRUE(reader.run("tap " + article.str())) << reader.output();
    EXPECT_NE(reader.output().find(expected + "\nscreen pushed: kNavBarArticle"), std::string::npos) << reader.output();
    EXPECT_TRUE(reader.run("screens")) << reader.output();
    const auto image = shoot(reader, shot);
    // Back to the front page: a pop, moving the other way unless motion is spared.
    EXPECT_TRUE(reader.run("back")) << reader.output();
    EXPECT_TRUE(reader.run("screens")) << reader.output();
    const bool moving = expected.find("skipped") == std::string::npos;
    EXPECT_EQ(reader.output().find("transition push fromLeft\nscreen popped: kNavBarArticle") != std::string::npos, moving)
        << reader.output();
    EXPECT_TRUE(reader.send("quit"));
    EXPECT_EQ(reader.closeInputAndWait(), 0) << reader.output();
    return image;
  };
  const auto moved = openArticle({}, "24-article-moved-in", "transition moveIn fromRight");
  const auto still = openArticle({{"XDG_CONFIG_HOME", config.path().string()}}, "25-article-without-motion",
                                 "transition moveIn fromRight skipped (less motion)");
  EXPECT_LT(changed(moved, still, {0, 0, 390, 844}), 0.02) << "the end state differs";
}

TEST_F(NewsreaderWindow, AtTwiceTheDensityTheImagesMadeForItAreDrawn) {
  const auto imagesDrawn = [&](const test_support::NewsreaderProcess::Environment& environment) {
    auto reader = startReader(environment);
    EXPECT_TRUE(reader.waitForLine("ready", std::chrono::seconds(120))) << reader.output();
    EXPECT_TRUE(reader.run("screens")) << reader.output();
    EXPECT_TRUE(reader.send("images"));
    const std::string images = reader.waitForLine("images").value_or("");
    EXPECT_TRUE(reader.send("quit"));
    EXPECT_EQ(reader.closeInputAndWait(), 0) << reader.output();
    return images;
  };
  const std::string sharp = imagesDrawn({{"GDK_SCALE", "2"}});
  EXPECT_NE(sharp.find(" menu_white@2x.png"), std::string::npos) << sharp;
  EXPECT_EQ(sharp.find(" menu_white.png"), std::string::npos) << sharp;
  const std::string plain = imagesDrawn({{"GDK_SCALE", "1"}});
  EXPECT_NE(plain.find(" menu_white.png"), std::string::npos) << plain;
  EXPECT_EQ(plain.find("@2x"), std::string::npos) << plain;
}

// A text or an image the window's last frame drew, as the reader lists them.
struct DrawnPart {
  std::string kind;
  double x = 0, y = 0, width = 0, height = 0;
  std::string what;
};

std::vector<DrawnPart> drawnParts(test_support::NewsreaderProcess& reader) {
  std::vector<DrawnPart> parts;
  if (!reader.send("parts")) return parts;
  const auto line = reader.waitForLine("parts");
  if (!line) return parts;
  std::istringstream listed(*line);
  std::string entry;
  while (std::getline(listed, entry, '|')) {
    std::istringstream fields(entry);
    DrawnPart part;
    if (!(fields >> part.kind >> part.x >> part.y >> part.width >> part.height)) continue;
    std::getline(fields >> std::ws, part.what);
    parts.push_back(part);
  }
  return parts;
}

std::string describe(const DrawnPart& part) {
  std::ostringstream text;
  text << part.kind << " \"" << part.what << "\" at " << part.x << "," << part.y << " " << part.width << "x"
       << part.height;
  return text.str();
}

// What is wrong with the top bar's texts and images in a window `width`
// wide: any two that cover each other, or one outside the window.
std::vector<std::string> barFaults(const std::vector<DrawnPart>& parts, double width) {
  constexpr double kBarBottom = 44;
  std::vector<DrawnPart> bar;
  for (const DrawnPart& part : parts) {
    if (part.y < kBarBottom) bar.push_back(part);
  }
  std::vector<std::string> faults;
  for (std::size_t i = 0; i < bar.size(); ++i) {
    if (bar[i].x < 0 || bar[i].x + bar[i].width > width) faults.push_back("outside: " + describe(bar[i]));
    for (std::size_t j = i + 1; j < bar.size(); ++j) {
      const double across = std::min(bar[i].x + bar[i].width, bar[j].x + bar[j].width) - std::max(bar[i].x, bar[j].x);
      const double down = std::min(bar[i].y + bar[i].height, bar[j].y + bar[j].height) - std::max(bar[i].y, bar[j].y);
      if (across > 0 && down > 0) faults.push_back("overlap: " + describe(bar[i]) + " and " + describe(bar[j]));
    }
  }
  if (bar.empty()) faults.push_back("nothing drawn in the bar");
  return faults;
}

TEST_F(NewsreaderWindow, TheBarsTextsAndIconsNeverCoverEachOtherAtAnyWidth) {
  // The window manager holds the window to its smallest size.
  test_support::NewsreaderProcess windowManager("/usr/bin/openbox", {"--sm-disable"});
  auto reader = startReader();
  ASSERT_TRUE(reader.waitForLine("ready", std::chrono::seconds(120))) << reader.output();
  const std::string window = windowOf(reader.pid());
  ASSERT_FALSE(window.empty()) << "the reader's window is not on the display";
  // The home screen, a section and an article each dress the bar their own way.
  // Narrower than 280 points the window holds at 280.
  const auto checkWidths = [&](const std::string& screen) {
    for (int width : {200, 280, 320, 360, 390, 600, 1024}) {
      ASSERT_TRUE(xdotool("windowsize --sync " + window + " " + std::to_string(width) + " 700"));
      ASSERT_TRUE(reader.run("screens")) << reader.output();
      const std::string name = "30-bar-" + screen + "-" + std::to_string(width);
      const fs::path path = screenshots_ / (name + ".png");
      ASSERT_TRUE(reader.run("screenshot " + path.string())) << reader.output();
      const auto shot = gtk::readPng(path.string());
      ASSERT_TRUE(shot) << path;
      EXPECT_EQ(shot->width, std::max(width, 280)) << name;
      for (const std::string& fault : barFaults(drawnParts(reader), shot->width)) ADD_FAILURE() << name << ": " << fault;
    }
    ASSERT_TRUE(xdotool("windowsize --sync " + window + " 390 844"));
  };
  checkWidths("home");
  ASSERT_TRUE(reader.run("open")) << reader.output();
  ASSERT_TRUE(reader.run("select 3")) << reader.output();
  checkWidths("section");
  ASSERT_TRUE(reader.send("links"));
  const auto links = reader.waitForLine("links ");
  ASSERT_TRUE(links) << reader.output();
  std::smatch article;
  ASSERT_TRUE(std::regex_search(*links, article, std::regex(R"(http://\S+/[a-z-]+/[0-9]+-\S+)"))) << *links;
  ASSERT_TRUE(reader.run(R"(push {"aps": {"alert": "Ny sak"}, "url": ")" + article.str() + R"("})")) << reader.output();
  ASSERT_TRUE(reader.run("answer 1")) << reader.output();
  ASSERT_NE(reader.output().find("screen pushed: kNavBarArticle"), std::string::npos) << reader.output();
  checkWidths("article");

  ASSERT_TRUE(reader.send("quit"));
  EXPECT_EQ(reader.closeInputAndWait(), 0) << reader.output();
}

}  // namespace
