// Files against the devserver's file storage: shared uploads and downloads,
// the size limit, retried form posts, cancellation, failed downloads, deep
// saves, and the paths that bytes are kept at.

#include <gtest/gtest.h>

#include "backend/file.hpp"
#include "backend/object.hpp"
#include "file_locations.hpp"
#include "file_support.hpp"
#include "platform/exceptions.hpp"
#include "support/backend/devserver_fixture.hpp"
#include "support/eventually.hpp"

namespace backend {
namespace {

using platform::Error;
using testing::raisedMessage;

std::string bytesOf(const File::Data& data) { return data ? std::string(data->data()) : std::string("(none)"); }

class FileTest : public testing::DevserverTest {
 protected:
  // Requests the devserver received whose path starts with `prefix`.
  std::size_t requestsTo(const std::string& method, const std::string& prefix) {
    std::size_t count = 0;
    auto answer = admin().Get("/_admin/requests");
    const Value requests = InternalUtils::parseJSON(answer ? answer->body : "{}")["requests"];
    if (const platform::Array* list = requests.array()) {
      for (const Value& entry : *list) {
        const Value path = entry["path"];
        if (entry["method"] == Value(method) && path.isString() && path.string()->rfind(prefix, 0) == 0) ++count;
      }
    }
    return count;
  }

  // The next `count` requests to `path` answer `status` (after `delayMs`).
  void addPathFault(const std::string& path, int count, int status, int delayMs = 0) {
    std::string body = "{\"host\":\"*\",\"path\":\"" + path + "\",\"count\":" + std::to_string(count);
    if (status) body += ",\"status\":" + std::to_string(status);
    if (delayMs) body += ",\"delayMs\":" + std::to_string(delayMs);
    admin().Post("/_admin/faults", body + "}", "application/json");
  }

  // A file on the server with these bytes, and a fresh handle on it that
  // has nothing cached.
  FilePtr uploadedElsewhere(const std::string& bytes) {
    auto file = File::fileWithName("story.txt", bytes);
    std::optional<Error> error;
    EXPECT_TRUE(file->save(&error)) << (error ? error->message() : "");
    File::clearCache();
    forgetRequests();
    return File::fileWithNameURL(file->name(), file->url());
  }

  void forgetRequests() { admin().Delete("/_admin/requests"); }
};

TEST_F(FileTest, TwoSavesShareOneUploadAndTheBytesStayCached) {
  auto file = File::fileWithName("hei.txt", "hello");
  EXPECT_TRUE(file->isDirty());
  auto first = file->saveAsync();
  auto second = file->saveAsync();
  first.waitUntilFinished();
  second.waitUntilFinished();
  ASSERT_FALSE(first.error()) << first.error()->message();
  EXPECT_TRUE(first.result());
  EXPECT_TRUE(second.result());
  EXPECT_EQ(requestsTo("POST", "/2/upload_file"), 1u);
  EXPECT_EQ(requestsTo("POST", "/files/upload"), 1u);
  EXPECT_FALSE(file->isDirty());
  ASSERT_TRUE(file->url());
  EXPECT_NE(file->name(), std::optional<std::string>("hei.txt")) << "the server names the stored file";

  EXPECT_TRUE(file->isDataAvailable());
  EXPECT_EQ(bytesOf(file->getDataAsync().waitForResult()), "hello");
  EXPECT_EQ(requestsTo("GET", "/files/"), 0u) << "the uploaded bytes were kept as the cached copy";
  EXPECT_TRUE(file->saveAsync().waitForResult()) << "saving a stored file needs no request";
  EXPECT_EQ(requestsTo("POST", "/2/upload_file"), 1u);
}

TEST_F(FileTest, TenMebibytesAreTheLimit) {
  const std::string largest(File::kMaxFileBytes, 'x');
  auto file = File::fileWithName("big.bin", largest);
  std::optional<Error> error;
  ASSERT_TRUE(file->save(&error)) << (error ? error->message() : "");
  auto fresh = File::fileWithNameURL(file->name(), file->url());
  File::clearCache();
  EXPECT_EQ(fresh->getData(&error)->size(), largest.size());

  EXPECT_EQ(raisedMessage<platform::InvalidArgumentException>(
                [&] { File::fileWithName("big.bin", largest + "y"); }),
            "BEFile cannot be larger than 10485760 bytes");
  const auto tooLarge = std::filesystem::path(InternalUtils::privateDataDir()) / "too-large";
  platform::writeFileAtomically(tooLarge, largest + "y");
  EXPECT_EQ(raisedMessage<platform::InvalidArgumentException>(
                [&] { File::fileWithNameContentsAtPath("x", tooLarge); }),
            "BEFile cannot be larger than 10485760 bytes");
  const auto directory = InternalUtils::privateDataDir();
  EXPECT_EQ(raisedMessage<platform::InvalidArgumentException>(
                [&] { File::fileWithNameContentsAtPath("x", directory); }),
            directory.string() + " is not a valid file path");
}

TEST_F(FileTest, AFormPostIsTriedFiveTimes) {
  addPathFault("/files/upload", 4, 500);
  auto file = File::fileWithName("retry.txt", "again");
  std::optional<Error> error;
  EXPECT_TRUE(file->save(&error)) << (error ? error->message() : "");
  EXPECT_EQ(requestsTo("POST", "/files/upload"), 5u);

  forgetRequests();
  addPathFault("/files/upload", 5, 500);
  auto doomed = File::fileWithName("doomed.txt", "never");
  EXPECT_FALSE(doomed->save(&error));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, kErrorConnectionFailed);
  EXPECT_EQ(error->message(), "Upload failed.");
  EXPECT_EQ(requestsTo("POST", "/files/upload"), 5u);
  EXPECT_TRUE(doomed->isDirty()) << "a failed save leaves the file to be saved again";
  EXPECT_EQ(bytesOf(doomed->getData()), "never");
}

TEST_F(FileTest, ReadsShareOneDownload) {
  auto file = uploadedElsewhere("shared bytes");
  EXPECT_FALSE(file->isDataAvailable());
  auto first = file->getDataAsync();
  auto second = file->getDataStreamAsync();
  EXPECT_EQ(bytesOf(first.waitForResult()), "shared bytes");
  auto stream = second.waitForResult();
  ASSERT_TRUE(stream);
  char buffer[64];
  EXPECT_EQ(std::string(buffer, stream->read(buffer, sizeof buffer).value_or(0)), "shared bytes");
  EXPECT_EQ(bytesOf(file->getDataAsync().waitForResult()), "shared bytes");
  EXPECT_EQ(requestsTo("GET", "/files/"), 1u);
}

TEST_F(FileTest, AnErrorStatusIsAFailedDownloadAndLeavesNothingCached) {
  auto missing = File::fileWithNameURL("gone.txt", server_.baseUrl() + "/files/nothing-here");
  auto read = missing->getDataAsync();
  read.waitUntilFinished();
  ASSERT_TRUE(read.error());
  EXPECT_EQ(read.error()->code, kErrorConnectionFailed);
  EXPECT_EQ(read.error()->message(), "Download failed.");
  EXPECT_FALSE(missing->isDataAvailable()) << "the error page is not the file's bytes";
  EXPECT_EQ(requestsTo("GET", "/files/"), 1u) << "a missing file is not asked for again";
  EXPECT_EQ(missing->state(), File::State::Remote);

  auto troubled = uploadedElsewhere("eventually");
  addPathFault("/files/", 2, 503);
  EXPECT_EQ(bytesOf(troubled->getData()), "eventually") << "a server in trouble is asked again";
}

TEST_F(FileTest, OnlyHttpAndHttpsURLsAreDownloaded) {
  auto file = File::fileWithNameURL("x", "file:///etc/passwd");
  auto read = file->getDataAsync();
  read.waitUntilFinished();
  ASSERT_TRUE(read.error());
  EXPECT_EQ(read.error()->message(), "Download failed: only http and https file URLs can be downloaded.");
  EXPECT_EQ(file->state(), File::State::Remote);
}

TEST_F(FileTest, CancellingEndsTheWaitersAndRestoresTheState) {
  auto file = uploadedElsewhere("slow");
  addPathFault("/files/", 1, 0, 60000);
  auto read = file->getDataAsync();
  ASSERT_TRUE(test_support::eventually([&] { return requestsTo("GET", "/files/") == 1; }));
  EXPECT_EQ(file->state(), File::State::Fetching);
  file->cancel();
  read.waitUntilFinished();
  EXPECT_TRUE(read.isCancelled());
  EXPECT_EQ(file->state(), File::State::Remote);
  EXPECT_FALSE(file->isDataAvailable());
  file->cancel();
  EXPECT_EQ(file->state(), File::State::Remote) << "cancelling an idle file changes nothing";

  addPathFault("/2/upload_file", 1, 0, 60000);
  auto local = File::fileWithName("later.txt", "later");
  auto save = local->saveAsync();
  local->cancel();
  save.waitUntilFinished();
  EXPECT_TRUE(save.isCancelled());
  EXPECT_TRUE(local->isDirty());
}

TEST_F(FileTest, ADeepSaveUploadsTheFilesItHoldsFirst) {
  auto file = File::fileWithName("photo.png", "png bytes");
  auto note = Object::objectWithClassName("Note");
  note->setObject(Value(file), "attachment");
  std::optional<Error> error;
  ASSERT_TRUE(note->save(&error)) << (error ? error->message() : "");
  ASSERT_TRUE(file->url());
  const Value stored = storedObject("Note", *note->objectId())["attachment"];
  EXPECT_EQ(stored["__type"], Value("File"));
  EXPECT_EQ(stored["url"], Value(*file->url()));
  EXPECT_EQ(stored["name"], Value(*file->name()));

  auto fetched = Object::objectWithoutData("Note", *note->objectId());
  ASSERT_TRUE(fetched->fetch(&error));
  auto again = fetched->objectForKey("attachment").object<File>();
  ASSERT_TRUE(again);
  EXPECT_EQ(again->url(), file->url());
  EXPECT_EQ(bytesOf(again->getData()), "png bytes");

  auto offline = Object::objectWithClassName("Note");
  offline->setObject(Value(File::fileWithName("later.png", "x")), "attachment");
  EXPECT_EQ(raisedMessage<platform::InternalInconsistencyException>([&] { offline->saveEventually(); }),
            "Unable to saveEventually a BEObject with a relation to a new, unsaved BEFile.");
  EXPECT_TRUE(offline->isDirtyForKey("attachment"));
}

TEST_F(FileTest, TheTypedFormOfAFileSaysWhetherItIsStored) {
  auto local = File::fileWithName("a.txt", "a");
  auto typed = InternalUtils::encodeObject(Value(local), UnsavedChildren::Allow, DataObjects::Allow);
  EXPECT_EQ(InternalUtils::serializeToJSON(typed), R"({"__type":"File"})");
  auto remote = File::fileWithNameURL("b.txt", "http://files.test/files/b.txt");
  typed = InternalUtils::encodeObject(Value(remote), UnsavedChildren::Allow, DataObjects::Allow);
  EXPECT_EQ(InternalUtils::serializeToJSON(typed), R"({"__type":"File","url":"http://files.test/files/b.txt","name":"b.txt"})");
  auto decoded = InternalUtils::decodeObject(typed).object<File>();
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->url(), remote->url());
  EXPECT_EQ(decoded->state(), File::State::Remote);
}

TEST_F(FileTest, NamesAndURLsNeverLeadOutOfTheirDirectories) {
  const auto cache = file_locations::cacheDirectory();
  const std::vector<std::string> urls = {"http://h/files/..", "http://h/files/../../etc", "http://h/",
                                        "http://h/a%2F..%2Fb", "http://h/files/x?y=/../../z",
                                        std::string("http://h/nul\0x", 14)};
  for (const std::string& url : urls) {
    auto path = file_locations::cachePathForURL(url);
    ASSERT_TRUE(path);
    EXPECT_EQ(path->parent_path(), cache) << url;
    EXPECT_NE(path->filename(), "..");
  }
  EXPECT_EQ(File::fileNameForURL("http://h/files/a%20b.png?x=1#f"), "a%20b.png");
  EXPECT_EQ(File::fileNameForURL("http://h/files/.."), "_..");
  EXPECT_EQ(File::fileNameForURL("http://h/"), "_");
  auto sneaky = File::fileWithName("../../escape", "x");
  EXPECT_TRUE(std::filesystem::is_regular_file(file_locations::stagingDirectory() /
                                               file_locations::stagingPath(sneaky.get(), "../../escape").filename()));
  EXPECT_EQ(file_locations::stagingPath(sneaky.get(), "../../escape").parent_path(), file_locations::stagingDirectory());
}

TEST_F(FileTest, CopiesMimeTypesAndTheStagedBytes) {
  EXPECT_EQ(File::fileWithNameURL("photo.JPG", std::nullopt)->getMimeType(), "image/jpeg");
  EXPECT_EQ(File::fileWithNameURL("notes", std::nullopt)->getMimeType(), "application/octet-stream");
  EXPECT_EQ(File::fileWithData("x")->getMimeType(), "application/octet-stream");

  auto original = File::fileWithName("copy.txt", "copied");
  auto copy = original->copy();
  original.reset();
  EXPECT_EQ(bytesOf(copy->getData()), "copied") << "a local copy owns its own staged bytes";
  EXPECT_EQ(copy->name(), std::optional<std::string>("copy.txt"));
  auto remote = File::fileWithNameURL("r.txt", "http://files.test/files/r.txt")->copy();
  EXPECT_EQ(remote->url(), std::optional<std::string>("http://files.test/files/r.txt"));
}

}  // namespace
}  // namespace backend
