// The field-operation base and the registry of "__op" decoders.

#include <map>
#include <mutex>
#include <shared_mutex>

#include "backend/field_operation.hpp"
#include "backend/internal/internal_utils.hpp"
#include "platform/exceptions.hpp"

namespace backend {
namespace {

struct DecoderRegistry {
  std::shared_mutex mutex;
  std::map<std::string, FieldOperation::Decoder, std::less<>> decoders;
};

DecoderRegistry& decoderRegistry() {
  static DecoderRegistry registry;
  return registry;
}

[[noreturn]] void raiseUndecodable(const Value& name) {
  throw platform::InternalInconsistencyException("Unable to decode operation of type " +
                                                 (name.isString() ? *name.string() : name.description()) + ".");
}

// The decoded "objects" list of an "__op" dictionary.
platform::Array decodedObjects(const platform::Dictionary& dictionary) {
  Value objects = InternalUtils::decodeObject(dictionary.get("objects"));
  if (!objects.isArray()) raiseUndecodable(dictionary.get("__op"));
  return *objects.array();
}

FieldOperationPtr decodeBatch(const platform::Dictionary& dictionary) {
  FieldOperationPtr result;
  Value ops = dictionary.get("ops");
  if (!ops.isArray()) return result;
  for (const Value& entry : *ops.array()) {
    FieldOperationPtr next = entry.object<FieldOperation>();
    if (!next) {
      if (!entry.isDictionary()) raiseUndecodable(Value("Batch"));
      next = FieldOperation::decode(*entry.dictionary());
    }
    // An empty nested batch decodes to nothing and changes nothing.
    if (next) result = next->mergeWithPrevious(result);
  }
  return result;
}

FieldOperationPtr decodeIncrement(const platform::Dictionary& dictionary) {
  Value amount = dictionary.get("amount");
  if (!amount.isNumber()) raiseUndecodable(Value("Increment"));
  return IncrementOperation::create(*amount.number());
}

}  // namespace

FieldOperationPtr FieldOperation::self() { return std::static_pointer_cast<FieldOperation>(shared_from_this()); }

void FieldOperation::registerDecoder(std::string name, Decoder decoder) {
  auto& registry = decoderRegistry();
  std::unique_lock lock(registry.mutex);
  registry.decoders[std::move(name)] = std::move(decoder);
}

void FieldOperation::registerDefaultDecoders() {
  registerDecoder("Batch", &decodeBatch);
  registerDecoder("Delete", [](const platform::Dictionary&) -> FieldOperationPtr { return DeleteOperation::shared(); });
  registerDecoder("Increment", &decodeIncrement);
  registerDecoder("Add", [](const platform::Dictionary& d) -> FieldOperationPtr {
    return AddOperation::create(decodedObjects(d));
  });
  registerDecoder("AddUnique", [](const platform::Dictionary& d) -> FieldOperationPtr {
    return AddUniqueOperation::create(decodedObjects(d));
  });
  registerDecoder("Remove", [](const platform::Dictionary& d) -> FieldOperationPtr {
    return RemoveOperation::create(decodedObjects(d));
  });
  registerDecoder("AddRelation", [](const platform::Dictionary& d) -> FieldOperationPtr {
    return RelationOperation::addRelationToObjects(decodedObjects(d));
  });
  registerDecoder("RemoveRelation", [](const platform::Dictionary& d) -> FieldOperationPtr {
    return RelationOperation::removeRelationToObjects(decodedObjects(d));
  });
}

FieldOperationPtr FieldOperation::decode(const platform::Dictionary& dictionary) {
  Value name = dictionary.get("__op");
  Decoder decoder;
  if (name.isString()) {
    auto& registry = decoderRegistry();
    std::shared_lock lock(registry.mutex);
    if (auto it = registry.decoders.find(*name.string()); it != registry.decoders.end()) decoder = it->second;
  }
  if (!decoder) raiseUndecodable(name);
  return decoder(dictionary);
}

}  // namespace backend
