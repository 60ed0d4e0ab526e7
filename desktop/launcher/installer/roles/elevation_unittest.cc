#include "desktop/launcher/installer/roles/elevation.h"

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <cwchar>
#include <string>

#include "base/win/scoped_local_memory.h"
#include "desktop/common/product/test_seams.h"
#include "desktop/launcher/installer/installer_test_util.h"
#include "testing/scoped_log_capture.h"
#include "testing/test_support.h"

namespace zorvi::installer {
namespace {

constexpr wchar_t kAdministratorsEntry[] = L"(A;;GA;;;BA)";

std::wstring EventDaclSddl(HANDLE event) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  GetSecurityInfo(event, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr, nullptr,
                  &descriptor);
  return test_support::TakeDaclSddl(descriptor);
}

// The event gains an entry granting Administrators everything; a handle that may not read or write the list
// fails with the step's own error text and leaves the list as it was.
TEST(FixEventAclTest, GrantsAdministratorsEverythingOrSaysWhichStepFailed) {
  const struct {
    DWORD access;  // of the handle FixEventACL is given
    const char* error;  // null: succeeds
  } cases[] = {
      {EVENT_ALL_ACCESS, nullptr},
      {SYNCHRONIZE, "FixEventACL: failed to GetSecurityInfo"},
      {READ_CONTROL, "FixEventACL: failed to SetSecurityInfo"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.access);
    // A list like the one a token's default gives an event (wine gives none at all).
    base::win::ScopedLocalMemory<> descriptor;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(A;;GA;;;SY)(A;;GA;;;WD)", SDDL_REVISION_1,
                                                                     descriptor.Receive(), nullptr));
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor.Get(), FALSE};
    const std::wstring name = test_support::UniqueName(L"FixEventAcl");
    test_support::ScopedTestHandle event(CreateEventW(&attributes, FALSE, FALSE, name.c_str()));
    descriptor.Close();
    ASSERT_TRUE(event.valid());
    const std::wstring before = EventDaclSddl(event.get());
    ASSERT_EQ(L"D:(A;;GA;;;SY)(A;;GA;;;WD)", before);
    test_support::ScopedTestHandle handle(OpenEventW(c.access, FALSE, name.c_str()));
    ASSERT_TRUE(handle.valid());
    test_support::ScopedLogCapture log;
    EXPECT_EQ(c.error == nullptr, FixEventACL(handle.get()));
    const std::wstring after = EventDaclSddl(event.get());
    if (c.error) {
      EXPECT_TRUE(log.HasLineStartingWith(c.error)) << log.Text();
      EXPECT_EQ(before, after);
    } else {
      // Exactly one entry more; the others stay as they were.
      const size_t added = after.find(kAdministratorsEntry);
      ASSERT_NE(std::wstring::npos, added) << after;
      EXPECT_EQ(before, std::wstring(after).erase(added, wcslen(kAdministratorsEntry)));
    }
  }
}

// An administrator can always elevate; a standard user only while the policy value, as wine's reg.exe reads it
// from the prefix, does not turn UAC off.
TEST(IsUACEnabledTest, FollowsTheAccountAndThePolicy) {
  EXPECT_TRUE(IsUACEnabled()) << "wine's user is an administrator";
  DWORD exit_code = 0;
  std::string output;
  ASSERT_TRUE(test_support::RunProcess(
      L"reg.exe query \"HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Policies\\System\" /v EnableLUA",
      &exit_code, &output));
  const bool policy_off = exit_code == 0 && output.find("0x0\r") != std::string::npos;
  SetAdminTokenSeamForTesting(AdminTokenSeam::kStandardUser);
  EXPECT_EQ(!policy_off, IsUACEnabled()) << output;
  SetAdminTokenSeamForTesting(AdminTokenSeam::kSplitAdministrator);
  EXPECT_TRUE(IsUACEnabled());
  SetAdminTokenSeamForTesting(AdminTokenSeam::kNone);
}

}  // namespace
}  // namespace zorvi::installer
