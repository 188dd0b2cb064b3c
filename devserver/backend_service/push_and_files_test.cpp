#include "backend_fixture.hpp"

#include "file_storage.hpp"

#include <gtest/gtest.h>

namespace devserver::backend::testing {
namespace {

class PushTest : public BackendFixture {
 protected:
  void install(const std::string& id, const std::string& token, Json channels, const std::string& type = "ios") {
    create("_Installation",
           {{"installationId", id}, {"deviceType", type}, {"deviceToken", token}, {"channels", std::move(channels)}});
  }
  // The next payload handed to the gateway for `token` that this test has
  // not looked at yet.
  std::optional<std::string> next(const std::string& token) {
    std::vector<std::string> payloads;
    for (const auto& delivery : push_.deliveries()) {
      if (delivery.token == token) payloads.push_back(delivery.payload);
    }
    std::size_t& seen = seen_[token];
    if (seen >= payloads.size()) return std::nullopt;
    return payloads[seen++];
  }

  std::map<std::string, std::size_t> seen_;
};

TEST_F(PushTest, FansOutByChannel) {
  install("i1", "aa01", {"newsUpdates"});
  install("i2", "aa02", {"newsUpdates", "sport"});
  install("i3", "aa03", {"sport"});
  install("i4", "aa04", Json::array(), "android");
  Json pushed = result("client_push", {{"channels", "[\"newsUpdates\"]"},
                                       {"data", R"({"alert":"Ny sak","url":"http://www.vestavind.test/a/1"})"}});
  EXPECT_EQ(pushed, true);
  auto payload = next("aa01");
  ASSERT_TRUE(payload);
  EXPECT_EQ(Json::parse(*payload),
            (Json{{"aps", {{"alert", "Ny sak"}}}, {"url", "http://www.vestavind.test/a/1"}}));
  EXPECT_TRUE(next("aa02"));
  EXPECT_FALSE(next("aa03"));
  EXPECT_FALSE(next("aa04"));

  result("client_push", {{"channel", "sport"}, {"data", R"({"alert":"Mål!"})"}});
  EXPECT_TRUE(next("aa02"));
  EXPECT_TRUE(next("aa03"));
  EXPECT_FALSE(next("aa01"));

  // The empty channel reaches everyone; "type" narrows by device type.
  result("client_push", {{"channel", ""}, {"type", "android"}, {"data", R"({"alert":"a"})"}});
  EXPECT_TRUE(next("aa04"));
  EXPECT_FALSE(next("aa01"));
  result("client_push", {{"channel", ""}, {"data", R"({"alert":"all"})"}});
  for (const char* token : {"aa01", "aa02", "aa03", "aa04"}) EXPECT_TRUE(next(token)) << token;
}

TEST_F(PushTest, WhereAndExpiry) {
  install("i1", "bb01", {"x"});
  install("i2", "bb02", {"y"});
  result("client_push", {{"where", {{"channels", "y"}}}, {"data", R"({"alert":"q"})"}});
  EXPECT_FALSE(next("bb01"));
  EXPECT_TRUE(next("bb02"));

  result("client_push", {{"channel", ""}, {"expiration_time", 1000.5}, {"data", R"({"alert":"old"})"}});
  result("client_push", {{"channel", ""}, {"expiration_time_interval", 0}, {"data", R"({"alert":"old"})"}});
  EXPECT_FALSE(next("bb01")) << "an expired push is not delivered";
  result("client_push", {{"channel", ""}, {"expiration_time_interval", 3600}, {"data", R"({"alert":"new"})"}});
  EXPECT_TRUE(next("bb01"));

  EXPECT_EQ(errorCode("client_push", {{"channel", ""}, {"data", "{broken"}}), 107);
  EXPECT_EQ(errorCode("client_push", {{"channel", ""}}), 111);
  EXPECT_EQ(errorCode("client_push", {{"channels", "7"}, {"data", "{}"}}), 111);
  EXPECT_EQ(errorCode("client_push", {{"channel", ""}, {"expiration_time", "soon"}, {"data", "{}"}}), 111);
}

// The form the reader's file transfer builds: a CR LF before the first
// boundary, lower-case part headers, no file name.
std::string clientForm(const Json& postParams, const std::string& mime, const std::string& bytes) {
  const std::string boundary = "Boundary5+0xDeadBEEF15BAADF00D";
  std::string body;
  auto part = [&](const std::string& name, const std::string& content) {
    body += "\r\n--" + boundary + "\r\ncontent-disposition: form-data; name=\"" + name + "\"\r\n\r\n" + content;
  };
  for (const auto& [name, value] : postParams.items()) part(name, value.get<std::string>());
  part("Content-Type", mime);
  part("file", bytes);
  body += "\r\n--" + boundary + "--";
  return body;
}

constexpr const char* kFormType = "multipart/form-data; boundary=Boundary5+0xDeadBEEF15BAADF00D";

using FileTest = BackendFixture;

TEST_F(FileTest, UploadSlotFormPostAndDownload) {
  Json slot = result("upload_file", {{"name", "bilde av/../sol.png"}});
  std::string name = slot["name"];
  EXPECT_EQ(name.find('/'), std::string::npos);
  EXPECT_NE(name.find("sol.png"), std::string::npos);
  EXPECT_EQ(slot["url"], "http://files.backend.test/files/" + name);
  EXPECT_EQ(slot["post_url"], "http://files.backend.test/files/upload");

  static constexpr char kPng[] = "\x89PNG\r\n\x1a\n\0\x01binary";
  std::string bytes(kPng, sizeof kPng - 1);
  httplib::Request post;
  post.method = "POST";
  post.path = "/files/upload";
  post.set_header("Content-Type", kFormType);
  post.body = clientForm(slot["post_params"], "image/png", bytes);
  Answer posted = send(post, "http://files.backend.test");
  EXPECT_EQ(posted.status, 201);
  EXPECT_EQ(posted.body["url"], slot["url"]);
  EXPECT_EQ(send(post, "http://files.backend.test").status, 403) << "a ticket is good for one upload";

  httplib::Request download;
  download.method = "GET";
  download.path = "/files/" + name;
  httplib::Response response;
  service_->handle(download, response, "http://files.backend.test");
  EXPECT_EQ(response.status, 200);
  EXPECT_EQ(response.body, bytes);
  EXPECT_EQ(response.get_header_value("Content-Type"), "image/png");

  download.path = "/files/..%2Fbackend.sqlite";
  EXPECT_EQ(send(download).status, 404);
  download.path = "/files/nothing-here";
  EXPECT_EQ(send(download).status, 404);
}

TEST_F(FileTest, RefusesBrokenAndOversizedForms) {
  Json slot = result("upload_file", Json::object());
  EXPECT_NE(slot["name"].get<std::string>().find("file"), std::string::npos);
  httplib::Request post;
  post.method = "POST";
  post.path = "/files/upload";
  post.set_header("Content-Type", kFormType);
  post.body = "\r\n--Boundary5+0xDeadBEEF15BAADF00D\r\nno headers end";
  EXPECT_EQ(send(post).status, 400);
  post.body = clientForm({{"ticket", "forged"}}, "text/plain", "x");
  EXPECT_EQ(send(post).status, 403);
  post.body = clientForm(slot["post_params"], "text/plain", std::string(FileStorage::kMaxFileBytes + 1, 'x'));
  EXPECT_EQ(send(post).status, 413);
  post.body = clientForm(slot["post_params"], "text/plain", std::string(FileStorage::kMaxFileBytes, 'x'));
  EXPECT_EQ(send(post).status, 201) << "exactly the limit is fine, and the ticket survived the refusal";
  EXPECT_EQ(errorCode("upload_file", {{"name", 5}}), 122);
}

TEST_F(FileTest, ActiveContentIsServedAsADownloadOnly) {
  auto upload = [&](const std::string& mime) {
    Json slot = result("upload_file", {{"name", "page"}});
    httplib::Request post;
    post.method = "POST";
    post.path = "/files/upload";
    post.set_header("Content-Type", kFormType);
    post.body = clientForm(slot["post_params"], mime, "<script>alert(1)</script>");
    EXPECT_EQ(send(post).status, 201);
    httplib::Request download;
    download.method = "GET";
    download.path = "/files/" + slot["name"].get<std::string>();
    httplib::Response response;
    service_->handle(download, response, "http://files.backend.test");
    return response;
  };
  for (const char* active : {"text/html", "Text/HTML; charset=utf-8", "image/svg+xml", "application/javascript"}) {
    httplib::Response served = upload(active);
    EXPECT_EQ(served.get_header_value("Content-Type"), "application/octet-stream") << active;
    EXPECT_EQ(served.get_header_value("Content-Disposition"), "attachment") << active;
    EXPECT_EQ(served.get_header_value("X-Content-Type-Options"), "nosniff") << active;
  }
  httplib::Response text = upload("text/plain");
  EXPECT_EQ(text.get_header_value("Content-Type"), "text/plain");
  EXPECT_FALSE(text.has_header("Content-Disposition"));
  EXPECT_EQ(text.get_header_value("X-Content-Type-Options"), "nosniff");
  // A type that would break the answer's header is not kept.
  EXPECT_EQ(upload("text/plain\r\nSet-Cookie: a=b").get_header_value("Content-Type"), "application/octet-stream");
}

TEST_F(FileTest, TheFilesFolderHasAQuota) {
  ServiceLimits limits;
  limits.fileQuotaBytes = 100;
  restartWith(limits);
  auto post = [&](std::size_t size) {
    Json slot = result("upload_file", Json::object());
    httplib::Request request;
    request.method = "POST";
    request.path = "/files/upload";
    request.set_header("Content-Type", kFormType);
    request.body = clientForm(slot["post_params"], "text/plain", std::string(size, 'x'));
    return send(request);
  };
  EXPECT_EQ(post(60).status, 201);
  Answer full = post(60);
  EXPECT_EQ(full.status, 507);
  EXPECT_NE(full.body["error"].get<std::string>().find("full"), std::string::npos);
  EXPECT_EQ(post(40).status, 201);
}

TEST_F(FileTest, FileValuesMustNameWebAddresses) {
  auto file = [](const std::string& url) { return Json{{"__type", "File"}, {"name", "x.txt"}, {"url", url}}; };
  for (const char* refused : {"javascript:alert(1)", "file:///etc/passwd", "data:text/html,x", "ftp://h/x", "http://",
                              "//files.backend.test/x"}) {
    EXPECT_EQ(errorCode("create", {{"classname", "Doc"}, {"data", {{"file", file(refused)}}}}), 111) << refused;
  }
  std::string id = create("Doc", {{"file", file("HTTPS://files.backend.test/files/x.txt")}});
  EXPECT_EQ(get("Doc", id)["file"]["url"], "HTTPS://files.backend.test/files/x.txt");
  EXPECT_FALSE(create("Doc", {{"file", file("http://files.backend.test/files/x.txt")}}).empty());
}

TEST(MultipartForm, ParsesPartsAndRejectsDamage) {
  auto parts = parseMultipart("preamble\r\n--B\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\n1\r\n--B\r\n"
                              "content-disposition: form-data; name=\"f\"; filename=\"x\"\r\ncontent-type: text/x\r\n\r\n"
                              "two\r\nlines\r\n--B--",
                              "B");
  ASSERT_TRUE(parts);
  EXPECT_EQ(parts->at("a").content, "1");
  EXPECT_EQ(parts->at("f").content, "two\r\nlines");
  EXPECT_EQ(parts->at("f").contentType, "text/x");
  EXPECT_FALSE(parseMultipart("--B\r\nname-less: x\r\n\r\n1\r\n--B--", "B"));
  EXPECT_FALSE(parseMultipart("--B\r\ncontent-disposition: form-data; name=\"a\"\r\n\r\nunterminated", "B"));
  EXPECT_FALSE(parseMultipart("no boundary at all", "B"));
  EXPECT_FALSE(parseMultipart("--B\r\n", ""));
}

}  // namespace
}  // namespace devserver::backend::testing
