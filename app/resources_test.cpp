// The images the screens ask for by name are installed beside the program,
// decode, and fit the bars they are drawn in.

#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <string>

#include "app/nav_bar_dressing.hpp"
#include "app/nav_type.hpp"
#include "platform/bundle.hpp"
#include "platform/ui/bars.hpp"
#include "platform/ui/graphics.hpp"

namespace app {
namespace {

namespace ui = platform::ui;

const std::string_view kNavTypes[] = {
    kNavBarVestavind,  kNavBarVestavindSection, kNavBarArticle,       kNavBarStrima,       kNavBarStrimaSection,
    kNavBarGlimt,      kNavBarGlimtSection,     kNavBarJoypunkt,      kNavBarJoypunktSection, kNavBarKanal,
    kNavBarKanalSection, kNavBarSpillboks,      kNavBarSpillboksSection, "kNavBarSomethingElse"};

std::set<std::string> barBackgrounds() {
  std::set<std::string> names{std::string(kContentBarBackground)};
  for (auto navType : kNavTypes) {
    if (auto background = sidebarDressing(navType).barBackground) names.insert(*background);
  }
  return names;
}

std::set<std::string> siteLogos() {
  std::set<std::string> names;
  for (auto navType : kNavTypes) {
    const NavBarDressing dressing = sidebarDressing(navType);
    if (dressing.titleView == TitleViewKind::Image) names.insert(dressing.titleImage);
  }
  return names;
}

std::set<std::string> buttonImages() {
  std::set<std::string> names{std::string(kHomeButtonImage), std::string(kMenuButtonImage),
                              std::string(kHomeLogoImage), std::string(kShareImage),
                              std::string(historyButtonImage(true)), std::string(historyButtonImage(false))};
  for (auto navType : kNavTypes) names.insert(std::string(sidebarBackButtonImage(navType)));
  return names;
}

TEST(Resources, EveryImageTheScreensNameIsInstalledAndDecodes) {
  std::set<std::string> all = barBackgrounds();
  all.merge(siteLogos());
  all.merge(buttonImages());
  // Every nav type with a logo and every background the tables name.
  EXPECT_GE(all.size(), 19u);
  for (const std::string& name : all) {
    const ui::Size size = ui::Image::named(name).size();
    EXPECT_GT(size.width, 0) << name << " missing or unreadable in "
                             << platform::Bundle::main().resourcesDirectory();
    EXPECT_GT(size.height, 0) << name;
  }
}

TEST(Resources, ImagesFitTheBarsTheyAreDrawnIn) {
  for (const std::string& name : barBackgrounds()) {
    EXPECT_EQ(ui::Image::named(name).size().height, ui::kNavigationBarHeight) << name;
  }
  for (const std::string& name : siteLogos()) {
    const ui::Size size = ui::Image::named(name).size();
    EXPECT_LE(size.height, ui::kNavigationBarHeight) << name;
    EXPECT_LE(size.width, 160) << name;  // centred in the sidebar's bar
  }
  for (const std::string& name : buttonImages()) {
    EXPECT_LE(ui::Image::named(name).size().height, ui::kToolbarHeight) << name;
  }
  // The menu image is pushed right by (60 - its width) inside a 60-wide button;
  // the home logo replaces the 120-wide home button.
  EXPECT_LT(ui::Image::named(kMenuButtonImage).size().width, 60);
  EXPECT_LE(ui::Image::named(kHomeLogoImage).size().width, 160);
  EXPECT_LE(ui::Image::named(historyButtonImage(true)).size().width, ui::kToolbarHeight);
}

TEST(Resources, JpegNamesHoldJpegData) {
  int checked = 0;
  for (const std::string& name : barBackgrounds()) {
    if (!name.ends_with(".jpg")) continue;
    const auto path = platform::Bundle::main().pathForResource(name, "");
    ASSERT_TRUE(path) << name;
    std::ifstream in(*path, std::ios::binary);
    unsigned char magic[2] = {};
    in.read(reinterpret_cast<char*>(magic), 2);
    EXPECT_TRUE(magic[0] == 0xFF && magic[1] == 0xD8) << name;
    ++checked;
  }
  EXPECT_EQ(checked, 4);
}

}  // namespace
}  // namespace app
