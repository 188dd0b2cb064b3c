#include <curl/curl.h>
#include <gtest/gtest.h>

#include <string>

#include "platform/curl_setup.hpp"
#include "support/loopback_server.hpp"

namespace platform {
namespace {

size_t keepBody(char* data, size_t size, size_t count, void* body) {
  static_cast<std::string*>(body)->append(data, size * count);
  return size * count;
}

// Options and answers of every argument kind (number, text, list, callback,
// large size) reach the library and come back: a call handed to the wrong
// function or an argument lost on the way shows in the transfer.
TEST(CurlLibrary, PassesOnOptionsAndAnswersOfEveryKind) {
  ASSERT_TRUE(ensureCurlSetUp());
  test_support::LoopbackServer server;
  server.page("/echo", "answered", "text/plain");
  CURL* easy = curl_easy_init();
  ASSERT_NE(easy, nullptr);
  const std::string url = server.url("/echo");
  const char payload[] = "hello, world";
  std::string body;
  curl_slist* headers = curl_slist_append(nullptr, "X-Kind: list");
  curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(easy, CURLOPT_POSTFIELDS, payload);
  curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(5));
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, keepBody);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, &body);
  ASSERT_EQ(curl_easy_perform(easy), CURLE_OK);

  long status = 0;
  curl_off_t downloaded = 0;
  char* effectiveURL = nullptr;
  EXPECT_EQ(curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status), CURLE_OK);
  EXPECT_EQ(curl_easy_getinfo(easy, CURLINFO_SIZE_DOWNLOAD_T, &downloaded), CURLE_OK);
  EXPECT_EQ(curl_easy_getinfo(easy, CURLINFO_EFFECTIVE_URL, &effectiveURL), CURLE_OK);
  EXPECT_EQ(status, 200);
  EXPECT_EQ(downloaded, 8);
  ASSERT_NE(effectiveURL, nullptr);
  EXPECT_EQ(std::string(effectiveURL), url);
  EXPECT_EQ(body, "answered");
  ASSERT_EQ(server.requestCount(), 1u);
  EXPECT_EQ(server.requests().front().body, "hello");
  EXPECT_EQ(server.requests().front().header("X-Kind"), "list");
  EXPECT_STREQ(curl_easy_strerror(CURLE_OK), "No error");
  curl_slist_free_all(headers);
  curl_easy_cleanup(easy);
}

}  // namespace
}  // namespace platform
