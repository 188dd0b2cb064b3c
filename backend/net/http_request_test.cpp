// The request side of the file transport: the header block and the
// multipart form body.

#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "http_headers.hpp"
#include "multipart_request.hpp"
#include "platform/exceptions.hpp"

namespace backend::net {
namespace {

// Everything bufferPart serves, from index 0 to its end.
std::optional<std::string> drain(RequestBody& body) {
  std::string out;
  while (out.size() < body.length()) {
    auto part = body.bufferPart(out.size());
    if (!part || part->empty()) return std::nullopt;
    out.append(part->data(), part->size());
  }
  if (body.bufferPart(out.size())) return std::nullopt;  // nothing past the end
  return out;
}

TEST(HTTPRequestHeaders, TheBlockNamesTheHostWithItsPortAndTheBody) {
  HTTPHeaders headers = HTTPHeaders::request();
  headers.setVerb("POST");
  headers.addHeader("X-Extra", "1");
  MultipartRequest body;
  body.appendPartWithName("a", "1");
  std::string block = headers.compileRequest("http://files.test:8080/up/load?x=1#top", &body);
  EXPECT_EQ(block.substr(0, block.find("\r\n")), "POST /up/load?x=1 HTTP/1.1");
  EXPECT_NE(block.find("\r\nHost: files.test:8080\r\n"), std::string::npos);
  EXPECT_NE(block.find("\r\nAccept-Encoding: identity\r\nAccept-Language: en-us\r\nUser-Agent: "), std::string::npos);
  EXPECT_NE(block.find("\r\nX-Extra: 1\r\n"), std::string::npos);
  EXPECT_NE(block.find("\r\nContent-Type: multipart/form-data; boundary=Boundary5+0xDeadBEEF15BAADF00D\r\n"),
            std::string::npos);
  EXPECT_NE(block.find("\r\nContent-Length: " + std::to_string(body.length()) + "\r\n\r\n"), std::string::npos);

  std::string plain = HTTPHeaders::request().compileRequest("http://files.test/f", nullptr);
  EXPECT_NE(plain.find("GET /f HTTP/1.1\r\nHost: files.test\r\n"), std::string::npos);
  EXPECT_EQ(plain.find("Content-Length"), std::string::npos);
  EXPECT_EQ(plain.substr(plain.size() - 4), "\r\n\r\n");
}

TEST(HTTPRequestHeaders, NothingInAURLOrFieldCanSplitTheRequest) {
  std::string block = HTTPHeaders::request().compileRequest("http://h/a b\r\nX-Injected: 1/bl\xc3\xa5?q=\r\n", nullptr);
  EXPECT_EQ(block.substr(0, block.find("\r\n")), "GET /a%20b%0D%0AX-Injected:%201/bl%C3%A5?q=%0D%0A HTTP/1.1");
  EXPECT_EQ(HTTPHeaders::request().compileRequest("http://h", nullptr).substr(0, 15), "GET / HTTP/1.1\r");

  HTTPHeaders headers = HTTPHeaders::request();
  EXPECT_THROW(headers.addHeader("X-A", "1\r\nX-B: 2"), platform::InvalidArgumentException);
  EXPECT_THROW(headers.addHeader("X A", "1"), platform::InvalidArgumentException);
  EXPECT_THROW(headers.setVerb("GET /x"), platform::InvalidArgumentException);
}

TEST(HTTPRequestHeaders, TheUserAgentNamesTheAppAndTheDevice) {
  EXPECT_TRUE(std::regex_match(HTTPHeaders::userAgent(),
                               std::regex(R"([^/]*/[^ ]* \(BackendApp, .+ .*, .+, Scale/[0-9]+\.[0-9]{6}\))")))
      << HTTPHeaders::userAgent();
}

TEST(MultipartRequestTest, TheServedBytesAreExactlyTheCompiledForm) {
  MultipartRequest form;
  form.appendPartWithName("a", "1");
  form.appendPartWithName("file", std::make_shared<MemoryInputStream>("xyz"), 3);
  const std::string boundary = "Boundary5+0xDeadBEEF15BAADF00D";
  const std::string expected = "\r\n--" + boundary + "\r\ncontent-disposition: form-data; name=\"a\"\r\n\r\n1" +
                               "\r\n--" + boundary + "\r\ncontent-disposition: form-data; name=\"file\"\r\n\r\nxyz" +
                               "\r\n--" + boundary + "--";
  EXPECT_EQ(form.length(), expected.size());
  EXPECT_EQ(drain(form), expected);
  EXPECT_EQ(MultipartRequest().length(), ("\r\n--" + boundary + "--").size()) << "an empty form is its footer";
}

TEST(MultipartRequestTest, StreamsAreReadInWindowsAndMustKeepTheirPromise) {
  std::string big(3 * MultipartRequest::kStreamWindowBytes + 17, '\0');
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>('a' + i % 26);
  MultipartRequest form;
  form.appendPartWithName("file", std::make_shared<MemoryInputStream>(big), big.size());
  form.appendPartWithName("after", "tail");
  auto served = drain(form);
  ASSERT_TRUE(served);
  EXPECT_NE(served->find(big + "\r\n--"), std::string::npos);
  MultipartRequest windowed;
  windowed.appendPartWithName("file", std::make_shared<MemoryInputStream>(big), big.size());
  const std::size_t streamStart = served->find(big);
  windowed.bufferPart(0);
  EXPECT_EQ(windowed.bufferPart(streamStart)->size(), MultipartRequest::kStreamWindowBytes);
  windowed.bufferPart(streamStart + 2 * MultipartRequest::kStreamWindowBytes);
  EXPECT_THROW(windowed.bufferPart(streamStart), platform::InternalInconsistencyException) << "streams go forward only";

  MultipartRequest shortStream;
  shortStream.appendPartWithName("file", std::make_shared<MemoryInputStream>("ab"), 5);
  EXPECT_EQ(drain(shortStream), std::nullopt) << "a stream that ends early leaves a hole";
}

TEST(MultipartRequestTest, DictionariesBecomeNamedPartsOfStringsAndBytes) {
  platform::Dictionary parts;
  parts.set("key", "value");
  parts.set("raw", platform::Bytes{0x00, 0xff});
  MultipartRequest form;
  form.appendParts(parts);
  auto served = drain(form);
  ASSERT_TRUE(served);
  EXPECT_NE(served->find("name=\"key\"\r\n\r\nvalue"), std::string::npos);
  EXPECT_NE(served->find(std::string("name=\"raw\"\r\n\r\n\0\xff", 16)), std::string::npos);

  platform::Dictionary unsupported;
  unsupported.set("n", 3);
  EXPECT_THROW(form.appendParts(unsupported), platform::InvalidArgumentException);
}

}  // namespace
}  // namespace backend::net
