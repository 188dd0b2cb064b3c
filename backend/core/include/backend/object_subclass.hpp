#pragma once
// Native subclasses of data objects and their typed field properties.
//
// A subclass derives from Object (or from another subclass), has a default
// constructor, and declares its backend class name as a static function:
//
//   class Armor : public backend::Object {
//    public:
//     static std::string backendClassName() { return "Armor"; }
//     backend::Field<std::string> displayName{*this, "displayName"};
//     backend::Field<int> rupees{*this, "rupees"};
//     backend::RelationField owners{*this, "owners"};
//   };
//   backend::registerSubclass<Armor>();
//   auto armor = backend::createObject<Armor>();
//   armor->rupees = 12;                 // setObject(12 as an int, "rupees")
//   int r = armor->rupees;              // objectForKey("rupees"), null → 0
//
// A subclass of a subclass inherits the backend class name. A class may
// declare `static void validateClassName(std::string_view)` to replace the
// check on names (the classes of the reserved "_" names do).

#include <concepts>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <typeinfo>
#include <vector>

#include "backend/object.hpp"
#include "platform/exceptions.hpp"

namespace backend {

// A class that may be registered as the native class of a backend class.
template <class T>
concept Subclassing = std::derived_from<T, Object> && std::default_initializable<T> && requires {
  { T::backendClassName() } -> std::convertible_to<std::string>;
};

// Readable name of a C++ type ("Armor", "backend::Object").
std::string demangledTypeName(const std::type_info& type);

// The process-wide map from backend class name to the registered native class.
class SubclassRegistry {
 public:
  struct Entry {
    std::string typeName;  // the C++ class, for messages
    std::function<ObjectPtr()> create;
    std::function<bool(const Object&)> isInstance;  // dynamic "is kind of"
    std::function<void(std::string_view)> validateClassName;
    std::function<std::string()> declaredClassName;
    ObjectPtr probe;  // a bare instance, to test the class against others
  };

  static SubclassRegistry& shared();

  // Registers the entry under its class name with the conflict rules: a
  // subclass of the registered class replaces it, a superclass leaves it, an
  // unrelated class raises InternalInconsistencyException "Tried to register
  // both <A> and <B> as the native BEObject subclass of <name>. Cannot
  // determine the right class to use because neither inherits from the
  // other." A registered class that derives from another registered one with
  // a different name raises "Subclasses of subclasses may not have separate
  // +backendClassName definitions. <A> should inherit +backendClassName from <B>."
  void registerEntry(Entry entry);
  // Forgets the class; the entry of the name goes only when it is of that
  // C++ class.
  void unregisterEntry(const std::string& className, const std::string& typeName);
  // The entry registered for the name (copy), if any.
  std::optional<Entry> entryFor(std::string_view className) const;

 private:
  mutable std::mutex mutex_;
  std::map<std::string, Entry, std::less<>> entries_;
  std::vector<Entry> known_;  // every registered class, for the name rule
};

namespace detail {

template <class T>
void validateWith(std::string_view name) {
  T::validateClassName(name);
}

template <Subclassing T>
SubclassRegistry::Entry entryFor() {
  SubclassRegistry::Entry entry;
  entry.typeName = demangledTypeName(typeid(T));
  entry.create = [] { return std::static_pointer_cast<Object>(std::make_shared<T>()); };
  entry.isInstance = [](const Object& object) { return dynamic_cast<const T*>(&object) != nullptr; };
  entry.validateClassName = &validateWith<T>;
  entry.declaredClassName = [] { return std::string(T::backendClassName()); };
  entry.probe = entry.create();
  return entry;
}

}  // namespace detail

// Registers T as the native class of T::backendClassName().
template <class T>
void registerSubclass() {
  static_assert(Subclassing<T>, "Can only call +registerSubclass on subclasses conforming to BESubclassing");
  SubclassRegistry::shared().registerEntry(detail::entryFor<T>());
}

// Removes T's registration when T is the class registered for its name.
template <Subclassing T>
void unregisterSubclass() {
  SubclassRegistry::shared().unregisterEntry(T::backendClassName(), demangledTypeName(typeid(T)));
}

// Raises InternalInconsistencyException "The class <T> must be registered
// with registerSubclass before using Backend" unless T or a subclass of T is
// registered under T's name.
template <Subclassing T>
void assertSubclassIsRegistered() {
  auto entry = SubclassRegistry::shared().entryFor(T::backendClassName());
  if (!entry || !dynamic_cast<const T*>(entry->probe.get())) {
    throw platform::InternalInconsistencyException("The class " + demangledTypeName(typeid(T)) +
                                                   " must be registered with registerSubclass before using Backend");
  }
}

// A new local object of T's backend class (of the registered class, which
// may be a subclass of T).
template <Subclassing T>
std::shared_ptr<T> createObject() {
  assertSubclassIsRegistered<T>();
  return std::dynamic_pointer_cast<T>(Object::objectWithClassName(T::backendClassName()));
}

// A reference to the record of T's class with that id.
template <Subclassing T>
std::shared_ptr<T> objectWithoutData(std::string_view objectId) {
  assertSubclassIsRegistered<T>();
  return std::dynamic_pointer_cast<T>(Object::objectWithoutData(T::backendClassName(), objectId));
}

// ---- Typed field properties -------------------------------------------------

namespace detail {

template <class T>
inline constexpr bool isSupportedScalar =
    std::is_same_v<T, bool> || std::is_same_v<T, short> || std::is_same_v<T, int> || std::is_same_v<T, long> ||
    std::is_same_v<T, unsigned short> || std::is_same_v<T, unsigned> || std::is_same_v<T, unsigned long> ||
    std::is_same_v<T, float> || std::is_same_v<T, double>;

template <class T>
struct IsSharedPtr : std::false_type {};
template <class U>
struct IsSharedPtr<std::shared_ptr<U>> : std::true_type {};

template <class T>
platform::Number boxScalar(T value) {
  if constexpr (std::is_same_v<T, bool>) return platform::Number::boolean(value);
  if constexpr (std::is_same_v<T, short>) return platform::Number::ofShort(value);
  if constexpr (std::is_same_v<T, int>) return platform::Number::ofInt(value);
  if constexpr (std::is_same_v<T, long>) return platform::Number::ofLong(value);
  if constexpr (std::is_same_v<T, unsigned short>) return platform::Number::ofUShort(value);
  if constexpr (std::is_same_v<T, unsigned>) return platform::Number::ofUInt(value);
  if constexpr (std::is_same_v<T, unsigned long>) return platform::Number::ofULong(value);
  if constexpr (std::is_same_v<T, float>) return platform::Number::ofFloat(value);
  if constexpr (std::is_same_v<T, double>) return platform::Number::ofDouble(value);
}

}  // namespace detail

// A property of a subclass that reads and writes one field through
// objectForKey / setObject (so reads raise "has no data" like them).
// Supported types:
// - bool, short, int, long, unsigned short, unsigned, unsigned long, float,
//   double: a missing or null field reads 0 (a bool reads the value's
//   truth); writes box the value in its own storage type (bool as boolean);
// - std::string, platform::Date: read as std::optional (nullopt when missing,
//   null or of another kind); writing nullopt removes the field;
// - platform::Value: read as is (null reads nil); writing nil removes it;
// - std::shared_ptr<U> for shared objects (data objects, files, lists...):
//   nullptr when missing, null or not a U; writing nullptr removes the field.
// Other types (long long, unsigned long long, unsigned char...) do not compile.
template <class T>
class Field {
  static constexpr bool kScalar = detail::isSupportedScalar<T>;
  static constexpr bool kOptional = std::is_same_v<T, std::string> || std::is_same_v<T, platform::Date>;
  static constexpr bool kShared = detail::IsSharedPtr<T>::value;
  static_assert(kScalar || kOptional || kShared || std::is_same_v<T, Value>, "Type info not yet supported");

 public:
  using Stored = std::conditional_t<kOptional, std::optional<T>, T>;

  Field(Object& owner, std::string name) : owner_(owner), name_(std::move(name)) {}
  Field(const Field&) = delete;
  Field& operator=(const Field&) = delete;

  Stored get() const {
    Value value = owner_.objectForKey(name_);
    if (value.isNull()) value = Value();
    if constexpr (kScalar) {
      if constexpr (std::is_same_v<T, bool>) return value.boolValue();
      if (!value.isNumber()) return T{};
      if constexpr (std::is_floating_point_v<T>) return static_cast<T>(value.number()->doubleValue());
      if constexpr (std::is_unsigned_v<T>) return static_cast<T>(value.number()->unsignedLongLongValue());
      return static_cast<T>(value.number()->longLongValue());
    } else if constexpr (std::is_same_v<T, std::string>) {
      return value.isString() ? Stored(*value.string()) : std::nullopt;
    } else if constexpr (std::is_same_v<T, platform::Date>) {
      return value.isDate() ? Stored(*value.date()) : std::nullopt;
    } else if constexpr (kShared) {
      return value.template object<typename T::element_type>();
    } else {
      return value;
    }
  }

  void set(const Stored& value) {
    if constexpr (kScalar) {
      owner_.setObject(Value(detail::boxScalar<T>(value)), name_);
    } else if constexpr (kOptional) {
      if (value) {
        owner_.setObject(Value(*value), name_);
      } else {
        owner_.removeObjectForKey(name_);
      }
    } else if constexpr (kShared) {
      if (value) {
        owner_.setObject(Value(value), name_);
      } else {
        owner_.removeObjectForKey(name_);
      }
    } else {
      if (value.isNil()) {
        owner_.removeObjectForKey(name_);
      } else {
        owner_.setObject(value, name_);
      }
    }
  }

  operator Stored() const { return get(); }
  Field& operator=(const Stored& value) {
    set(value);
    return *this;
  }
  const std::string& name() const noexcept { return name_; }

 private:
  Object& owner_;
  std::string name_;
};

// A read-only relation property: relationForKey of the field.
class RelationField {
 public:
  RelationField(Object& owner, std::string name) : owner_(owner), name_(std::move(name)) {}
  RelationField(const RelationField&) = delete;
  RelationField& operator=(const RelationField&) = delete;

  std::shared_ptr<RelationBase> get() const { return owner_.relationForKey(name_); }
  const std::string& name() const noexcept { return name_; }

 private:
  Object& owner_;
  std::string name_;
};

}  // namespace backend
