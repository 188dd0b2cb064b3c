#include "reader_program.hpp"

#include <poll.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "app/app_delegate.hpp"
#include "app/backend_installation.hpp"
#include "app/desktop_push.hpp"
#include "app/device_kind.hpp"
#include "app/http_get.hpp"
#include "app/services.hpp"
#include "app/terminal.hpp"
#include "app/window_memory.hpp"
#include "devserver/server.hpp"
#include "platform/command_line.hpp"
#include "platform/curl_setup.hpp"
#include "platform/executor.hpp"
#include "platform/reachability.hpp"
#include "platform/run_loop.hpp"
#include "platform/sandbox.hpp"
#include "platform/service_routing.hpp"
#include "platform/ui/application.hpp"
#include "platform/ui/window.hpp"
#include "platform/user_defaults.hpp"
#include "platform/url.hpp"

namespace reader {

namespace {

namespace ui = platform::ui;

struct Options {
  bool headless = false;
  std::string device = "phone";
  std::string services;
  std::string dataDir;
};

// The window sizes of the two layouts, in points.
constexpr ui::Size kPhoneWindow{390, 844};
constexpr ui::Size kTabletWindow{1024, 768};

// With every service host routed to one server, "the internet" the reader
// needs is that server: the internet route is answered with the flags of the
// routed host, so a machine without a default route still runs against
// local services.
class RoutedReachabilitySource final : public platform::ReachabilitySource {
 public:
  RoutedReachabilitySource(platform::ReachabilitySource& system, std::string routedHost)
      : system_(system), routedHost_(std::move(routedHost)) {}

  std::unique_ptr<platform::ReachabilityWatcher> createWatcher(const platform::ReachabilityTarget& target) override {
    if (target == platform::ReachabilityTarget::internet()) {
      return system_.createWatcher(platform::ReachabilityTarget::host(routedHost_));
    }
    return system_.createWatcher(target);
  }

 private:
  platform::ReachabilitySource& system_;
  std::string routedHost_;
};

void configureAnalytics() {
  analytics::Analytics::Configuration configuration;
  configuration.router = [](const std::string& url) {
    analytics::Route route{url, {}};
    if (auto routed = platform::ServiceRouting::shared().route(url)) {
      route.url = routed->url;
      route.extraHeaders.push_back("Host: " + routed->hostHeader);
    }
    return route;
  };
  analytics::Analytics::configureSharedInstance(std::move(configuration));
}

// Reads whole lines from stdin without blocking the main queue.
class LineReader {
 public:
  // The next complete line if one is ready within `waitMs`; nullopt otherwise.
  std::optional<std::string> next(int waitMs) {
    if (auto line = takeLine()) return line;
    if (eof_) {
      if (buffer_.empty()) return std::nullopt;
      return std::exchange(buffer_, {});
    }
    pollfd input{STDIN_FILENO, POLLIN, 0};
    if (::poll(&input, 1, waitMs) <= 0) return std::nullopt;
    char chunk[4096];
    const ssize_t count = ::read(STDIN_FILENO, chunk, sizeof chunk);
    if (count <= 0) {
      eof_ = true;
    } else {
      buffer_.append(chunk, static_cast<std::size_t>(count));
    }
    return takeLine();
  }
  bool finished() const { return eof_ && buffer_.empty(); }

 private:
  std::optional<std::string> takeLine() {
    const auto end = buffer_.find('\n');
    if (end == std::string::npos) return std::nullopt;
    std::string line = buffer_.substr(0, end);
    buffer_.erase(0, end + 1);
    return line;
  }

  std::string buffer_;
  bool eof_ = false;
};

int runTerminal() {
  app::terminal::Terminal terminal(std::cout);
  terminal.launch();
  app::DesktopPush push(terminal.delegate());
  push.start();
  std::cout << "ready (type help for the commands)" << std::endl;
  LineReader input;
  while (true) {
    if (auto line = input.next(50)) {
      if (!terminal.executeLine(*line)) break;
      continue;
    }
    if (input.finished()) {
      terminal.execute(app::terminal::Quit{});
      break;
    }
    platform::RunLoop::main().runFor(std::chrono::milliseconds(20));
  }
  return terminal.exitStatus();
}

}  // namespace

int runReader(int argc, char** argv, const WindowMode& windowMode) {
  Options options;
  CLI::App cli{"newsreader: the Vestavind news reader (a window, or the terminal where there is no display)"};
  cli.add_flag("--headless", options.headless, "run in the terminal even where a display exists");
  CLI::Option* device =
      cli.add_option("--device", options.device,
                     "phone (a 390 x 844 window) or tablet (1024 x 768); default: the layout used last, else phone")
          ->check(CLI::IsMember({"phone", "tablet"}));
  cli.add_option("--services", options.services,
                 "send every request for the reader's hosts to this base URL (default: start the local services)");
  cli.add_option("--data-dir", options.dataDir, "the sandbox directory");
  platform::addVersionFlag(cli, "newsreader");
  if (auto status = platform::parseCommandLine(cli, argc, argv)) return *status;

  bool window = false;
  if (!options.headless) {
    window = windowMode.available();
    if (!window) std::cerr << "newsreader: no display found; running in the terminal" << std::endl;
  }
  // After the hand-over to the window program, which sets them up itself.
  // The shared pools before anything else is made, so they outlive every
  // static that still posts to them while the process ends (statics end in
  // the reverse order of their making).
  platform::backgroundQueue();
  platform::lowPriorityQueue();
  // libcurl opens on a pool thread while the local services start; the first
  // request waits for it only if it is not ready by then.
  platform::backgroundQueue().post([] { platform::ensureCurlSetUp(); });

  if (!options.dataDir.empty()) platform::Sandbox::setRoot(options.dataDir);
  const app::RememberedWindow remembered = app::rememberedWindow(platform::UserDefaults::standard());
  app::DeviceKind deviceKind = app::parseDeviceKind(options.device).value_or(app::DeviceKind::Phone);
  if (device->count() == 0 && remembered.device) deviceKind = *remembered.device;
  const bool tablet = deviceKind == app::DeviceKind::Tablet;
  ui::Screen::main().setIdiom(tablet ? ui::UserInterfaceIdiom::Pad : ui::UserInterfaceIdiom::Phone);
  // The size the window had when last closed in this layout.
  ui::Size windowSize = tablet ? kTabletWindow : kPhoneWindow;
  if (remembered.size && remembered.device == deviceKind) windowSize = *remembered.size;
  if (window) ui::Screen::main().setBounds(ui::Rect(ui::Point{}, windowSize));
  std::optional<ui::Size> closedSize;

  std::unique_ptr<devserver::Server> server;
  std::string baseURL = options.services;
  try {
    if (baseURL.empty()) {
      server = std::make_unique<devserver::Server>(devserver::Server::Options{});
      server->start();
      baseURL = server->baseUrl();
      std::cout << "local services at " << baseURL << std::endl;
    }
    platform::ServiceRouting::shared().routeTo(baseURL);
  } catch (const std::exception& error) {
    std::cerr << "newsreader: cannot use the services at \"" << baseURL << "\": " << error.what() << std::endl;
    return platform::exit_status::kMisuse;
  }

  RoutedReachabilitySource reachability(platform::reachabilitySource(), platform::hostOf(baseURL));
  platform::setReachabilitySource(&reachability);
  configureAnalytics();
  auto backendClient = std::make_shared<app::BackendInstallation>();
  app::Services::shared().backend = backendClient;

  const int status = window ? windowMode.run(windowSize, closedSize) : runTerminal();
  app::rememberWindow(platform::UserDefaults::standard(), deviceKind, closedSize);
  // The provider registration may still wait for an answer; nobody needs it now.
  app::cancelOutstandingHttpGets();
  // The client's set-up runs behind start-up; let it end before the process
  // does, and give a save in flight a moment (one retrying against a lost
  // server is left behind).
  backendClient->finish(std::chrono::seconds(3));
  platform::setReachabilitySource(nullptr);
  if (server) server->stop();
  return status;
}

}  // namespace reader
