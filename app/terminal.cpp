#include "app/terminal.hpp"

#include <chrono>
#include <sstream>

#include "app/app_delegate.hpp"
#include "app/services.hpp"
#include "app/sidebar_view_controller.hpp"
#include "app/terminal_report.hpp"
#include "app/view_controller.hpp"
#include "platform/executor.hpp"
#include "platform/run_loop.hpp"
#include "platform/ui/alert_view.hpp"
#include "platform/ui/application.hpp"
#include "platform/ui/headless_toolkit.hpp"
#include "platform/ui/navigation_controller.hpp"
#include "reveal/reveal_controller.hpp"

namespace app::terminal {

namespace ui = platform::ui;

namespace {

std::string describeScreen(const ui::ViewController& controller) {
  if (auto* screen = dynamic_cast<const ViewController*>(&controller)) {
    std::string url = screen->url();
    if (screen->webView() && !screen->webView()->request().url().empty()) url = screen->webView()->request().url();
    return (screen->navType().empty() ? std::string("-") : screen->navType()) + " " + quoted(screen->navTitle()) + " " +
           (url.empty() ? std::string("-") : url);
  }
  if (auto* level = dynamic_cast<const SidebarViewController*>(&controller)) {
    return "menu " + quoted(level->navTitle()) + " (" + std::to_string(level->data().size()) + " rows)";
  }
  return "screen " + quoted(controller.title());
}

const char* stateName(reveal::RevealState state) {
  switch (state) {
    case reveal::kRevealStateFocusLeft: return "left side open";
    case reveal::kRevealStateFocusRight: return "sidebar open";
    case reveal::kRevealStateFocusFront: return "front";
    case reveal::kRevealStatePresentLeft: return "presenting left side";
    case reveal::kRevealStatePresentRight: return "presenting sidebar";
  }
  return "unknown";
}

// Forwards to the headless toolkit and reports what a person would see.
class TerminalToolkit final : public ui::Toolkit {
 public:
  explicit TerminalToolkit(std::function<void(const std::string&)> print) : print_(std::move(print)) {}

  std::shared_ptr<ui::WebView> makeWebView(ui::Rect frame) override {
    return ui::HeadlessToolkit::shared().makeWebView(frame);
  }
  void animate(const ui::AnimationRequest& request, std::function<void()> animations,
               std::function<void(bool)> completion) override {
    ui::HeadlessToolkit::shared().animate(request, std::move(animations), std::move(completion));
  }
  void alertDidShow(ui::AlertView& alert) override {
    std::string line = "alert shown: tag " + std::to_string(alert.tag()) + " " + quoted(alert.title()) + " " +
                       quoted(alert.message()) + " buttons:";
    for (int i = 0; i < alert.numberOfButtons(); ++i) line += " " + std::to_string(i) + "=" + quoted(alert.buttonTitleAtIndex(i));
    print_(line);
  }
  void alertDidDismiss(ui::AlertView& alert) override { print_("alert dismissed: tag " + std::to_string(alert.tag())); }
  void didPresent(ui::ViewController& presenter, ui::ViewController& presented, bool animated) override {
    ui::HeadlessToolkit::shared().didPresent(presenter, presented, animated);
    if (auto* sheet = dynamic_cast<ui::ActivityViewController*>(&presented)) {
      std::string line = "share sheet:";
      for (const std::string& item : sheet->activityItems()) line += " " + quoted(item);
      print_(line);
      // Printing is the whole sheet here: it closes, ready for the next share.
      std::weak_ptr<ui::ViewController> weak = presenter.weak_from_this();
      platform::mainQueue().post([weak] {
        if (auto owner = weak.lock()) owner->dismissViewController(false);
      });
    }
  }

 private:
  std::function<void(const std::string&)> print_;
};

// Reports what a tracker is given, then hands it on.
class PrintingTracker final : public analytics::Tracker {
 public:
  PrintingTracker(std::shared_ptr<analytics::Tracker> inner, std::function<void(const std::string&)> print)
      : inner_(std::move(inner)), print_(std::move(print)) {}

  void set(const std::string& name, const platform::Value& value) override {
    if (name == "&sc" && value.isString()) print_("session mark " + value.asString());
    inner_->set(name, value);
  }
  std::optional<std::string> get(const std::string& name) override { return inner_->get(name); }
  void send(const analytics::ParameterMap& parameters) override {
    printHit(parameters);
    inner_->send(parameters);
  }
  const std::string& name() const override { return inner_->name(); }
  void anSet(const std::string& name, const platform::Value& value) override { inner_->anSet(name, value); }
  void anSend(const analytics::ParameterMap& parameters) override {
    printHit(parameters);
    inner_->anSend(parameters);
  }

 private:
  void printHit(const analytics::ParameterMap& parameters) {
    std::string line = "hit";
    for (const auto& [key, value] : parameters) line += " " + key + "=" + (value.isString() ? value.asString() : value.description());
    print_(line);
  }

  std::shared_ptr<analytics::Tracker> inner_;
  std::function<void(const std::string&)> print_;
};

class StackObserver final : public ui::NavigationControllerDelegate {
 public:
  StackObserver(std::string label, std::function<void(const std::string&)> print)
      : label_(std::move(label)), print_(std::move(print)) {}

  void didPush(ui::NavigationController&, ui::ViewController& pushed, bool animated) override {
    print_(label_ + " pushed: " + describeScreen(pushed));
  }
  void didPop(ui::NavigationController&, const std::vector<std::shared_ptr<ui::ViewController>>& popped,
              bool animated) override {
    for (const auto& controller : popped) print_(label_ + " popped: " + describeScreen(*controller));
  }
  void didReplaceStack(ui::NavigationController& navigation, bool animated) override {
    print_(label_ + " replaced: " + std::to_string(navigation.viewControllers().size()) + " left");
  }

 private:
  std::string label_;
  std::function<void(const std::string&)> print_;
};

}  // namespace

struct Terminal::Observers {
  std::unique_ptr<TerminalToolkit> toolkit;
  std::shared_ptr<StackObserver> front;
  std::shared_ptr<StackObserver> sidebar;
  std::optional<reveal::RevealState> lastState;
};

Terminal::Terminal(std::ostream& out) : out_(out), observers_(std::make_unique<Observers>()) {
  auto print = [this](const std::string& line) { this->print(line); };
  observers_->toolkit = std::make_unique<TerminalToolkit>(print);
  ui::setToolkit(observers_->toolkit.get());
  ui::HeadlessToolkit::shared().setLoadObserver([print](const ui::WebLoadEvent& event) {
    switch (event.kind) {
      case ui::WebLoadEvent::Kind::RequestSent: {
        const auto header = event.request.valueForHTTPHeaderField("vestavind_mobile_app");
        print(std::string(event.isFrame ? "frame request " : "request ") + event.request.url() +
              " vestavind_mobile_app=" + (header ? quoted(*header) : std::string("none")));
        break;
      }
      case ui::WebLoadEvent::Kind::Finished:
        print(std::string(event.isFrame ? "frame loaded " : "loaded ") + event.request.url() + " status " +
              std::to_string(event.httpStatus) + " title " + quoted(event.title));
        break;
      case ui::WebLoadEvent::Kind::Failed:
        print("load failed " + event.request.url() + ": " + event.errorMessage);
        break;
    }
  });
  Services::analyticsClient().setTrackerFactory(
      [print](std::shared_ptr<analytics::DispatchSender> dispatcher, const std::string& name)
          -> std::shared_ptr<analytics::Tracker> {
        std::shared_ptr<analytics::Tracker> inner = analytics::makeTracker(std::move(dispatcher), name);
        if (!inner) return nullptr;
        return std::make_shared<PrintingTracker>(std::move(inner), print);
      });
}

Terminal::~Terminal() {
  ui::HeadlessToolkit::shared().setLoadObserver(nullptr);
  ui::setToolkit(nullptr);
}

void Terminal::print(const std::string& line) { out_ << line << std::endl; }

void Terminal::launch(const platform::Value& launchOptions) {
  delegate_ = std::make_shared<AppDelegate>([this](int status) {
    ended_ = true;
    exitStatus_ = status;
  });
  ui::Application& application = ui::Application::shared();
  application.setDelegate(delegate_);
  observers_->front = std::make_shared<StackObserver>("screen", [this](const std::string& line) { print(line); });
  observers_->sidebar = std::make_shared<StackObserver>("menu level", [this](const std::string& line) { print(line); });
  application.launch(launchOptions);
  if (const auto& navigation = delegate_->navController()) navigation->setDelegate(observers_->front);
  if (const auto& container = delegate_->revealController()) {
    if (auto sidebar = std::dynamic_pointer_cast<ui::NavigationController>(container->rightViewController())) {
      sidebar->setDelegate(observers_->sidebar);
    }
  }
  settle();
}

void Terminal::settle(double timeoutSeconds) {
  platform::RunLoop& loop = platform::RunLoop::main();
  // Delayed work other than animations gets the usual pause; animations are
  // waited for until they end, however late their timers run.
  loop.runFor(std::chrono::milliseconds(250));
  loop.runUntil(
      [this] {
        if (ui::HeadlessToolkit::shared().animationsInFlight() > 0) return false;
        if (!delegate_ || !delegate_->navController()) return true;
        auto top = std::dynamic_pointer_cast<ViewController>(delegate_->navController()->topViewController());
        return !top || !top->webView() || !top->webView()->isLoading();
      },
      std::chrono::milliseconds(static_cast<long>(timeoutSeconds * 1000)));
  loop.drain();
  if (const auto& container = delegate_ ? delegate_->revealController() : nullptr) {
    const reveal::RevealState state = container->state();
    if (observers_->lastState && *observers_->lastState != state) print(std::string("container: ") + stateName(state));
    observers_->lastState = state;
  }
}

namespace {

template <class... Ts>
struct Overloaded : Ts... {
  using Ts::operator()...;
};
template <class... Ts>
Overloaded(Ts...) -> Overloaded<Ts...>;

ui::ApplicationState stateNamed(const std::string& name) {
  if (name == "active") return ui::ApplicationState::Active;
  if (name == "background") return ui::ApplicationState::Background;
  return ui::ApplicationState::Inactive;
}

// Finds the rightward swipe recognizer of a sidebar level's table.
ui::SwipeGestureRecognizer* swipeOf(SidebarViewController& level) {
  if (!level.tableView()) return nullptr;
  for (const auto& recognizer : level.tableView()->gestureRecognizers()) {
    if (auto* swipe = dynamic_cast<ui::SwipeGestureRecognizer*>(recognizer.get())) return swipe;
  }
  return nullptr;
}

}  // namespace

bool Terminal::executeLine(std::string_view line) {
  auto parsed = parseCommand(line);
  if (auto* error = std::get_if<ParseError>(&parsed)) {
    if (!error->message.empty()) print("error: " + error->message);
    return !ended_;
  }
  return execute(std::get<Command>(parsed));
}

bool Terminal::execute(const Command& command) {
  ui::Application& application = ui::Application::shared();
  const std::shared_ptr<reveal::RevealController> container = delegate_ ? delegate_->revealController() : nullptr;
  const auto front = delegate_ ? delegate_->navController() : nullptr;
  auto sidebarNavigation =
      container ? std::dynamic_pointer_cast<ui::NavigationController>(container->rightViewController()) : nullptr;
  auto sidebarLevel = sidebarNavigation
                          ? std::dynamic_pointer_cast<SidebarViewController>(sidebarNavigation->topViewController())
                          : nullptr;
  auto screen = front ? std::dynamic_pointer_cast<ViewController>(front->topViewController()) : nullptr;

  // Commands that need the screens say so when an offline start left none.
  auto needScreen = [&]() {
    if (!screen) print("error: no content screen (the reader started without network)");
    return screen != nullptr;
  };
  auto needSidebar = [&]() {
    if (!sidebarLevel) print("error: no sidebar (the reader started without network)");
    return sidebarLevel != nullptr;
  };

  bool keepGoing = true;
  std::visit(
      Overloaded{
          [&](const ListMenu&) {
            if (!needSidebar()) return;
            for (const std::string& line : menuListing(*sidebarLevel)) print(line);
          },
          [&](const OpenSidebar&) {
            if (container) container->showViewController(container->rightViewController());
          },
          [&](const SelectRow& select) {
            if (!needSidebar()) return;
            sidebarLevel->view();
            if (select.row >= static_cast<int>(sidebarLevel->data().size())) {
              print("error: no row " + std::to_string(select.row));
              return;
            }
            sidebarLevel->tableView()->tapRow({0, select.row});
          },
          [&](const BackMenu&) {
            if (!needSidebar()) return;
            sidebarLevel->view();
            if (auto* swipe = swipeOf(*sidebarLevel)) swipe->swipe(ui::kSwipeDirectionRight);
          },
          [&](const Search& search) {
            if (!sidebarNavigation) {
              needSidebar();
              return;
            }
            // The field sits on the root level's bar.
            auto root = std::dynamic_pointer_cast<SidebarViewController>(sidebarNavigation->viewControllers().front());
            if (!root || !root->searchBar()) {
              print("error: no search field");
              return;
            }
            root->searchBar()->type(search.text);
            root->searchBar()->tapSearchButton();
          },
          [&](const TapLink& tap) {
            if (needScreen()) screen->webView()->followLink(tap.url);
          },
          [&](const WebBack&) {
            if (needScreen()) screen->webGoBack();
          },
          [&](const WebForward&) {
            if (needScreen()) screen->webGoForward();
          },
          [&](const GoHome&) {
            if (needScreen()) screen->goHome();
          },
          [&](const TapLogo&) {
            if (!needScreen()) return;
            if (screen->navType() != kNavBarVestavind) {
              print("error: the logo is on the home screen only");
              return;
            }
            screen->loadHome();
          },
          [&](const Refresh&) {
            if (!needScreen()) return;
            if (auto refresh = screen->webView()->scrollView().refreshControl()) refresh->pull();
          },
          [&](const Share&) {
            if (needScreen()) screen->sharePage();
          },
          [&](const Pan& pan) {
            if (!container) return;
            auto recognizer = container->revealPanGestureRecognizer();
            if (!recognizer || !recognizer->view()) {
              print("pan: the front does not take pans now");
              return;
            }
            const ui::Rect bounds = container->view()->bounds();
            const ui::Point start{bounds.width() / 2, bounds.height() / 2};
            // Moves of at most 10 points, as a finger's would arrive.
            const int steps = std::max(1, static_cast<int>(std::abs(pan.dx) / 10));
            recognizer->touchDown(start);
            for (int step = 1; step <= steps; ++step) {
              recognizer->touchMoved({start.x + pan.dx * step / steps, start.y}, {pan.velocity, 0});
            }
            recognizer->touchUp({start.x + pan.dx, start.y}, {pan.velocity, 0});
          },
          [&](const DeliverToken& token) { application.deliverDeviceToken(token.bytes); },
          [&](const DeliverPush& push) { application.deliverRemoteNotification(push.payload); },
          [&](const AnswerAlert& answer) {
            const auto alerts = ui::AlertView::visibleAlerts();
            if (alerts.empty()) {
              print("error: no alert is open");
              return;
            }
            if (!alerts.back()->dismissWithClickedButtonIndex(answer.button)) {
              print("error: the alert has no button " + std::to_string(answer.button));
            }
          },
          [&](const SetState& state) {
            application.setState(stateNamed(state.state));
            print(std::string("application state ") + state.state);
          },
          [&](const ListScreens&) {
            if (!front) {
              needScreen();
              return;
            }
            int index = 0;
            for (const auto& controller : front->viewControllers()) {
              print("  " + std::to_string(index++) + " " + describeScreen(*controller));
            }
          },
          [&](const Quit&) {
            application.terminate();
            keepGoing = false;
          },
          [&](const Help&) { out_ << usage() << std::flush; },
      },
      command);
  if (keepGoing && !ended_) settle();
  return keepGoing && !ended_;
}

}  // namespace app::terminal
