#include "control_channel.hpp"

#include <glib-unix.h>
#include <gtk/gtk.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <sstream>

#include "app/app_delegate.hpp"
#include "app/sidebar_view_controller.hpp"
#include "app/terminal_command.hpp"
#include "app/terminal_report.hpp"
#include "app/view_controller.hpp"
#include "canvas.hpp"
#include "front_end.hpp"
#include "platform/ui/alert_view.hpp"
#include "platform/ui/application.hpp"
#include "platform/ui/control.hpp"
#include "platform/ui/navigation_controller.hpp"
#include "reveal/reveal_controller.hpp"

namespace gtk {

namespace ui = platform::ui;
namespace term = app::terminal;

namespace {

// A command is answered once things are still for this long...
constexpr double kQuietSeconds = 0.3;
// ...or after this long in any case.
constexpr double kSettleLimitSeconds = 20;

template <class... Ts>
struct Overloaded : Ts... {
  using Ts::operator()...;
};
template <class... Ts>
Overloaded(Ts...) -> Overloaded<Ts...>;

using term::quoted;

std::string describeScreen(ui::ViewController& controller) {
  if (auto* screen = dynamic_cast<app::ViewController*>(&controller)) {
    return (screen->navType().empty() ? std::string("-") : screen->navType()) + " " + quoted(screen->navTitle()) + " " +
           (screen->url().empty() ? std::string("-") : screen->url());
  }
  if (auto* level = dynamic_cast<app::SidebarViewController*>(&controller)) {
    return "menu " + quoted(level->navTitle()) + " (" + std::to_string(level->data().size()) + " rows)";
  }
  return "screen " + quoted(controller.title());
}

class StackObserver final : public ui::NavigationControllerDelegate {
 public:
  StackObserver(std::string label, std::function<void(const std::string&)> print)
      : label_(std::move(label)), print_(std::move(print)) {}
  void didPush(ui::NavigationController&, ui::ViewController& pushed, bool) override {
    print_(label_ + " pushed: " + describeScreen(pushed));
  }
  void didPop(ui::NavigationController&, const std::vector<std::shared_ptr<ui::ViewController>>& popped, bool) override {
    for (const auto& controller : popped) print_(label_ + " popped: " + describeScreen(*controller));
  }
  void didReplaceStack(ui::NavigationController& navigation, bool) override {
    print_(label_ + " replaced: " + std::to_string(navigation.viewControllers().size()) + " left");
  }

 private:
  std::string label_;
  std::function<void(const std::string&)> print_;
};

ui::ApplicationState stateNamed(const std::string& name) {
  if (name == "active") return ui::ApplicationState::Active;
  if (name == "background") return ui::ApplicationState::Background;
  return ui::ApplicationState::Inactive;
}

ui::Point centreOf(const ui::Rect& rect) { return {rect.x() + rect.width() / 2, rect.y() + rect.height() / 2}; }

}  // namespace

struct ControlChannel::Impl {
  FrontEnd& frontEnd;
  std::shared_ptr<app::AppDelegate> delegate;
  std::ostream& out;
  std::function<void(int)> quit;
  std::shared_ptr<StackObserver> frontObserver;
  std::shared_ptr<StackObserver> sidebarObserver;
  std::string input;
  std::deque<std::string> queue;
  bool busy = false;
  guint watch = 0;
  guint settleTimer = 0;
  double settleStarted = 0;
  double quietSince = 0;
  std::function<void()> whenSettled;
  std::string lastLoadState;

  Impl(FrontEnd& frontEnd, std::shared_ptr<app::AppDelegate> delegate, std::ostream& out, std::function<void(int)> quit)
      : frontEnd(frontEnd), delegate(std::move(delegate)), out(out), quit(std::move(quit)) {}

  void print(const std::string& line) { out << line << std::endl; }

  std::shared_ptr<reveal::RevealController> container() const { return delegate->revealController(); }

  std::shared_ptr<ui::NavigationController> sidebarNavigation() const {
    auto c = container();
    return c ? std::dynamic_pointer_cast<ui::NavigationController>(c->rightViewController()) : nullptr;
  }

  std::shared_ptr<app::ViewController> topScreen() const {
    auto front = delegate->navController();
    return front ? std::dynamic_pointer_cast<app::ViewController>(front->topViewController()) : nullptr;
  }

  bool settled() const {
    if (frontEnd.isAnimating()) return false;
    auto screen = topScreen();
    return !screen || !screen->webView() || !screen->webView()->isLoading();
  }

  // Runs `then` once the window has been still for a moment.
  void settleThen(std::function<void()> then) {
    whenSettled = std::move(then);
    settleStarted = canvasClock();
    quietSince = -1;
    if (settleTimer) return;
    settleTimer = g_timeout_add(50, +[](gpointer data) -> gboolean {
      auto* self = static_cast<Impl*>(data);
      const double now = canvasClock();
      const bool still = self->settled();
      if (!still) self->quietSince = -1;
      if (still && self->quietSince < 0) self->quietSince = now;
      const bool quietEnough = still && now - self->quietSince >= kQuietSeconds;
      if (!quietEnough && now - self->settleStarted < kSettleLimitSeconds) return G_SOURCE_CONTINUE;
      self->settleTimer = 0;
      self->reportPage();
      if (auto then = std::exchange(self->whenSettled, nullptr)) then();
      return G_SOURCE_REMOVE;
    }, this);
  }

  // The page of the top screen, whenever it changed since the last report.
  void reportPage() {
    auto screen = topScreen();
    if (!screen || !screen->webView()) return;
    const std::string url = screen->webView()->stringByEvaluatingJavaScript("window.location.href");
    const std::string title = screen->webView()->stringByEvaluatingJavaScript("document.title");
    const std::string state = url + "\n" + title;
    if (state == lastLoadState) return;
    lastLoadState = state;
    print("page " + url + " title " + quoted(title));
  }

  void observeStacks() {
    auto printer = [this](const std::string& line) { print(line); };
    frontObserver = std::make_shared<StackObserver>("screen", printer);
    sidebarObserver = std::make_shared<StackObserver>("menu level", printer);
    if (auto front = delegate->navController()) front->setDelegate(frontObserver);
    if (auto sidebar = sidebarNavigation()) sidebar->setDelegate(sidebarObserver);
  }

  void readInput() {
    char chunk[4096];
    const ssize_t count = ::read(STDIN_FILENO, chunk, sizeof chunk);
    if (count <= 0) {
      // No more commands; the window stays until it is closed.
      if (!input.empty()) queue.push_back(std::exchange(input, {}));
      watch = 0;
    } else {
      input.append(chunk, std::size_t(count));
      for (auto end = input.find('\n'); end != std::string::npos; end = input.find('\n')) {
        queue.push_back(input.substr(0, end));
        input.erase(0, end + 1);
      }
    }
    next();
  }

  void next() {
    if (busy || queue.empty()) return;
    busy = true;
    const std::string line = queue.front();
    queue.pop_front();
    auto finish = [this, line] {
      print("done " + line);
      busy = false;
      next();
    };
    std::string path;
    if (isScreenshot(line, path)) {
      settleThen([this, path, finish] { shoot(path, finish); });
      return;
    }
    if (!executeLine(line)) return;
    settleThen(finish);
  }

  void shoot(const std::string& path, std::function<void()> finish) {
    frontEnd.saveScreenshot(path, [this, path, finish](bool saved) {
      print(saved ? "screenshot saved " + path : "error: no screenshot at " + path);
      settleThen(finish);
    });
  }

  static bool isScreenshot(const std::string& line, std::string& path) {
    std::istringstream words(line);
    std::string verb;
    words >> verb;
    if (verb != "screenshot") return false;
    std::getline(words >> std::ws, path);
    return true;
  }

  // Taps the item a predicate picks, through the canvas; false when none is shown.
  bool tapItem(const std::function<bool(const DisplayItem&)>& pick) {
    const auto items = frontEnd.canvas().items();
    for (auto it = items.rbegin(); it != items.rend(); ++it) {
      if (pick(*it)) return frontEnd.canvas().tapAt(centreOf(it->rect.intersection(it->clip)));
    }
    return false;
  }

  bool executeLine(const std::string& line) {
    std::istringstream words(line);
    std::string verb;
    words >> verb;
    if (verb == "links") {
      auto screen = topScreen();
      if (!screen || !screen->webView()) return print("error: no content screen"), true;
      print("links " + screen->webView()->stringByEvaluatingJavaScript(
                           "Array.from(document.links).map(function(a){return a.href;}).join(' ')"));
      return true;
    }
    if (verb == "selection") {
      auto screen = topScreen();
      if (!screen || !screen->webView()) return print("error: no content screen"), true;
      print("selection " + screen->webView()->stringByEvaluatingJavaScript("String(window.getSelection())"));
      return true;
    }
    if (verb == "parts") {
      // One "kind x y width height what" per part, " | " between them.
      std::string listed;
      for (const DrawnPart& part : frontEnd.canvas().drawnParts()) {
        std::string what = part.what;
        std::replace(what.begin(), what.end(), '|', '/');
        listed += (listed.empty() ? " " : " | ") + std::string(part.kind == DrawnPart::Kind::Text ? "text" : "image") +
                  " " + std::to_string(std::lround(part.rect.x())) + " " + std::to_string(std::lround(part.rect.y())) +
                  " " + std::to_string(std::lround(part.rect.width())) + " " +
                  std::to_string(std::lround(part.rect.height())) + " " + what;
      }
      print("parts" + listed);
      return true;
    }
    if (verb == "images") {
      // The image files the last frame drew, which tell the density chosen.
      std::string names;
      for (const std::string& name : frontEnd.canvas().drawnImages()) names += " " + name;
      print("images" + names);
      return true;
    }
    if (verb == "scroll") {
      // Where the page is scrolled to, and where the model thinks it is.
      auto screen = topScreen();
      if (!screen || !screen->webView()) return print("error: no content screen"), true;
      const ui::Point model = screen->webView()->scrollView().contentOffset();
      print("scroll page " + screen->webView()->stringByEvaluatingJavaScript("Math.round(window.scrollY)") + " model " +
            std::to_string(long(model.y)));
      return true;
    }
    if (verb == "touchpad") {
      double x = 0;
      double y = 0;
      double dx = 0;
      double dy = 0;
      if (!(words >> x >> y >> dx >> dy)) return print("error: touchpad takes X Y DX DY"), true;
      print(frontEnd.canvas().touchpadScroll({x, y}, dx, dy) ? "touchpad moved the panels" : "touchpad left to the page");
      return true;
    }
    if (verb == "tap") {
      double x = 0;
      double y = 0;
      if (words >> x >> y) {
        print(frontEnd.canvas().tapAt({x, y}) ? "tapped" : "nothing to tap there");
        return true;
      }
    }
    auto parsed = term::parseCommand(line);
    if (auto* error = std::get_if<term::ParseError>(&parsed)) {
      if (!error->message.empty()) print("error: " + error->message);
      return true;
    }
    return execute(std::get<term::Command>(parsed));
  }

  bool perform(Shortcut shortcut) {
    auto c = container();
    const auto alerts = ui::AlertView::visibleAlerts();
    switch (shortcut) {
      case Shortcut::Dismiss:
        if (!alerts.empty()) {
          const int cancel = alerts.back()->cancelButtonIndex();
          return cancel >= 0 && alerts.back()->dismissWithClickedButtonIndex(cancel);
        }
        if (!c || c->focusedController() == c->frontViewController()) return false;
        c->showViewController(c->frontViewController());
        return true;
      case Shortcut::Accept:
        // The default button is the last one: "Les mer", or the only "Ok".
        return !alerts.empty() && alerts.back()->dismissWithClickedButtonIndex(alerts.back()->numberOfButtons() - 1);
      case Shortcut::ToggleMenu:
        if (!c) return false;
        c->showViewController(c->focusedController() == c->rightViewController() ? c->frontViewController()
                                                                                  : c->rightViewController());
        return true;
      case Shortcut::Search: {
        auto sidebar = sidebarNavigation();
        if (!c || !sidebar) return false;
        sidebar->popToRootViewController(false);
        c->showViewController(c->rightViewController());
        frontEnd.canvas().focusSearchField();
        return true;
      }
      case Shortcut::WebBack: return execute(term::WebBack{}), true;
      case Shortcut::WebForward: return execute(term::WebForward{}), true;
      case Shortcut::Home: return execute(term::GoHome{}), true;
      default: return false;
    }
  }

  bool execute(const term::Command& command) {
    ui::Application& application = ui::Application::shared();
    auto c = container();
    auto sidebar = sidebarNavigation();
    auto level = sidebar ? std::dynamic_pointer_cast<app::SidebarViewController>(sidebar->topViewController()) : nullptr;
    auto screen = topScreen();
    bool keepGoing = true;
    auto needScreen = [&] {
      if (!screen) print("error: no content screen (the reader started without network)");
      return screen != nullptr;
    };
    std::visit(
        Overloaded{
            [&](const term::ListMenu&) {
              if (!level) return print("error: no sidebar");
              for (const std::string& line : term::menuListing(*level)) print(line);
            },
            [&](const term::OpenSidebar&) {
              // The menu button on the bar, as a person would press it.
              const bool tapped = tapItem([](const DisplayItem& item) {
                auto button = std::dynamic_pointer_cast<ui::Button>(item.view.lock());
                return button && button->titleForState(ui::kControlStateNormal) == " MENY";
              });
              if (!tapped && c) c->showViewController(c->rightViewController());
            },
            [&](const term::SelectRow& select) {
              if (!level) return print("error: no sidebar");
              const bool tapped = tapItem([&](const DisplayItem& item) {
                return item.kind == ItemKind::TableRow && item.row == select.row &&
                       item.view.lock().get() == level->tableView();
              });
              if (tapped) return;
              if (select.row >= int(level->data().size())) return print("error: no row " + std::to_string(select.row));
              level->view();
              level->tableView()->tapRow({0, select.row});
            },
            [&](const term::BackMenu&) {
              if (!level) return print("error: no sidebar");
              level->goBack();
            },
            [&](const term::Search& search) {
              if (!sidebar || sidebar->viewControllers().empty()) return print("error: no sidebar");
              auto root = std::dynamic_pointer_cast<app::SidebarViewController>(sidebar->viewControllers().front());
              if (!root || !root->searchBar()) return print("error: no search field");
              root->searchBar()->type(search.text);
              root->searchBar()->tapSearchButton();
            },
            [&](const term::TapLink& tap) {
              if (needScreen()) screen->webView()->followLink(tap.url);
            },
            [&](const term::WebBack&) {
              if (needScreen()) screen->webGoBack();
            },
            [&](const term::WebForward&) {
              if (needScreen()) screen->webGoForward();
            },
            [&](const term::GoHome&) {
              if (needScreen()) screen->goHome();
            },
            [&](const term::TapLogo&) {
              if (needScreen()) screen->loadHome();
            },
            [&](const term::Refresh&) {
              if (!needScreen()) return;
              if (auto refresh = screen->webView()->scrollView().refreshControl()) refresh->pull();
            },
            [&](const term::Share&) {
              if (needScreen()) screen->sharePage();
            },
            [&](const term::Pan& pan) {
              if (!c) return;
              const ui::Rect bounds = c->view()->bounds();
              frontEnd.canvas().dragFrom(centreOf(bounds), pan.dx, pan.velocity);
            },
            [&](const term::DeliverToken& token) { application.deliverDeviceToken(token.bytes); },
            [&](const term::DeliverPush& push) { application.deliverRemoteNotification(push.payload); },
            [&](const term::AnswerAlert& answer) {
              const auto alerts = ui::AlertView::visibleAlerts();
              if (alerts.empty()) return print("error: no alert is open");
              if (!alerts.back()->dismissWithClickedButtonIndex(answer.button)) {
                print("error: the alert has no button " + std::to_string(answer.button));
              }
            },
            [&](const term::SetState& state) {
              application.setState(stateNamed(state.state));
              print("application state " + state.state);
            },
            [&](const term::ListScreens&) {
              auto front = delegate->navController();
              if (!front) return print("error: no content screen");
              int index = 0;
              for (const auto& controller : front->viewControllers()) {
                print("  " + std::to_string(index++) + " " + describeScreen(*controller));
              }
            },
            [&](const term::Quit&) {
              application.terminate();
              keepGoing = false;
              quit(0);
            },
            [&](const term::Help&) { out << term::usage(term::Surface::Window) << std::flush; },
        },
        command);
    return keepGoing;
  }
};

ControlChannel::ControlChannel(FrontEnd& frontEnd, std::shared_ptr<app::AppDelegate> delegate, std::ostream& out,
                               std::function<void(int)> quit)
    : impl_(std::make_unique<Impl>(frontEnd, std::move(delegate), out, std::move(quit))) {
  frontEnd.setReporter([impl = impl_.get()](const std::string& line) { impl->print(line); });
}

ControlChannel::~ControlChannel() {
  stop();
  impl_->frontEnd.setReporter(nullptr);
}

bool ControlChannel::perform(Shortcut shortcut) { return impl_->perform(shortcut); }

void ControlChannel::start() {
  impl_->observeStacks();
  impl_->busy = true;
  impl_->settleThen([impl = impl_.get()] {
    impl->print("ready (type help for the commands)");
    impl->busy = false;
    impl->watch = g_unix_fd_add(STDIN_FILENO, GIOCondition(G_IO_IN | G_IO_HUP | G_IO_ERR),
                                +[](gint, GIOCondition, gpointer data) -> gboolean {
                                  auto* self = static_cast<Impl*>(data);
                                  self->readInput();
                                  return self->watch != 0 ? G_SOURCE_CONTINUE : G_SOURCE_REMOVE;
                                },
                                impl);
    impl->next();
  });
}

void ControlChannel::stop() {
  if (impl_->watch) g_source_remove(impl_->watch);
  impl_->watch = 0;
  if (impl_->settleTimer) g_source_remove(impl_->settleTimer);
  impl_->settleTimer = 0;
  impl_->queue.clear();
}

}  // namespace gtk
