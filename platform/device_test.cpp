#include "platform/device.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>

namespace platform {
namespace {

TEST(Locale, ParsesPosixLocaleNames) {
  EXPECT_EQ(Locale::parse("nb_NO.UTF-8").tag(), "nb-NO");
  EXPECT_EQ(Locale::parse("nn_no@euro").country, "NO");
  EXPECT_EQ(Locale::parse("de").tag(), "de");
  EXPECT_EQ(Locale::parse("C.UTF-8").tag(), "en");
  EXPECT_EQ(Locale::parse("POSIX").tag(), "en");
  EXPECT_EQ(Locale::parse("").tag(), "en");
}

TEST(Device, ScreenReportedByTheFrontEndIsKept) {
  Device saved = Device::current();
  Device::setScreen(1280, 800, 2.0);
  EXPECT_EQ(Device::current().screenWidth, 1280);
  EXPECT_EQ(Device::current().screenHeight, 800);
  EXPECT_EQ(Device::current().screenScale, 2.0);
  EXPECT_FALSE(Device::current().preferredLanguages.empty());
  Device::setCurrent(saved);
}

}  // namespace
}  // namespace platform

namespace platform {
namespace {

class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) saved_ = old;
    ::setenv(name, value, 1);
  }
  ~ScopedEnv() {
    if (saved_) {
      ::setenv(name_, saved_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> saved_;
};

TEST(Device, LocaleAndLanguagesComeFromTheEnvironment) {
  ScopedEnv all("LC_ALL", "nb_NO.UTF-8");
  ScopedEnv languages("LANGUAGE", "nn:en_GB:");
  Device device = Device::fromEnvironment();
  EXPECT_EQ(device.locale.language, "nb");
  EXPECT_EQ(device.locale.country, "NO");
  EXPECT_EQ(device.preferredLanguages, (std::vector<std::string>{"nn", "en-GB"}));
  EXPECT_FALSE(device.systemName.empty());
}

}  // namespace
}  // namespace platform
