#include "backend/http/multipart_form_data.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <future>
#include <mutex>

#include "backend/http/http_client.hpp"
#include "platform/exceptions.hpp"
#include "support/backend/files.hpp"
#include "support/backend/loopback_server.hpp"
#include "support/scratch_directory.hpp"

namespace backend::http {
namespace {

using backend::testing::binaryBytes;
using backend::testing::LoopbackServer;
using test_support::ScratchDirectory;
using platform::Value;
namespace fs = std::filesystem;

std::string readAll(const RequestBodyStream& stream) {
  auto reader = stream.open();
  std::string out;
  char buffer[7];  // small, so reads cross segment boundaries
  while (auto read = reader->read(buffer, sizeof buffer)) {
    if (*read == 0) return out;
    out.append(buffer, *read);
  }
  throw std::runtime_error("body read failed");
}

struct Sent {
  std::shared_ptr<HTTPRequestOperation> operation;
  std::multimap<std::string, httplib::MultipartFormData> parts;
  std::string contentLength;
};

// Sends the request and returns what the server parsed out of it.
Sent send(LoopbackServer& server, URLRequest request) {
  struct Parsed {
    std::mutex mutex;
    std::multimap<std::string, httplib::MultipartFormData> parts;
  };
  auto parsed = std::make_shared<Parsed>();
  server.setHandler([parsed](const httplib::Request& request, httplib::Response& response) {
    std::lock_guard lock(parsed->mutex);
    for (const auto& [name, part] : request.files) parsed->parts.emplace(name, part);
    response.set_content("ok", "text/plain");
  });
  auto operation = HTTPRequestOperation::create(std::move(request));
  std::promise<void> done;
  operation->whenFinished([&] { done.set_value(); });
  operation->start();
  done.get_future().wait();
  auto requests = server.requests();
  std::lock_guard lock(parsed->mutex);
  return {operation, parsed->parts, requests.empty() ? std::string() : requests.back().header("Content-Length")};
}

TEST(MultipartForm, ServerReadsFieldsAndFilePartsWithBinaryBytesIntact) {
  LoopbackServer server;
  ScratchDirectory dir;
  auto large = binaryBytes(300 * 1024);
  auto largePath = dir.file("scan.PDF", large);
  static const char kTricky[] = "\r\n--not-a-boundary\r\n\0\xff";
  auto inMemory = std::string(kTricky, sizeof kTricky - 1);
  HTTPClient client(server.url() + "/2/");
  auto request = client.multipartFormRequestWithMethod(
      "POST", "upload", Value::dictionary({{"title", "Vær & vind"}, {"tags", Value::array({"a", "b"})}, {"n", 3}}),
      [&](MultipartFormData& form) {
        form.appendPartWithFileData(inMemory, "photo", "bilde.jpg", "image/jpeg");
        ASSERT_FALSE(form.appendPartWithFileURL(largePath, "document"));
        form.appendPartWithFormData("plain text", "note");
        HeaderFields headers;
        headers.set("Content-Disposition", "form-data; name=\"custom\"");
        headers.set("Content-Type", "text/csv");
        form.appendPartWithHeaders(headers, "a,b\n1,2");
      });
  EXPECT_EQ(request.headers.get("Content-Type")->rfind("multipart/form-data; boundary=", 0), 0u);
  auto sent = send(server, request);
  ASSERT_FALSE(sent.operation->error()) << sent.operation->error()->description();
  EXPECT_EQ(sent.contentLength, *request.headers.get("Content-Length"));

  ASSERT_EQ(sent.parts.size(), 8u);
  EXPECT_EQ(sent.parts.find("title")->second.content, "Vær & vind");
  EXPECT_EQ(sent.parts.find("n")->second.content, "3");
  auto tags = sent.parts.equal_range("tags[]");
  ASSERT_EQ(std::distance(tags.first, tags.second), 2);
  EXPECT_EQ(tags.first->second.content, "a");
  EXPECT_EQ(std::next(tags.first)->second.content, "b");
  auto& photo = sent.parts.find("photo")->second;
  EXPECT_EQ(photo.content, inMemory);
  EXPECT_EQ(photo.filename, "bilde.jpg");
  EXPECT_EQ(photo.content_type, "image/jpeg");
  auto& document = sent.parts.find("document")->second;
  EXPECT_EQ(document.filename, "scan.PDF");
  EXPECT_EQ(document.content_type, "application/pdf");
  EXPECT_TRUE(document.content == large);
  EXPECT_EQ(sent.parts.find("note")->second.content, "plain text");
  EXPECT_EQ(sent.parts.find("custom")->second.content, "a,b\n1,2");
  EXPECT_EQ(sent.parts.find("custom")->second.content_type, "text/csv");
}

TEST(MultipartForm, FramingFollowsTheBoundaryAndNamesCannotBreakIt) {
  MultipartFormData form("B");
  form.appendPartWithFormData("v", "k");
  form.appendPartWithFileData("x", "f\"\r\nX-Injected: 1", "a\".txt", "text/plain");
  auto body = readAll(*form.bodyStream());
  EXPECT_EQ(body,
            "--B\r\nContent-Disposition: form-data; name=\"k\"\r\n\r\nv\r\n"
            "--B\r\nContent-Disposition: form-data; name=\"f%22%0D%0AX-Injected: 1\"; filename=\"a%22.txt\"\r\n"
            "Content-Type: text/plain\r\n\r\nx\r\n"
            "--B--\r\n");
  EXPECT_EQ(form.contentLength(), body.size());
  EXPECT_EQ(readAll(*MultipartFormData("B").bodyStream()), "--B--\r\n");

  HeaderFields forged;
  forged.set("Content-Disposition", "form-data; name=\"a\"\r\n\r\nsmuggled");
  EXPECT_THROW(form.appendPartWithHeaders(forged, "x"), platform::InvalidArgumentException);
  EXPECT_THROW(form.appendPartWithFileData("x", "n", "f", "text/plain\r\nX: 1"), platform::InvalidArgumentException);
  EXPECT_NE(MultipartFormData().boundary(), MultipartFormData().boundary());

  HTTPClient client("http://example.test/2/");
  EXPECT_THROW(client.multipartFormRequestWithMethod("GET", "x", Value(), {}), platform::InvalidArgumentException);
}

TEST(MultipartForm, UnreadableFilesAreRefusedAndAShrunkenFileFailsTheUpload) {
  ScratchDirectory dir;
  MultipartFormData form("B");
  auto missing = form.appendPartWithFileURL((dir.path() / "missing.txt").string(), "f");
  ASSERT_TRUE(missing);
  EXPECT_EQ(missing->code, kURLErrorFileDoesNotExist);
  auto directory = form.appendPartWithFileURL(dir.path().string(), "f");
  ASSERT_TRUE(directory);
  EXPECT_EQ(directory->code, kURLErrorFileIsDirectory);
  EXPECT_EQ(readAll(*form.bodyStream()), "--B--\r\n");

  LoopbackServer server;
  auto path = dir.file("shrinks.bin", binaryBytes(64 * 1024));
  HTTPClient client(server.url() + "/");
  auto request = client.multipartFormRequestWithMethod("PUT", "up", Value(), [&](MultipartFormData& f) {
    ASSERT_FALSE(f.appendPartWithFileURL(path, "file"));
  });
  fs::resize_file(path, 10);
  auto sent = send(server, request);
  ASSERT_TRUE(sent.operation->error());
  EXPECT_TRUE(sent.parts.empty());
}

TEST(MultipartForm, MimeTypesFromExtensions) {
  EXPECT_EQ(mimeTypeForPath("/a/b/photo.JPG"), "image/jpeg");
  EXPECT_EQ(mimeTypeForPath("notes.txt"), "text/plain");
  EXPECT_EQ(mimeTypeForPath("/dir.d/archive"), "application/octet-stream");
  EXPECT_EQ(mimeTypeForPath(".profile"), "application/octet-stream");
}

}  // namespace
}  // namespace backend::http
