// A package folder as an installer finds it once unpacked, made by the tests: the host "installer.exe" with
// the test build of the library under the product library's name, the browser's executable and "launcher.exe"
// (both the dummy program of package_dummy_test_child.cc), nested data files (one name with blanks, one
// non-ASCII), "files_list" (CRLF; every file of the version folder: the installer, the library, the browser
// and the data, not the launcher), optionally "root_files_list" with its root files, "installer_prefs_include.json"
// and "pref_default_overrides". The branding text of the scenario goes to "branding.json" beside the package.
#ifndef DESKTOP_LAUNCHER_INSTALLER_INSTALLER_PACKAGE_TEST_UTIL_H_
#define DESKTOP_LAUNCHER_INSTALLER_INSTALLER_PACKAGE_TEST_UTIL_H_

#include <map>
#include <string>
#include <vector>

#include "base/files/file_path.h"

namespace zorvi::installer::test {

struct PackageOptions {
  int data_files = 4;       // nested data files, the two special names among them
  bool root_files = true;   // a "root_files_list" naming two root files
  int major_delta = 0;      // the branding's "major_delta"
  std::string product_name = "Zorvi";  // the branding's "product_name", which names e.g. the uninstall entry
  std::string visible_name = "Zorvi";  // the branding's "visible_product_name" (UTF-8)
  std::string shortcut_suffix = "";    // the branding's "shortcut_suffix" (UTF-8)
};

class PackageFixture {
 public:
  // Makes the package in `folder` (created) for a product of company `company`.
  PackageFixture(const base::FilePath& folder, const std::string& company, const PackageOptions& options = {});

  const base::FilePath& folder() const { return folder_; }
  // The entries of the two lists (UTF-8 relative paths), in order.
  const std::vector<std::string>& files() const { return files_; }
  const std::vector<std::string>& root_files() const { return root_files_; }
  // Where the branding document was written ("branding.json" beside the package).
  base::FilePath branding_file() const { return folder_.DirName().Append(L"branding.json"); }
  std::string file_name_base() const { return "zorvi"; }

  // What a run of `listed_steps` steps over this package reports as its total: each step, each file copied
  // beyond each list's first, and the report the last step sends before the success.
  int StepTotal(int listed_steps) const {
    const int files = static_cast<int>(files_.size());
    const int root_files = static_cast<int>(root_files_.size());
    return listed_steps + files - 1 + (root_files ? root_files - 1 : 0) + 1;
  }

  // Rewrites "files_list" with `text` as it is.
  void WriteFilesList(const std::string& text) const;

 private:
  base::FilePath folder_;
  std::vector<std::string> files_;
  std::vector<std::string> root_files_;
};

// Every file and folder below `folder` (relative path, UTF-8; a folder's ends with a backslash) with a digest of
// its contents (its size and hash; empty for a folder), so that a differing tree prints legibly.
std::map<std::string, std::string> ReadTree(const base::FilePath& folder);

}  // namespace zorvi::installer::test

#endif  // DESKTOP_LAUNCHER_INSTALLER_INSTALLER_PACKAGE_TEST_UTIL_H_
