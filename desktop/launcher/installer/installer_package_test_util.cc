#include "desktop/launcher/installer/installer_package_test_util.h"

#include <windows.h>

#include <functional>

#include <gtest/gtest.h>

#include "base/strings/utf_string_conversions.h"
#include "desktop/launcher/installer/installer_test_util.h"
#include "testing/installer/installer_observer_recorder.h"
#include "testing/test_programs.h"
#include "testing/test_support.h"

namespace zorvi::installer::test {

namespace {

void MakeFolders(const base::FilePath& file) {
  const base::FilePath parent = file.DirName();
  if (GetFileAttributesW(parent.value().c_str()) != INVALID_FILE_ATTRIBUTES)
    return;
  MakeFolders(parent);
  CreateDirectoryW(parent.value().c_str(), nullptr);
}

void PutFile(const base::FilePath& path, const std::string& contents) {
  MakeFolders(path);
  EXPECT_TRUE(test_support::WriteFileBytes(path.value(), contents)) << path.value();
}

void PutCopy(const base::FilePath& source, const base::FilePath& path) {
  MakeFolders(path);
  EXPECT_TRUE(CopyFileW(source.value().c_str(), path.value().c_str(), FALSE)) << source.value();
}

// Contents that differ per file and in length, so that a mixed-up copy shows.
std::string DataFor(const std::string& name, size_t size) {
  std::string data;
  uint32_t state = 2166136261u;
  for (char c : name)
    state = (state ^ static_cast<uint8_t>(c)) * 16777619u;
  for (size_t i = 0; i < size; ++i) {
    state = state * 1103515245u + 12345u;
    data.push_back(static_cast<char>(state >> 16));
  }
  return data;
}

void ReadTreeInto(const base::FilePath& folder, const std::wstring& prefix, std::map<std::string, std::string>* tree) {
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW(folder.Append(L"*").value().c_str(), &found);
  if (find == INVALID_HANDLE_VALUE)
    return;
  do {
    const std::wstring name = found.cFileName;
    if (name == L"." || name == L"..")
      continue;
    const std::wstring relative = prefix + name;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      (*tree)[test_support::WideToUtf8ForTest(relative) + "\\"] = "";
      ReadTreeInto(folder.Append(name), relative + L"\\", tree);
    } else {
      std::string contents;
      test_support::ReadFileBytes(folder.Append(name).value(), &contents);
      (*tree)[test_support::WideToUtf8ForTest(relative)] =
          std::to_string(contents.size()) + " bytes #" + std::to_string(std::hash<std::string>()(contents));
    }
  } while (FindNextFileW(find, &found));
  FindClose(find);
}

}  // namespace

PackageFixture::PackageFixture(const base::FilePath& folder, const std::string& company,
                               const PackageOptions& options)
    : folder_(folder) {
  CreateDirectoryW(folder_.value().c_str(), nullptr);
  const std::string branding = R"({"company_name": ")" + company +
              R"(", "product_name": ")" + options.product_name + R"(", "visible_product_name": ")" + options.visible_name +
              R"(", "shortcut_suffix": ")" + options.shortcut_suffix + R"(", "file_name_base": ")" + file_name_base() +
              R"(", "user_agent_name": "ZRV", "major_delta": )" + std::to_string(options.major_delta) + "}";
  PutFile(branding_file(), branding);

  const std::string browser = file_name_base() + ".exe";
  PutCopy(TestProgram(L"installer.exe"), folder_.Append(L"installer.exe"));
  PutCopy(TestProgram(L"test_build\\zorvi.dll"), folder_.Append(L"zorvi.dll"));
  PutCopy(TestProgram(L"package_dummy_test_child.exe"), folder_.Append(base::UTF8ToWide(browser)));
  PutCopy(TestProgram(L"package_dummy_test_child.exe"), folder_.Append(L"launcher.exe"));
  files_ = {"installer.exe", "zorvi.dll", browser};
  const char* const kSpecialNames[] = {"data\\with blank name.txt", "data\\n\xC3\xB8n-\xE2\x9C\x93 ascii.dat"};
  for (int i = 0; i < options.data_files; ++i) {
    const std::string name = i < 2 ? kSpecialNames[i] : "data\\nested\\level " + std::to_string(i) + "\\file.bin";
    files_.push_back(name);
    PutFile(folder_.Append(base::UTF8ToWide(name)), DataFor(name, 100 + 997 * i));
  }
  std::string list;
  for (const std::string& file : files_)
    list += file + "\r\n";
  WriteFilesList(list);
  if (options.root_files) {
    root_files_ = {"root notes.txt", "root\\settings.dat"};
    std::string root_list;
    for (const std::string& file : root_files_) {
      root_list += file + "\r\n";
      PutFile(folder_.Append(base::UTF8ToWide(file)), DataFor(file, 300));
    }
    PutFile(folder_.Append(L"root_files_list"), root_list);
  }
  PutFile(folder_.Append(L"installer_prefs_include.json"), R"({"welcome-url": "https://welcome.zorvi.example/"})");
  PutFile(folder_.Append(L"pref_default_overrides"), R"({"browser": {"show_home_button": true}})");
}

void PackageFixture::WriteFilesList(const std::string& text) const {
  PutFile(folder_.Append(L"files_list"), text);
}

std::map<std::string, std::string> ReadTree(const base::FilePath& folder) {
  std::map<std::string, std::string> tree;
  ReadTreeInto(folder, L"", &tree);
  return tree;
}

}  // namespace zorvi::installer::test
