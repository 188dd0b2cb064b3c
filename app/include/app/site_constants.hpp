#pragma once
// The publisher's web endpoints and the texts the shell compiles in. Root
// URLs are "http" plus a host, without path or trailing slash. Pointing the
// reader at other servers is done by service routing, never by changing
// these values.

#include <array>
#include <string_view>

namespace app {

inline constexpr std::string_view kMainSiteURL = "http://www.vestavind.test";
inline constexpr std::string_view kTabletSiteURL = "http://tablet.vestavind.test";
inline constexpr std::string_view kMobileSiteURL = "http://m.vestavind.test";
inline constexpr std::string_view kCelebritySiteURL = "http://www.glimt.test";
inline constexpr std::string_view kGamesSiteURL = "http://www.joypunkt.test";
inline constexpr std::string_view kGamesMobileSiteURL = "http://m.joypunkt.test";

// The domains whose pages get the app header, in the order they are tested:
// main site, games site, short domain, celebrity site, casual-games site,
// web-TV site, mobile host of the short domain.
inline constexpr std::array<std::string_view, 7> kPublisherDomains = {
    "vestavind.test", "joypunkt.test", "vv.test", "glimt.test", "spillboks.test", "strima.test", "m.vv.test"};

inline constexpr std::string_view kSiteDisplayName = "Vestavind";

// Paths below kMainSiteURL (or the mobile host for the phone's archive search).
inline constexpr std::string_view kMenuConfigPath = "/iosapp/menuconfig/";
inline constexpr std::string_view kProviderRegistrationPath = "/pn/addDevice/";
inline constexpr std::string_view kArchiveSearchPath = "/tekstarkiv/?q=";
inline constexpr std::string_view kHideHeaderFlag = "hideHeader=1";

// User-defaults key of the stored menu configuration.
inline constexpr std::string_view kMenuConfigKey = "kMenuConfig";

}  // namespace app
