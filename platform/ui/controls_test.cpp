#include <gtest/gtest.h>

#include "platform/application_notifications.hpp"
#include "platform/notification_center.hpp"
#include "platform/ui/alert_view.hpp"
#include "platform/ui/application.hpp"
#include "platform/ui/control.hpp"
#include "platform/ui/gesture_recognizer.hpp"
#include "platform/ui/search_bar.hpp"
#include "platform/ui/table_view.hpp"
#include "platform/ui/url_request.hpp"

namespace platform::ui {
namespace {

TEST(Button, StatesFallBackToNormalAndTapsRunActions) {
  auto button = Button::create();
  button->setImage(Image("a.png", {20, 10}));
  button->setImage(Image("b.png", {20, 10}), kControlStateHighlighted);
  button->setTitle(" MENY");
  EXPECT_EQ(button->imageForState(kControlStateSelected).name(), "a.png");
  EXPECT_EQ(button->imageForState(kControlStateHighlighted).name(), "b.png");
  EXPECT_EQ(button->titleForState(kControlStateHighlighted), " MENY");
  int taps = 0;
  button->addAction(kControlEventTouchUpInside, [&](Control&) { ++taps; });
  button->addAction(kControlEventValueChanged, [&](Control&) { taps += 100; });
  button->tap();
  button->setEnabled(false);
  button->tap();
  EXPECT_EQ(taps, 1);
}

TEST(Image, OrientationTurnsTheSize) {
  const Image image("x.png", {40, 20}, 2.0);
  EXPECT_EQ(image.size(), (Size{20, 10}));
  EXPECT_EQ(image.withOrientation(ImageOrientation::Left).size(), (Size{10, 20}));
  EXPECT_EQ(image.withOrientation(ImageOrientation::Down).size(), (Size{20, 10}));
  EXPECT_EQ(image.withOrientation(ImageOrientation::Down).name(), "x.png");
  EXPECT_TRUE(Image().isNull());
  EXPECT_EQ(Image::named("no-such-image.png").size(), (Size{0, 0}));
  EXPECT_FALSE(Image::named("no-such-image.png").isNull());
}

class Menu : public TableViewDataSource, public TableViewDelegate {
 public:
  int numberOfRows(TableView&, int) override { return static_cast<int>(titles.size()); }
  std::shared_ptr<TableViewCell> cellForRow(TableView& table, IndexPath indexPath) override {
    auto cell = table.dequeueReusableCell("Row");
    if (!cell) {
      cell = TableViewCell::create(TableViewCellStyle::Default, "Row");
      ++created;
    }
    cell->textLabel().setText(titles[static_cast<std::size_t>(indexPath.row)]);
    return cell;
  }
  void didSelectRow(TableView&, IndexPath indexPath) override { selected.push_back(indexPath.row); }
  int indentationLevelForRow(TableView&, IndexPath) override { return 1; }

  std::vector<std::string> titles{"Nyheter", "Sport", "Kultur"};
  std::vector<int> selected;
  int created = 0;
};

TEST(TableView, RowsReuseCellsAndReportSelection) {
  auto menu = std::make_shared<Menu>();
  auto table = TableView::create(Rect(0, 0, 320, 480));
  table->setDataSource(menu);
  table->setDelegate(menu);
  EXPECT_EQ(table->numberOfSections(), 1);
  EXPECT_EQ(table->numberOfRows(0), 3);
  auto cells = table->visibleCells();
  ASSERT_EQ(cells.size(), 3u);
  EXPECT_EQ(cells[1]->textLabel().text(), "Sport");
  EXPECT_EQ(cells[1]->indentationLevel(), 1);
  EXPECT_EQ(cells[2]->frame().y(), 88);

  table->tapRow({0, 1});
  table->tapRow({0, 7});
  EXPECT_EQ(menu->selected, (std::vector<int>{1}));
  EXPECT_EQ(table->indexPathForSelectedRow(), (IndexPath{0, 1}));
  EXPECT_TRUE(cells[1]->isSelected());
  table->deselectRow({0, 1}, true);
  EXPECT_FALSE(table->indexPathForSelectedRow().has_value());
  EXPECT_FALSE(cells[1]->isSelected());

  menu->titles = {"Forside"};
  table->reloadData();
  EXPECT_EQ(table->cellForRow({0, 0})->textLabel().text(), "Forside");
  EXPECT_EQ(menu->created, 3);  // the reloaded row reused a cell
  EXPECT_EQ(table->cellForRow({0, 1}), nullptr);
}

TEST(TableView, WithoutDataSourceHasNoRows) {
  auto table = TableView::create();
  EXPECT_EQ(table->numberOfSections(), 0);
  EXPECT_TRUE(table->visibleCells().empty());
  table->tapRow({0, 0});
}

class SearchRecorder : public SearchBarDelegate {
 public:
  void searchBarSearchButtonClicked(SearchBar& bar) override { searches.push_back(bar.text()); }
  std::vector<std::string> searches;
};

TEST(SearchBar, TypingAndSearching) {
  auto delegate = std::make_shared<SearchRecorder>();
  auto bar = SearchBar::create();
  bar->setDelegate(delegate);
  bar->type("vær og vind");
  bar->tapSearchButton();
  EXPECT_EQ(delegate->searches, (std::vector<std::string>{"vær og vind"}));
  EXPECT_EQ(bar->text(), "vær og vind");
}

class AlertRecorder : public AlertViewDelegate {
 public:
  void alertViewClickedButtonAtIndex(AlertView& alert, int index) override {
    answers.emplace_back(alert.tag(), index);
    stillShown = alert.isVisible();
  }
  std::vector<std::pair<int, int>> answers;
  bool stillShown = true;
};

TEST(AlertView, ShownUntilAButtonIsPressed) {
  auto delegate = std::make_shared<AlertRecorder>();
  auto alert = AlertView::create("Vestavind", "Nyhet", delegate, "Lukk", {"Les mer"});
  alert->setTag(0);
  EXPECT_EQ(alert->numberOfButtons(), 2);
  EXPECT_EQ(alert->buttonTitleAtIndex(1), "Les mer");
  EXPECT_EQ(alert->cancelButtonIndex(), 0);
  alert->show();
  alert->show();
  ASSERT_EQ(AlertView::visibleAlerts().size(), 1u);
  EXPECT_FALSE(alert->dismissWithClickedButtonIndex(2));
  EXPECT_TRUE(alert->dismissWithClickedButtonIndex(1));
  EXPECT_EQ(delegate->answers, (std::vector<std::pair<int, int>>{{0, 1}}));
  EXPECT_FALSE(delegate->stillShown);
  EXPECT_TRUE(AlertView::visibleAlerts().empty());
  EXPECT_EQ(AlertView::create("t", "m", {}, std::nullopt)->cancelButtonIndex(), -1);
}

class Lifecycle : public ApplicationDelegate {
 public:
  bool didFinishLaunching(Application& app, const Value& options) override {
    events.push_back(app.state() == ApplicationState::Inactive ? "launch inactive" : "launch");
    return true;
  }
  void applicationWillResignActive(Application&) override { events.push_back("resign"); }
  void applicationDidEnterBackground(Application&) override { events.push_back("background"); }
  void applicationWillEnterForeground(Application&) override { events.push_back("foreground"); }
  void applicationDidBecomeActive(Application&) override { events.push_back("active"); }
  void didRegisterForRemoteNotifications(Application&, const std::vector<std::uint8_t>& token) override {
    events.push_back("token " + describeData(token));
  }
  void didReceiveRemoteNotification(Application&, const Value& payload) override {
    events.push_back("push " + payload["url"].asString());
  }
  std::vector<std::string> events;
};

TEST(Application, LifecyclePassesThroughInactiveAndPostsEachChange) {
  auto& app = Application::shared();
  app.reset();
  auto delegate = std::make_shared<Lifecycle>();
  app.setDelegate(delegate);
  auto& center = NotificationCenter::defaultCenter();
  std::vector<std::string> posted;
  std::vector<ScopedObserver> observers;
  for (const char* name : {kApplicationWillResignActiveNotification, kApplicationDidEnterBackgroundNotification,
                           kApplicationWillEnterForegroundNotification, kApplicationDidBecomeActiveNotification,
                           kApplicationWillTerminateNotification}) {
    observers.emplace_back(center, center.addObserver(name, [&](const Notification& n) { posted.push_back(n.name); }));
  }
  EXPECT_TRUE(app.launch());
  app.setState(ApplicationState::Background);
  app.setState(ApplicationState::Active);
  app.setState(ApplicationState::Active);
  app.terminate();
  EXPECT_EQ(posted, (std::vector<std::string>{kApplicationDidBecomeActiveNotification,
                                              kApplicationWillResignActiveNotification,
                                              kApplicationDidEnterBackgroundNotification,
                                              kApplicationWillEnterForegroundNotification,
                                              kApplicationDidBecomeActiveNotification,
                                              kApplicationWillTerminateNotification}));
  app.registerForRemoteNotificationTypes(kRemoteNotificationTypeBadge | kRemoteNotificationTypeSound |
                                         kRemoteNotificationTypeAlert);
  app.deliverDeviceToken({0xde, 0xad, 0xbe, 0xef, 0x00, 0x11, 0x22, 0x33, 0x44});
  app.deliverRemoteNotification(Value::dictionary({{"url", "http://x.test/a"}}));
  EXPECT_EQ(app.registeredNotificationTypes(), 7u);
  EXPECT_EQ(delegate->events,
            (std::vector<std::string>{"launch inactive", "active", "resign", "background", "foreground", "active",
                                      "token <deadbeef 00112233 44>", "push http://x.test/a"}));
  EXPECT_EQ(describeData({}), "<>");
  app.reset();
}

TEST(Gestures, TapAndSwipeAskTheDelegate) {
  class Refuse : public GestureRecognizerDelegate {
   public:
    bool gestureRecognizerShouldBegin(GestureRecognizer&) override { return false; }
  };
  auto view = View::create(Rect(0, 0, 100, 100));
  int recognized = 0;
  auto swipe = std::make_shared<SwipeGestureRecognizer>([&](GestureRecognizer&) { ++recognized; });
  EXPECT_FALSE(swipe->swipe(kSwipeDirectionRight));  // not attached
  view->addGestureRecognizer(swipe);
  EXPECT_FALSE(swipe->swipe(kSwipeDirectionLeft));
  EXPECT_TRUE(swipe->swipe(kSwipeDirectionRight));
  auto refuse = std::make_shared<Refuse>();
  swipe->setDelegate(refuse);
  EXPECT_FALSE(swipe->swipe(kSwipeDirectionRight));
  EXPECT_EQ(swipe->state(), GestureRecognizerState::Failed);
  view->removeGestureRecognizer(swipe.get());
  EXPECT_EQ(swipe->view(), nullptr);

  auto tap = std::make_shared<TapGestureRecognizer>([&](GestureRecognizer& r) {
    EXPECT_EQ(r.locationInView(r.view()), (Point{5, 6}));
    EXPECT_EQ(r.locationInView(nullptr), (Point{15, 16}));
    ++recognized;
  });
  auto child = View::create(Rect(10, 10, 50, 50));
  view->addSubview(child);
  child->addGestureRecognizer(tap);
  EXPECT_TRUE(tap->tap({15, 16}));
  EXPECT_EQ(recognized, 2);
}

TEST(URLRequest, HeaderFieldsReplaceWithoutCaseAndRefuseLineBreaks) {
  URLRequest request("http://www.vestavind.test/");
  EXPECT_TRUE(request.setValue("1.0", "vestavind_mobile_app"));
  EXPECT_TRUE(request.setValue("whatever", "Vestavind_Mobile_App"));
  EXPECT_FALSE(request.setValue("x\r\nEvil: 1", "X-Test"));
  EXPECT_FALSE(request.setValue("x", "Bad\nName"));
  ASSERT_EQ(request.allHTTPHeaderFields().size(), 1u);
  EXPECT_EQ(request.valueForHTTPHeaderField("VESTAVIND_MOBILE_APP"), "whatever");
  EXPECT_FALSE(request.valueForHTTPHeaderField("X-Test").has_value());
}

}  // namespace
}  // namespace platform::ui
