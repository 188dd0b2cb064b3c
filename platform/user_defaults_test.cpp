#include "platform/user_defaults.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "platform/bundle.hpp"
#include "platform/exceptions.hpp"
#include "platform/log.hpp"
#include "platform/sandbox.hpp"
#include "support/scratch_directory.hpp"

namespace platform {
namespace {

namespace fs = std::filesystem;
using test_support::ScratchDirectory;

TEST(UserDefaults, EveryKindSurvivesAReopen) {
  ScratchDirectory scratch;
  fs::path file = scratch / "prefs" / "defaults.json";
  Value menu = Value::dictionary({
      {"Vestavind", Value::array({Value::dictionary({{"title", "Nyheter"}, {"url", "http://www.vestavind.test/"}})})},
  });
  {
    UserDefaults defaults(file);
    defaults.setObject(menu, "kMenuConfig");
    defaults.setObject(Value(Number::ofShort(7)), "short");
    defaults.setObject(Value(Date(1700000000.5)), "date");
    defaults.setObject(Value(Bytes{1, 2, 3}), "bytes");
    defaults.setObject(Value::null(), "null");
    defaults.setBool(true, "flag");
  }
  UserDefaults reopened(file);
  EXPECT_EQ(reopened.objectForKey("kMenuConfig"), menu);
  EXPECT_EQ(reopened.objectForKey("short").asNumber().typeCode(), 's');
  EXPECT_EQ(reopened.objectForKey("date"), Value(Date(1700000000.5)));
  EXPECT_EQ(reopened.dataForKey("bytes"), Value(Bytes{1, 2, 3}));
  EXPECT_TRUE(reopened.objectForKey("null").isNull());
  EXPECT_TRUE(reopened.objectForKey("flag").asNumber().isBoolean());
}

TEST(UserDefaults, StoresCopiesSoLaterEditsDoNotLeakIn) {
  ScratchDirectory scratch;
  UserDefaults defaults(scratch / "d.json");
  Value list = Value::array({1});
  defaults.setObject(list, "list");
  list.asArray().push_back(Value(2));
  Value read = defaults.arrayForKey("list");
  read.asArray().push_back(Value(3));
  EXPECT_EQ(defaults.objectForKey("list"), Value::array({1}));
}

TEST(UserDefaults, TypedReadsConvertLikeThePlatform) {
  ScratchDirectory scratch;
  UserDefaults defaults(scratch / "d.json");
  defaults.setObject(Value("42"), "text");
  defaults.setObject(Value("YES"), "yes");
  defaults.setObject(Value(2.5), "real");
  defaults.setObject(Value::array({}), "list");
  EXPECT_EQ(defaults.integerForKey("text"), 42);
  EXPECT_TRUE(defaults.boolForKey("text"));
  EXPECT_TRUE(defaults.boolForKey("yes"));
  EXPECT_EQ(defaults.stringForKey("real"), "2.5");
  EXPECT_EQ(defaults.integerForKey("real"), 2);
  EXPECT_DOUBLE_EQ(defaults.doubleForKey("text"), 42.0);
  EXPECT_EQ(defaults.stringForKey("list"), std::nullopt);
  EXPECT_FALSE(defaults.boolForKey("missing"));
  EXPECT_TRUE(defaults.dictionaryForKey("list").isNil());
  EXPECT_TRUE(defaults.arrayForKey("list").isArray());
}

TEST(UserDefaults, NilAndRemoveDeleteTheKeyOnDisk) {
  ScratchDirectory scratch;
  fs::path file = scratch / "d.json";
  {
    UserDefaults defaults(file);
    defaults.setObject(Value("a"), "one");
    defaults.setObject(Value("b"), "two");
    defaults.setObject(Value(), "one");
    defaults.removeObject("two");
    defaults.removeObject("never-there");
  }
  EXPECT_EQ(UserDefaults(file).dictionaryRepresentation(), Value::dictionary({}));
}

TEST(UserDefaults, ValuesWithoutAStoredFormAreRefusedAndNothingChanges) {
  struct Thing : SharedObject {};
  ScratchDirectory scratch;
  UserDefaults defaults(scratch / "d.json");
  defaults.setObject(Value("kept"), "k");
  EXPECT_THROW(defaults.setObject(Value::array({Value(std::make_shared<Thing>())}), "k"), InvalidArgumentException);
  EXPECT_THROW(defaults.setObject(Value(std::make_shared<Thing>()), "k"), InvalidArgumentException);
  EXPECT_EQ(defaults.stringForKey("k"), "kept");
  EXPECT_EQ(UserDefaults(scratch / "d.json").stringForKey("k"), "kept");
}

TEST(UserDefaults, CorruptFileGivesAnEmptyStoreALogLineAndIsReplacedOnTheNextChange) {
  ScratchDirectory scratch;
  fs::path file = scratch / "d.json";
  for (std::string garbage : {std::string("{\"$dict\":{\"k\":"), std::string("\xff\xfe garbage"),
                              std::string("[\"not a dictionary\"]"), std::string("")}) {
    std::ofstream(file, std::ios::binary | std::ios::trunc) << garbage;
    LogCapture capture;
    UserDefaults defaults(file);
    EXPECT_TRUE(defaults.objectForKey("k").isNil());
    EXPECT_TRUE(capture.contains("d.json")) << garbage;
    defaults.setObject(Value("fresh"), "k");
    EXPECT_EQ(UserDefaults(file).stringForKey("k"), "fresh");
  }
}

TEST(UserDefaults, ALeftoverTemporaryFromACrashIsIgnored) {
  ScratchDirectory scratch;
  fs::path file = scratch / "d.json";
  UserDefaults(file).setObject(Value("committed"), "k");
  std::ofstream(scratch / ".d.json.tmp-00000000deadbeef") << "{\"$dict\":{\"k\":\"half";
  EXPECT_EQ(UserDefaults(file).stringForKey("k"), "committed");
}

TEST(UserDefaults, FileIsPrivateToTheUser) {
  ScratchDirectory scratch;
  UserDefaults defaults(scratch / "d.json");
  defaults.setInteger(5, "n");
  struct stat status {};
  ASSERT_EQ(::stat((scratch / "d.json").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0077, 0u);
}

TEST(UserDefaults, WriteFailureIsReportedBySynchronizeAndRetried) {
  ScratchDirectory scratch;
  fs::path blocker = scratch / "blocker";
  std::ofstream(blocker) << "a file where the directory should be";
  LogCapture capture;
  UserDefaults defaults(blocker / "d.json");
  defaults.setObject(Value("in memory"), "k");
  EXPECT_EQ(defaults.stringForKey("k"), "in memory");
  EXPECT_FALSE(defaults.synchronize());
  EXPECT_TRUE(capture.contains("cannot write"));
  fs::remove(blocker);
  EXPECT_TRUE(defaults.synchronize());
  EXPECT_EQ(UserDefaults(blocker / "d.json").stringForKey("k"), "in memory");
}

TEST(UserDefaults, StandardStoreLivesInTheSandboxAndFollowsItsRoot) {
  ScratchDirectory first, second;
  Sandbox::setRoot(first.path());
  UserDefaults::standard().setObject(Value("one"), "k");
  EXPECT_TRUE(fs::exists(first / "Library/Preferences/test.vestavind.reader.json"));
  Sandbox::setRoot(second.path());
  EXPECT_TRUE(UserDefaults::standard().objectForKey("k").isNil());
  Sandbox::setRoot(first.path());
  EXPECT_EQ(UserDefaults::standard().stringForKey("k"), "one");
  Sandbox::setRoot({});
}

}  // namespace
}  // namespace platform
