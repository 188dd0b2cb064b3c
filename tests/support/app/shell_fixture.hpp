#pragma once
// Test support for the shell's screens: the publisher's sites on loopback
// (reached through service routing), a fresh sandbox, hand-set
// reachability, an analytics instance whose trackers record what they are
// given, and the application launched on the headless UI.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/app_delegate.hpp"
#include "support/app/recording_backend.hpp"
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
#include "support/loopback_server.hpp"
#include "support/scratch_directory.hpp"

namespace app::testing {

struct SeenRequest {
  std::string host;
  std::string target;  // path and query
  std::string appHeader;  // "vestavind_mobile_app", "" when absent
  bool hasAppHeader = false;
};

// Every publisher host on one loopback server. Pages are HTML whose title is
// host + path; "/frames..." pages hold two frames; the menu configuration
// is what the test last set.
class Sites {
 public:
  Sites() {
    setMenuConfig(R"({"Vestavind": []})");
    server_.setHandler([](const httplib::Request& request, httplib::Response& response) {
      std::string body = "<html><head><title>" + request.get_header_value("Host") + request.path + "</title></head><body>";
      if (request.path.rfind("/frames", 0) == 0) body += "<iframe src=\"/frame1\"></iframe><iframe src=\"/frame2\"></iframe>";
      body += "<a href=\"/article/1\">one</a></body></html>";
      response.set_content(body, "text/html");
    });
  }

  std::string baseURL() const { return server_.url(); }

  void setMenuConfig(std::string json) { server_.page("/iosapp/menuconfig/", std::move(json), "application/json"); }
  std::vector<SeenRequest> requests() const {
    std::vector<SeenRequest> seen;
    for (const test_support::RecordedRequest& request : server_.requests()) {
      const bool hasQuery = request.target.size() > request.path.size() + 1;
      seen.push_back({request.header("Host"), hasQuery ? request.target : request.path,
                      request.header("vestavind_mobile_app"), request.hasHeader("vestavind_mobile_app")});
    }
    return seen;
  }
  std::vector<SeenRequest> requestsFor(const std::string& target) const {
    std::vector<SeenRequest> matching;
    for (const SeenRequest& seen : requests()) {
      if (seen.target == target) matching.push_back(seen);
    }
    return matching;
  }
  void clearRequests() { server_.clearRequests(); }

 private:
  test_support::LoopbackServer server_;
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
  void anSet(const std::string& name, const platform::Value& value) override { inner_->anSet(name, value); }
  void anSend(const analytics::ParameterMap& parameters) override { inner_->anSend(parameters); }

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
    platform::Sandbox::setRoot(root_.path());
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
          auto inner = analytics::makeTracker(std::move(dispatcher), name);
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
  std::shared_ptr<RecordingBackend> installation = std::make_shared<RecordingBackend>();
  std::shared_ptr<AppDelegate> delegate;
  std::optional<int> exitStatus;

 private:
  test_support::ScratchDirectory root_;
};

}  // namespace app::testing
