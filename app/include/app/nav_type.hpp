#pragma once
// Navigation types: which of the publisher's sites a screen or menu level
// shows, and whether it is that site's front page or a section. A value is
// its own name; values outside this set are allowed and get the default
// treatment wherever a nav type is looked at. Compared case-sensitively.

#include <string>
#include <string_view>

namespace app {

using NavType = std::string;

inline constexpr std::string_view kNavBarVestavind = "kNavBarVestavind";
inline constexpr std::string_view kNavBarVestavindSection = "kNavBarVestavindSection";
inline constexpr std::string_view kNavBarArticle = "kNavBarArticle";
inline constexpr std::string_view kNavBarStrima = "kNavBarStrima";
inline constexpr std::string_view kNavBarStrimaSection = "kNavBarStrimaSection";
inline constexpr std::string_view kNavBarGlimt = "kNavBarGlimt";
inline constexpr std::string_view kNavBarGlimtSection = "kNavBarGlimtSection";
inline constexpr std::string_view kNavBarJoypunkt = "kNavBarJoypunkt";
inline constexpr std::string_view kNavBarJoypunktSection = "kNavBarJoypunktSection";
inline constexpr std::string_view kNavBarKanal = "kNavBarKanal";
inline constexpr std::string_view kNavBarKanalSection = "kNavBarKanalSection";
inline constexpr std::string_view kNavBarSpillboks = "kNavBarSpillboks";
inline constexpr std::string_view kNavBarSpillboksSection = "kNavBarSpillboksSection";

}  // namespace app
