#include "collector/collector.hpp"

#include "http/answers.hpp"
#include "inspect/request_log.hpp"

namespace devserver {
namespace {

std::string rawQuery(const std::string& target) {
  auto mark = target.find('?');
  return mark == std::string::npos ? std::string() : target.substr(mark + 1);
}

// What a kept hit costs in memory, roughly: its line and its decoded parts.
std::size_t sizeOf(const CollectedHit& hit) {
  std::size_t bytes = sizeof(CollectedHit) + hit.line.size();
  for (const auto& [name, value] : hit.parameters) bytes += name.size() + value.size() + 64;
  for (const auto& problem : hit.problems) bytes += problem.size() + 32;
  return bytes;
}

}  // namespace

void Collector::keep(StoredHit hit) {
  hitBytes_ += hit.bytes;
  hits_.push_back(std::move(hit));
  while (hits_.size() > kMaxHits || hitBytes_ > kMaxHitBytes) {
    hitBytes_ -= hits_.front().bytes;
    hits_.pop_front();
  }
}

void Collector::handle(const httplib::Request& request, const RequestTarget& target, httplib::Response& response) {
  if (target.path != "/collect" && target.path != "/collect/") {
    answerError(response, 404, "the collector answers on /collect only");
    return;
  }
  std::vector<CollectedHit> received;
  if (request.method == "GET") {
    // An empty query is a hit the client had to drop for its size: still an answer.
    std::string query = rawQuery(request.target);
    if (!query.empty()) received.push_back(parseHitLine(query));
  } else if (request.method == "POST") {
    received = parseCollectPayload(request.body);
  } else {
    response.set_header("Allow", "GET, POST");
    answerError(response, 405, "the collector takes GET and POST");
    return;
  }
  std::string encoding = request.get_header_value("Content-Encoding");
  std::string time = RequestLog::now();
  {
    std::lock_guard lock(mutex_);
    for (auto& hit : received) {
      std::size_t bytes = sizeOf(hit);
      keep({nextSequence_++, time, target.host, request.method, encoding, std::move(hit), bytes});
    }
  }
  answerJson(response, {{"received", received.size()}});
}

nlohmann::json Collector::hits() const {
  std::lock_guard lock(mutex_);
  nlohmann::json list = nlohmann::json::array();
  for (const auto& stored : hits_) {
    nlohmann::json parameters = nlohmann::json::object();
    nlohmann::json parameterList = nlohmann::json::array();
    for (const auto& [name, value] : stored.hit.parameters) {
      parameters[name] = value;
      parameterList.push_back({name, value});
    }
    list.push_back({{"sequence", stored.sequence},
                    {"time", stored.time},
                    {"host", stored.host},
                    {"method", stored.method},
                    {"encoding", stored.encoding},
                    {"line", stored.hit.line},
                    {"parameters", parameters},
                    {"parameterList", parameterList},
                    {"problems", stored.hit.problems}});
  }
  return list;
}

void Collector::clear() {
  std::lock_guard lock(mutex_);
  hits_.clear();
  hitBytes_ = 0;
}

}  // namespace devserver
