#include "object_store.hpp"

#include <devserver/limited_json.hpp>
#include <sqlite3.h>

#include <stdexcept>

#include "statement_cache.hpp"
#include "wal_checkpointer.hpp"

namespace devserver::backend {

// A statement borrowed from the cache, with positional text/integer binding.
class Statement {
 public:
  Statement(StatementCache& cache, std::string sql)
      : cache_(cache), sql_(std::move(sql)), statement_(cache.lend(sql_)) {}
  ~Statement() { cache_.giveBack(sql_, statement_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  Statement& bind(const std::string& text) {
    check(sqlite3_bind_text(statement_, ++index_, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT));
    return *this;
  }
  Statement& bind(std::int64_t number) {
    check(sqlite3_bind_int64(statement_, ++index_, number));
    return *this;
  }
  // True while there is a row to read.
  bool step() {
    int rc = sqlite3_step(statement_);
    if (rc == SQLITE_ROW) return true;
    if (rc != SQLITE_DONE) fail();
    return false;
  }
  std::string text(int column) const {
    auto* data = reinterpret_cast<const char*>(sqlite3_column_text(statement_, column));
    return data ? std::string(data, static_cast<std::size_t>(sqlite3_column_bytes(statement_, column))) : std::string();
  }
  std::int64_t integer(int column) const { return sqlite3_column_int64(statement_, column); }

 private:
  void check(int rc) {
    if (rc != SQLITE_OK) fail();
  }
  [[noreturn]] void fail() {
    throw std::runtime_error(std::string("sqlite: ") + sqlite3_errmsg(cache_.database()));
  }

  StatementCache& cache_;
  std::string sql_;
  sqlite3_stmt* statement_;
  int index_ = 0;
};

namespace {

constexpr int kMaxStoredDepth = 2 * kMaxJsonDepth;
constexpr std::size_t kMaxStoredBytes = 16 * 1024 * 1024;

constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS objects (class TEXT NOT NULL, id TEXT NOT NULL, fields TEXT NOT NULL,
  created INTEGER NOT NULL, updated INTEGER NOT NULL, PRIMARY KEY (class, id));
-- Scans read a class in creation or update order; without these each one
-- sorted the whole class before its first row.
CREATE INDEX IF NOT EXISTS objects_by_created ON objects (class, created, id);
CREATE INDEX IF NOT EXISTS objects_by_updated ON objects (class, updated, created, id);
CREATE TABLE IF NOT EXISTS relations (owner_class TEXT NOT NULL, owner_id TEXT NOT NULL, key TEXT NOT NULL,
  target_id TEXT NOT NULL, PRIMARY KEY (owner_class, owner_id, key, target_id));
CREATE INDEX IF NOT EXISTS relations_by_target ON relations (owner_class, key, target_id);
CREATE TABLE IF NOT EXISTS credentials (user_id TEXT PRIMARY KEY, username TEXT NOT NULL UNIQUE,
  salt TEXT NOT NULL, hash TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS sessions (token TEXT PRIMARY KEY, user_id TEXT NOT NULL);
CREATE INDEX IF NOT EXISTS sessions_by_user ON sessions (user_id);
CREATE TABLE IF NOT EXISTS provider_links (provider TEXT NOT NULL, provider_id TEXT NOT NULL, user_id TEXT NOT NULL,
  PRIMARY KEY (provider, provider_id));
CREATE TABLE IF NOT EXISTS upload_tickets (ticket TEXT PRIMARY KEY, name TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS files (name TEXT PRIMARY KEY, content_type TEXT NOT NULL, size INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS password_resets (email TEXT NOT NULL, requested INTEGER NOT NULL);
)sql";

// canRead() in SQL, for the readers bound as a JSON list: a row whose fields
// read as no object, or that has no access list object, is open to all;
// otherwise one of the readers needs an entry granting "read": true. CASE
// keeps SQLite from reading a damaged row's text as JSON.
constexpr const char* kReadableBy =
    " AND CASE WHEN NOT json_valid(fields) THEN 1"
    " WHEN json_type(fields) IS NOT 'object' OR json_type(fields, '$.ACL') IS NOT 'object' THEN 1"
    " ELSE EXISTS (SELECT 1 FROM json_each(fields, '$.ACL') AS entry"
    " WHERE entry.key IN (SELECT value FROM json_each(?))"
    " AND CASE WHEN entry.type = 'object' THEN json_type(entry.value, '$.read') IS 'true' ELSE 0 END) END";

StoredObject readObject(const Statement& row) {
  StoredObject object;
  object.className = row.text(0);
  object.objectId = row.text(1);
  // Stored fields passed the request limits; a damaged row reads as empty.
  auto fields = parseJsonLimited(row.text(2), kMaxStoredDepth, kMaxStoredBytes);
  object.fields = fields && fields->is_object() ? std::move(*fields) : Json::object();
  object.createdAt = row.integer(3);
  object.updatedAt = row.integer(4);
  return object;
}

}  // namespace

ObjectStore::ObjectStore(const std::filesystem::path& dataDir) {
  std::filesystem::create_directories(dataDir);
  auto path = (dataDir / "backend.sqlite").string();
  if (sqlite3_open(path.c_str(), &db_) != SQLITE_OK) {
    std::string message = db_ ? sqlite3_errmsg(db_) : "out of memory";
    sqlite3_close(db_);
    throw std::runtime_error("cannot open " + path + ": " + message);
  }
  statements_ = std::make_unique<StatementCache>(db_);
  execute("PRAGMA journal_mode=WAL");
  // WAL with NORMAL sync survives a crash of this process; only a power loss
  // can drop the last commits, which a development server can afford.
  execute("PRAGMA synchronous=NORMAL");
  checkpointer_ = std::make_unique<WalCheckpointer>(db_, path);
  execute(kSchema);
  // Folders made before these stores were bounded lack the columns; their
  // rows count from now.
  std::string now = std::to_string(nowMillis());
  addColumnIfMissing("sessions", "created", ("INTEGER NOT NULL DEFAULT " + now).c_str());
  addColumnIfMissing("upload_tickets", "created", ("INTEGER NOT NULL DEFAULT " + now).c_str());
}

void ObjectStore::addColumnIfMissing(const char* table, const char* column, const char* declaration) {
  Statement s(*statements_, std::string("SELECT 1 FROM pragma_table_info('") + table + "') WHERE name = ?");
  s.bind(std::string(column));
  if (s.step()) return;
  execute((std::string("ALTER TABLE ") + table + " ADD COLUMN " + column + " " + declaration).c_str());
}

void ObjectStore::run(const char* sql, const std::string& text, std::int64_t number) {
  Statement s(*statements_, sql);
  s.bind(text).bind(number);
  s.step();
}

ObjectStore::~ObjectStore() {
  checkpointer_.reset();  // its connection goes first, so closing this one can fold the log in
  statements_.reset();    // finalized before the connection closes
  sqlite3_close(db_);
}

void ObjectStore::executeKept(const char* sql) {
  Statement s(*statements_, sql);
  s.step();
}

void ObjectStore::execute(const char* sql) {
  char* error = nullptr;
  if (sqlite3_exec(db_, sql, nullptr, nullptr, &error) != SQLITE_OK) {
    std::string message = error ? error : "unknown error";
    sqlite3_free(error);
    throw std::runtime_error("sqlite: " + message);
  }
}

// Savepoints nest strictly, and SQLite takes a name to mean the most recent
// savepoint of that name, so one name serves every level.
ObjectStore::Transaction::Transaction(ObjectStore& store) : store_(store) { store_.executeKept("SAVEPOINT sp"); }

ObjectStore::Transaction::~Transaction() {
  if (done_) return;
  try {
    store_.executeKept("ROLLBACK TO sp");
    store_.executeKept("RELEASE sp");
  } catch (const std::exception&) {
    // Nothing more can be done from a destructor; the outer savepoint or the
    // connection's close ends the transaction.
  }
}

void ObjectStore::Transaction::commit() {
  store_.executeKept("RELEASE sp");
  done_ = true;
}

std::optional<StoredObject> ObjectStore::find(const std::string& className, const std::string& objectId) {
  Statement s(*statements_, "SELECT class, id, fields, created, updated FROM objects WHERE class = ? AND id = ?");
  s.bind(className).bind(objectId);
  if (!s.step()) return std::nullopt;
  return readObject(s);
}

std::vector<StoredObject> ObjectStore::all(const std::string& className) {
  Statement s(*statements_, "SELECT class, id, fields, created, updated FROM objects WHERE class = ? ORDER BY created, id");
  s.bind(className);
  std::vector<StoredObject> result;
  while (s.step()) result.push_back(readObject(s));
  return result;
}

std::vector<StoredObject> ObjectStore::withText(const std::string& className, const std::string& key,
                                                const std::string& value) {
  // CASE, because SQLite may evaluate both sides of an AND and a damaged row
  // must not fail the whole lookup.
  Statement s(*statements_, "SELECT class, id, fields, created, updated FROM objects WHERE class = ? AND CASE "
                   "WHEN json_valid(fields) THEN json_type(fields, ?) = 'text' AND json_extract(fields, ?) = ? "
                   "ELSE 0 END ORDER BY created, id");
  std::string path = "$." + key;
  s.bind(className).bind(path).bind(path).bind(value);
  std::vector<StoredObject> result;
  while (s.step()) result.push_back(readObject(s));
  return result;
}

void ObjectStore::scan(const std::string& className, const std::vector<ScanKey>& order,
                       const std::function<bool(StoredObject&&)>& visit) {
  scan(className, order, visit, Skip{});
}

void ObjectStore::scan(const std::string& className, const std::vector<ScanKey>& order,
                       const std::function<bool(StoredObject&&)>& visit, const Skip& skip) {
  std::string sql = "SELECT class, id, fields, created, updated FROM objects WHERE class = ?";
  if (skip.count > 0) sql += kReadableBy;
  sql += " ORDER BY ";
  for (const ScanKey& key : order) {
    switch (key.column) {
      case ScanKey::Column::Created: sql += "created"; break;
      case ScanKey::Column::Updated: sql += "updated"; break;
      case ScanKey::Column::Id: sql += "id"; break;
    }
    sql += key.descending ? " DESC, " : ", ";
  }
  sql += "created, id";
  if (skip.count > 0) sql += " LIMIT -1 OFFSET ?";
  Statement s(*statements_, sql);
  s.bind(className);
  if (skip.count > 0) s.bind(Json(skip.readers).dump()).bind(skip.count);
  while (s.step()) {
    if (!visit(readObject(s))) return;
  }
}

void ObjectStore::put(const StoredObject& object) {
  Statement s(*statements_, "INSERT OR REPLACE INTO objects (class, id, fields, created, updated) VALUES (?, ?, ?, ?, ?)");
  s.bind(object.className).bind(object.objectId).bind(object.fields.dump()).bind(object.createdAt).bind(object.updatedAt);
  s.step();
}

void ObjectStore::erase(const std::string& className, const std::string& objectId) {
  {
    Statement s(*statements_, "DELETE FROM objects WHERE class = ? AND id = ?");
    s.bind(className).bind(objectId);
    s.step();
  }
  Statement s(*statements_, "DELETE FROM relations WHERE owner_class = ? AND owner_id = ?");
  s.bind(className).bind(objectId);
  s.step();
  if (className == "_User") removeUserRecords(objectId);
}

void ObjectStore::removeUserRecords(const std::string& userId) {
  for (const char* sql : {"DELETE FROM credentials WHERE user_id = ?", "DELETE FROM sessions WHERE user_id = ?",
                          "DELETE FROM provider_links WHERE user_id = ?"}) {
    Statement s(*statements_, sql);
    s.bind(userId);
    s.step();
  }
}

void ObjectStore::addRelation(const std::string& ownerClass, const std::string& ownerId, const std::string& key,
                              const std::string& targetId) {
  Statement s(*statements_, "INSERT OR IGNORE INTO relations (owner_class, owner_id, key, target_id) VALUES (?, ?, ?, ?)");
  s.bind(ownerClass).bind(ownerId).bind(key).bind(targetId);
  s.step();
}

void ObjectStore::removeRelation(const std::string& ownerClass, const std::string& ownerId, const std::string& key,
                                 const std::string& targetId) {
  Statement s(*statements_, "DELETE FROM relations WHERE owner_class = ? AND owner_id = ? AND key = ? AND target_id = ?");
  s.bind(ownerClass).bind(ownerId).bind(key).bind(targetId);
  s.step();
}

std::vector<std::string> ObjectStore::relationTargets(const std::string& ownerClass, const std::string& ownerId,
                                                      const std::string& key) {
  Statement s(*statements_, "SELECT target_id FROM relations WHERE owner_class = ? AND owner_id = ? AND key = ?");
  s.bind(ownerClass).bind(ownerId).bind(key);
  std::vector<std::string> result;
  while (s.step()) result.push_back(s.text(0));
  return result;
}

std::vector<std::string> ObjectStore::relationOwners(const std::string& ownerClass, const std::string& key,
                                                     const std::string& targetId) {
  Statement s(*statements_, "SELECT owner_id FROM relations WHERE owner_class = ? AND key = ? AND target_id = ?");
  s.bind(ownerClass).bind(key).bind(targetId);
  std::vector<std::string> result;
  while (s.step()) result.push_back(s.text(0));
  return result;
}

void ObjectStore::putCredentials(const Credentials& c) {
  Statement s(*statements_, "INSERT OR REPLACE INTO credentials (user_id, username, salt, hash) VALUES (?, ?, ?, ?)");
  s.bind(c.userId).bind(c.username).bind(c.salt).bind(c.hash);
  s.step();
}

std::optional<Credentials> ObjectStore::credentialsForUsername(const std::string& username) {
  Statement s(*statements_, "SELECT user_id, username, salt, hash FROM credentials WHERE username = ?");
  s.bind(username);
  if (!s.step()) return std::nullopt;
  return Credentials{s.text(0), s.text(1), s.text(2), s.text(3)};
}

std::optional<Credentials> ObjectStore::credentialsForUser(const std::string& userId) {
  Statement s(*statements_, "SELECT user_id, username, salt, hash FROM credentials WHERE user_id = ?");
  s.bind(userId);
  if (!s.step()) return std::nullopt;
  return Credentials{s.text(0), s.text(1), s.text(2), s.text(3)};
}

void ObjectStore::addSession(const std::string& token, const std::string& userId) {
  std::int64_t now = nowMillis();
  {
    Statement s(*statements_, "DELETE FROM sessions WHERE created < ?");
    s.bind(now - kSessionLifetimeMillis);
    s.step();
  }
  run("DELETE FROM sessions WHERE user_id = ?1 AND token NOT IN "
      "(SELECT token FROM sessions WHERE user_id = ?1 ORDER BY created DESC, rowid DESC LIMIT ?2)",
      userId, kMaxSessionsPerUser - 1);
  Statement s(*statements_, "INSERT INTO sessions (token, user_id, created) VALUES (?, ?, ?)");
  s.bind(token).bind(userId).bind(now);
  s.step();
}

std::optional<std::string> ObjectStore::userForSession(const std::string& token) {
  Statement s(*statements_, "SELECT user_id FROM sessions WHERE token = ? AND created >= ?");
  s.bind(token).bind(nowMillis() - kSessionLifetimeMillis);
  if (!s.step()) return std::nullopt;
  return s.text(0);
}

void ObjectStore::removeSession(const std::string& token) {
  Statement s(*statements_, "DELETE FROM sessions WHERE token = ?");
  s.bind(token);
  s.step();
}

void ObjectStore::linkProvider(const std::string& provider, const std::string& providerId, const std::string& userId) {
  unlinkProvider(provider, userId);
  Statement s(*statements_, "INSERT OR REPLACE INTO provider_links (provider, provider_id, user_id) VALUES (?, ?, ?)");
  s.bind(provider).bind(providerId).bind(userId);
  s.step();
}

void ObjectStore::unlinkProvider(const std::string& provider, const std::string& userId) {
  Statement s(*statements_, "DELETE FROM provider_links WHERE provider = ? AND user_id = ?");
  s.bind(provider).bind(userId);
  s.step();
}

std::optional<std::string> ObjectStore::userForProvider(const std::string& provider, const std::string& providerId) {
  Statement s(*statements_, "SELECT user_id FROM provider_links WHERE provider = ? AND provider_id = ?");
  s.bind(provider).bind(providerId);
  if (!s.step()) return std::nullopt;
  return s.text(0);
}

std::map<std::string, std::string> ObjectStore::providersOf(const std::string& userId) {
  Statement s(*statements_, "SELECT provider, provider_id FROM provider_links WHERE user_id = ?");
  s.bind(userId);
  std::map<std::string, std::string> result;
  while (s.step()) result[s.text(0)] = s.text(1);
  return result;
}

void ObjectStore::addUploadTicket(const std::string& ticket, const std::string& fileName) {
  std::int64_t now = nowMillis();
  {
    Statement s(*statements_, "DELETE FROM upload_tickets WHERE created < ? OR rowid NOT IN "
                     "(SELECT rowid FROM upload_tickets ORDER BY created DESC, rowid DESC LIMIT ?)");
    s.bind(now - kUploadTicketLifetimeMillis).bind(kMaxUploadTickets - 1);
    s.step();
  }
  Statement s(*statements_, "INSERT INTO upload_tickets (ticket, name, created) VALUES (?, ?, ?)");
  s.bind(ticket).bind(fileName).bind(now);
  s.step();
}

std::optional<std::string> ObjectStore::takeUploadTicket(const std::string& ticket) {
  std::optional<std::string> name;
  {
    Statement s(*statements_, "SELECT name FROM upload_tickets WHERE ticket = ? AND created >= ?");
    s.bind(ticket).bind(nowMillis() - kUploadTicketLifetimeMillis);
    if (s.step()) name = s.text(0);
  }
  if (name) {
    Statement s(*statements_, "DELETE FROM upload_tickets WHERE ticket = ?");
    s.bind(ticket);
    s.step();
  }
  return name;
}

void ObjectStore::putFile(const std::string& name, const std::string& contentType, std::int64_t size) {
  Statement s(*statements_, "INSERT OR REPLACE INTO files (name, content_type, size) VALUES (?, ?, ?)");
  s.bind(name).bind(contentType).bind(size);
  s.step();
}

std::optional<std::string> ObjectStore::fileContentType(const std::string& name) {
  Statement s(*statements_, "SELECT content_type FROM files WHERE name = ?");
  s.bind(name);
  if (!s.step()) return std::nullopt;
  return s.text(0);
}

std::int64_t ObjectStore::storedFileBytes() {
  Statement s(*statements_, "SELECT COALESCE(SUM(size), 0) FROM files");
  s.step();
  return s.integer(0);
}

void ObjectStore::recordPasswordReset(const std::string& email) {
  run("DELETE FROM password_resets WHERE email = ?1 AND rowid NOT IN "
      "(SELECT rowid FROM password_resets WHERE email = ?1 ORDER BY rowid DESC LIMIT ?2)",
      email, kMaxResetsPerEmail - 1);
  {
    Statement s(*statements_, "DELETE FROM password_resets WHERE rowid NOT IN "
                     "(SELECT rowid FROM password_resets ORDER BY rowid DESC LIMIT ?)");
    s.bind(kMaxResets - 1);
    s.step();
  }
  Statement s(*statements_, "INSERT INTO password_resets (email, requested) VALUES (?, ?)");
  s.bind(email).bind(nowMillis());
  s.step();
}

std::int64_t ObjectStore::passwordResetCount(const std::string& email) {
  Statement s(*statements_, "SELECT COUNT(*) FROM password_resets WHERE email = ?");
  s.bind(email);
  s.step();
  return s.integer(0);
}

}  // namespace devserver::backend
