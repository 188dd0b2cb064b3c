#pragma once
// The backend client's class-level toolbox: the typed JSON encoding of field
// values, the value-class rules, timestamps, cache-key text, digests, the
// client's errors, its directories and data files, the installation id, the
// keychain, the service address and the shared background queue.
//
// Every member is static and thread-safe unless its comment says otherwise.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/date.hpp"
#include "platform/error.hpp"
#include "platform/executor.hpp"
#include "platform/number.hpp"
#include "platform/reachability.hpp"
#include "platform/value.hpp"

namespace backend {

using platform::Value;

// The error domain of every error the client produces or passes on.
inline constexpr const char* kErrorDomain = "Backend";
// The client version named in error log lines and request bodies.
inline constexpr const char* kClientVersion = "1.4.2";
// The API version: the number in the base URL.
inline constexpr int kAPIVersion = 2;
// The service address used until setServer is called.
inline constexpr const char* kDefaultServer = "https://api.backend.test";

// Codes the client itself assigns; every other code comes from the server.
enum ErrorCode : std::int64_t {
  kErrorConnectionFailed = 100,        // "Upload failed.", "Download failed."
  kErrorObjectNotFound = 101,          // "no results matched the query", "invalid login credentials"
  kErrorMissingObjectId = 106,         // "Pointer to an unsaved object."
  kErrorPushMisconfigured = 115,       // "There is no device token stored yet."
  kErrorCacheMiss = 120,               // "cache miss", "the cache contains corrupted json"
  kErrorACLUserNotSignedUp = 123,      // "User associated with ACL must be signed up."
  kErrorFileSaveCancelled = 151,       // "A file save was cancelled."
  kErrorUsernameTaken = 202,           // sign-up refusals
  kErrorLinkedIdMissing = 208,         // compared against, never produced
};

// Whether an unsaved data object may be written as a "localId" pointer.
enum class UnsavedChildren { Disallow, Allow };
// Whether data objects may appear at all.
enum class DataObjects { Disallow, Allow };

class InternalUtils {
 public:
  InternalUtils() = delete;

  // ---- Typed encoding -------------------------------------------------------

  // The typed JSON form of a value: data objects become "Pointer"s, byte
  // buffers "Bytes", dates "Date"s, field operations their "__op" form, and
  // registered kinds (see typed_kind.hpp) their own dictionaries; arrays and
  // dictionaries are rebuilt with encoded members; everything else is returned
  // as it is. Raises InternalInconsistencyException "BEObjects are not allowed
  // here." for a data object when objects are disallowed, and "Tried to save
  // an object with a new, unsaved child." for an object without id when
  // unsaved children are disallowed. An unsaved object written in "localId"
  // form gets its local id here (which needs the local-id manager).
  static Value encodeObject(const Value& value, UnsavedChildren unsaved, DataObjects objects);

  // The client value of a typed JSON value. Dictionaries with a "__type" of a
  // registered kind are turned into that kind; a malformed typed value of a
  // known kind (a "Date" without milliseconds, bad base64, a "Pointer"
  // without a class name) decodes to nil, which leaves its key out of a
  // dictionary and stands as the null marker in an array. Unknown "__type"s
  // come back as the same dictionary, undecoded. May raise the exceptions of
  // the kinds' own decoders (for example a mistyped geo point).
  static Value decodeObject(const Value& value);
  // The same for a tree the caller gives up (such as a fresh parse): the
  // containers nobody else holds are decoded in place instead of copied.
  static Value decodeObject(Value&& value);
  static Value decodeDictionary(const platform::Dictionary& dictionary);
  static Value decodeArray(const platform::Array& array);

  // Compact JSON text of a value already in typed form. Raises
  // InvalidArgumentException "BEObject values must be serializable to JSON"
  // when the value has no JSON form.
  static std::string serializeToJSON(const Value& typedValue);
  // serializeToJSON(encodeObject(value, unsaved, objects)) in one pass,
  // without the encoded copy of the tree; raises as the two would.
  static std::string encodeToJSON(const Value& value, UnsavedChildren unsaved, DataObjects objects);
  // The JSON value of a text, or nil (after logging "JSON deserialization
  // failed. Error trace is: <error>") when it does not parse.
  static Value parseJSON(std::string_view text);

  // ---- Cache keys and digests ---------------------------------------------

  // Canonical text of a JSON value: dictionary keys sorted at every level,
  // strings quoted without escaping, every member followed by ",".
  // Raises InvalidArgumentException "Couldn't create cache key from <value>"
  // for anything that is not a dictionary, array, string, number or null.
  static std::string cacheKeyForObject(const Value& value);
  // MD5 of the text's bytes as 32 lower-case hexadecimal digits.
  static std::string calculateMD5(std::string_view text);

  // ---- Numbers ---------------------------------------------------------------

  // a + b computed and stored in a's storage type (b is read in that type);
  // a boolean/char sum is stored as a boolean, narrow types wrap.
  static platform::Number addNumber(const platform::Number& a, const platform::Number& b);

  // ---- Value classes -----------------------------------------------------

  // Raise InvalidArgumentException "BEObject values may not have class: <class>",
  // "Cannot do a comparison query for type: <class>" and "Cannot do a query
  // that requires ordering for type: <class>" unless the value may be a field
  // value / a comparison operand / an ordering operand.
  static void assertValidClassForValue(const Value& value);
  static void assertValidClassForQuery(const Value& value);
  static void assertValidClassForOrdering(const Value& value);
  // True for values whose inside can change without a new assignment
  // (arrays, dictionaries and registered container kinds).
  static bool isContainerClass(const Value& value);
  // The class name used in the messages above.
  static std::string className(const Value& value);

  // ---- Timestamps (UTC) ----------------------------------------------------

  // "yyyy-MM-dd'T'HH:mm:ss.SSS'Z'": milliseconds, rounded to the nearest.
  static std::string stringFromPreciseDate(platform::Date date);
  // nullopt unless the text has exactly that form and names a real date.
  static std::optional<platform::Date> preciseDateFromString(std::string_view text);
  // "yyyy-MM-dd'T'HH:mm:ss'Z'": whole seconds (the fraction is dropped).
  static std::string stringFromImpreciseDate(platform::Date date);
  static std::optional<platform::Date> impreciseDateFromString(std::string_view text);

  // ---- Errors --------------------------------------------------------------

  // An error of domain "Backend" whose user info is {"code": code, "error":
  // message}. Logs "Error: <message> (Code: <code>, Version: 1.4.2)" unless
  // shouldLog is false.
  static platform::Error errorWithCode(std::int64_t code, const std::string& message, bool shouldLog = true);
  // The error described by a server answer {"code", "error", ...}: its code
  // is the integer value of "code" and its user info the answer itself.
  // Logs as above unless shouldLog is false.
  static platform::Error errorFromResult(const Value& result, bool shouldLog = true);

  // ---- Directories and data files -------------------------------------------

  // <sandbox>/Library/Private Documents/Backend, created when missing and
  // marked as excluded from backup on every call.
  static std::filesystem::path privateDataDir();
  // <sandbox>/Documents/Backend, only read for migration. Removed as a side
  // effect when it exists and is empty.
  static std::filesystem::path deprecatedDataDir();
  // The path of a data file in the private directory, migrating a file of
  // that name out of the deprecated directory first. Raises
  // InternalInconsistencyException when the application id is not configured,
  // InvalidArgumentException for a name that would leave the directory.
  static std::filesystem::path dataFilePath(std::string_view name);
  // <sandbox>/Library/Caches/Backend/<name>, normalised and created when
  // missing. Raises InvalidArgumentException when the name would lead outside
  // the caches directory.
  static std::filesystem::path cacheDir(std::string_view name);
  // Removes everything inside a directory; failures are logged, never raised.
  static void deleteDirectoryContents(const std::filesystem::path& path);
  // Marks a path as excluded from backup (the platform's extended attribute
  // "user.vestavind.exclude-from-backup"); true on success.
  static bool skipBackupOnPath(const std::filesystem::path& path);
  // Compares the "applicationId" data file with the configured application
  // id: when they differ, the main cache, the deprecated and the private
  // directory are wiped. Then writes the configured id when the file is
  // missing. Raises like dataFilePath when the client is not configured.
  static void checkCacheApplicationId();
  // How to empty the shared key-value cache, installed by the cache layer;
  // until then checkCacheApplicationId has no cache to empty.
  static void setMainCacheClearer(std::function<void()> clear);

  // ---- Identity ------------------------------------------------------------

  // The installation id: kept in memory, read from the "installationId" data
  // file, or created (a new UUID), written atomically and excluded from
  // backup. Empty when the file exists but cannot be read as UTF-8.
  static std::string installationId();
  static void clearCachedInstallationId();
  static void clearInstallationId();
  // A new random (version 4) UUID as upper-case 8-4-4-4-12 hexadecimal text.
  static std::string createUUID();

  // ---- Keychain (generic-password items on the platform keychain) ----------

  // The description of the item a name stands for: class, service, account
  // and accessibility.
  static Value getKeychainQuery(std::string_view name);
  // Replaces the item's data by the value in archived (typed JSON) form. False
  // when the keychain cannot be written. Raises like encodeObject with objects
  // disallowed.
  static bool saveToKeychain(std::string_view name, const Value& value);
  // The archived value, or nil when there is no item or it cannot be read.
  static Value loadFromKeychain(std::string_view name);
  static bool deleteFromKeychain(std::string_view name);

  // ---- Service and threads -------------------------------------------------

  // Sets the service address; the base URL becomes "<address>/2/". Meant for
  // start-up; the shared HTTP client is built from baseURL().
  static void setServer(std::string_view address);
  static std::string serverAddress();
  static std::string baseURL();
  // True when the flags leave a usable path: no connection required, or an
  // automatic connection without user intervention, or a cellular path. The
  // reachable flag is not consulted.
  static bool isNetworkAvailable(platform::ReachabilityFlags flags);
  // isNetworkAvailable for the host of the base URL; false when the flags
  // cannot be read.
  static bool isBackendReachable();
  // The process' low-priority concurrent queue (disk-cache writes).
  static platform::Executor& backgroundQueue();
};

}  // namespace backend
