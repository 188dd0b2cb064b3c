#include "usage_tracker.hpp"

#include <algorithm>
#include <map>
#include <mutex>
#include <set>
#include <utility>

namespace analytics {

namespace {

constexpr std::pair<std::string_view, char> kCodes[] = {
    {"set:forKey:", 'A'},
    {"setAll:", 'B'},
    {"dictionaryGet:", 'C'},
    {"setCampaignParametersFromUrl:", 'D'},
    {"get:", 'J'},
    {"set:value:", 'K'},
    {"send:", 'L'},
    {"setTrackUncaughtExceptions:", 'e'},
    {"trackUncaughtExceptions", 'f'},
    {"createTransactionWithId:affiliation:revenue:tax:shipping:currencyCode:", 'g'},
    {"createExceptionWithDescription:withFatal:", 'h'},
    {"createTimingWithCategory:interval:name:label:", 'j'},
    {"createSocialWithNetwork:action:target:", 'k'},
    {"trackerWithName:trackingId:", 'n'},
    {"defaultTracker", 'o'},
    {"setDefaultTracker:", 'p'},
    {"setOptOut:", 'q'},
    {"optOut", 'r'},
    {"dispatch", 's'},
    {"setDispatchInterval:", 't'},
    {"createEventWithCategory:action:label:value:", 'y'},
    {"createItemWithTransactionId:name:sku:category:price:quantity:currencyCode:", 'z'},
    {"setDryRun:", '2'},
    {"dryRun", '3'},
    {"setLogger:", '4'},
    {"removeTrackerByName:", '7'},
    {"createAppView", '-'},
};

// The class's own target key.
const char kClassTarget = 0;

// Builders record from any thread, so the shared record is guarded.
struct Record {
  std::mutex mutex;
  std::string sequence;
  std::map<const void*, std::set<char>> codesByTarget;
};

Record& record() {
  static Record instance;
  return instance;
}

}  // namespace

UsageTracker::~UsageTracker() {
  auto& r = record();
  std::lock_guard lock(r.mutex);
  r.codesByTarget.erase(this);
}

char UsageTracker::codeForAction(std::string_view action) {
  for (const auto& [name, code] : kCodes) {
    if (name == action) return code;
  }
  return '\0';
}

void UsageTracker::trackTarget(const void* target, std::string_view action) {
  char code = codeForAction(action);
  if (code == '\0') return;
  auto& r = record();
  std::lock_guard lock(r.mutex);
  r.codesByTarget[target].insert(code);
  r.sequence.push_back(code);
}

void UsageTracker::trackAction(std::string_view action) { trackTarget(&kClassTarget, action); }

std::string UsageTracker::getUsageSequence() {
  auto& r = record();
  std::string taken;
  {
    std::lock_guard lock(r.mutex);
    taken.swap(r.sequence);
  }
  return taken.empty() ? std::string() : "." + taken;
}

std::string UsageTracker::getUsageClearingTarget(const void* target) {
  auto& r = record();
  std::set<char> codes;
  std::lock_guard lock(r.mutex);
  auto take = [&](const void* key) {
    auto it = r.codesByTarget.find(key);
    if (it == r.codesByTarget.end()) return;
    codes.insert(it->second.begin(), it->second.end());
    r.codesByTarget.erase(it);
  };
  take(target);
  if (target != &kClassTarget) take(&kClassTarget);
  return std::string(codes.begin(), codes.end());
}

void UsageTracker::trackInstanceAction(std::string_view action) { trackTarget(this, action); }

std::string UsageTracker::getUsage() { return getUsageClearingTarget(this); }

}  // namespace analytics
