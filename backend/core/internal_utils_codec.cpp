// The typed JSON encoding of field values and its decoding.

#include <cstdint>
#include <iterator>

#include "backend/field_operation.hpp"
#include "backend/internal/internal_utils.hpp"
#include "backend/object.hpp"
#include "base64.hpp"
#include "date_text.hpp"
#include "platform/exceptions.hpp"
#include "platform/json.hpp"
#include "platform/log.hpp"
#include "typed_codec.hpp"

namespace backend {
namespace detail {
namespace {

using platform::Dictionary;

// "@" and the address in hexadecimal; written by hand, as snapshots of a
// container name every object in it this way.
std::string identityText(const Object& object) {
  static constexpr char kDigits[] = "0123456789abcdef";
  auto address = reinterpret_cast<std::uintptr_t>(&object);
  char digits[2 * sizeof address];
  char* first = std::end(digits);
  do {
    *--first = kDigits[address & 0x0F];
    address >>= 4;
  } while (address != 0);
  std::string text = "@0x";
  text.append(first, std::end(digits));
  return text;
}

Value unsavedPointer(const Object& object, std::string localId);

Value encodeDataObject(const Object& object, UnsavedChildren unsaved, DataObjects objects, UnsavedForm form) {
  if (objects == DataObjects::Disallow)
    throw platform::InternalInconsistencyException("BEObjects are not allowed here.");
  // A snapshot names objects by identity: an object that gets its id or a
  // local id on the way to the server is not a change of its container.
  if (form == UnsavedForm::Identity) return unsavedPointer(object, identityText(object));
  if (auto id = object.objectId()) return pointerForm(object.backendClassName(), *id);
  if (unsaved == UnsavedChildren::Disallow)
    throw platform::InternalInconsistencyException("Tried to save an object with a new, unsaved child.");
  return unsavedPointer(object, const_cast<Object&>(object).getOrCreateLocalId());
}

Value unsavedPointer(const Object& object, std::string localId) {
  Dictionary pointer;
  pointer.reserve(3);
  pointer.append("__type", Value("Pointer"));
  pointer.append("localId", Value(std::move(localId)));
  pointer.append("className", Value(object.backendClassName()));
  return Value(std::move(pointer));
}

struct Encoder {
  UnsavedChildren unsaved;
  DataObjects objects;
  UnsavedForm form;
  std::shared_ptr<const TypedKindTable> kinds;

  Value encodeShared(const Value& value) {
    const auto& handle = *value.objectHandle();
    if (auto* object = dynamic_cast<const Object*>(handle.get())) return encodeDataObject(*object, unsaved, objects, form);
    // Operations always allow unsaved children: the save path deals with
    // unsaved targets before it encodes.
    if (auto* operation = dynamic_cast<const FieldOperation*>(handle.get()))
      return operation->encode(UnsavedChildren::Allow, objects);
    if (!kinds) kinds = typedKinds();
    if (const TypedKind* kind = kinds->kindOf(*handle); kind && kind->encode) return kind->encode(*handle);
    return value;
  }

  Value encode(const Value& value) {
    switch (value.kind()) {
      case Value::Kind::Object:
        return encodeShared(value);
      case Value::Kind::Bytes: {
        Dictionary typed;
        typed.reserve(2);
        typed.append("__type", Value("Bytes"));
        typed.append("base64", Value(base64Encode(*value.bytes())));
        return Value(std::move(typed));
      }
      case Value::Kind::Date: {
        Dictionary typed;
        typed.reserve(2);
        typed.append("__type", Value("Date"));
        typed.append("iso", Value(InternalUtils::stringFromPreciseDate(*value.date())));
        return Value(std::move(typed));
      }
      case Value::Kind::Array: {
        platform::Array encoded;
        encoded.reserve(value.array()->size());
        for (const Value& element : *value.array()) encoded.push_back(encode(element));
        return Value(std::move(encoded));
      }
      case Value::Kind::Dictionary: {
        Dictionary encoded;
        encoded.reserve(value.dictionary()->size());
        for (const auto& [key, member] : *value.dictionary()) encoded.append(key, encode(member));
        return Value(std::move(encoded));
      }
      default:
        return value;
    }
  }

  // Writes the typed form of a value without JSON form straight into the
  // text: the common kinds build no dictionary on the way.
  void write(const Value& value, platform::json::TextOutput& out) {
    switch (value.kind()) {
      case Value::Kind::Date: writeDate(*value.date(), out); return;
      case Value::Kind::Bytes:
        out.raw(R"({"__type":"Bytes","base64":")");
        out.raw(base64Encode(*value.bytes()));
        out.raw(R"("})");
        return;
      case Value::Kind::Object:
        if (auto* object = dynamic_cast<const Object*>(value.objectHandle()->get())) {
          writeDataObject(*object, out);
          return;
        }
        writeEncoded(out, [&] { return encodeShared(value); });
        return;
      default:
        writeEncoded(out, [&] { return encode(value); });
    }
  }

  static void writeDate(platform::Date date, platform::json::TextOutput& out) {
    static constexpr std::string_view kHead = R"({"__type":"Date","iso":")", kTail = R"("})";
    char text[kHead.size() + kPreciseDateTextLength + kTail.size()];
    char* end = std::copy(kHead.begin(), kHead.end(), text);
    end = writePreciseDate(date, end);
    end = std::copy(kTail.begin(), kTail.end(), end);
    out.raw(std::string_view(text, static_cast<std::size_t>(end - text)));
  }

  // A saved object's pointer is written as pointerForm() builds it; other
  // forms (and refusals) go through encodeDataObject().
  void writeDataObject(const Object& object, platform::json::TextOutput& out) {
    std::optional<std::string> id;
    if (objects == DataObjects::Allow && form == UnsavedForm::LocalId) id = object.objectId();
    if (!id) {
      writeEncoded(out, [&] { return encodeDataObject(object, unsaved, objects, form); });
      return;
    }
    out.raw(R"({"__type":"Pointer","objectId":)");
    out.string(*id);
    out.raw(R"(,"className":)");
    out.string(object.backendClassName());
    out.raw("}");
  }

  // Set when encoding raised, as opposed to writing the text of what it
  // answered.
  bool raised = false;

  template <class Encode>
  void writeEncoded(platform::json::TextOutput& out, Encode&& encode) {
    Value encoded;
    try {
      encoded = encode();
    } catch (...) {
      raised = true;
      throw;
    }
    out.value(encoded);
  }
};

struct Decoder {
  std::shared_ptr<const TypedKindTable> kinds = typedKinds();

  Value decode(const Value& value) {
    if (value.isDictionary()) return decodeDictionary(value);
    if (value.isArray()) return decodeArray(*value.array());
    return value;
  }

  Value decodeMembers(const Dictionary& dictionary) {
    Dictionary decoded;
    decoded.reserve(dictionary.size());
    for (const auto& [key, member] : dictionary) {
      Value value = decode(member);
      if (!value.isNil()) decoded.append(key, std::move(value));
    }
    return Value(std::move(decoded));
  }

  Value decodeDictionary(const Value& value) {
    const Dictionary& dictionary = *value.dictionary();
    if (const Value* tag = dictionary.find("__type")) return decodeTagged(value, *tag);
    return decodeMembers(dictionary);
  }

  // A dictionary carrying `tag` as its "__type": its kind's value, or the
  // dictionary itself when no kind decodes that tag.
  Value decodeTagged(const Value& value, const Value& tag) {
    if (tag.isString()) {
      if (const TypedKind* kind = kinds->decoderFor(*tag.string())) return kind->decode(*value.dictionary());
    }
    return value;
  }

  // Decodes a tree in place where no one else holds its containers; a shared
  // container is decoded into a copy as decode() does.
  void decodeInPlace(Value& value) {
    if (const auto* handle = value.dictionaryHandle()) {
      // One look for the tag serves the typed and the plain dictionary alike.
      if (const Value* tag = (*handle)->find("__type")) {
        value = decodeTagged(value, *tag);
        return;
      }
      if (handle->use_count() != 1) {
        value = decodeMembers(**handle);
        return;
      }
      bool anyNil = false;
      for (auto& [key, member] : **handle) {
        decodeInPlace(member);
        anyNil = anyNil || member.isNil();
      }
      if (anyNil) dropNilMembers(**handle);
    } else if (const auto* handle = value.arrayHandle()) {
      if (handle->use_count() != 1) {
        value = decode(value);
        return;
      }
      for (Value& element : **handle) {
        decodeInPlace(element);
        if (element.isNil()) element = Value::null();
      }
    }
  }

  static void dropNilMembers(Dictionary& dictionary) {
    Dictionary kept;
    kept.reserve(dictionary.size());
    for (auto& [key, member] : dictionary) {
      if (!member.isNil()) kept.append(std::move(key), std::move(member));
    }
    dictionary = std::move(kept);
  }

  Value decodeArray(const platform::Array& array) {
    platform::Array decoded;
    decoded.reserve(array.size());
    // An element that decodes to nothing keeps its place as null, so
    // positional answers (batch results) stay aligned.
    for (const Value& element : array) {
      Value value = decode(element);
      decoded.push_back(value.isNil() ? Value::null() : std::move(value));
    }
    return Value(std::move(decoded));
  }
};

const std::string* stringMember(const Dictionary& dictionary, std::string_view key) {
  const Value* value = dictionary.find(key);
  return value ? value->string() : nullptr;
}

Value decodeDate(const Dictionary& typed) {
  const std::string* iso = stringMember(typed, "iso");
  if (!iso) return Value();
  auto date = InternalUtils::preciseDateFromString(*iso);
  return date ? Value(*date) : Value();
}

Value decodeBytes(const Dictionary& typed) {
  const std::string* text = stringMember(typed, "base64");
  if (!text) return Value();
  auto bytes = base64Decode(*text);
  return bytes ? Value(std::move(*bytes)) : Value();
}

Value decodePointer(const Dictionary& typed) {
  const std::string* className = stringMember(typed, "className");
  if (!className) return Value();
  if (const Value* localId = typed.find("localId")) {
    return localId->isString() ? Value(Object::objectWithoutDataWithLocalId(*className, *localId->string())) : Value();
  }
  const std::string* objectId = stringMember(typed, "objectId");
  return objectId ? Value(Object::objectWithoutData(*className, *objectId)) : Value();
}

Value decodeEmbeddedObject(const Dictionary& typed) {
  const std::string* className = stringMember(typed, "className");
  if (!className) return Value();
  Dictionary rest;
  rest.reserve(typed.size());
  for (const auto& [key, member] : typed) {
    if (key != "__type" && key != "className") rest.append(key, member);
  }
  Value data = Decoder{}.decodeMembers(rest);
  auto object = Object::objectWithClassName(*className, Creation::Pointer);
  object->mergeAfterFetch(Value::dictionary({{"data", data}}), Completeness::Complete);
  return Value(object);
}

TypedKind decodeOnly(std::string tag, Value (*decode)(const Dictionary&)) {
  TypedKind kind;
  kind.name = tag;
  kind.typeTag = std::move(tag);
  kind.decode = decode;
  return kind;
}

}  // namespace

Value encodeValue(const Value& value, UnsavedChildren unsaved, DataObjects objects, UnsavedForm form) {
  return Encoder{unsaved, objects, form, nullptr}.encode(value);
}

Value pointerForm(const std::string& className, const std::string& objectId) {
  Dictionary pointer;
  pointer.reserve(3);
  pointer.append("__type", Value("Pointer"));
  pointer.append("objectId", Value(objectId));
  pointer.append("className", Value(className));
  return Value(std::move(pointer));
}

std::vector<TypedKind> builtinTypedKinds() {
  return {decodeOnly("Date", &decodeDate), decodeOnly("Bytes", &decodeBytes), decodeOnly("Pointer", &decodePointer),
          decodeOnly("Object", &decodeEmbeddedObject)};
}

}  // namespace detail

Value InternalUtils::encodeObject(const Value& value, UnsavedChildren unsaved, DataObjects objects) {
  return detail::encodeValue(value, unsaved, objects, detail::UnsavedForm::LocalId);
}

Value InternalUtils::decodeObject(const Value& value) { return detail::Decoder{}.decode(value); }

Value InternalUtils::decodeObject(Value&& value) {
  Value decoded = std::move(value);
  detail::Decoder{}.decodeInPlace(decoded);
  return decoded;
}

Value InternalUtils::decodeDictionary(const platform::Dictionary& dictionary) {
  return detail::Decoder{}.decodeDictionary(Value(dictionary));
}

Value InternalUtils::decodeArray(const platform::Array& array) { return detail::Decoder{}.decodeArray(array); }

std::string InternalUtils::serializeToJSON(const Value& typedValue) {
  try {
    return platform::json::write(typedValue);
  } catch (const platform::InvalidArgumentException&) {
    throw platform::InvalidArgumentException("BEObject values must be serializable to JSON");
  }
}

std::string InternalUtils::encodeToJSON(const Value& value, UnsavedChildren unsaved, DataObjects objects) {
  return detail::encodeValueToJSON(value, unsaved, objects, detail::UnsavedForm::LocalId);
}

std::string detail::encodeValueToJSON(const Value& value, UnsavedChildren unsaved, DataObjects objects,
                                      UnsavedForm form) {
  Encoder encoder{unsaved, objects, form, nullptr};
  // Only the kinds without a JSON form need encoding; containers are written
  // as they stand. An exception of the encoder itself is not a write failure.
  const platform::json::Substitute substitute = [&](const Value& special, platform::json::TextOutput& out) {
    encoder.write(special, out);
  };
  try {
    return platform::json::write(value, {}, substitute);
  } catch (const platform::InvalidArgumentException&) {
    if (encoder.raised) throw;
    throw platform::InvalidArgumentException("BEObject values must be serializable to JSON");
  }
}

Value InternalUtils::parseJSON(std::string_view text) {
  auto parsed = platform::json::parse(text);
  if (!parsed) {
    platform::log("JSON deserialization failed. Error trace is: " + parsed.error().description());
    return Value();
  }
  return std::move(parsed).value();
}

}  // namespace backend
