#include "platform/value.hpp"

#include <cxxabi.h>

#include <cstdlib>
#include <typeinfo>

#include "platform/exceptions.hpp"

namespace platform {
namespace {

const char* kindName(Value::Kind kind) noexcept {
  switch (kind) {
    case Value::Kind::Nil: return "Nil";
    case Value::Kind::Null: return "Null";
    case Value::Kind::Number: return "Number";
    case Value::Kind::String: return "String";
    case Value::Kind::Date: return "Date";
    case Value::Kind::Bytes: return "Bytes";
    case Value::Kind::Array: return "Array";
    case Value::Kind::Dictionary: return "Dictionary";
    case Value::Kind::Object: return "Object";
  }
  return "Unknown";
}

[[noreturn]] void raiseWrongKind(const char* wanted, Value::Kind actual) {
  throw InvalidArgumentException(std::string("Value is not a ") + wanted + " (it is a " + kindName(actual) + ")");
}

}  // namespace

std::string SharedObject::description() const {
  const char* mangled = typeid(*this).name();
  int status = 0;
  char* demangled = abi::__cxa_demangle(mangled, nullptr, nullptr, &status);
  std::string name = status == 0 && demangled ? demangled : mangled;
  std::free(demangled);
  return "<" + name + ">";
}

Value Value::array(std::initializer_list<Value> items) { return Value(Array(items)); }

Value Value::dictionary(std::initializer_list<std::pair<std::string, Value>> items) {
  return Value(Dictionary(items));
}

const Bytes* Value::bytes() const noexcept {
  auto* h = std::get_if<std::shared_ptr<const Bytes>>(&v_);
  return h ? h->get() : nullptr;
}

Array* Value::array() const noexcept {
  auto* h = arrayHandle();
  return h ? h->get() : nullptr;
}

Dictionary* Value::dictionary() const noexcept {
  auto* h = dictionaryHandle();
  return h ? h->get() : nullptr;
}

const Number& Value::asNumber() const {
  if (auto* n = number()) return *n;
  raiseWrongKind("Number", kind());
}

const std::string& Value::asString() const {
  if (auto* s = string()) return *s;
  raiseWrongKind("String", kind());
}

Date Value::asDate() const {
  if (auto* d = date()) return *d;
  raiseWrongKind("Date", kind());
}

Array& Value::asArray() const {
  if (auto* a = array()) return *a;
  raiseWrongKind("Array", kind());
}

Dictionary& Value::asDictionary() const {
  if (auto* d = dictionary()) return *d;
  raiseWrongKind("Dictionary", kind());
}

bool Value::boolValue() const noexcept {
  auto* n = number();
  return n && n->boolValue();
}

long long Value::longLongValue() const noexcept {
  auto* n = number();
  return n ? n->longLongValue() : 0;
}

double Value::doubleValue() const noexcept {
  auto* n = number();
  return n ? n->doubleValue() : 0.0;
}

Value Value::operator[](std::string_view key) const {
  auto* d = dictionary();
  return d ? d->get(key) : Value();
}

Value Value::operator[](std::size_t index) const {
  auto* a = array();
  return a && index < a->size() ? (*a)[index] : Value();
}

bool Value::operator==(const Value& other) const {
  if (kind() != other.kind()) return false;
  switch (kind()) {
    case Kind::Nil:
    case Kind::Null: return true;
    case Kind::Number: return *number() == *other.number();
    case Kind::String: return *string() == *other.string();
    case Kind::Date: return *date() == *other.date();
    case Kind::Bytes: return bytes() == other.bytes() || *bytes() == *other.bytes();
    case Kind::Array: return array() == other.array() || *array() == *other.array();
    case Kind::Dictionary: return dictionary() == other.dictionary() || *dictionary() == *other.dictionary();
    case Kind::Object: {
      const SharedObject& mine = **objectHandle();
      const SharedObject& theirs = **other.objectHandle();
      return &mine == &theirs || mine.isEqual(theirs);
    }
  }
  return false;
}

bool Value::isIdentical(const Value& other) const noexcept {
  if (kind() != other.kind()) return false;
  switch (kind()) {
    case Kind::Array: return array() == other.array();
    case Kind::Dictionary: return dictionary() == other.dictionary();
    case Kind::Object: return objectHandle()->get() == other.objectHandle()->get();
    default: return *this == other;  // scalars: no container to recurse into, cannot throw
  }
}

Value Value::deepCopy() const {
  if (const Array* a = array()) {
    Array copy;
    copy.reserve(a->size());
    for (const Value& item : *a) copy.push_back(item.deepCopy());
    return Value(std::move(copy));
  }
  if (const Dictionary* d = dictionary()) {
    Dictionary copy;
    copy.reserve(d->size());
    for (const auto& [key, item] : *d) copy.append(key, item.deepCopy());
    return Value(std::move(copy));
  }
  return *this;
}

}  // namespace platform
