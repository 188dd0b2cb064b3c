#include "backend/internal/object_hooks.hpp"

#include <mutex>

namespace backend {
namespace {

struct Hooks {
  std::mutex mutex;
  AccessListHooks accessLists;
  RelationFactory relations;
};

Hooks& hooks() {
  static Hooks instance;
  return instance;
}

}  // namespace

void installAccessListHooks(AccessListHooks installed) {
  std::lock_guard lock(hooks().mutex);
  hooks().accessLists = std::move(installed);
}

void installRelationFactory(RelationFactory factory) {
  std::lock_guard lock(hooks().mutex);
  hooks().relations = std::move(factory);
}

AccessListHooks accessListHooks() {
  std::lock_guard lock(hooks().mutex);
  return hooks().accessLists;
}

RelationFactory relationFactory() {
  std::lock_guard lock(hooks().mutex);
  return hooks().relations;
}

}  // namespace backend
