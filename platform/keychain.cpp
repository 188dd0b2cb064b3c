#include "platform/keychain.hpp"

#include <mutex>

#include "platform/log.hpp"
#include "platform/sandbox.hpp"
#include "typed_json.hpp"

namespace fs = std::filesystem;

namespace platform {
namespace {

// One lock for every keychain file: the calls are rare and short.
std::mutex keychainMutex;

Array loadItems(const fs::path& file) {
  std::error_code error;
  std::optional<std::string> text = readFile(file, &error);
  if (!text) {
    if (error != std::errc::no_such_file_or_directory) {
      log("Keychain: cannot read " + file.string() + ": " + error.message());
    }
    return {};
  }
  std::string problem;
  std::optional<Value> stored = detail::decodeTypedJson(*text, problem);
  Value items = stored ? (*stored)["items"] : Value();
  if (!items.isArray()) {
    log("Keychain: ignoring unreadable " + file.string() + ": " +
        (stored ? std::string("no item list") : problem));
    return {};
  }
  return *items.array();
}

bool isItem(const Value& item, std::string_view service, std::string_view account) {
  Value itemService = item["service"];
  Value itemAccount = item["account"];
  return itemService.isString() && itemAccount.isString() && *itemService.string() == service &&
         *itemAccount.string() == account;
}

bool saveItems(const fs::path& file, Array items) {
  Value root = Value::dictionary({{"items", Value(std::move(items))}});
  std::error_code error;
  fs::create_directories(file.parent_path(), error);
  error = writeFileAtomically(file, detail::encodeTypedJson(root), 0600);
  if (error) {
    log("Keychain: cannot write " + file.string() + ": " + error.message());
    return false;
  }
  return true;
}

// Drops the matching items; answers whether there were any.
bool removeMatching(Array& items, std::string_view service, std::string_view account) {
  auto before = items.size();
  std::erase_if(items, [&](const Value& item) { return isItem(item, service, account); });
  return items.size() != before;
}

}  // namespace

Keychain::Keychain(fs::path file) : file_(std::move(file)) {}

Keychain Keychain::standard() { return Keychain(Sandbox::root() / "keychain.json"); }

std::optional<Bytes> Keychain::get(std::string_view service, std::string_view account) const {
  std::lock_guard lock(keychainMutex);
  for (const Value& item : loadItems(file_)) {
    if (!isItem(item, service, account)) continue;
    Value data = item["data"];
    if (data.isBytes()) return *data.bytes();
  }
  return std::nullopt;
}

bool Keychain::set(std::string_view service, std::string_view account, const Bytes& data) {
  std::lock_guard lock(keychainMutex);
  Array items = loadItems(file_);
  removeMatching(items, service, account);
  items.push_back(Value::dictionary({{"service", service}, {"account", account}, {"data", Value(Bytes(data))}}));
  return saveItems(file_, std::move(items));
}

bool Keychain::remove(std::string_view service, std::string_view account) {
  std::lock_guard lock(keychainMutex);
  Array items = loadItems(file_);
  if (!removeMatching(items, service, account)) return true;
  return saveItems(file_, std::move(items));
}

}  // namespace platform
