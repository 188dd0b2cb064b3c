// The data file: an object's server state written and read back.

#include <gtest/gtest.h>

#include <filesystem>

#include "backend/internal/internal_utils.hpp"
#include "backend/object.hpp"
#include "platform/sandbox.hpp"
#include "support/backend/object_fixture.hpp"

namespace backend {
namespace {

class ObjectDataFileTest : public testing::BackendTest {};

TEST_F(ObjectDataFileTest, RoundTripKeepsIdentityTimestampsAndFieldsButNoPendingChanges) {
  auto stored = Object::objectWithoutData("Note", "abc123");
  auto other = Object::objectWithoutData("Note", "other1");
  stored->mergeAfterFetch(
      Value::dictionary({{"data", Value::dictionary({{"createdAt", "2024-01-02T03:04:05.678Z"},
                                                     {"updatedAt", "2024-02-03T04:05:06.789Z"},
                                                     {"title", "Hei"},
                                                     {"count", 7},
                                                     {"when", Value(*InternalUtils::preciseDateFromString("2023-05-06T07:08:09.010Z"))},
                                                     {"other", Value(other)},
                                                     {"list", Value::array({1, "two"})}})}}),
      Completeness::Complete);
  stored->setObject(Value("pending"), "title");
  stored->serializeToDataFile("currentThing");

  auto read = Object::objectFromDataFile("currentThing");
  ASSERT_TRUE(read);
  EXPECT_EQ(read->backendClassName(), "Note");
  EXPECT_EQ(read->objectId(), std::optional<std::string>("abc123"));
  EXPECT_EQ(read->createdAt(), stored->createdAt());
  EXPECT_EQ(read->updatedAt(), stored->updatedAt());
  EXPECT_EQ(InternalUtils::stringFromPreciseDate(*read->updatedAt()), "2024-02-03T04:05:06.789Z");
  EXPECT_EQ(read->objectForKey("title"), Value("Hei"));
  EXPECT_EQ(read->objectForKey("count").longLongValue(), 7);
  EXPECT_EQ(read->objectForKey("when"), stored->objectForKey("when"));
  EXPECT_EQ(read->objectForKey("list"), Value::array({1, "two"}));
  EXPECT_EQ(read->objectForKey("other").object<Object>()->objectId(), std::optional<std::string>("other1"));
  EXPECT_FALSE(read->isDirty(Children::Ignore));
  EXPECT_TRUE(read->isDataAvailable());
}

TEST_F(ObjectDataFileTest, WritesReplaceTheWholeFileAndLeaveNoTemporaryFiles) {
  auto object = Object::objectWithoutData("Note", "id1");
  object->mergeAfterFetch(Value::dictionary({{"data", Value::dictionary({{"text", std::string(4096, 'x')}})}}),
                          Completeness::Complete);
  object->serializeToDataFile("thing");
  object->mergeAfterFetch(Value::dictionary({{"data", Value::dictionary({{"text", "short"}})}}), Completeness::Complete);
  object->serializeToDataFile("thing");

  const auto path = InternalUtils::dataFilePath("thing");
  const auto directory = path.parent_path();
  for (const auto& entry : std::filesystem::directory_iterator(directory)) {
    const auto name = entry.path().filename().string();
    EXPECT_TRUE(name == "thing" || name == "applicationId" || name == "installationId") << name;
  }
  EXPECT_EQ(Object::objectFromDataFile("thing")->objectForKey("text"), Value("short"));

  Object::deleteDataFile("thing");
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_EQ(Object::objectFromDataFile("thing"), nullptr);
  Object::deleteDataFile("thing");  // already gone: ignored
}

TEST_F(ObjectDataFileTest, DamagedFilesReadAsNothing) {
  const auto path = InternalUtils::dataFilePath("broken");
  for (const char* text : {"{\"classname\":", "[1,2]", "{\"data\":{}}",
                           "{\"classname\":\"_Hidden\",\"data\":{}}", "\xff\xfe"}) {
    ASSERT_FALSE(platform::writeFileAtomically(path, text));
    EXPECT_EQ(Object::objectFromDataFile("broken"), nullptr) << text;
  }
}

}  // namespace
}  // namespace backend
