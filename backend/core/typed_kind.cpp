#include "backend/internal/typed_kind.hpp"

#include <atomic>
#include <mutex>

#include "typed_codec.hpp"

namespace backend {
namespace detail {
namespace {

// Readers take a snapshot of the table without locking; writers replace it.
struct Registry {
  std::mutex writeMutex;
  std::shared_ptr<const TypedKindTable> table;

  Registry() {
    auto initial = std::make_shared<TypedKindTable>();
    for (auto& kind : builtinTypedKinds()) initial->kinds.push_back(std::make_shared<const TypedKind>(std::move(kind)));
    table = std::move(initial);
  }
};

Registry& registry() {
  static Registry instance;
  return instance;
}

}  // namespace

const TypedKind* TypedKindTable::decoderFor(std::string_view tag) const {
  for (const auto& kind : kinds) {
    if (kind->decode && kind->typeTag == tag) return kind.get();
  }
  return nullptr;
}

const TypedKind* TypedKindTable::kindOf(const platform::SharedObject& object) const {
  for (const auto& kind : kinds) {
    if (kind->matches && kind->matches(object)) return kind.get();
  }
  return nullptr;
}

std::shared_ptr<const TypedKindTable> typedKinds() {
  return std::atomic_load(&registry().table);
}

}  // namespace detail

void registerTypedKind(TypedKind kind) {
  auto& registry = detail::registry();
  std::lock_guard lock(registry.writeMutex);
  auto current = std::atomic_load(&registry.table);
  auto next = std::make_shared<detail::TypedKindTable>(*current);
  auto added = std::make_shared<const TypedKind>(std::move(kind));
  bool replaced = false;
  for (auto& existing : next->kinds) {
    if (existing->name == added->name) {
      existing = added;
      replaced = true;
    }
  }
  if (!replaced) next->kinds.push_back(added);
  std::atomic_store(&registry.table, std::shared_ptr<const detail::TypedKindTable>(std::move(next)));
}

}  // namespace backend
