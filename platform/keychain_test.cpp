#include "platform/keychain.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "platform/log.hpp"
#include "platform/sandbox.hpp"
#include "support/scratch_directory.hpp"

namespace platform {
namespace {

namespace fs = std::filesystem;
using test_support::ScratchDirectory;

Bytes bytesOf(std::string_view text) { return Bytes(text.begin(), text.end()); }

TEST(Keychain, ItemsAreKeptByServiceAndAccountAcrossInstances) {
  ScratchDirectory scratch;
  Keychain keychain(scratch / "keychain.json");
  EXPECT_EQ(keychain.get("BackendPush", "BackendPush"), std::nullopt);
  ASSERT_TRUE(keychain.set("BackendPush", "BackendPush", bytesOf("token-1")));
  ASSERT_TRUE(keychain.set("BackendPush", "other", bytesOf("other")));
  ASSERT_TRUE(keychain.set("Service", "BackendPush", Bytes{0, 255}));
  ASSERT_TRUE(keychain.set("BackendPush", "BackendPush", bytesOf("token-2")));

  Keychain again(scratch / "keychain.json");
  EXPECT_EQ(again.get("BackendPush", "BackendPush"), bytesOf("token-2"));
  EXPECT_EQ(again.get("BackendPush", "other"), bytesOf("other"));
  EXPECT_EQ(again.get("Service", "BackendPush"), (Bytes{0, 255}));

  EXPECT_TRUE(again.remove("BackendPush", "BackendPush"));
  EXPECT_TRUE(again.remove("BackendPush", "BackendPush"));
  EXPECT_EQ(keychain.get("BackendPush", "BackendPush"), std::nullopt);
  EXPECT_EQ(keychain.get("BackendPush", "other"), bytesOf("other"));
}

TEST(Keychain, FileIsReadableOnlyByTheUser) {
  ScratchDirectory scratch;
  Keychain keychain(scratch / "keychain.json");
  ASSERT_TRUE(keychain.set("s", "a", bytesOf("secret")));
  struct stat status {};
  ASSERT_EQ(::stat(keychain.file().c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0600u);
}

TEST(Keychain, CorruptFileReadsAsEmptyWithALogLineAndIsReplacedByTheNextSet) {
  ScratchDirectory scratch;
  fs::path file = scratch / "keychain.json";
  std::ofstream(file) << "{\"$dict\":{\"items\":[{\"$dict\":{\"service\":";
  Keychain keychain(file);
  {
    LogCapture capture;
    EXPECT_EQ(keychain.get("s", "a"), std::nullopt);
    EXPECT_TRUE(capture.contains("Keychain"));
  }
  ASSERT_TRUE(keychain.set("s", "a", bytesOf("new")));
  EXPECT_EQ(keychain.get("s", "a"), bytesOf("new"));
}

TEST(Keychain, ItemsOfTheWrongShapeAreSkipped) {
  ScratchDirectory scratch;
  fs::path file = scratch / "keychain.json";
  // A data entry that is text, not bytes, and an item without an account.
  std::ofstream(file) << R"({"$dict":{"items":[{"$dict":{"service":"s","account":"a","data":"text"}},)"
                      << R"({"$dict":{"service":"s","data":{"$data":"eA=="}}}]}})";
  Keychain keychain(file);
  EXPECT_EQ(keychain.get("s", "a"), std::nullopt);
  EXPECT_EQ(keychain.get("s", ""), std::nullopt);
}

TEST(Keychain, StandardKeychainLivesInTheSandboxRoot) {
  ScratchDirectory scratch;
  Sandbox::setRoot(scratch.path());
  ASSERT_TRUE(Keychain::standard().set("s", "a", bytesOf("x")));
  EXPECT_TRUE(fs::exists(scratch / "keychain.json"));
  Sandbox::setRoot({});
}

}  // namespace
}  // namespace platform
