#pragma once

#include "typed_value.hpp"

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;

namespace devserver::backend {

// One record of a class: its fields in stored (typed JSON) form, without
// "objectId", "createdAt" and "updatedAt".
struct StoredObject {
  std::string className;
  std::string objectId;
  Json fields = Json::object();
  std::int64_t createdAt = 0;
  std::int64_t updatedAt = 0;
};

struct Credentials {
  std::string userId;
  std::string username;
  std::string salt;
  std::string hash;
};

// The service's SQLite database: objects, relation members, user
// credentials, sessions, provider links, upload tickets and stored files.
// Not thread-safe: the owner serialises calls. Throws std::runtime_error
// when SQLite fails.
class ObjectStore {
 public:
  // Opens (creating when missing) "backend.sqlite" in `dataDir`.
  explicit ObjectStore(const std::filesystem::path& dataDir);
  ~ObjectStore();
  ObjectStore(const ObjectStore&) = delete;
  ObjectStore& operator=(const ObjectStore&) = delete;

  // A nestable transaction (a savepoint): rolled back unless commit() is
  // called before it goes away.
  class Transaction {
   public:
    explicit Transaction(ObjectStore& store);
    ~Transaction();
    void commit();

   private:
    ObjectStore& store_;
    std::string name_;
    bool done_ = false;
  };

  std::optional<StoredObject> find(const std::string& className, const std::string& objectId);
  std::vector<StoredObject> all(const std::string& className);
  // Inserts or replaces the record.
  void put(const StoredObject& object);
  void erase(const std::string& className, const std::string& objectId);

  void addRelation(const std::string& ownerClass, const std::string& ownerId, const std::string& key,
                   const std::string& targetId);
  void removeRelation(const std::string& ownerClass, const std::string& ownerId, const std::string& key,
                      const std::string& targetId);
  std::vector<std::string> relationTargets(const std::string& ownerClass, const std::string& ownerId,
                                           const std::string& key);
  // Owners of class `ownerClass` whose relation `key` holds `targetId`.
  std::vector<std::string> relationOwners(const std::string& ownerClass, const std::string& key,
                                          const std::string& targetId);

  void putCredentials(const Credentials& credentials);
  std::optional<Credentials> credentialsForUsername(const std::string& username);
  std::optional<Credentials> credentialsForUser(const std::string& userId);

  void addSession(const std::string& token, const std::string& userId);
  std::optional<std::string> userForSession(const std::string& token);

  void linkProvider(const std::string& provider, const std::string& providerId, const std::string& userId);
  void unlinkProvider(const std::string& provider, const std::string& userId);
  std::optional<std::string> userForProvider(const std::string& provider, const std::string& providerId);
  // Provider -> provider id of every link of the user.
  std::map<std::string, std::string> providersOf(const std::string& userId);

  void addUploadTicket(const std::string& ticket, const std::string& fileName);
  // The file name the ticket was issued for; the ticket is used up.
  std::optional<std::string> takeUploadTicket(const std::string& ticket);

  void putFile(const std::string& name, const std::string& contentType, std::int64_t size);
  std::optional<std::string> fileContentType(const std::string& name);

  void recordPasswordReset(const std::string& email);
  std::int64_t passwordResetCount(const std::string& email);

 private:
  void execute(const char* sql);
  void removeUserRecords(const std::string& userId);

  sqlite3* db_ = nullptr;
  int nextSavepoint_ = 0;
};

}  // namespace devserver::backend
