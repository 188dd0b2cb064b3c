#pragma once
// The process-wide configuration of the backend client: the application id
// and client key, which are also the consumer key and secret of every
// request signature.

#include <functional>
#include <string>
#include <string_view>

namespace backend::net {

class Backend {
 public:
  Backend() = delete;

  // Stores copies of both; clears the caches and data directories when the
  // id differs from the one stored on disk; registers the default field
  // operation decoders and the value types (access lists, geo points,
  // relations, roles); connects objects and queries to the command layer;
  // registers users and connects the current user's session token;
  // installs the disk-backed local-id manager and starts
  // the offline command queue; runs the configuration hooks (subclass
  // registration) that later layers installed.
  static void setApplicationId(std::string_view applicationId, std::string_view clientKey);
  // Raise InternalInconsistencyException "You have to call
  // setApplicationId:clientKey: on Backend to configure Backend." before
  // configuration.
  static std::string getApplicationId();
  static std::string getClientKey();
  // Passed on to the alert utility; kept here until it exists.
  static void offlineMessagesEnabled(bool enabled);
  static void errorMessagesEnabled(bool enabled);
  static bool usesOfflineMessages();
  static bool usesErrorMessages();
  // Work run at every configuration, after the ids are stored and the
  // offline queue has started (for example registering built-in subclasses).
  static void addConfigurationHook(std::function<void()> hook);
};

}  // namespace backend::net
