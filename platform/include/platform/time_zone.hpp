#pragma once
// The system's time zone by name.

#include <string>

namespace platform {

// The IANA name of the system time zone, read afresh at each call: $TZ
// (without a leading ':'), else /etc/timezone, else the target of the
// /etc/localtime link below a "zoneinfo" folder; "UTC" when none says.
std::string systemTimeZoneName();

}  // namespace platform
