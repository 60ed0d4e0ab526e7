#include "testing/version_child.h"

#include <sstream>

#include "testing/test_support.h"

namespace test_support {
namespace {

const char kWindows10Manifest[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
    "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">\n"
    "  <compatibility xmlns=\"urn:schemas-microsoft-com:compatibility.v1\">\n"
    "    <application>\n"
    "      <supportedOS Id=\"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}\"/>\n"
    "      <supportedOS Id=\"{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}\"/>\n"
    "      <supportedOS Id=\"{1f676c76-80e1-4239-95bb-83d0f6d0da78}\"/>\n"
    "      <supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\"/>\n"
    "    </application>\n"
    "  </compatibility>\n"
    "</assembly>\n";

bool AddWindows10Manifest(const std::wstring& path) {
  HANDLE update = BeginUpdateResourceW(path.c_str(), FALSE);
  if (!update)
    return false;
  const bool added = UpdateResourceW(update, RT_MANIFEST, CREATEPROCESS_MANIFEST_RESOURCE_ID,
                                     MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL), const_cast<char*>(kWindows10Manifest),
                                     sizeof(kWindows10Manifest) - 1);
  return EndUpdateResourceW(update, !added) && added;
}

}  // namespace

VersionedChildCopy::VersionedChildCopy(const std::wstring& child_name, const wchar_t* wine_version,
                                       bool declare_windows10, bool beside_the_original) {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const std::wstring name = UniqueName(L"child") + L"_" + wine_version + L".exe";
  path_ = (beside_the_original ? ExecutableDir() + L"\\" : std::wstring(temp)) + name;
  key_ = L"Software\\Wine\\AppDefaults\\" + name;
  if (!CopyFileW((ExecutableDir() + L"\\" + child_name).c_str(), path_.c_str(), FALSE)) {
    error_ = "cannot copy the child";
  } else if (declare_windows10 && !AddWindows10Manifest(path_)) {
    error_ = "cannot add the manifest";
  } else if (RegSetKeyValueW(HKEY_CURRENT_USER, key_.c_str(), L"Version", REG_SZ, wine_version,
                             static_cast<DWORD>((wcslen(wine_version) + 1) * sizeof(wchar_t))) != ERROR_SUCCESS) {
    error_ = "cannot set the program's version";
  }
}

VersionedChildCopy::~VersionedChildCopy() {
  RegDeleteTreeW(HKEY_CURRENT_USER, key_.c_str());
  DeleteFileW(path_.c_str());
}

bool RunChildUnderWindowsVersion(const std::wstring& child_name, const wchar_t* wine_version, bool declare_windows10,
                                 const std::wstring& arguments, std::string* output, std::string* error,
                                 bool beside_the_original) {
  VersionedChildCopy child(child_name, wine_version, declare_windows10, beside_the_original);
  if (!child.error().empty()) {
    *error = child.error();
    return false;
  }
  DWORD exit_code = 1;
  if (!RunProcess(child.Command() + L" " + arguments, &exit_code, output) || exit_code != 0) {
    *error = "the child failed with " + std::to_string(exit_code) + ": " + *output;
    return false;
  }
  return true;
}

std::map<std::string, std::string> ParseNameValueLines(const std::string& output) {
  std::map<std::string, std::string> values;
  std::istringstream lines(output);
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    const size_t equals = line.find('=');
    if (equals != std::string::npos)
      values[line.substr(0, equals)] = line.substr(equals + 1);
  }
  return values;
}

}  // namespace test_support
