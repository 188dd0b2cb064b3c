#include "backend/installation.hpp"

#include <algorithm>
#include <array>
#include <climits>

#include "backend/internal/internal_utils.hpp"
#include "backend/internal/object_task_support.hpp"
#include "backend/object_subclass.hpp"
#include "platform/application_services.hpp"
#include "platform/bundle.hpp"
#include "platform/exceptions.hpp"
#include "platform/hex.hpp"
#include "platform/time_zone.hpp"

namespace backend {
namespace {

constexpr std::array<std::string_view, 7> kReadOnlyFields{"deviceType",   "installationId", "timeZone",
                                                          "clientVersion", "appVersion",    "appName",
                                                          "appIdentifier"};

bool isReadOnly(std::string_view key) {
  return std::find(kReadOnlyFields.begin(), kReadOnlyFields.end(), key) != kReadOnlyFields.end();
}

// Depth of the installation's own writes on this thread: they pass the
// read-only rules, and reads made by them do not refresh the badge again.
thread_local int internalWrites = 0;

struct InternalWrite {
  InternalWrite() { ++internalWrites; }
  ~InternalWrite() { --internalWrites; }
  InternalWrite(const InternalWrite&) = delete;
  InternalWrite& operator=(const InternalWrite&) = delete;
};

std::optional<std::string> stringOf(const Value& value) {
  return value.isString() ? std::optional<std::string>(*value.string()) : std::nullopt;
}

std::string hexOf(const platform::Bytes& bytes) { return platform::hexText(bytes.data(), bytes.size()); }

bool failedWithObjectNotFound(const AnyTask& task) {
  auto error = task.error();
  return error && error->code == kErrorObjectNotFound;
}

}  // namespace

void Installation::validateClassName(std::string_view className) {
  if (className != backendClassName())
    throw platform::InvalidArgumentException("Cannot initialize a BEInstallation with a custom class name.");
}

QueryPtr Installation::query() { return Query::queryWithClassName(backendClassName()); }

InstallationPtr Installation::self() { return std::static_pointer_cast<Installation>(shared_from_this()); }

// ---- Fields ---------------------------------------------------------------

std::optional<std::string> Installation::deviceType() { return stringOf(objectForKey("deviceType")); }
std::optional<std::string> Installation::installationId() { return stringOf(objectForKey("installationId")); }
std::optional<std::string> Installation::deviceToken() { return stringOf(objectForKey("deviceToken")); }
std::optional<std::string> Installation::timeZone() { return stringOf(objectForKey("timeZone")); }

long long Installation::badge() { return objectForKey("badge").longLongValue(); }

std::vector<std::string> Installation::channels() {
  std::vector<std::string> names;
  const Value list = objectForKey("channels");
  if (const auto* items = list.array()) {
    for (const auto& item : *items) {
      if (item.isString()) names.push_back(*item.string());
    }
  }
  return names;
}

void Installation::setInternally(const Value& value, std::string_view key) {
  InternalWrite write;
  setObject(value, key);
}

void Installation::updateIfChanged(const Value& value, std::string_view key) {
  InternalWrite write;
  if (!isDataAvailableForKey(key) || !(objectForKey(key) == value)) setObject(value, key);
}

void Installation::setDeviceType(std::string_view deviceType) { setInternally(Value(deviceType), "deviceType"); }
void Installation::setInstallationId(std::string_view id) { setInternally(Value(id), "installationId"); }
void Installation::setTimeZone(std::string_view timeZone) { setInternally(Value(timeZone), "timeZone"); }
void Installation::setDeviceToken(std::string_view deviceToken) { setInternally(Value(deviceToken), "deviceToken"); }

std::string Installation::convertDeviceTokenToString(const Value& token) {
  if (token.isString()) return *token.string();
  if (const auto* bytes = token.bytes()) return hexOf(*bytes);
  throw platform::InvalidArgumentException("A device token must be a string or bytes.");
}

void Installation::setDeviceTokenFromData(const Value& token) { setDeviceToken(convertDeviceTokenToString(token)); }

void Installation::clearDeviceToken() {
  InternalWrite write;
  removeObjectForKey("deviceToken");
}

void Installation::checkSetObject(const Value& value, std::string_view key) {
  if (internalWrites > 0) return;
  if (isReadOnly(key))
    throw platform::InvalidArgumentException("Can't change the " + std::string(key) + " field for a BEInstallation");
  if (key != "badge") return;
  const long long badge = value.longLongValue();
  if (badge < 0) throw platform::InvalidArgumentException("Can't set the badge to less than zero.");
  platform::setIconBadgeNumber(static_cast<int>(std::min<long long>(badge, INT_MAX)));
}

void Installation::checkRemoveObject(std::string_view key) {
  if (internalWrites > 0) return;
  if (key == "badge") throw platform::InvalidArgumentException("Can't remove the badge field for a BEInstallation.");
  if (isReadOnly(key))
    throw platform::InvalidArgumentException("Can't remove the " + std::string(key) + " field for a BEInstallation");
}

void Installation::checkIncrementKey(std::string_view key) {
  if (key == "badge")
    throw platform::InvalidArgumentException("Can't atomically increment the badge field for a BEInstallation.");
}

void Installation::willReadKey(std::string_view key) {
  if (key == "badge" && internalWrites == 0) updateBadgeFromDevice();
}

// ---- Automatic information ------------------------------------------------

void Installation::updateBadgeFromDevice() {
  updateIfChanged(Value(platform::Number::ofInt(platform::iconBadgeNumber())), "badge");
}

void Installation::updateTimeZoneFromDevice() { updateIfChanged(Value(platform::systemTimeZoneName()), "timeZone"); }

void Installation::updateVersionInfoFromDevice() {
  const platform::Bundle bundle = platform::Bundle::main();
  if (auto name = bundle.name()) updateIfChanged(Value(*name), "appName");
  if (auto version = bundle.version()) updateIfChanged(Value(*version), "appVersion");
  if (auto identifier = bundle.identifier()) updateIfChanged(Value(*identifier), "appIdentifier");
  updateIfChanged(Value(kClientVersion), "clientVersion");
}

void Installation::updateAutomaticInfo() {
  updateBadgeFromDevice();
  updateTimeZoneFromDevice();
  updateVersionInfoFromDevice();
}

// ---- Saving and fetching --------------------------------------------------

void Installation::prepareForRecreation() {
  InternalWrite write;
  forgetObjectIdAndMarkAllFieldsDirty();
}

Task<bool> Installation::saveAsync() {
  updateAutomaticInfo();
  const InstallationPtr installation = self();
  return Object::saveAsync().continueWith([installation](const Task<bool>& saved) -> Task<bool> {
    if (!failedWithObjectNotFound(saved)) {
      installation->persistIfCurrent();
      return saved;
    }
    // The record was deleted on the server behind our back: make a new one.
    return installation->recreateAsync();
  });
}

Task<bool> Installation::recreateAsync() {
  prepareForRecreation();
  const InstallationPtr installation = self();
  return Object::saveAsync().continueWith([installation](const Task<bool>& recreated) {
    installation->persistIfCurrent();
    return recreated;
  });
}

Task<bool> Installation::saveEventually(BoolCallback callback) {
  updateAutomaticInfo();
  return Object::saveEventually(std::move(callback));
}

Task<ObjectPtr> Installation::fetchAsync() {
  const InstallationPtr installation = self();
  return Object::fetchAsync().continueWith([installation](const Task<ObjectPtr>& fetched) -> Task<ObjectPtr> {
    if (!failedWithObjectNotFound(fetched)) {
      installation->persistIfCurrent();
      return fetched;
    }
    return installation->recreateAsync().continueWith([installation](const Task<bool>& recreated) {
      if (!detail::succeeded(recreated)) return detail::failureOf<ObjectPtr>(recreated);
      return Task<ObjectPtr>::taskWithResult(installation);
    });
  });
}

void Installation::checkDeleteParams() {
  throw platform::InternalInconsistencyException("Installations cannot be deleted");
}

}  // namespace backend
