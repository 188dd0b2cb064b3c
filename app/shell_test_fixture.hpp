#pragma once
// Test support for the shell's screens: the publisher's sites on loopback
// (reached through service routing), a fresh sandbox, hand-set
// reachability, an analytics instance whose trackers record what they are
// given, and the application launched on the headless UI.

#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/app_delegate.hpp"
#include "app/local_installation.hpp"
#include "app/services.hpp"
#include "app/sidebar_view_controller.hpp"
#include "app/view_controller.hpp"
#include "platform/bundle.hpp"
#include "platform/json.hpp"
#include "platform/reachability.hpp"
#include "platform/run_loop.hpp"
#include "platform/sandbox.hpp"
#include "platform/service_routing.hpp"
#include "platform/ui/alert_view.hpp"
#include "platform/ui/application.hpp"
#include "platform/ui/headless_toolkit.hpp"
#include "platform/ui/window.hpp"
#include "reveal/reveal_controller.hpp"

namespace app::testing {

struct SeenRequest {
  std::string host;
  std::string target;  // path and query
  std::string appHeader;  // "vestavind_mobile_app", "" when absent
  bool hasAppHeader = false;
};

// Every publisher host on one loopback server. Pages are HTML whose title is
// host + path; "/frames..." pages hold two frames; "/redirect" answers 302.
class Sites {
 public:
  Sites() {
    server_.Get(".*", [this](const httplib::Request& request, httplib::Response& response) { answer(request, response); });
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    while (!server_.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ~Sites() {
    server_.stop();
    thread_.join();
  }

  std::string baseURL() const { return "http://127.0.0.1:" + std::to_string(port_); }

  void setMenuConfig(std::string json) {
    std::lock_guard lock(mutex_);
    menuConfig_ = std::move(json);
  }
  std::vector<SeenRequest> requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
  }
  std::vector<SeenRequest> requestsFor(const std::string& target) const {
    std::vector<SeenRequest> matching;
    for (const SeenRequest& seen : requests()) {
      if (seen.target == target) matching.push_back(seen);
    }
    return matching;
  }
  void clearRequests() {
    std::lock_guard lock(mutex_);
    requests_.clear();
  }

 private:
  void answer(const httplib::Request& request, httplib::Response& response) {
    std::string target = request.path;
    if (!request.params.empty()) target = request.target;
    std::string host = request.get_header_value("Host");
    std::string menu;
    {
      std::lock_guard lock(mutex_);
      requests_.push_back({host, target, request.get_header_value("vestavind_mobile_app"),
                           request.has_header("vestavind_mobile_app")});
      menu = menuConfig_;
    }
    if (request.path == "/iosapp/menuconfig/") {
      response.set_content(menu, "application/json");
      return;
    }
    std::string body = "<html><head><title>" + host + request.path + "</title></head><body>";
    if (request.path.rfind("/frames", 0) == 0) body += "<iframe src=\"/frame1\"></iframe><iframe src=\"/frame2\"></iframe>";
    body += "<a href=\"/article/1\">one</a></body></html>";
    response.set_content(body, "text/html");
  }

  httplib::Server server_;
  std::thread thread_;
  int port_ = 0;
  mutable std::mutex mutex_;
  std::string menuConfig_ = R"({"Vestavind": []})";
  std::vector<SeenRequest> requests_;
};

// Keeps what the shell gives a tracker, and hands it on to the real one.
class RecordingTracker final : public analytics::Tracker {
 public:
  explicit RecordingTracker(std::shared_ptr<analytics::Tracker> inner) : inner_(std::move(inner)) {}
  void set(const std::string& name, const platform::Value& value) override {
    if (name == "&sc") marks.push_back(value.isString() ? value.asString() : "");
    inner_->set(name, value);
  }
  std::optional<std::string> get(const std::string& name) override { return inner_->get(name); }
  void send(const analytics::ParameterMap& parameters) override {
    hits.push_back(parameters);
    inner_->send(parameters);
  }
  const std::string& name() const override { return inner_->name(); }

  std::vector<std::string> marks;
  std::vector<analytics::ParameterMap> hits;

  std::vector<std::string> screenNames() const {
    std::vector<std::string> names;
    for (const auto& hit : hits) names.push_back(hit.get("&cd").isString() ? hit.get("&cd").asString() : "");
    return names;
  }

 private:
  std::shared_ptr<analytics::Tracker> inner_;
};

class ShellTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = std::filesystem::temp_directory_path() /
            ("vv-app-" + std::to_string(::getpid()) + "-" + std::to_string(counter()++));
    std::filesystem::create_directories(root_);
    platform::Sandbox::setRoot(root_);
    platform::setReachabilitySource(&reachability);
    platform::ServiceRouting::shared().routeTo(sites.baseURL());
    platform::ui::Application::shared().reset();
    platform::ui::Screen::main().reset();

    analytics::Analytics::Configuration configuration;
    configuration.storeDirectory = root_ / "analytics";
    analyticsClient = std::make_unique<analytics::Analytics>(configuration);
    analyticsClient->setDryRun(true);
    analyticsClient->setTrackerFactory(
        [this](std::shared_ptr<analytics::DispatchSender> dispatcher, const std::string& name)
            -> std::shared_ptr<analytics::Tracker> {
          auto inner = analytics::TrackerImpl::create(std::move(dispatcher), name);
          if (!inner) return nullptr;
          tracker = std::make_shared<RecordingTracker>(std::move(inner));
          return tracker;
        });
    Services::shared().analytics = analyticsClient.get();
    Services::shared().backend = installation;
  }

  void TearDown() override {
    platform::ui::Application::shared().reset();
    for (const auto& alert : platform::ui::AlertView::visibleAlerts()) alert->dismissWithClickedButtonIndex(0, false);
    delegate.reset();
    platform::RunLoop::main().drain();
    Services::shared().analytics = nullptr;
    Services::shared().backend = nullptr;
    analyticsClient->reset();
    analyticsClient.reset();
    platform::ServiceRouting::shared().clear();
    platform::setReachabilitySource(nullptr);
    platform::Sandbox::setRoot({});
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }

  // Launches with a new delegate, then lets the first pages load.
  void launch(const platform::Value& launchOptions = platform::Value()) {
    delegate = std::make_shared<AppDelegate>([this](int status) { exitStatus = status; });
    platform::ui::Application::shared().setDelegate(delegate);
    platform::ui::Application::shared().launch(launchOptions);
    settle();
  }

  // Runs the main queue until animations are over and the front screen has
  // finished loading.
  void settle() {
    platform::RunLoop& loop = platform::RunLoop::main();
    loop.runFor(std::chrono::milliseconds(250));
    ASSERT_TRUE(loop.runUntil(
        [this] {
          auto screen = frontScreen();
          return !screen || !screen->webView() || !screen->webView()->isLoading();
        },
        std::chrono::seconds(20)));
    loop.drain();
  }

  std::shared_ptr<reveal::RevealController> container() const { return delegate->revealController(); }
  platform::ui::NavigationController& front() const { return *delegate->navController(); }
  std::shared_ptr<ViewController> frontScreen() const {
    if (!delegate || !delegate->navController()) return nullptr;
    return std::dynamic_pointer_cast<ViewController>(delegate->navController()->topViewController());
  }
  std::shared_ptr<platform::ui::NavigationController> sidebarNavigation() const {
    return std::dynamic_pointer_cast<platform::ui::NavigationController>(container()->rightViewController());
  }
  std::shared_ptr<SidebarViewController> sidebarLevel() const {
    return std::dynamic_pointer_cast<SidebarViewController>(sidebarNavigation()->topViewController());
  }

  Sites sites;
  platform::ManualReachabilitySource reachability;
  std::unique_ptr<analytics::Analytics> analyticsClient;
  std::shared_ptr<RecordingTracker> tracker;
  std::shared_ptr<LocalInstallation> installation = std::make_shared<LocalInstallation>();
  std::shared_ptr<AppDelegate> delegate;
  std::optional<int> exitStatus;

 private:
  static std::atomic<int>& counter() {
    static std::atomic<int> value{0};
    return value;
  }
  std::filesystem::path root_;
};

}  // namespace app::testing
