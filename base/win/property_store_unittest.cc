#include "base/win/property_store.h"

#include <windows.h>

#include <initguid.h>  // defines the property keys of <propkey.h> here

#include <propkey.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/win/fake_property_store_test_util.h"

namespace base {
namespace win {
namespace {

using Calls = std::vector<std::string>;

TEST(PropertyStoreTest, AppIdIsStoredAsWideTextAndCommitted) {
  FakePropertyStore store;
  const std::wstring app_id = L"Company.Product.Stream-\u00e9\u65e5";
  EXPECT_TRUE(SetAppIdForPropertyStore(&store, app_id.c_str()));
  const PROPVARIANT& stored = store.Stored(kAppUserModelIdKey);
  ASSERT_EQ(VT_LPWSTR, stored.vt);
  EXPECT_EQ(app_id, stored.pwszVal);
  EXPECT_EQ((Calls{"set 5", "commit"}), store.calls());
  EXPECT_EQ(1u, store.references());  // nothing kept a reference
}

TEST(PropertyStoreTest, BooleanIsMinusOneOrZero) {
  FakePropertyStore store;
  EXPECT_TRUE(SetBooleanValueForPropertyStore(&store, kAppUserModelDualModeKey, true));
  ASSERT_EQ(VT_BOOL, store.Stored(kAppUserModelDualModeKey).vt);
  EXPECT_EQ(-1, store.Stored(kAppUserModelDualModeKey).boolVal);
  EXPECT_TRUE(SetBooleanValueForPropertyStore(&store, kAppUserModelDualModeKey, false));
  EXPECT_EQ(0, store.Stored(kAppUserModelDualModeKey).boolVal);
  EXPECT_EQ((Calls{"set 11", "commit", "set 11", "commit"}), store.calls());
}

// Only a set that returned exactly S_OK is committed; any other success still counts as success.
TEST(PropertyStoreTest, SetWithOtherSuccessIsNotCommitted) {
  FakePropertyStore store;
  store.set_set_value_result(INPLACE_S_TRUNCATED);
  EXPECT_TRUE(SetAppIdForPropertyStore(&store, L"id"));
  EXPECT_EQ((Calls{"set 5"}), store.calls());
}

TEST(PropertyStoreTest, FailedSetIsNotCommitted) {
  FakePropertyStore store;
  store.set_set_value_result(E_ACCESSDENIED);
  EXPECT_FALSE(SetBooleanValueForPropertyStore(&store, kAppUserModelDualModeKey, true));
  EXPECT_EQ((Calls{"set 11"}), store.calls());
  EXPECT_EQ(VT_EMPTY, store.Stored(kAppUserModelDualModeKey).vt);
}

TEST(PropertyStoreTest, FailedCommitFails) {
  FakePropertyStore store;
  store.set_commit_result(STG_E_ACCESSDENIED);
  EXPECT_FALSE(SetAppIdForPropertyStore(&store, L"id"));
  EXPECT_EQ((Calls{"set 5", "commit"}), store.calls());
}

// The system headers' definition of the application id key; dual mode is the same property set's number 11.
TEST(PropertyStoreTest, KeysAreTheApplicationModelOnes) {
  EXPECT_TRUE(IsEqualGUID(PKEY_AppUserModel_ID.fmtid, kAppUserModelIdKey.fmtid));
  EXPECT_EQ(PKEY_AppUserModel_ID.pid, kAppUserModelIdKey.pid);
  EXPECT_TRUE(IsEqualGUID(PKEY_AppUserModel_ID.fmtid, kAppUserModelDualModeKey.fmtid));
  EXPECT_EQ(11u, kAppUserModelDualModeKey.pid);
}

}  // namespace
}  // namespace win
}  // namespace base
