#include "platform/bundle.hpp"

#include <gtest/gtest.h>

#include <fstream>

#include "support/scratch_directory.hpp"

namespace platform {
namespace {

namespace fs = std::filesystem;

TEST(Bundle, ApplicationFacts) {
  Bundle bundle = Bundle::application();
  EXPECT_EQ(bundle.identifier(), "test.vestavind.reader");
  EXPECT_EQ(bundle.name(), "Vestavind");
  EXPECT_EQ(bundle.displayName(), "Vestavind");
  EXPECT_EQ(bundle.version(), "1.0.0");
  EXPECT_EQ(bundle.shortVersion(), "1.0.0");
  EXPECT_EQ(bundle.infoDictionary()["CFBundleVersion"], Value("1.0.0"));
  EXPECT_EQ(bundle.resourcesDirectory().filename(), "resources");
}

TEST(Bundle, TestsCanInstallAnotherMainBundleWithMissingKeys) {
  Bundle::setMain(Bundle(Value::dictionary({{"CFBundleIdentifier", "other.id"}, {"CFBundleName", 5}}), "/nowhere"));
  EXPECT_EQ(Bundle::main().identifier(), "other.id");
  EXPECT_EQ(Bundle::main().name(), std::nullopt);
  EXPECT_EQ(Bundle::main().version(), std::nullopt);
  EXPECT_EQ(Bundle::main().objectForInfoDictionaryKey("CFBundleName"), Value(5));
  Bundle::resetMain();
  EXPECT_EQ(Bundle::main().identifier(), "test.vestavind.reader");
}

TEST(Bundle, InfoDictionaryCannotBeChangedThroughACopy) {
  Value info = Value::dictionary({{"CFBundleName", "A"}});
  Bundle bundle(info, "/r");
  info.asDictionary().set("CFBundleName", "B");
  bundle.infoDictionary().asDictionary().set("CFBundleName", "C");
  EXPECT_EQ(bundle.name(), "A");
}

TEST(Bundle, ResourcesAreFoundOnlyInsideTheResourcesDirectory) {
  test_support::ScratchDirectory scratch;
  fs::create_directory(scratch / "resources");
  std::ofstream(scratch / "resources" / "ping.caf") << "sound";
  std::ofstream(scratch / "secret.txt") << "outside";
  Bundle bundle(Value::dictionary({}), scratch / "resources");
  EXPECT_EQ(bundle.pathForResource("ping", "caf"), scratch / "resources" / "ping.caf");
  EXPECT_EQ(bundle.pathForResource("ping", "wav"), std::nullopt);
  EXPECT_EQ(bundle.pathForResource("../secret", "txt"), std::nullopt);
  EXPECT_EQ(bundle.pathForResource("..", ""), std::nullopt);
  EXPECT_EQ(bundle.pathForResource("", ""), std::nullopt);
}

}  // namespace
}  // namespace platform
