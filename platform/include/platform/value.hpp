#pragma once
// The one dynamic value type of the system: the stand-in for the platform's
// property-list and JSON values.
//
// Scalars (nil, the null marker, numbers, strings, dates, byte buffers) are
// values. Arrays, dictionaries and shared objects are references, as on the
// platform: copying a Value that holds an array shares the array, so an edit
// through one copy is seen through all of them. `deepCopy()` makes an
// independent tree (shared objects stay shared).

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "platform/date.hpp"
#include "platform/number.hpp"

namespace platform {

class Value;
class Dictionary;
using Array = std::vector<Value>;
using Bytes = std::vector<std::uint8_t>;

// Base of every object a Value can hold by shared handle (data objects,
// files, access lists, geo points, relations, field operations...).
class SharedObject : public std::enable_shared_from_this<SharedObject> {
 public:
  virtual ~SharedObject() = default;
  // A short text for logs and descriptions.
  virtual std::string description() const;
  // Identity by default; value-like objects compare their contents.
  virtual bool isEqual(const SharedObject& other) const { return this == &other; }
};

// The null marker: present, but null (JSON null).
struct Null {
  constexpr bool operator==(const Null&) const noexcept { return true; }
};

class Value {
 public:
  enum class Kind { Nil, Null, Number, String, Date, Bytes, Array, Dictionary, Object };

  Value() noexcept = default;
  Value(Null) noexcept : v_(Null{}) {}
  Value(Number n) noexcept : v_(n) {}
  Value(bool b) noexcept : v_(Number::boolean(b)) {}
  Value(int i) noexcept : v_(Number::ofInt(i)) {}
  Value(long i) noexcept : v_(Number::ofLong(i)) {}
  Value(long long i) noexcept : v_(Number::ofLongLong(i)) {}
  Value(unsigned i) noexcept : v_(Number::ofUInt(i)) {}
  Value(unsigned long i) noexcept : v_(Number::ofULong(i)) {}
  Value(unsigned long long i) noexcept : v_(Number::ofULongLong(i)) {}
  Value(float d) noexcept : v_(Number::ofFloat(d)) {}
  Value(double d) noexcept : v_(Number::ofDouble(d)) {}
  Value(std::string s) noexcept : v_(std::move(s)) {}
  Value(std::string_view s) : v_(std::string(s)) {}
  Value(const char* s) : v_(std::string(s)) {}
  Value(Date d) noexcept : v_(d) {}
  Value(Bytes b) : v_(std::make_shared<const Bytes>(std::move(b))) {}
  Value(Array a) : v_(std::make_shared<Array>(std::move(a))) {}
  Value(Dictionary d);
  Value(std::shared_ptr<Array> a) noexcept : v_(std::move(a)) {}
  Value(std::shared_ptr<Dictionary> d) noexcept : v_(std::move(d)) {}
  template <class T, class = std::enable_if_t<std::is_base_of_v<SharedObject, T>>>
  Value(std::shared_ptr<T> object) noexcept : v_(std::shared_ptr<SharedObject>(std::move(object))) {}

  static Value null() noexcept { return Value(Null{}); }
  // A new array or dictionary holding the items (each call a distinct
  // container). No default argument: a zero-argument call would be ambiguous
  // with the accessors array() and dictionary() below.
  static Value array(std::initializer_list<Value> items);
  static Value dictionary(std::initializer_list<std::pair<std::string, Value>> items);
  // A new, empty array or dictionary.
  static Value emptyArray() { return array({}); }
  static Value emptyDictionary() { return dictionary({}); }

  Kind kind() const noexcept { return static_cast<Kind>(v_.index()); }
  bool isNil() const noexcept { return kind() == Kind::Nil; }
  bool isNull() const noexcept { return kind() == Kind::Null; }
  bool isNilOrNull() const noexcept { return isNil() || isNull(); }
  bool isNumber() const noexcept { return kind() == Kind::Number; }
  bool isString() const noexcept { return kind() == Kind::String; }
  bool isDate() const noexcept { return kind() == Kind::Date; }
  bool isBytes() const noexcept { return kind() == Kind::Bytes; }
  bool isArray() const noexcept { return kind() == Kind::Array; }
  bool isDictionary() const noexcept { return kind() == Kind::Dictionary; }
  bool isObject() const noexcept { return kind() == Kind::Object; }

  // Accessors that answer nullptr when the value is of another kind. The
  // container accessors give the shared, mutable container.
  const Number* number() const noexcept { return std::get_if<Number>(&v_); }
  const std::string* string() const noexcept { return std::get_if<std::string>(&v_); }
  const Date* date() const noexcept { return std::get_if<Date>(&v_); }
  const Bytes* bytes() const noexcept;
  Array* array() const noexcept;
  Dictionary* dictionary() const noexcept;
  const std::shared_ptr<Array>* arrayHandle() const noexcept { return std::get_if<std::shared_ptr<Array>>(&v_); }
  const std::shared_ptr<Dictionary>* dictionaryHandle() const noexcept {
    return std::get_if<std::shared_ptr<Dictionary>>(&v_);
  }
  const std::shared_ptr<SharedObject>* objectHandle() const noexcept {
    return std::get_if<std::shared_ptr<SharedObject>>(&v_);
  }
  // The held shared object when it is a T, else nullptr.
  template <class T>
  std::shared_ptr<T> object() const noexcept {
    auto* h = objectHandle();
    return h ? std::dynamic_pointer_cast<T>(*h) : nullptr;
  }

  // Accessors that raise InvalidArgumentException on a value of another kind.
  const Number& asNumber() const;
  const std::string& asString() const;
  Date asDate() const;
  Array& asArray() const;
  Dictionary& asDictionary() const;

  // Number conversions: 0 / false for non-numbers (strings are not parsed).
  bool boolValue() const noexcept;
  long long longLongValue() const noexcept;
  double doubleValue() const noexcept;

  // Dictionary lookup; nil when this is not a dictionary or has no such key.
  Value operator[](std::string_view key) const;
  // Array element; nil when out of range or not an array.
  Value operator[](std::size_t index) const;

  // Deep equality: containers by contents, numbers numerically, shared objects
  // through SharedObject::isEqual.
  bool operator==(const Value& other) const;
  bool operator!=(const Value& other) const { return !(*this == other); }
  // Same container or object instance (for references), or equal scalars.
  bool isIdentical(const Value& other) const noexcept;

  // A copy in which every array and dictionary is new.
  Value deepCopy() const;
  // A readable rendering in the platform's property-list style, for logs.
  std::string description() const;

 private:
  std::variant<std::monostate, Null, Number, std::string, Date, std::shared_ptr<const Bytes>,
               std::shared_ptr<Array>, std::shared_ptr<Dictionary>, std::shared_ptr<SharedObject>>
      v_;
};

// String-keyed map that keeps insertion order. Small dictionaries are the
// common case, so lookup is a linear scan over a contiguous vector.
class Dictionary {
 public:
  using Entry = std::pair<std::string, Value>;
  using iterator = std::vector<Entry>::iterator;
  using const_iterator = std::vector<Entry>::const_iterator;

  Dictionary() = default;
  Dictionary(std::initializer_list<Entry> entries);

  std::size_t size() const noexcept { return entries_.size(); }
  bool empty() const noexcept { return entries_.empty(); }
  bool contains(std::string_view key) const noexcept { return find(key) != nullptr; }
  // The value for key, or nullptr.
  const Value* find(std::string_view key) const noexcept;
  Value* find(std::string_view key) noexcept;
  // The value for key, or nil.
  Value get(std::string_view key) const;
  // Sets or replaces; setting nil removes the key.
  void set(std::string key, Value value);
  // Appends without looking for the key: for builders that know keys are new.
  void append(std::string key, Value value) { entries_.emplace_back(std::move(key), std::move(value)); }
  bool remove(std::string_view key);
  void clear() noexcept { entries_.clear(); }
  void reserve(std::size_t n) { entries_.reserve(n); }
  std::vector<std::string> keys() const;
  std::vector<std::string> sortedKeys() const;

  iterator begin() noexcept { return entries_.begin(); }
  iterator end() noexcept { return entries_.end(); }
  const_iterator begin() const noexcept { return entries_.begin(); }
  const_iterator end() const noexcept { return entries_.end(); }

  // Same keys with equal values, in any order.
  bool operator==(const Dictionary& other) const;

 private:
  std::vector<Entry> entries_;
};

inline Value::Value(Dictionary d) : v_(std::make_shared<Dictionary>(std::move(d))) {}

}  // namespace platform
