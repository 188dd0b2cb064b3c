#include "devserver/server.hpp"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "backend_service/reader_application.hpp"
#include "oauth_signer.hpp"
#include "running_server.hpp"
#include "support/eventually.hpp"

namespace devserver {
namespace {

// Sends raw bytes and returns everything the server answers until it closes.
std::string rawExchange(int port, const std::string& request) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
  EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  EXPECT_EQ(send(fd, request.data(), request.size(), 0), static_cast<ssize_t>(request.size()));
  std::string answer;
  char buffer[4096];
  for (ssize_t got; (got = recv(fd, buffer, sizeof buffer, 0)) > 0;) answer.append(buffer, static_cast<std::size_t>(got));
  close(fd);
  return answer;
}

nlohmann::json addFault(test::RunningServer& running, const nlohmann::json& rule) {
  auto result = running.client()->Post("/_admin/faults", rule.dump(), "application/json");
  return result ? nlohmann::json::parse(result->body, nullptr, false) : nlohmann::json();
}

TEST(Server, AbsoluteFormTargetsAreServedLikeAProxy) {
  test::RunningServer running;
  std::string answer = rawExchange(running.port(),
                                   "GET http://www.glimt.test/kjendis/?hideHeader=1 HTTP/1.1\r\n"
                                   "Host: www.glimt.test\r\nConnection: close\r\n\r\n");
  EXPECT_EQ(answer.rfind("HTTP/1.1 200", 0), 0u);
  EXPECT_NE(answer.find("<title>Kjendis – Glimt</title>"), std::string::npos);
  EXPECT_EQ(answer.find("id=\"site-header\""), std::string::npos);
  // The target's host wins over a Host header that names another one.
  answer = rawExchange(running.port(), "GET http://www.kanal.test/ HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                                       "Connection: close\r\n\r\n");
  EXPECT_NE(answer.find("<title>Kanal – "), std::string::npos);
  auto logged = running.admin("/_admin/requests?host=www.kanal.test")["requests"];
  ASSERT_EQ(logged.size(), 1u);
  EXPECT_EQ(logged[0]["absoluteForm"], true);
  EXPECT_EQ(logged[0]["path"], "/");
}

TEST(Server, MalformedRequestsGetAClearErrorAndTheServerCarriesOn) {
  test::RunningServer running;
  auto badHost = running.get("bad host", "/");
  EXPECT_EQ(badHost->status, 400);
  EXPECT_NE(badHost->body.find("bad host"), std::string::npos);

  std::string huge = rawExchange(running.port(), "GET / HTTP/1.1\r\nHost: www.vestavind.test\r\nX-Big: " +
                                                     std::string(20000, 'a') + "\r\nConnection: close\r\n\r\n");
  EXPECT_EQ(huge.rfind("HTTP/1.1 400", 0), 0u);
  EXPECT_NE(huge.find("8 KiB"), std::string::npos);

  std::string notAPath = rawExchange(running.port(), "GET nowhere HTTP/1.1\r\nConnection: close\r\n\r\n");
  EXPECT_NE(notAPath.find("neither a path nor an http(s) URL"), std::string::npos);
  std::string garbage = rawExchange(running.port(), std::string("\x16\x03\x01\x00\xff garbage\r\n\r\n", 18));
  EXPECT_EQ(garbage.rfind("HTTP/1.1 400", 0), 0u);

  auto unknown = running.get("nowhere.test", "/");
  EXPECT_EQ(unknown->status, 404);
  EXPECT_NE(unknown->body.find("nowhere.test"), std::string::npos);
  EXPECT_EQ(running.get("www.vestavind.test", "/")->status, 200);
}

TEST(Server, APostWithoutContentLengthHasAnEmptyBody) {
  test::RunningServer running;
  std::string answer = rawExchange(running.port(), "POST /devices HTTP/1.1\r\nHost: push.gateway.test\r\n"
                                                   "Connection: close\r\n\r\n");
  EXPECT_EQ(answer.rfind("HTTP/1.1 201", 0), 0u);
}

TEST(Server, FaultsApplyToTheNextRequestsOfTheirHostOnly) {
  test::RunningServer running;
  auto rule = addFault(running, {{"host", "www.vestavind.test"}, {"count", 2}, {"status", 503}});
  EXPECT_EQ(rule["remaining"], 2);
  EXPECT_EQ(running.get("www.glimt.test", "/")->status, 200);
  EXPECT_EQ(running.get("www.vestavind.test", "/")->status, 503);
  EXPECT_EQ(running.admin("/_admin/faults")["faults"][0]["remaining"], 1);
  EXPECT_EQ(running.get("www.vestavind.test", "/iosapp/menuconfig/")->status, 503);
  EXPECT_EQ(running.get("www.vestavind.test", "/")->status, 200);
  EXPECT_TRUE(running.admin("/_admin/faults")["faults"].empty());
}

TEST(Server, AFaultWithAPathHitsOnlyPathsThatStartWithIt) {
  test::RunningServer running;
  auto rule = addFault(running, {{"host", "*"}, {"status", 503}, {"path", "/iosapp/"}});
  EXPECT_EQ(rule["path"], "/iosapp/");
  EXPECT_EQ(running.get("www.vestavind.test", "/")->status, 200);
  EXPECT_EQ(running.get("www.vestavind.test", "/iosapp/menuconfig/")->status, 503);
  EXPECT_EQ(running.get("www.vestavind.test", "/iosapp/menuconfig/")->status, 200);
}

TEST(Server, AClosedMidAnswerFaultCutsTheBodyShort) {
  test::RunningServer running;
  addFault(running, {{"host", "*"}, {"close", true}});
  auto cut = running.get("www.vestavind.test", "/");
  EXPECT_FALSE(cut);  // the client sees the connection end before the promised length
  auto whole = running.get("www.vestavind.test", "/");
  ASSERT_TRUE(whole);
  EXPECT_EQ(whole->status, 200);
}

TEST(Server, ADelayFaultHoldsTheAnswerBack) {
  test::RunningServer running;
  addFault(running, {{"host", "ssl.analytics.test"}, {"delayMs", 300}, {"status", 500}});
  auto started = std::chrono::steady_clock::now();
  auto result = running.get("ssl.analytics.test", "/collect?v=1");
  ASSERT_TRUE(result);
  EXPECT_EQ(result->status, 500);
  EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(300));
}

TEST(Server, StoppingWakesAnAnswerHeldByADelayFault) {
  test::RunningServer running;
  addFault(running, {{"host", "*"}, {"delayMs", 300000}, {"status", 500}});
  std::thread client([&] { running.get("www.vestavind.test", "/"); });
  while (running.admin("/_admin/requests")["requests"].empty()) std::this_thread::yield();
  running.server().stop();  // would wait out the five minutes if the delay missed the wake-up
  client.join();
  SUCCEED();
}

TEST(Server, StoppingEndsIdleKeptAliveConnectionsInsteadOfWaitingThemOut) {
  test::RunningServer running;
  auto client = running.client();
  client->set_keep_alive(true);
  ASSERT_TRUE(client->Get("/", {{"Host", "www.vestavind.test"}}));
  const auto started = std::chrono::steady_clock::now();
  running.server().stop();
  // The server keeps an idle connection open for two seconds.
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(1500));
}

TEST(Server, FaultRulesAreValidated) {
  test::RunningServer running;
  EXPECT_EQ(addFault(running, {{"host", "x.test"}})["error"].is_string(), true);
  EXPECT_EQ(addFault(running, {{"host", "x.test"}, {"status", 42}})["error"].is_string(), true);
  EXPECT_EQ(addFault(running, {{"host", "x.test"}, {"count", 0}, {"status", 500}})["error"].is_string(), true);
  EXPECT_EQ(addFault(running, {{"host", 5}, {"status", 500}})["error"].is_string(), true);
  // Numbers no integer can hold, fractions and text are refused, not converted.
  for (const auto& [name, value] : std::vector<std::pair<std::string, nlohmann::json>>{
           {"count", 1e300}, {"count", -1e300}, {"count", 2.5}, {"count", "3"}, {"status", 1e19},
           {"status", 500.5}, {"delayMs", 1e300}, {"delayMs", -1.0}, {"delayMs", 18446744073709551615ull}}) {
    nlohmann::json rule{{"host", "x.test"}, {"status", 500}};
    rule[name] = value;
    EXPECT_EQ(addFault(running, rule)["error"].is_string(), true) << name << " " << value;
  }
  EXPECT_EQ(addFault(running, {{"host", "x.test"}, {"count", 2.0}, {"status", 500.0}})["remaining"], 2);
  running.client()->Delete("/_admin/faults");
  // Delays hold workers: their total over every rule is bounded.
  EXPECT_EQ(addFault(running, {{"host", "*"}, {"count", 1000}, {"delayMs", 300000}})["error"].is_string(), true);
  EXPECT_EQ(addFault(running, {{"host", "*"}, {"count", 2}, {"delayMs", 300000}})["remaining"], 2);
  EXPECT_EQ(addFault(running, {{"host", "*"}, {"count", 1}, {"delayMs", 1000}})["error"].is_string(), true);
  running.client()->Delete("/_admin/faults");
  EXPECT_TRUE(running.admin("/_admin/faults")["faults"].empty());
}

TEST(Server, OnlySoManyInjectedDelaysAreHeldAtOnce) {
  test::RunningServer running;
  addFault(running, {{"host", "*"}, {"count", 9}, {"delayMs", 60000}});
  std::mutex mutex;
  std::vector<std::string> answered;
  std::vector<std::thread> clients;
  for (int i = 0; i < 9; ++i) {
    clients.emplace_back([&] {
      auto result = running.get("www.vestavind.test", "/");
      std::lock_guard lock(mutex);
      answered.push_back(result ? std::to_string(result->status) + " " + result->body : "no answer");
    });
  }
  // Eight are held for a minute; the ninth is answered at once instead of taking another worker.
  test_support::eventually([&] {
    std::lock_guard lock(mutex);
    return !answered.empty();
  });
  {
    std::lock_guard lock(mutex);
    EXPECT_EQ(answered.size(), 1u);
    std::string first = answered.empty() ? "" : answered[0];
    EXPECT_EQ(first.rfind("503 ", 0), 0u) << first;
    EXPECT_NE(first.find("injected delay refused"), std::string::npos);
  }
  running.server().stop();
  for (auto& client : clients) client.join();
}

TEST(Server, RequestLogShowsMethodHostPathHeadersAndBody) {
  test::RunningServer running;
  running.post("ssl.analytics.test", "/collect", "v=1&t=x", {{"X-Probe", "yes"}}, "text/plain");
  auto logged = running.admin("/_admin/requests")["requests"];
  ASSERT_EQ(logged.size(), 1u);  // admin requests are not logged
  EXPECT_EQ(logged[0]["method"], "POST");
  EXPECT_EQ(logged[0]["host"], "ssl.analytics.test");
  EXPECT_EQ(logged[0]["path"], "/collect");
  EXPECT_EQ(logged[0]["headers"]["X-Probe"], "yes");
  EXPECT_EQ(logged[0]["body"], "v=1&t=x");
  EXPECT_EQ(logged[0]["status"], 200);
  EXPECT_FALSE(logged[0]["headers"].contains("REMOTE_ADDR"));

  running.client()->Post("/_admin/reset", "", "application/json");
  EXPECT_TRUE(running.admin("/_admin/requests")["requests"].empty());
  EXPECT_TRUE(running.admin("/_admin/hits")["hits"].empty());
  EXPECT_EQ(running.admin("/_admin/nothing")["error"].is_string(), true);
}

TEST(Server, BackendRequestsAreVerifiedAgainstTheUrlTheClientSigned) {
  test::RunningServer running;
  const std::string body = R"({"classname":"Note"})";
  auto signedFor = [](const std::string& url) {
    return httplib::Headers{{"Authorization", test::oauthHeader(url, backend::kReaderApplicationId, backend::kReaderClientKey)}};
  };
  // Routed by Host: the client signed https although it arrives over plain HTTP.
  auto routed = running.post("api.backend.test", "/2/find", body, signedFor("https://api.backend.test/2/find"));
  ASSERT_TRUE(routed);
  EXPECT_EQ(routed->status, 200) << routed->body;
  EXPECT_TRUE(nlohmann::json::parse(routed->body).contains("result"));
  EXPECT_EQ(running.post("api.backend.test", "/2/find", body, signedFor("http://api.backend.test/2/find"))->status,
            401);
  EXPECT_EQ(running.post("api.backend.test", "/2/find", body)->status, 401);

  // On the server's own address, as backendctl --server http://127.0.0.1:PORT sends it.
  std::string own = "127.0.0.1:" + std::to_string(running.port());
  EXPECT_EQ(running.post(own, "/2/find", body, signedFor("http://" + own + "/2/find"))->status, 200);

  // Through the proxy form, the URL as written on the request line.
  std::string request = "POST http://api.backend.test/2/find HTTP/1.1\r\nHost: api.backend.test\r\n"
                        "Authorization: " + test::oauthHeader("http://api.backend.test/2/find", backend::kReaderApplicationId,
                                                              backend::kReaderClientKey) +
                        "\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) +
                        "\r\nConnection: close\r\n\r\n" + body;
  EXPECT_EQ(rawExchange(running.port(), request).rfind("HTTP/1.1 200", 0), 0u);
}

TEST(Server, AppOptionAddsApplicationsAndAdminListsObjects) {
  Server::Options options;
  options.applications.emplace_back("ToolApp", "tool-key");
  Server server(options);
  server.start();
  httplib::Client client("127.0.0.1", server.port());
  std::string url = "https://api.backend.test/2/create";
  auto created = client.Post("/2/create",
                             {{"Host", "api.backend.test"}, {"Authorization", test::oauthHeader(url, "ToolApp", "tool-key")}},
                             R"({"classname":"Note","data":{"text":"hei"}})", "application/json");
  ASSERT_TRUE(created);
  EXPECT_EQ(created->status, 200) << created->body;
  auto listed = nlohmann::json::parse(client.Get("/_admin/objects/Note")->body);
  ASSERT_EQ(listed["results"].size(), 1u) << listed.dump();
  EXPECT_EQ(listed["results"][0]["text"], "hei");
}

TEST(Server, ReportsItsPortAndRefusesATakenOneOrASecondStart) {
  test::RunningServer running;
  EXPECT_GT(running.port(), 0);
  EXPECT_EQ(running.server().baseUrl(), "http://127.0.0.1:" + std::to_string(running.port()));
  EXPECT_THROW(running.server().start(), std::runtime_error);

  Server::Options options;
  options.port = running.port();
  Server clash(options);
  EXPECT_THROW(clash.start(), std::runtime_error);
}

TEST(Server, WarnsWhenOtherMachinesMayReachIt) {
  Server::Options options;
  options.host = "0.0.0.0";
  Server server(options);
  ::testing::internal::CaptureStderr();
  server.start();
  std::string warned = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(warned.find("warning: listening on 0.0.0.0"), std::string::npos) << warned;

  ::testing::internal::CaptureStderr();
  Server quiet(Server::Options{});
  quiet.start();
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

TEST(Server, KeepsAGivenDataFolderAndRemovesItsOwnTemporaryOne) {
  std::filesystem::path temporary;
  {
    Server server(Server::Options{});
    temporary = server.dataDirectory();
    EXPECT_TRUE(std::filesystem::is_directory(temporary));
  }
  EXPECT_FALSE(std::filesystem::exists(temporary));

  Server::Options options;
  options.dataDir = std::filesystem::temp_directory_path() / ("devserver-keep-" + std::to_string(getpid()));
  {
    Server server(options);
    server.start();
  }
  EXPECT_TRUE(std::filesystem::is_directory(options.dataDir));
  std::filesystem::remove_all(options.dataDir);
}

}  // namespace
}  // namespace devserver

namespace devserver {
namespace {

TEST(Server, FileFormPostThroughTheStorageHostRoundTrips) {
  test::RunningServer running;
  const std::string url = "https://api.backend.test/2/upload_file";
  auto slot = running.post("api.backend.test", "/2/upload_file", R"({"name":"notes.txt"})",
                           {{"Authorization", test::oauthHeader(url, backend::kReaderApplicationId, backend::kReaderClientKey)}});
  ASSERT_TRUE(slot);
  auto result = nlohmann::json::parse(slot->body)["result"];
  ASSERT_TRUE(result.is_object()) << slot->body;
  // The form as the file transfer writes it: CR LF before the first boundary.
  const std::string boundary = "Boundary5+0xDeadBEEF15BAADF00D";
  std::string form;
  auto part = [&](const std::string& name, const std::string& content) {
    form += "\r\n--" + boundary + "\r\ncontent-disposition: form-data; name=\"" + name + "\"\r\n\r\n" + content;
  };
  for (const auto& [name, value] : result["post_params"].items()) part(name, value.get<std::string>());
  part("Content-Type", "text/plain");
  part("file", "hello file");
  form += "\r\n--" + boundary + "--";
  httplib::Client client("127.0.0.1", running.port());
  auto posted = client.Post("/files/upload", {{"Host", "files.backend.test"}}, form,
                            ("multipart/form-data; boundary=" + boundary).c_str());
  ASSERT_TRUE(posted);
  EXPECT_EQ(posted->status, 201) << posted->body;
  auto fetched = client.Get(("/files/" + result["name"].get<std::string>()).c_str(), {{"Host", "files.backend.test"}});
  ASSERT_TRUE(fetched);
  EXPECT_EQ(fetched->body, "hello file");
}

}  // namespace
}  // namespace devserver
