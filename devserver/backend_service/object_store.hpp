#pragma once

#include "typed_value.hpp"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;

namespace devserver::backend {

class StatementCache;
class WalCheckpointer;

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
    bool done_ = false;
  };

  std::optional<StoredObject> find(const std::string& className, const std::string& objectId);
  std::vector<StoredObject> all(const std::string& className);
  // Objects of the class whose top-level field `key` (a valid key name)
  // holds the string `value`; found by the database, not by reading the class.
  std::vector<StoredObject> withText(const std::string& className, const std::string& key, const std::string& value);

  // One key of the order scan() reads objects in.
  struct ScanKey {
    enum class Column { Created, Updated, Id } column;
    bool descending = false;
  };
  // Objects a scan passes over in the database: the first `count` of those
  // that a caller known by `readers` may read. `readers` are the ids an
  // access list names ("*", the user's id, "role:" and a role's name), and
  // "may read" is canRead()'s rule.
  struct Skip {
    std::int64_t count = 0;
    std::vector<std::string> readers;
  };
  // Calls `visit` with each object of the class, ordered by `order` and then
  // by creation and id, until `visit` returns false. Reads one row at a
  // time, so a caller that stops early never loads the whole class.
  void scan(const std::string& className, const std::vector<ScanKey>& order,
            const std::function<bool(StoredObject&&)>& visit, const Skip& skip);
  void scan(const std::string& className, const std::vector<ScanKey>& order,
            const std::function<bool(StoredObject&&)>& visit);
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

  // Sessions last kSessionLifetime; a user keeps at most
  // kMaxSessionsPerUser of them, the oldest going first.
  static constexpr std::int64_t kSessionLifetimeMillis = 90LL * 24 * 3600 * 1000;
  static constexpr std::int64_t kMaxSessionsPerUser = 100;
  void addSession(const std::string& token, const std::string& userId);
  // The user of a session that has not expired.
  std::optional<std::string> userForSession(const std::string& token);
  void removeSession(const std::string& token);

  void linkProvider(const std::string& provider, const std::string& providerId, const std::string& userId);
  void unlinkProvider(const std::string& provider, const std::string& userId);
  std::optional<std::string> userForProvider(const std::string& provider, const std::string& providerId);
  // Provider -> provider id of every link of the user.
  std::map<std::string, std::string> providersOf(const std::string& userId);

  // Upload tickets are good for kUploadTicketLifetime; at most
  // kMaxUploadTickets wait at once, the oldest going first.
  static constexpr std::int64_t kUploadTicketLifetimeMillis = 3600LL * 1000;
  static constexpr std::int64_t kMaxUploadTickets = 10000;
  void addUploadTicket(const std::string& ticket, const std::string& fileName);
  // The file name an unexpired ticket was issued for; the ticket is used up.
  std::optional<std::string> takeUploadTicket(const std::string& ticket);

  void putFile(const std::string& name, const std::string& contentType, std::int64_t size);
  std::optional<std::string> fileContentType(const std::string& name);
  // The bytes every stored file takes together.
  std::int64_t storedFileBytes();

  // The newest kMaxResetsPerEmail requests of an address are kept, and
  // kMaxResets in all.
  static constexpr std::int64_t kMaxResetsPerEmail = 10;
  static constexpr std::int64_t kMaxResets = 10000;
  void recordPasswordReset(const std::string& email);
  std::int64_t passwordResetCount(const std::string& email);

 private:
  void execute(const char* sql);
  // One statement without parameters, through the statement cache.
  void executeKept(const char* sql);
  void addColumnIfMissing(const char* table, const char* column, const char* declaration);
  void run(const char* sql, const std::string& text, std::int64_t number);
  void removeUserRecords(const std::string& userId);

  sqlite3* db_ = nullptr;
  std::unique_ptr<StatementCache> statements_;
  std::unique_ptr<WalCheckpointer> checkpointer_;
};

}  // namespace devserver::backend
