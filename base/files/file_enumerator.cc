#include "base/files/file_enumerator.h"

#include "base/win/windows_version.h"

namespace base {

FileEnumerator::FileInfo::FileInfo() : find_data_() {}

int64_t FileEnumerator::FileInfo::GetSize() const {
  return static_cast<int64_t>((static_cast<uint64_t>(find_data_.nFileSizeHigh) << 32) | find_data_.nFileSizeLow);
}

FileEnumerator::FileEnumerator(const FilePath& root, bool recursive, int file_type)
    : FileEnumerator(root, recursive, file_type, FilePath::StringType()) {}

FileEnumerator::FileEnumerator(const FilePath& root, bool recursive, int file_type,
                               const FilePath::StringType& pattern)
    : find_data_(), recursive_(recursive), file_type_(file_type), pattern_(pattern) {
  pending_paths_.push_back(root);
}

FileEnumerator::~FileEnumerator() {
  if (find_handle_ != INVALID_HANDLE_VALUE)
    FindClose(find_handle_);
}

FileEnumerator::FileInfo FileEnumerator::GetInfo() const {
  if (find_handle_ == INVALID_HANDLE_VALUE)
    return FileInfo();
  return FileInfo(find_data_);
}

FilePath FileEnumerator::Next() {
  while (find_handle_ != INVALID_HANDLE_VALUE || !pending_paths_.empty()) {
    if (find_handle_ == INVALID_HANDLE_VALUE) {
      root_path_ = pending_paths_.back();
      pending_paths_.pop_back();
      const FilePath search = root_path_.Append(pattern_.empty() ? FilePath::StringType(L"*") : pattern_);
      if (win::GetVersion() >= win::VERSION_WIN7) {
        // Without short names, in large batches.
        find_handle_ = FindFirstFileExW(search.value().c_str(), FindExInfoBasic, &find_data_,
                                        FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
      } else {
        find_handle_ = FindFirstFileW(search.value().c_str(), &find_data_);
      }
    } else if (!FindNextFileW(find_handle_, &find_data_)) {
      FindClose(find_handle_);
      find_handle_ = INVALID_HANDLE_VALUE;
    }

    if (find_handle_ == INVALID_HANDLE_VALUE) {
      // The pattern selects among the root's entries only.
      pattern_.clear();
      continue;
    }

    const FilePath::StringType name = find_data_.cFileName;
    const bool is_dot_dot = name == FilePath::kParentDirectory;
    if (name == FilePath::kCurrentDirectory || (is_dot_dot && !(file_type_ & INCLUDE_DOT_DOT)))
      continue;

    const FilePath path = root_path_.Append(name);
    if (find_data_.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      // ".." is the parent: entering it would walk up and around forever.
      if (recursive_ && !is_dot_dot && !(find_data_.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
        pending_paths_.push_back(path);
      if (file_type_ & DIRECTORIES)
        return path;
    } else if (file_type_ & FILES) {
      return path;
    }
  }
  return FilePath();
}

}  // namespace base
