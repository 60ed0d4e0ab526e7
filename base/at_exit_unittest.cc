#include "base/at_exit.h"

#include <gtest/gtest.h>

#include <string>

namespace base {
namespace {

std::string* g_order = nullptr;

void Record(void* tag) {
  *g_order += static_cast<const char*>(tag);
}

void RecordAndRegisterAnother(void* tag) {
  Record(tag);
  AtExitManager::RegisterCallback(&Record, const_cast<char*>("late"));
}

class AtExitTest : public ::testing::Test {
 protected:
  void SetUp() override { g_order = &order_; }
  void TearDown() override { g_order = nullptr; }
  std::string order_;
};

TEST_F(AtExitTest, RunsLastRegisteredFirst) {
  {
    AtExitManager manager;
    AtExitManager::RegisterCallback(&Record, const_cast<char*>("1"));
    AtExitManager::RegisterCallback(&Record, const_cast<char*>("2"));
    AtExitManager::RegisterCallback(&Record, const_cast<char*>("3"));
    EXPECT_EQ("", order_);
  }
  EXPECT_EQ("321", order_);
}

TEST_F(AtExitTest, ProcessCallbacksNowEmptiesTheStack) {
  AtExitManager manager;
  AtExitManager::RegisterCallback(&Record, const_cast<char*>("a"));
  AtExitManager::RegisterCallback(&Record, const_cast<char*>("b"));
  AtExitManager::ProcessCallbacksNow();
  EXPECT_EQ("ba", order_);
  AtExitManager::ProcessCallbacksNow();
  EXPECT_EQ("ba", order_);
  AtExitManager::RegisterCallback(&Record, const_cast<char*>("c"));
  AtExitManager::ProcessCallbacksNow();
  EXPECT_EQ("bac", order_);
}

TEST_F(AtExitTest, CallbackRegisteringAnotherDoesNotDeadlockAndTheNewOneWaits) {
  {
    AtExitManager manager;
    AtExitManager::RegisterCallback(&Record, const_cast<char*>("first"));
    AtExitManager::RegisterCallback(&RecordAndRegisterAnother, const_cast<char*>("second,"));
    AtExitManager::ProcessCallbacksNow();
    EXPECT_EQ("second,first", order_);
    // The callback registered during the pass runs in the next one.
    AtExitManager::ProcessCallbacksNow();
    EXPECT_EQ("second,firstlate", order_);
  }
  EXPECT_EQ("second,firstlate", order_);
}

TEST_F(AtExitTest, DestructionRunsOnlyTheFirstPass) {
  {
    AtExitManager manager;
    AtExitManager::RegisterCallback(&RecordAndRegisterAnother, const_cast<char*>("x"));
  }
  // "late" was registered while the destructor's pass ran: it is dropped unrun with the manager.
  EXPECT_EQ("x", order_);
}

TEST_F(AtExitTest, RegisteringWithoutAManagerDoesNothing) {
  AtExitManager::RegisterCallback(&Record, const_cast<char*>("lost"));
  AtExitManager::ProcessCallbacksNow();
  {
    AtExitManager manager;
  }
  EXPECT_EQ("", order_);
}

TEST_F(AtExitTest, NestedManagerRunsOnlyItsOwnAndRestoresTheOuter) {
  AtExitManager outer;
  AtExitManager::RegisterCallback(&Record, const_cast<char*>("o1"));
  {
    AtExitManager inner;
    AtExitManager::RegisterCallback(&Record, const_cast<char*>("i1"));
    AtExitManager::RegisterCallback(&Record, const_cast<char*>("i2"));
  }
  EXPECT_EQ("i2i1", order_);
  AtExitManager::RegisterCallback(&Record, const_cast<char*>("o2"));
  AtExitManager::ProcessCallbacksNow();
  EXPECT_EQ("i2i1o2o1", order_);
}

}  // namespace
}  // namespace base
