#include "app/terminal.hpp"

#include <sstream>

#include "app/app_delegate.hpp"
#include "platform/ui/application.hpp"
#include "reveal/reveal_controller.hpp"
#include "support/app/shell_fixture.hpp"

namespace app::terminal {
namespace {

using app::testing::ShellTest;

constexpr const char* kMenu = R"({"Vestavind": [
  {"title": "Sport", "url": "http://www.vestavind.test/sport", "navtype": "kNavBarVestavindSection"},
  {"title": "Glimt", "navtype": "kNavBarGlimt", "submenu": [{"title": "Kjendis", "url": "http://www.glimt.test/k"}]}
]})";

class TerminalTest : public ShellTest {
 protected:
  // The output printed since the last call.
  std::string fresh() {
    std::string all = out.str();
    std::string added = all.substr(seen);
    seen = all.size();
    return added;
  }

  std::ostringstream out;
  std::size_t seen = 0;
};

TEST_F(TerminalTest, ACommandSessionPrintsOneLinePerEvent) {
  sites.setMenuConfig(kMenu);
  Terminal terminal(out);
  terminal.launch();
  std::string printed = fresh();
  EXPECT_NE(printed.find("request http://m.vestavind.test?hideHeader=1 vestavind_mobile_app=\""), std::string::npos)
      << printed;
  EXPECT_NE(printed.find("session mark start"), std::string::npos) << printed;
  EXPECT_NE(printed.find("hit &t=appview &cd=Frontpage"), std::string::npos) << printed;

  ASSERT_TRUE(terminal.executeLine("menu"));
  printed = fresh();
  EXPECT_NE(printed.find("  0 \"Sport\" http://www.vestavind.test/sport\n"), std::string::npos) << printed;
  EXPECT_NE(printed.find("  1 \"Glimt\" >\n"), std::string::npos) << printed;

  ASSERT_TRUE(terminal.executeLine("open"));
  EXPECT_NE(fresh().find("container: sidebar open"), std::string::npos);
  ASSERT_TRUE(terminal.executeLine("select 0"));
  printed = fresh();
  EXPECT_NE(printed.find("screen pushed: kNavBarVestavindSection \"Sport\" http://www.vestavind.test/sport"),
            std::string::npos)
      << printed;
  EXPECT_NE(printed.find("hit &t=appview &cd=Article"), std::string::npos) << printed;
  EXPECT_NE(printed.find("container: front"), std::string::npos) << printed;

  ASSERT_TRUE(terminal.executeLine("tap http://www.vestavind.test/sport/kamp"));
  EXPECT_NE(fresh().find("request http://www.vestavind.test/sport/kamp vestavind_mobile_app=\"whatever\""),
            std::string::npos);

  ASSERT_TRUE(terminal.executeLine("push {\"aps\": {\"alert\": \"Ny sak\"}, \"url\": \"http://www.vestavind.test/n\"}"));
  EXPECT_NE(fresh().find("alert shown: tag 0 \"Vestavind\" \"Ny sak\" buttons: 0=\"Lukk\" 1=\"Les mer\""),
            std::string::npos);
  ASSERT_TRUE(terminal.executeLine("answer 1"));
  EXPECT_NE(fresh().find("screen pushed: kNavBarArticle \"\" http://www.vestavind.test/n"), std::string::npos);

  ASSERT_TRUE(terminal.executeLine("screens"));
  printed = fresh();
  EXPECT_NE(printed.find("  0 kNavBarVestavind"), std::string::npos) << printed;
  EXPECT_NE(printed.find("  2 kNavBarArticle \"\" http://www.vestavind.test/n"), std::string::npos) << printed;

  ASSERT_TRUE(terminal.executeLine("home"));
  EXPECT_NE(fresh().find("screen replaced: 1 left"), std::string::npos);

  ASSERT_TRUE(terminal.executeLine("answer 3"));
  EXPECT_NE(fresh().find("error: no alert is open"), std::string::npos);
  ASSERT_TRUE(terminal.executeLine("select nine"));
  EXPECT_NE(fresh().find("error: select:"), std::string::npos);

  EXPECT_FALSE(terminal.executeLine("quit"));
  EXPECT_NE(fresh().find("session mark end"), std::string::npos);
  EXPECT_EQ(terminal.exitStatus(), 0);
}

TEST_F(TerminalTest, EveryShareOfAScreenShowsItsSheet) {
  sites.setMenuConfig(kMenu);
  Terminal terminal(out);
  terminal.launch();
  ASSERT_TRUE(terminal.executeLine("open"));
  ASSERT_TRUE(terminal.executeLine("select 0"));
  fresh();
  for (int share = 0; share < 2; ++share) {
    ASSERT_TRUE(terminal.executeLine("share"));
    EXPECT_NE(fresh().find("share sheet: \"www.vestavind.test/sport\" \"http://www.vestavind.test/sport\""),
              std::string::npos)
        << "share " << share;
  }
}

TEST_F(TerminalTest, PanOpensAndClosesTheSidebarByTheSnapRule) {
  Terminal terminal(out);
  terminal.launch();
  fresh();
  ASSERT_TRUE(terminal.executeLine("pan -100"));
  EXPECT_EQ(fresh().find("container:"), std::string::npos);  // 170 of 270 still covered: back to the centre
  ASSERT_TRUE(terminal.executeLine("pan -200"));
  EXPECT_NE(fresh().find("container: sidebar open"), std::string::npos);
  ASSERT_TRUE(terminal.executeLine("pan 20 900"));
  EXPECT_NE(fresh().find("container: front"), std::string::npos);
}

// A busy machine runs the sidebar's slide late: the state line must still
// follow the slide, however long it takes.
TEST_F(TerminalTest, TheContainerLineWaitsForASlideLongerThanTheUsualPause) {
  Terminal terminal(out);
  terminal.launch();
  auto delegate = std::dynamic_pointer_cast<AppDelegate>(platform::ui::Application::shared().delegate());
  ASSERT_TRUE(delegate && delegate->revealController());
  delegate->revealController()->setAnimationDuration(0.6);
  fresh();
  ASSERT_TRUE(terminal.executeLine("pan -200"));
  EXPECT_NE(fresh().find("container: sidebar open"), std::string::npos);
}

TEST_F(TerminalTest, OfflineStartEndsWhenTheAlertIsAnswered) {
  reachability.setDefaultFlags(platform::ReachabilityFlag::ConnectionRequired);
  Terminal terminal(out);
  terminal.launch();
  EXPECT_NE(fresh().find("alert shown: tag 1 \"Ingen internett-tilkobling!\""), std::string::npos);
  ASSERT_TRUE(terminal.executeLine("menu"));
  EXPECT_NE(fresh().find("error: no sidebar"), std::string::npos);
  EXPECT_FALSE(terminal.executeLine("answer 0"));
  EXPECT_EQ(terminal.exitStatus(), 0);
}

}  // namespace
}  // namespace app::terminal
