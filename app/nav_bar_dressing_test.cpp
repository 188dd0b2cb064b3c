#include "app/nav_bar_dressing.hpp"

#include <gtest/gtest.h>

namespace app {
namespace {

TEST(SidebarDressing, EachSiteFrontShowsItsLogoOverItsBar) {
  const struct { const char* navType; const char* logo; const char* bar; } fronts[] = {
      {"kNavBarStrima", "strima.png", "navBarArticleBg.png"},
      {"kNavBarGlimt", "glimt.png", "navBarHomeBgBlack.jpg"},
      {"kNavBarJoypunkt", "joypunkt.png", "navBarHomeBgJoypunktGray.jpg"},
      {"kNavBarKanal", "kanal.png", "navBarHomeBgKanalGray.jpg"},
      {"kNavBarSpillboks", "spillboks.png", "navBarHomeBgSpillboks.jpg"},
  };
  for (const auto& front : fronts) {
    const NavBarDressing dressing = sidebarDressing(front.navType);
    EXPECT_EQ(dressing.titleView, TitleViewKind::Image) << front.navType;
    EXPECT_EQ(dressing.titleImage, front.logo);
    EXPECT_EQ(dressing.barBackground, front.bar);
    EXPECT_FALSE(dressing.labelColour.has_value());
  }
}

TEST(SidebarDressing, SectionsShowALabelInTheirSiteColour) {
  const struct { const char* navType; TitleColour colour; std::optional<std::string> bar; } sections[] = {
      {"kNavBarVestavindSection", TitleColour::White, std::nullopt},
      {"kNavBarStrimaSection", TitleColour::Black, "navBarArticleBg.png"},
      {"kNavBarGlimtSection", TitleColour::White, "navBarHomeBgBlack.jpg"},
      {"kNavBarJoypunktSection", TitleColour::White, "navBarHomeBgJoypunktGray.jpg"},
      {"kNavBarKanalSection", TitleColour::White, "navBarHomeBgKanalGray.jpg"},
      {"kNavBarSpillboksSection", TitleColour::Blue, "navBarHomeBgSpillboks.jpg"},
  };
  for (const auto& section : sections) {
    const NavBarDressing dressing = sidebarDressing(section.navType);
    EXPECT_EQ(dressing.titleView, TitleViewKind::Label) << section.navType;
    EXPECT_EQ(dressing.labelColour, section.colour) << section.navType;
    EXPECT_EQ(dressing.barBackground, section.bar) << section.navType;
  }
}

TEST(SidebarDressing, RootShowsSearchAndUnknownTypesChangeNothing) {
  const NavBarDressing root = sidebarDressing("kNavBarVestavind");
  EXPECT_EQ(root.titleView, TitleViewKind::SearchField);
  EXPECT_EQ(root.barBackground, "navBarHomeBg.png");
  for (const char* other : {"kNavBarArticle", "", "knavbarglimt"}) {
    const NavBarDressing dressing = sidebarDressing(other);
    EXPECT_EQ(dressing.titleView, TitleViewKind::Unchanged) << other;
    EXPECT_FALSE(dressing.barBackground.has_value());
  }
}

TEST(SidebarBackButton, BlackOnlyOnTheLightBars) {
  EXPECT_EQ(sidebarBackButtonImage("kNavBarSpillboksSection"), "backButton_black.png");
  EXPECT_EQ(sidebarBackButtonImage("kNavBarStrima"), "backButton_black.png");
  EXPECT_EQ(sidebarBackButtonImage("kNavBarGlimtSection"), "backButton_white.png");
  EXPECT_EQ(sidebarBackButtonImage(""), "backButton_white.png");
}

}  // namespace
}  // namespace app
