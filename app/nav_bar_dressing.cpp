#include "app/nav_bar_dressing.hpp"

#include <array>

#include "app/nav_type.hpp"

namespace app {
namespace {

struct Row {
  std::string_view navType;
  TitleViewKind titleView;
  std::string_view titleImage;
  std::optional<TitleColour> colour;
  std::string_view background;  // empty: unchanged
};

constexpr std::array<Row, 12> kSidebarRows = {{
    {kNavBarVestavind, TitleViewKind::SearchField, "", TitleColour::White, "navBarHomeBg.png"},
    {kNavBarVestavindSection, TitleViewKind::Label, "", TitleColour::White, ""},
    {kNavBarStrima, TitleViewKind::Image, "strima.png", std::nullopt, "navBarArticleBg.png"},
    {kNavBarStrimaSection, TitleViewKind::Label, "", TitleColour::Black, "navBarArticleBg.png"},
    {kNavBarGlimt, TitleViewKind::Image, "glimt.png", std::nullopt, "navBarHomeBgBlack.jpg"},
    {kNavBarGlimtSection, TitleViewKind::Label, "", TitleColour::White, "navBarHomeBgBlack.jpg"},
    {kNavBarJoypunkt, TitleViewKind::Image, "joypunkt.png", std::nullopt, "navBarHomeBgJoypunktGray.jpg"},
    {kNavBarJoypunktSection, TitleViewKind::Label, "", TitleColour::White, "navBarHomeBgJoypunktGray.jpg"},
    {kNavBarKanal, TitleViewKind::Image, "kanal.png", std::nullopt, "navBarHomeBgKanalGray.jpg"},
    {kNavBarKanalSection, TitleViewKind::Label, "", TitleColour::White, "navBarHomeBgKanalGray.jpg"},
    {kNavBarSpillboks, TitleViewKind::Image, "spillboks.png", std::nullopt, "navBarHomeBgSpillboks.jpg"},
    {kNavBarSpillboksSection, TitleViewKind::Label, "", TitleColour::Blue, "navBarHomeBgSpillboks.jpg"},
}};

}  // namespace

NavBarDressing sidebarDressing(std::string_view navType) {
  for (const Row& row : kSidebarRows) {
    if (row.navType != navType) continue;
    NavBarDressing dressing;
    dressing.titleView = row.titleView;
    dressing.titleImage = std::string(row.titleImage);
    dressing.labelColour = row.colour;
    if (!row.background.empty()) dressing.barBackground = std::string(row.background);
    return dressing;
  }
  return {};
}

std::string_view sidebarBackButtonImage(std::string_view navType) {
  const bool lightBar = navType == kNavBarStrima || navType == kNavBarStrimaSection ||
                        navType == kNavBarSpillboks || navType == kNavBarSpillboksSection;
  return lightBar ? "backButton_black.png" : "backButton_white.png";
}

std::string_view historyButtonImage(bool possible) {
  return possible ? "back_thin_red.png" : "back_thin_grey.png";
}

}  // namespace app
