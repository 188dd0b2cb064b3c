// The file transport against nginx: kept-alive connections, a large body
// streamed to a file, and TLS.

#include <gtest/gtest.h>

#include <fstream>

#include "backend/net/http_command_delegate.hpp"
#include "http_command.hpp"
#include "support/backend/nginx_server.hpp"
#include "support/eventually.hpp"

namespace backend::net {
namespace {

class HTTPCommandNginxTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { nginx_ = new testing::NginxServer(); }
  static void TearDownTestSuite() {
    delete nginx_;
    nginx_ = nullptr;
  }
  void SetUp() override { std::ofstream(nginx_->root() / "a.txt") << "alpha"; }
  void TearDown() override { HTTPCommandDelegate::setAdditionalTrustedCertificates(""); }

  static std::shared_ptr<HTTPCommand> sent(const std::string& url, bool persistent = true) {
    auto command = HTTPCommand::getCommandWithURL(url);
    command->setUsePersistentConnection(persistent);
    command->send();
    return command;
  }

  // The access log's lines for one path, once `count` of them are written.
  static std::vector<std::string> logged(const std::string& uri, std::size_t count) {
    std::vector<std::string> lines;
    test_support::eventually([&] {
      lines.clear();
      for (const auto& line : nginx_->accessLog()) {
        if (line.rfind("GET " + uri + " ", 0) == 0) lines.push_back(line);
      }
      return lines.size() >= count;
    });
    return lines;
  }

  // "<connection> <request number>" of a log line.
  static std::pair<std::string, std::string> connectionOf(const std::string& line) {
    std::istringstream words(line);
    std::string method, uri, status, connection, number;
    words >> method >> uri >> status >> connection >> number;
    return {connection, number};
  }

  static testing::NginxServer* nginx_;
};

testing::NginxServer* HTTPCommandNginxTest::nginx_ = nullptr;

TEST_F(HTTPCommandNginxTest, AKeptAliveConnectionCarriesTheNextTransfer) {
  std::ofstream(nginx_->root() / "keep.txt") << "kept";
  for (int i = 0; i < 2; ++i) {
    auto command = sent(nginx_->url("/keep.txt"));
    ASSERT_EQ(command->status(), HTTPCommand::kStatusSuccess);
    EXPECT_EQ(command->response().responseData(), "kept");
  }
  auto closing = sent(nginx_->url("/keep.txt"), false);
  EXPECT_EQ(closing->status(), HTTPCommand::kStatusSuccess);
  auto fresh = sent(nginx_->url("/keep.txt"));
  EXPECT_EQ(fresh->status(), HTTPCommand::kStatusSuccess);

  auto lines = logged("/keep.txt", 4);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(connectionOf(lines[1]).first, connectionOf(lines[0]).first);
  EXPECT_EQ(connectionOf(lines[1]).second, "2");
  EXPECT_NE(connectionOf(lines[2]).first, connectionOf(lines[0]).first) << "a closing transfer opens its own";
  EXPECT_EQ(connectionOf(lines[3]).first, connectionOf(lines[0]).first) << "the kept one is still there";
  EXPECT_EQ(connectionOf(lines[3]).second, "3");
}

TEST_F(HTTPCommandNginxTest, ALargeBodyIsStreamedToAFile) {
  constexpr std::size_t kSize = 50 * 1000 * 1000;
  std::string block(1 << 20, '\0');
  for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 7 + i / 251);
  {
    std::ofstream big(nginx_->root() / "big.bin", std::ios::binary);
    for (std::size_t written = 0; written < kSize; written += block.size())
      big.write(block.data(), static_cast<std::streamsize>(std::min(block.size(), kSize - written)));
  }
  const auto target = nginx_->root().parent_path() / "downloaded.bin";
  auto command = HTTPCommand::getCommandWithURL(nginx_->url("/big.bin"));
  command->response().streamBodyToPath(target);
  command->send();
  ASSERT_EQ(command->status(), HTTPCommand::kStatusSuccess);
  ASSERT_EQ(std::filesystem::file_size(target), kSize);
  std::ifstream original(nginx_->root() / "big.bin", std::ios::binary), copy(target, std::ios::binary);
  std::string a(block.size(), '\0'), b(block.size(), '\0');
  while (original.read(a.data(), static_cast<std::streamsize>(a.size())) || original.gcount() > 0) {
    copy.read(b.data(), static_cast<std::streamsize>(b.size()));
    ASSERT_EQ(original.gcount(), copy.gcount());
    ASSERT_EQ(a.compare(0, original.gcount(), b, 0, copy.gcount()), 0);
  }
  std::filesystem::remove(target);
  std::filesystem::remove(nginx_->root() / "big.bin");
}

TEST_F(HTTPCommandNginxTest, TLSConnectionsCheckTheServersCertificate) {
  auto untrusted = sent(nginx_->tlsUrl("/a.txt"));
  EXPECT_EQ(untrusted->status(), HTTPCommand::kStatusNetworkError) << "a self-signed certificate is refused";

  HTTPCommandDelegate::setAdditionalTrustedCertificates(nginx_->certificate().string());
  for (int i = 0; i < 2; ++i) {
    auto command = sent(nginx_->tlsUrl("/a.txt"));
    ASSERT_EQ(command->status(), HTTPCommand::kStatusSuccess);
    EXPECT_EQ(command->response().responseData(), "alpha");
  }
  auto lines = logged("/a.txt", 2);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(connectionOf(lines[1]).first, connectionOf(lines[0]).first);
}

}  // namespace
}  // namespace backend::net
