#include "backend/object_subclass.hpp"

#include <gtest/gtest.h>

#include "platform/exceptions.hpp"
#include "support/backend/object_fixture.hpp"

namespace backend {
namespace {

using platform::InternalInconsistencyException;
using testing::raisedMessage;

class Armor : public Object {
 public:
  static std::string backendClassName() { return "Armor"; }
  Field<std::string> displayName{*this, "displayName"};
  Field<int> rupees{*this, "rupees"};
  Field<bool> fireproof{*this, "fireproof"};
  Field<double> weight{*this, "weight"};
  Field<unsigned short> slots{*this, "slots"};
  Field<platform::Date> forged{*this, "forged"};
  Field<std::shared_ptr<Object>> owner{*this, "owner"};
  Field<Value> extra{*this, "extra"};
  RelationField gems{*this, "gems"};
};

class StrongArmor : public Armor {};

class Impostor : public Object {
 public:
  static std::string backendClassName() { return "Armor"; }
};

class RenamedArmor : public Armor {
 public:
  static std::string backendClassName() { return "Renamed"; }
};

class Reserved : public Object {
 public:
  static std::string backendClassName() { return "_Reserved"; }
  static void validateClassName(std::string_view name) {
    if (name != "_Reserved") throw platform::InvalidArgumentException("Cannot initialize a Reserved with a custom class name.");
  }
};

class Chatty : public Object {
 public:
  static std::string backendClassName() { return "Chatty"; }
  Chatty() { setObject(Value("hello"), "greeting"); }
};

class SubclassTest : public testing::BackendTest {
 protected:
  void TearDown() override {
    unregisterSubclass<Armor>();
    unregisterSubclass<StrongArmor>();
    unregisterSubclass<RenamedArmor>();
    unregisterSubclass<Reserved>();
    unregisterSubclass<Chatty>();
    BackendTest::TearDown();
  }
};

TEST_F(SubclassTest, CreationByNameUsesTheMostDerivedRegisteredClass) {
  EXPECT_EQ(raisedMessage<InternalInconsistencyException>([] { createObject<Armor>(); }),
            "The class backend::(anonymous namespace)::Armor must be registered with registerSubclass before using "
            "Backend");
  registerSubclass<Armor>();
  EXPECT_TRUE(std::dynamic_pointer_cast<Armor>(Object::objectWithClassName("Armor")));
  registerSubclass<StrongArmor>();
  registerSubclass<Armor>();  // a superclass leaves the subclass registered
  EXPECT_TRUE(std::dynamic_pointer_cast<StrongArmor>(createObject<Armor>()));
  EXPECT_TRUE(std::dynamic_pointer_cast<StrongArmor>(objectWithoutData<Armor>("a1")));

  EXPECT_EQ(raisedMessage<InternalInconsistencyException>([] { registerSubclass<Impostor>(); }),
            "Tried to register both backend::(anonymous namespace)::StrongArmor and "
            "backend::(anonymous namespace)::Impostor as the native BEObject subclass of Armor. Cannot determine the "
            "right class to use because neither inherits from the other.");
  EXPECT_EQ(raisedMessage<InternalInconsistencyException>([] { registerSubclass<RenamedArmor>(); }),
            "Subclasses of subclasses may not have separate +backendClassName definitions. "
            "backend::(anonymous namespace)::RenamedArmor should inherit +backendClassName from "
            "backend::(anonymous namespace)::Armor.");

  unregisterSubclass<Armor>();  // not the registered class: no effect
  EXPECT_TRUE(std::dynamic_pointer_cast<StrongArmor>(Object::objectWithClassName("Armor")));
  unregisterSubclass<StrongArmor>();
  EXPECT_FALSE(std::dynamic_pointer_cast<Armor>(Object::objectWithClassName("Armor")));
}

TEST_F(SubclassTest, ReservedNamesNeedAClassThatAcceptsThem) {
  EXPECT_THROW(Object::objectWithClassName("_Reserved"), platform::InvalidArgumentException);
  registerSubclass<Reserved>();
  EXPECT_TRUE(std::dynamic_pointer_cast<Reserved>(Object::objectWithClassName("_Reserved")));
  EXPECT_TRUE(std::dynamic_pointer_cast<Reserved>(Object::objectWithoutData("_Reserved", "r1")));
}

TEST_F(SubclassTest, ReferencesRefuseClassesWhoseConstructorSetsValues) {
  registerSubclass<Chatty>();
  EXPECT_EQ(createObject<Chatty>()->objectForKey("greeting"), Value("hello"));
  EXPECT_EQ(raisedMessage<InternalInconsistencyException>([] { Object::objectWithoutData("Chatty", "c1"); }),
            "The init method of backend::(anonymous namespace)::Chatty set values on the object, which is not "
            "allowed.");
}

TEST_F(SubclassTest, FieldsReadAndWriteThroughTheObject) {
  registerSubclass<Armor>();
  auto armor = createObject<Armor>();
  EXPECT_EQ(armor->rupees.get(), 0);
  EXPECT_EQ(armor->displayName.get(), std::nullopt);
  EXPECT_FALSE(armor->fireproof.get());

  armor->rupees = 12;
  armor->fireproof = true;
  armor->weight = 2.5;
  armor->slots = 3;
  armor->displayName = std::string("Mail");
  armor->forged = platform::Date(5);
  auto owner = Object::objectWithoutData("Player", "p1");
  armor->owner = owner;
  armor->extra = Value::null();

  EXPECT_EQ(armor->objectForKey("rupees").number()->type(), platform::NumberType::Int);
  EXPECT_TRUE(armor->objectForKey("fireproof").number()->isBoolean());
  EXPECT_EQ(armor->objectForKey("slots").number()->type(), platform::NumberType::UShort);
  EXPECT_EQ(int(armor->rupees), 12);
  EXPECT_TRUE(armor->fireproof.get());
  EXPECT_DOUBLE_EQ(armor->weight.get(), 2.5);
  EXPECT_EQ(armor->displayName.get(), "Mail");
  EXPECT_EQ(armor->forged.get(), platform::Date(5));
  EXPECT_EQ(armor->owner.get(), owner);
  EXPECT_TRUE(armor->extra.get().isNil()) << "null reads as nothing";

  armor->setObject(Value::null(), "rupees");
  EXPECT_EQ(armor->rupees.get(), 0);
  armor->displayName = std::nullopt;
  armor->owner = nullptr;
  EXPECT_FALSE(armor->estimatedDataSnapshot().contains("displayName"));
  EXPECT_FALSE(armor->estimatedDataSnapshot().contains("owner"));
  EXPECT_EQ(armor->gems.get()->targetClass(), std::nullopt);

  auto reference = objectWithoutData<Armor>("a1");
  EXPECT_THROW(reference->rupees.get(), InternalInconsistencyException);
}

}  // namespace
}  // namespace backend
