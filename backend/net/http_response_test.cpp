// The response side of the file transport: the header parser and the plain
// and chunked bodies, fed the way a socket delivers bytes (in every split).

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "http_headers.hpp"
#include "http_response.hpp"
#include "platform/exceptions.hpp"

namespace backend::net {
namespace {

struct Fed {
  bool ok = true;  // no parse error
  bool done = false;
  int statusCode = -1;
  std::string body;
};

// Feeds `pieces` in order to a fresh response.
Fed feed(const std::vector<std::string>& pieces) {
  HTTPResponse response;
  Fed result;
  for (const auto& piece : pieces) {
    if (response.appendBytes(piece.data(), piece.size()) < 0) {
      result.ok = false;
      break;
    }
  }
  result.done = response.done();
  result.statusCode = response.headers().statusCode();
  if (result.ok && response.headers().complete()) result.body = response.responseData();
  return result;
}

// Every way of cutting `text` into two pieces, and byte by byte.
std::vector<std::vector<std::string>> everySplit(const std::string& text) {
  std::vector<std::vector<std::string>> splits;
  for (std::size_t cut = 0; cut <= text.size(); ++cut) splits.push_back({text.substr(0, cut), text.substr(cut)});
  std::vector<std::string> bytes;
  for (char c : text) bytes.emplace_back(1, c);
  splits.push_back(bytes);
  return splits;
}

const std::string kFiveBytes = "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello";
const std::string kChunked =
    "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\nA\r\n, world...\r\n0\r\n\r\n";

TEST(HTTPResponseParsing, AResponseSplitAnywhereGivesTheSameStatusAndBody) {
  for (const std::string& text : {kFiveBytes, kChunked}) {
    const std::string expected = text == kFiveBytes ? "hello" : "hello, world...";
    for (const auto& pieces : everySplit(text)) {
      Fed fed = feed(pieces);
      ASSERT_TRUE(fed.ok) << "cut at " << pieces.front().size();
      EXPECT_TRUE(fed.done);
      EXPECT_EQ(fed.statusCode, 200);
      EXPECT_EQ(fed.body, expected) << "cut at " << pieces.front().size();
    }
  }
}

TEST(HTTPResponseParsing, MalformedHeadersAreRefused) {
  const std::vector<std::string> malformed = {
      "HTTP/1.1 200\r\n\r\n",                       // no reason phrase
      "HTTP/1.1 200 OK\r\nBad Name: x\r\n\r\n",     // space in a name
      "HTTP/1.1 200 OK\r\nBad(Name): x\r\n\r\n",    // separator in a name
      "HTTP/1.1 200 OK\r\nNo colon here\r\n\r\n",   // no ":"
      "HTTP/1.1 200 OK\r\n: empty name\r\n\r\n",
      "HTTP/1.1 200 OK\r\nNaïve: x\r\n\r\n",        // bytes above 127 in a name
      "HTTP/1.1 200 OK\r\nContent-Length: -1\r\n\r\n",
      "HTTP/1.1 200 OK\r\nContent-Length: 5x\r\n\r\n",
      "HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999\r\n\r\n",
      "ICY 200 OK\r\n\r\n",
      "\r\n",
  };
  for (const auto& text : malformed) EXPECT_FALSE(feed({text}).ok) << text;
}

TEST(HTTPResponseParsing, GarbageIsRefusedBeforeItsLineEnds) {
  // The early give-up looks at 30 bytes or more of an unterminated line.
  EXPECT_TRUE(feed({std::string(29, 'x')}).ok);
  EXPECT_FALSE(feed({std::string(30, 'x')}).ok);
  EXPECT_FALSE(feed({"HTTP/1.1 200 OK\r\n" + std::string(30, ' ')}).ok);
  EXPECT_TRUE(feed({"HTTP/1.1 200 OK\r\nX-Long-But-Fine-Name-Of-Header: still coming"}).ok);
  EXPECT_TRUE(feed({"HTTP/1.1 200 A long reason phrase still arriving"}).ok);
}

TEST(HTTPResponseParsing, AHeaderThatNeverEndsIsRefusedAtItsLimit) {
  const std::string start = "HTTP/1.1 200 OK\r\nX-Filler: ";
  HTTPResponse response;
  std::int64_t answer = response.appendBytes(start.data(), start.size());
  std::string chunk(1000, 'a');
  for (std::size_t sent = 0; sent <= HTTPHeaders::kMaxResponseHeaderBytes && answer >= 0; sent += chunk.size()) {
    answer = response.appendBytes(chunk.data(), chunk.size());
  }
  EXPECT_EQ(answer, -1);
  EXPECT_TRUE(response.parseError());
}

TEST(HTTPResponseParsing, FieldsAreFoundWhateverTheirCaseAndTheLastRepeatWins) {
  HTTPResponse response;
  std::string text = "HTTP/1.1 404 Not Found\r\ncontent-length: 3\r\nX-A:  one \r\nX-A: two\r\n\r\nabc";
  ASSERT_EQ(response.appendBytes(text.data(), text.size()), static_cast<std::int64_t>(text.size()));
  const HTTPHeaders& headers = response.headers();
  EXPECT_EQ(headers.getStatusLine(), "HTTP/1.1 404 Not Found");
  EXPECT_EQ(headers.statusDescription(), "Not Found");
  EXPECT_EQ(headers.getHeader("X-A"), "two");
  EXPECT_EQ(headers.contentLength(), 3);
  EXPECT_TRUE(response.done());
  EXPECT_EQ(response.responseData(), "abc");
}

TEST(HTTPResponseParsing, BodiesWithoutALengthEndWithTheirStream) {
  Fed noContent = feed({"HTTP/1.1 204 No Content\r\n\r\n"});
  EXPECT_TRUE(noContent.done) << "a 204 is done right after its header";

  HTTPResponse response;
  std::string text = "HTTP/1.1 200 OK\r\n\r\nuntil the end";
  response.appendBytes(text.data(), text.size());
  EXPECT_FALSE(response.done());
  EXPECT_TRUE(response.finishAtEndOfStream());
  EXPECT_EQ(response.responseData(), "until the end");
  EXPECT_FALSE(response.allowsReuse());

  HTTPResponse truncated;
  text = "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nhalf";
  truncated.appendBytes(text.data(), text.size());
  EXPECT_FALSE(truncated.finishAtEndOfStream()) << "a body cut short is not complete";
}

TEST(HTTPResponseParsing, BytesBeyondTheLengthAreNotBodyAndForbidReuse) {
  HTTPResponse response;
  std::string text = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nabEXTRA";
  response.appendBytes(text.data(), text.size());
  EXPECT_TRUE(response.done());
  EXPECT_EQ(response.responseData(), "ab");
  EXPECT_FALSE(response.allowsReuse());
}

TEST(HTTPResponseParsing, ReuseFollowsTheVersionAndTheConnectionField) {
  auto reusable = [](const std::string& text) {
    HTTPResponse response;
    response.appendBytes(text.data(), text.size());
    return response.allowsReuse();
  };
  EXPECT_TRUE(reusable("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"));
  EXPECT_FALSE(reusable("HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: 0\r\n\r\n"));
  EXPECT_FALSE(reusable("HTTP/1.0 200 OK\r\nContent-Length: 0\r\n\r\n"));
}

TEST(HTTPResponseParsing, ChunkedFormsAndTheirFaults) {
  const std::string head = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
  Fed lower = feed({head + "a\r\n0123456789\r\n0\r\n\r\n"});
  EXPECT_TRUE(lower.ok && lower.done);
  EXPECT_EQ(lower.body, "0123456789");

  EXPECT_FALSE(feed({head + "5;ext=1\r\nhello\r\n0\r\n\r\n"}).ok) << "extensions";
  EXPECT_FALSE(feed({head + "5\r\nhello\r\n0\r\nTrailer: x\r\n\r\n"}).ok) << "trailers";
  EXPECT_FALSE(feed({head + "5\r\nhelloXX0\r\n\r\n"}).ok) << "data not followed by CR LF";
  EXPECT_FALSE(feed({head + "\r\n"}).ok) << "empty size line";
  EXPECT_FALSE(feed({head + "1000000000000000\r\n"}).ok) << "a size beyond 60 bits";
  EXPECT_FALSE(feed({head + std::string("5\0\r\n", 4)}).ok) << "NUL in a size line";

  Fed unfinished = feed({head + "5\r\nhello\r\n"});
  EXPECT_TRUE(unfinished.ok);
  EXPECT_FALSE(unfinished.done);

  // Only the exact value "chunked" selects the chunked body.
  Fed capital = feed({"HTTP/1.1 200 OK\r\nTransfer-Encoding: Chunked\r\nContent-Length: 3\r\n\r\n3\r\n"});
  EXPECT_TRUE(capital.done);
  EXPECT_EQ(capital.body, "3\r\n");
}

TEST(HTTPResponseParsing, MisuseOfTheParserRaises) {
  HTTPHeaders headers = HTTPHeaders::response();
  EXPECT_THROW(headers.getStatusLine(), platform::InternalInconsistencyException);
  std::string bad = "nonsense\r\n";
  EXPECT_EQ(headers.appendBytes(bad.data(), bad.size()), -1);
  EXPECT_THROW(headers.appendBytes(bad.data(), bad.size()), platform::InternalInconsistencyException);
  EXPECT_THROW(headers.allHeaders(), platform::InternalInconsistencyException);

  HTTPResponse response;
  std::string text = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\r\npartial";
  response.appendBytes(text.data(), text.size());
  EXPECT_THROW(response.responseString(), platform::InternalInconsistencyException);
  EXPECT_THROW(response.streamBodyToPath("/tmp/x"), platform::InternalInconsistencyException);
}

TEST(HTTPResponseParsing, TextIsDecodedForTextualTypesOnly) {
  auto textOf = [](const std::string& type, const std::string& body) {
    HTTPResponse response;
    std::string text = "HTTP/1.1 200 OK\r\nContent-Type: " + type + "\r\nContent-Length: " +
                       std::to_string(body.size()) + "\r\n\r\n" + body;
    response.appendBytes(text.data(), text.size());
    return response.responseString();
  };
  EXPECT_EQ(textOf("application/json; charset=utf-8", "{\"a\":1}"), "{\"a\":1}");
  EXPECT_EQ(textOf("text/plain", std::string("bl\xc3\xa5\0tail", 9)), "bl\xc3\xa5");
  EXPECT_EQ(textOf("text/plain", "\xff\xfe"), std::nullopt);
  EXPECT_EQ(textOf("image/png", "text"), std::nullopt);
}

}  // namespace
}  // namespace backend::net
