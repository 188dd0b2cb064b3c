#include "platform/user_defaults.hpp"

#include <charconv>
#include <cstdlib>
#include <map>
#include <mutex>

#include "platform/bundle.hpp"
#include "platform/exceptions.hpp"
#include "platform/log.hpp"
#include "platform/sandbox.hpp"
#include "typed_json.hpp"

namespace fs = std::filesystem;

namespace platform {
namespace {

Dictionary loadStore(const fs::path& file) {
  std::error_code error;
  std::optional<std::string> text = readFile(file, &error);
  if (!text) {
    if (error != std::errc::no_such_file_or_directory) {
      log("User defaults: cannot read " + file.string() + ": " + error.message());
    }
    return {};
  }
  std::string problem;
  std::optional<Value> stored = detail::decodeTypedJson(*text, problem);
  if (!stored || !stored->isDictionary()) {
    log("User defaults: ignoring unreadable " + file.string() + ": " +
        (stored ? std::string("top level is not a dictionary") : problem));
    return {};
  }
  return *stored->dictionary();
}

std::optional<double> numberInText(const std::string& text) {
  const char* begin = text.c_str();
  char* end = nullptr;
  double d = std::strtod(begin, &end);
  if (end == begin) return std::nullopt;
  return d;
}

}  // namespace

struct UserDefaults::State {
  fs::path file;
  mutable std::mutex mutex;
  Dictionary values;
  bool dirty = false;

  // Called with the lock held.
  void persist() {
    dirty = true;
    std::error_code error;
    fs::create_directories(file.parent_path(), error);
    error = writeFileAtomically(file, detail::encodeTypedJson(Value(values)), 0600);
    if (error) {
      log("User defaults: cannot write " + file.string() + ": " + error.message());
      return;
    }
    dirty = false;
  }

  Value get(std::string_view key) const {
    std::lock_guard lock(mutex);
    const Value* found = values.find(key);
    return found ? found->deepCopy() : Value();
  }
};

UserDefaults::UserDefaults(fs::path file) : state_(std::make_unique<State>()) {
  state_->file = std::move(file);
  state_->values = loadStore(state_->file);
}

UserDefaults::~UserDefaults() = default;

UserDefaults& UserDefaults::standard() {
  static std::mutex mutex;
  // Kept for the process's life, one per file, so references stay valid when
  // tests move the sandbox root.
  static auto* stores = new std::map<fs::path, std::unique_ptr<UserDefaults>>();
  fs::path file = Sandbox::library() / "Preferences" /
                  (Bundle::main().identifier().value_or("application") + ".json");
  std::lock_guard lock(mutex);
  auto& store = (*stores)[file];
  if (!store) store = std::make_unique<UserDefaults>(file);
  return *store;
}

Value UserDefaults::objectForKey(std::string_view key) const { return state_->get(key); }

void UserDefaults::setObject(const Value& value, std::string_view key) {
  if (value.isNil()) {
    removeObject(key);
    return;
  }
  if (detail::typedJsonProblem(value)) {
    throw InvalidArgumentException("Attempt to insert non-property list object " + value.description() +
                                   " for key " + std::string(key));
  }
  Value copy = value.deepCopy();
  std::lock_guard lock(state_->mutex);
  state_->values.set(std::string(key), std::move(copy));
  state_->persist();
}

std::optional<std::string> UserDefaults::problemStoring(const Value& value) {
  if (value.isNil()) return std::nullopt;
  return detail::typedJsonProblem(value);
}

void UserDefaults::removeObject(std::string_view key) {
  std::lock_guard lock(state_->mutex);
  if (state_->values.remove(key)) state_->persist();
}

std::optional<std::string> UserDefaults::stringForKey(std::string_view key) const {
  Value value = state_->get(key);
  if (const std::string* text = value.string()) return *text;
  if (const Number* number = value.number()) return number->description();
  return std::nullopt;
}

bool UserDefaults::boolForKey(std::string_view key) const {
  Value value = state_->get(key);
  if (const Number* number = value.number()) return number->boolValue();
  if (const std::string* text = value.string()) {
    if (*text == "YES" || *text == "yes" || *text == "true" || *text == "TRUE") return true;
    return numberInText(*text).value_or(0) != 0;
  }
  return false;
}

std::int64_t UserDefaults::integerForKey(std::string_view key) const {
  Value value = state_->get(key);
  if (const Number* number = value.number()) return number->longLongValue();
  if (const std::string* text = value.string()) {
    std::int64_t parsed = 0;
    auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), parsed);
    if (error == std::errc()) return parsed;
  }
  return 0;
}

double UserDefaults::doubleForKey(std::string_view key) const {
  Value value = state_->get(key);
  if (const Number* number = value.number()) return number->doubleValue();
  if (const std::string* text = value.string()) return numberInText(*text).value_or(0);
  return 0;
}

Value UserDefaults::arrayForKey(std::string_view key) const {
  Value value = state_->get(key);
  return value.isArray() ? value : Value();
}

Value UserDefaults::dictionaryForKey(std::string_view key) const {
  Value value = state_->get(key);
  return value.isDictionary() ? value : Value();
}

Value UserDefaults::dataForKey(std::string_view key) const {
  Value value = state_->get(key);
  return value.isBytes() ? value : Value();
}

void UserDefaults::setBool(bool value, std::string_view key) { setObject(Value(value), key); }

void UserDefaults::setInteger(std::int64_t value, std::string_view key) {
  setObject(Value(static_cast<long long>(value)), key);
}

void UserDefaults::setDouble(double value, std::string_view key) { setObject(Value(value), key); }

Value UserDefaults::dictionaryRepresentation() const {
  std::lock_guard lock(state_->mutex);
  return Value(state_->values).deepCopy();
}

bool UserDefaults::synchronize() {
  std::lock_guard lock(state_->mutex);
  if (state_->dirty) state_->persist();
  return !state_->dirty;
}

const fs::path& UserDefaults::file() const noexcept { return state_->file; }

}  // namespace platform
