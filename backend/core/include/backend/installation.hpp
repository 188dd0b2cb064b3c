#pragma once
// An installation: the record of this copy of the application on the
// backend ("_Installation"), with its device token, the push channels it
// subscribes to and facts about the device that are refreshed before every
// save. One of them is the current installation, kept in the data file
// "currentInstallation" between runs.

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "backend/object.hpp"
#include "backend/query.hpp"

namespace backend {

class Installation;
using InstallationPtr = std::shared_ptr<Installation>;

// The keychain item that holds the device token.
inline constexpr const char* kDeviceTokenKeychainItem = "BackendPush";
// The data file of the current installation.
inline constexpr const char* kCurrentInstallationDataFile = "currentInstallation";

class Installation : public Object {
 public:
  static std::string backendClassName() { return "_Installation"; }
  // Raises InvalidArgumentException "Cannot initialize a BEInstallation with
  // a custom class name." for any name but "_Installation".
  static void validateClassName(std::string_view className);

  // The installation of this application copy: the one in memory, else the
  // one in the data file when it carries this copy's installation id, else a
  // new one (device type "ios", the installation id, and the device token of
  // the stored installation or, failing that, of the keychain). A stored
  // installation whose token differs from the keychain's takes the
  // keychain's, to be saved: a token stored whose save failed is not lost.
  // Thread-safe.
  // Raises like Object when the backend is not configured.
  static InstallationPtr currentInstallation();
  // The next currentInstallation reads the data file again.
  static void clearCurrentInstallationInMemory();
  // Also deletes the data file: the next access creates a new installation.
  static void clearCurrentInstallation();
  // Writes the installation to the data file and makes memory and disk match.
  static void saveCurrentInstallation(const InstallationPtr& installation);
  // A query on "_Installation".
  static QueryPtr query();

  std::optional<std::string> deviceType();
  std::optional<std::string> installationId();
  std::optional<std::string> deviceToken();
  // The badge after refreshing it from the device.
  long long badge();
  std::optional<std::string> timeZone();
  std::vector<std::string> channels();

  // These write their fields directly, read-only or not.
  void setDeviceType(std::string_view deviceType);
  void setInstallationId(std::string_view installationId);
  void setTimeZone(std::string_view timeZone);
  void setDeviceToken(std::string_view deviceToken);
  // A token as text (kept as it is) or as raw bytes (lower-case hex digits,
  // two per byte). Raises InvalidArgumentException for anything else.
  static std::string convertDeviceTokenToString(const Value& token);
  void setDeviceTokenFromData(const Value& token);
  void clearDeviceToken();

  // Each writes its fields only when they differ from the stored values.
  void updateBadgeFromDevice();
  void updateTimeZoneFromDevice();
  void updateVersionInfoFromDevice();
  void updateAutomaticInfo();

  // Every save form refreshes the automatic facts first. A record the server
  // no longer knows (code 101) is created anew with every field; the current
  // installation's data file is written after every outcome.
  Task<bool> saveAsync() override;
  Task<bool> saveEventually(BoolCallback callback = nullptr) override;
  // As saveAsync: re-creation on code 101, then the data file.
  Task<ObjectPtr> fetchAsync() override;

  // Installations cannot be deleted: InternalInconsistencyException.
  void checkDeleteParams() override;

 protected:
  // Read-only fields raise "Can't change the <key> field for a
  // BEInstallation"; a badge below zero raises "Can't set the badge to less
  // than zero." and any other badge becomes the icon's badge too.
  void checkSetObject(const Value& value, std::string_view key) override;
  void checkRemoveObject(std::string_view key) override;
  void checkIncrementKey(std::string_view key) override;
  void willReadKey(std::string_view key) override;
  bool needsDefaultACL() const override { return false; }

 private:
  // Sets a field past the read-only rules.
  void setInternally(const Value& value, std::string_view key);
  // Sets it only when it differs from the stored value.
  void updateIfChanged(const Value& value, std::string_view key);
  // Forgets the object id and marks every field changed, so the next save
  // creates a new record with all of them.
  void prepareForRecreation();
  // Saves a new record in place of one the server lost, then writes the data file.
  Task<bool> recreateAsync();
  // Writes the data file when this is the current installation.
  void persistIfCurrent();
  InstallationPtr self();
};

}  // namespace backend
