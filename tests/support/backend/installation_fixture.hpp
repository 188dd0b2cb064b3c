#pragma once
// Tests against the devserver that start without a current installation or
// a cached installation id, as a first launch does.

#include "backend/installation.hpp"
#include "backend/internal/internal_utils.hpp"
#include "support/backend/devserver_fixture.hpp"

namespace backend::testing {

class FreshInstallationTest : public DevserverTest {
 protected:
  void SetUp() override {
    DevserverTest::SetUp();
    forgetInstallation();
  }
  void TearDown() override {
    forgetInstallation();
    DevserverTest::TearDown();
  }

 private:
  static void forgetInstallation() {
    Installation::clearCurrentInstallationInMemory();
    InternalUtils::clearCachedInstallationId();
  }
};

}  // namespace backend::testing
