#pragma once
// The request header that marks the shell's own requests for the publisher's
// pages.

#include <span>
#include <string>
#include <string_view>

namespace app {

inline constexpr std::string_view kAppHeaderField = "vestavind_mobile_app";
// The value carried by a tapped link that the shell loads again itself.
inline constexpr std::string_view kReissuedLinkHeaderValue = "whatever";

// True when `url` contains one of `domains` (case-sensitive substring, tested
// in order); false for an empty list.
bool headerIsNeeded(std::string_view url, std::span<const std::string> domains);

// The value for requests the shell builds itself: the bundle's
// "CFBundleVersion" (empty when the bundle has none).
std::string appHeaderValue();

}  // namespace app
