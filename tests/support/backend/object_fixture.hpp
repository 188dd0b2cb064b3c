#pragma once
// Test stand-ins for the parts that plug into the object layer later (local
// ids, access lists, relations), a temporary sandbox root, and log capture.

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <map>
#include <mutex>
#include <cstdio>

#include <unistd.h>

#include "backend/internal/client_configuration.hpp"
#include "backend/internal/local_id_manager.hpp"
#include "backend/internal/object_hooks.hpp"
#include "backend/internal/typed_kind.hpp"
#include "backend/object.hpp"
#include "platform/exceptions.hpp"
#include "platform/sandbox.hpp"
#include "support/scratch_directory.hpp"

namespace backend::testing {

// Hands out "local_<n>" ids and remembers the object ids set for them.
class MapLocalIdManager : public LocalIdManager {
 public:
  std::string createLocalId() override {
    std::lock_guard lock(mutex_);
    char text[32];
    std::snprintf(text, sizeof text, "local_%016llx", ++counter_);
    return text;
  }
  std::optional<std::string> objectIdForLocalId(std::string_view localId) override {
    std::lock_guard lock(mutex_);
    auto it = ids_.find(std::string(localId));
    if (it == ids_.end()) return std::nullopt;
    return it->second;
  }
  void setObjectIdForLocalId(std::string_view objectId, std::string_view localId) override {
    std::lock_guard lock(mutex_);
    ids_[std::string(localId)] = std::string(objectId);
  }

 private:
  std::mutex mutex_;
  unsigned long long counter_ = 0;
  std::map<std::string, std::string> ids_;
};

// A minimal access list: a permissions dictionary and the shared flag.
class TestACL : public AccessListBase {
 public:
  explicit TestACL(Value permissions, bool shared = false) : permissions_(std::move(permissions)), shared_(shared) {}
  bool isShared() const override { return shared_; }
  std::shared_ptr<AccessListBase> createUnsharedCopy() const override {
    return std::make_shared<TestACL>(permissions_.deepCopy(), false);
  }
  const Value& permissions() const { return permissions_; }

 private:
  Value permissions_;
  bool shared_;
};

// A minimal relation: parent, key and target class.
class TestRelation : public RelationBase {
 public:
  TestRelation(std::weak_ptr<Object> parent, std::string key) : parent_(std::move(parent)), key_(std::move(key)) {}
  std::optional<std::string> targetClass() const override { return targetClass_; }
  void setTargetClass(std::optional<std::string> className) override { targetClass_ = std::move(className); }
  void ensureParentIs(const std::shared_ptr<Object>& parent, std::string_view key) override {
    if (parent_.expired()) parent_ = parent;
    if (key_.empty()) key_ = std::string(key);
    if (parent_.lock() != parent)
      throw platform::InternalInconsistencyException("Internal error. One BERelation retrieved from two different BEObjects.");
    if (key_ != key)
      throw platform::InternalInconsistencyException("Internal error. One BERelation retrieved from two different keys.");
  }
  const std::string& key() const { return key_; }

 private:
  std::weak_ptr<Object> parent_;
  std::string key_;
  std::optional<std::string> targetClass_;
};

// Installs the stand-ins and a fresh sandbox root for one test; removes them after.
class BackendTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::Sandbox::setRoot(root_);
    ClientConfiguration::store("app-id", "client-key");
    localIds_ = std::make_shared<MapLocalIdManager>();
    setLocalIdManager(localIds_);
    installAccessListHooks({[](const Value& dictionary) { return std::make_shared<TestACL>(dictionary); },
                            [this]() -> std::shared_ptr<AccessListBase> { return defaultACL_; }});
    registerTypedKind(typedKindFor<TestACL>(
        "TestACL", "", [](const TestACL& acl) { return acl.permissions(); }, nullptr,
        kRoleFieldValue | kRoleContainer));
    installRelationFactory([](const std::shared_ptr<Object>& parent, std::string key) {
      return std::make_shared<TestRelation>(parent, std::move(key));
    });
  }
  void TearDown() override {
    installRelationFactory(nullptr);
    installAccessListHooks({});
    setLocalIdManager(nullptr);
    ClientConfiguration::reset();
    platform::Sandbox::setRoot({});
  }

  test_support::ScratchDirectory scratch_;
  const std::filesystem::path root_ = scratch_.path();
  std::shared_ptr<MapLocalIdManager> localIds_;
  std::shared_ptr<AccessListBase> defaultACL_;
};

// Runs `body` and answers the message of the exception of type E it raised
// ("" when none was raised).
template <class E, class F>
std::string raisedMessage(F&& body) {
  try {
    body();
  } catch (const E& e) {
    return e.what();
  }
  return "";
}

}  // namespace backend::testing
