// Runs a test's child program as it would run on another Windows version: a copy under a unique program name,
// with wine's per-program version setting for that name, so that tests running at the same time keep the
// machine's version.
#ifndef TESTING_VERSION_CHILD_H_
#define TESTING_VERSION_CHILD_H_

#include <windows.h>

#include <map>
#include <string>

namespace test_support {

// A copy of `child_name` (an executable beside the test program) under a unique program name, with wine's
// per-program version "win7", "win10" and so on set for that name; the copy and the setting go with the object.
// With `declare_windows10` the copy carries a manifest that declares support for Windows 8.1 and 10, without
// which those versions present themselves as 6.2. The copy goes to the temporary folder, or with
// `beside_the_original` next to the test programs, for a child that finds them beside itself.
class VersionedChildCopy {
 public:
  VersionedChildCopy(const std::wstring& child_name, const wchar_t* wine_version, bool declare_windows10,
                     bool beside_the_original = false);
  VersionedChildCopy(const VersionedChildCopy&) = delete;
  VersionedChildCopy& operator=(const VersionedChildCopy&) = delete;
  ~VersionedChildCopy();

  // Empty when the copy is ready to run, else what failed.
  const std::string& error() const { return error_; }
  // The quoted path of the copy, ready to take arguments after a blank.
  std::wstring Command() const { return L"\"" + path_ + L"\""; }

 private:
  std::wstring path_;
  std::wstring key_;
  std::string error_;
};

// Runs a VersionedChildCopy with `arguments` and captures its output. False, with *error set, when the copy
// could not be made or started or the child did not end with 0.
bool RunChildUnderWindowsVersion(const std::wstring& child_name, const wchar_t* wine_version, bool declare_windows10,
                                 const std::wstring& arguments, std::string* output, std::string* error,
                                 bool beside_the_original = false);

// The "name=value" lines of a child's output (line ends of either kind).
std::map<std::string, std::string> ParseNameValueLines(const std::string& output);

}  // namespace test_support

#endif  // TESTING_VERSION_CHILD_H_
