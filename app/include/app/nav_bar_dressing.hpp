#pragma once
// How each nav type dresses a navigation bar, and the images of the bars'
// own buttons. Pure tables; the screens apply them to their bars.

#include <optional>
#include <string>
#include <string_view>

namespace app {

enum class TitleViewKind {
  SearchField,  // the archive search field (main site's root menu)
  Label,        // a bold label with the level's title
  Image,        // the site's logo
  Unchanged,    // leave the title view as it is
};

enum class TitleColour { White, Black, Blue };

struct NavBarDressing {
  TitleViewKind titleView = TitleViewKind::Unchanged;
  std::string titleImage;                  // for TitleViewKind::Image
  std::optional<TitleColour> labelColour;  // for Label (and the SearchField's first pass)
  std::optional<std::string> barBackground;  // nullopt: the bar keeps its image
};

// The sidebar level's dressing for its nav type; any unknown value leaves
// the bar unchanged.
NavBarDressing sidebarDressing(std::string_view navType);

// The back button image of a deeper sidebar level: black on the web-TV and
// casual-games sites' light bars, white elsewhere.
std::string_view sidebarBackButtonImage(std::string_view navType);

// Content screens.
inline constexpr std::string_view kContentBarBackground = "navBarHomeBg.png";
inline constexpr std::string_view kHomeButtonImage = "back_bold_white.png";
inline constexpr std::string_view kHomeButtonTitle = " TIL FORSIDEN";
inline constexpr std::string_view kMenuButtonImage = "menu_white.png";
inline constexpr std::string_view kMenuButtonTitle = " MENY";
inline constexpr std::string_view kHomeLogoImage = "vst.png";
inline constexpr std::string_view kShareImage = "share_red.png";

// Toolbar history buttons: red when the move is possible, grey otherwise.
// The forward button shows the same image turned upside down.
std::string_view historyButtonImage(bool possible);

}  // namespace app
