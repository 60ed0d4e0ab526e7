#include "desktop/launcher/installer/service/transactions/held_folder_path.h"

#include <map>
#include <utility>

#include "base/files/file_util.h"
#include "base/win/scoped_handle.h"
#include "desktop/launcher/installer/service/utils.h"

namespace zorvi::installer {

struct HeldFolderPath::Folder {
  Folder(std::wstring key, base::win::ScopedHandle handle, bool removable)
      : key(std::move(key)), handle(std::move(handle)), removable(removable) {}
  ~Folder();

  const std::wstring key;  // full path, lower case
  base::win::ScopedHandle handle;
  const bool removable;  // opened with the right to delete it
};

namespace {

std::map<std::wstring, std::weak_ptr<HeldFolderPath::Folder>>& Held() {
  static auto* held = new std::map<std::wstring, std::weak_ptr<HeldFolderPath::Folder>>();
  return *held;
}

std::wstring KeyOf(const base::FilePath& folder) {
  std::wstring key = folder.StripTrailingSeparators().value();
  CharLowerBuffW(key.data(), static_cast<DWORD>(key.size()));
  return key;
}

// Others may read and write in the folder, but not rename or remove it. The root is reached as it is (it was
// chosen); below it a link is opened as itself, to be refused.
base::win::ScopedHandle OpenFolder(const base::FilePath& folder, DWORD access, bool is_root) {
  return base::win::ScopedHandle(
      CreateFileW(folder.value().c_str(), access | FILE_READ_ATTRIBUTES | SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | (is_root ? 0 : FILE_FLAG_OPEN_REPARSE_POINT),
                  nullptr));
}

}  // namespace

HeldFolderPath::Folder::~Folder() {
  Held().erase(key);
}

HeldFolderPath::HeldFolderPath() = default;

HeldFolderPath::~HeldFolderPath() {
  Release();
}

bool HeldFolderPath::Hold(const base::FilePath& root, const base::FilePath& folder, std::string* problem) {
  Release();
  base::FilePath relative;
  if (folder.ReferencesParent() || root.ReferencesParent() || !base::IsSameOrInsideFolder(folder, root) ||
      (KeyOf(folder) != KeyOf(root) && !root.AppendRelativePath(folder, &relative))) {
    *problem = folder.AsUTF8() + " does not lie inside " + root.AsUTF8();
    return false;
  }
  std::vector<std::wstring> below;
  relative.GetComponents(&below);
  base::FilePath current = root;
  for (size_t level = 0; level <= below.size(); ++level) {
    if (level > 0)
      current = current.Append(below[level - 1]);
    const std::wstring key = KeyOf(current);
    const auto shared = Held().find(key);
    if (shared != Held().end()) {
      chain_.push_back(shared->second.lock());
      continue;
    }
    const bool is_root = level == 0;
    if (!is_root && PathNamesLink(current)) {
      *problem = current.AsUTF8() + " is a link (a reparse point)";
      Release();
      return false;
    }
    // The installation's own folders go when emptied; a folder the process may not delete is still held.
    bool removable = !is_root;
    base::win::ScopedHandle handle = OpenFolder(current, removable ? DELETE : 0, is_root);
    if (!handle.IsValid() && removable && GetLastError() == ERROR_ACCESS_DENIED) {
      removable = false;
      handle = OpenFolder(current, 0, is_root);
    }
    BY_HANDLE_FILE_INFORMATION information;
    if (!handle.IsValid() || !GetFileInformationByHandle(handle.Get(), &information)) {
      *problem = current.AsUTF8() + " cannot be held (error " + std::to_string(GetLastError()) + ")";
      Release();
      return false;
    }
    if (!is_root && ((information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) || PathNamesLink(current))) {
      *problem = current.AsUTF8() + " is a link (a reparse point)";
      Release();
      return false;
    }
    if (!(information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
      *problem = current.AsUTF8() + " is no folder";
      Release();
      return false;
    }
    auto held = std::make_shared<Folder>(key, std::move(handle), removable);
    Held()[key] = held;
    chain_.push_back(std::move(held));
  }
  return true;
}

void HeldFolderPath::ReleaseRemovingEmpty() {
  bool removing = true;
  while (chain_.size() > 1) {
    std::shared_ptr<Folder> folder = std::move(chain_.back());
    chain_.pop_back();
    // Another operation still holds it, and may still put something back in it: it removes it in turn.
    if (removing && (folder.use_count() > 1 || !folder->removable))
      removing = false;
    if (removing) {
      // A folder that is not empty refuses; it goes once the last handle closes, just below.
      FILE_DISPOSITION_INFO disposition = {TRUE};
      removing = SetFileInformationByHandle(folder->handle.Get(), FileDispositionInfo, &disposition,
                                            sizeof(disposition)) != FALSE;
    }
  }
  Release();
}

void HeldFolderPath::Release() {
  // Deepest first, as they were taken the other way.
  while (!chain_.empty())
    chain_.pop_back();
}

}  // namespace zorvi::installer
