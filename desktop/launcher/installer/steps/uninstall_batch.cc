#include "desktop/launcher/installer/steps/uninstall_batch.h"

#include <windows.h>

#include <algorithm>
#include <utility>

#include "base/files/file_util.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/stringprintf.h"
#include "base/strings/sys_string_conversions.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/launcher/installer/service/utils.h"

namespace zorvi::installer {

const wchar_t kUninstallBatchFileName[] = L"k.bat";

namespace {

constexpr wchar_t kAgainLabel[] = L":again";
constexpr wchar_t kPause[] = L"ping -n 2 127.0.0.1";
constexpr wchar_t kDeleteSelf[] = L"del %0";
constexpr wchar_t kDeletePrefix[] = L"del \"";
constexpr wchar_t kRemoveFolderPrefix[] = L"rmdir \"";
constexpr wchar_t kTaskListPrefix[] = L"TASKLIST /FI \"PID eq ";
constexpr wchar_t kTaskListSuffix[] = L"\" | FIND /c /i \".exe\"";
constexpr int kWatchedProcessSlots = 3;

std::wstring SetRunningLine(int slot) {
  return base::StringPrintf(L"SET PID%d_RUNNING=TRUE", slot + 1);
}
std::wstring IfRunningOpenLine(int slot) {
  return base::StringPrintf(L"IF %%PID%d_RUNNING%%==TRUE (", slot + 1);
}
std::wstring TaskListLine(uint32_t process_id) {
  return kTaskListPrefix + std::to_wstring(process_id) + kTaskListSuffix;
}
std::wstring ResetRunningLine(int slot) {
  return base::StringPrintf(L"IF ERRORLEVEL 1 SET PID%d_RUNNING=FALSE", slot + 1);
}
std::wstring LoopLine(int slot) {
  return base::StringPrintf(L"IF %%PID%d_RUNNING%%==TRUE GOTO :again", slot + 1);
}

// The command processor expands %...% even between quotes; a doubled percent sign stands for one.
std::wstring EscapePercent(const std::wstring& path) {
  std::wstring escaped;
  for (wchar_t c : path) {
    escaped += c;
    if (c == L'%')
      escaped += L'%';
  }
  return escaped;
}

bool UnescapePercent(const std::wstring& text, std::wstring* path) {
  path->clear();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == L'%' && (i + 1 == text.size() || text[++i] != L'%'))
      return false;
    *path += text[i];
  }
  return true;
}

// The system's short name of an existing `path` (every component); empty when it has none.
base::FilePath ShortName(const base::FilePath& path) {
  std::wstring short_name(MAX_PATH, L'\0');
  DWORD length = GetShortPathNameW(path.value().c_str(), short_name.data(), MAX_PATH);
  if (length >= MAX_PATH) {
    short_name.resize(length);
    length = GetShortPathNameW(path.value().c_str(), short_name.data(), length);
  }
  short_name.resize(length < short_name.size() ? length : 0);
  return base::FilePath(short_name);
}

std::string ToOemCodePage(const std::wstring& text) {
  return base::SystemWideToMultiByte(text, CP_OEMCP);
}

bool IsAscii(const std::wstring& text) {
  return std::all_of(text.begin(), text.end(), [](wchar_t c) { return c < 0x80; });
}

// Whether the batch can name `path` as a plain absolute path: no character the file system or the quoting
// refuses, no component made of dots and blanks (the system would fold it into another path), and carried by
// the OEM code page unchanged.
bool IsNameable(const std::wstring& path) {
  const base::FilePath file_path(path);
  if (!file_path.IsAbsolute())
    return false;
  for (size_t i = 0; i < path.size(); ++i) {
    const wchar_t c = path[i];
    if (c < 32 || wcschr(L"\"*?<>|/", c) || (c == L':' && i != 1))
      return false;
  }
  std::vector<std::wstring> components;
  file_path.GetComponents(&components);
  for (const std::wstring& component : components) {
    if (component.find_first_not_of(L". ") == std::wstring::npos)
      return false;
  }
  return base::SystemMultiByteToWide(ToOemCodePage(path), CP_OEMCP) == path;
}

// Whether `path` is `folder` itself (when allowed) or lies below it, comparing components without regard to
// case as the file system does. The folder may be spelled by its long name or by its short name.
// *below receives the path's names under the folder.
bool IsInsideFolder(const base::FilePath& folder, const std::wstring& path, bool folder_itself,
                    std::vector<std::wstring>* below = nullptr) {
  if (!IsNameable(path))
    return false;
  std::vector<std::wstring> child;
  base::FilePath(path).GetComponents(&child);
  for (const base::FilePath& spelling : {folder, ShortName(folder)}) {
    std::vector<std::wstring> parent;
    spelling.StripTrailingSeparators().GetComponents(&parent);
    if (parent.empty() || child.size() < parent.size() || (child.size() == parent.size() && !folder_itself))
      continue;
    if (std::equal(parent.begin(), parent.end(), child.begin(), [](const std::wstring& a, const std::wstring& b) {
          return base::FilePath::CompareIgnoreCase(a, b) == 0;
        })) {
      if (below)
        below->assign(child.begin() + parent.size(), child.end());
      return true;
    }
  }
  return false;
}

// Reads the batch line by line, expecting the writer's lines in order.
class LineReader {
 public:
  explicit LineReader(const std::wstring& text) {
    size_t start = 0;
    for (size_t end; (end = text.find(L'\n', start)) != std::wstring::npos; start = end + 1)
      lines_.push_back(text.substr(start, end - start));
    unterminated_ = start != text.size();
  }

  bool AtEnd() const { return next_ >= lines_.size(); }
  const std::wstring& Peek() const { return lines_[next_]; }
  bool NextIs(const std::wstring& line) const { return !AtEnd() && Peek() == line; }
  bool NextStartsWith(const wchar_t* prefix) const { return !AtEnd() && Peek().rfind(prefix, 0) == 0; }
  void Skip() { ++next_; }

  bool Expect(const std::wstring& line) {
    if (!NextIs(line))
      return Fail("expected \"" + base::WideToUTF8(line) + "\"");
    Skip();
    return true;
  }

  // The text between `prefix` and `suffix` of the next line, which is consumed.
  bool TakeBetween(const std::wstring& prefix, const std::wstring& suffix, std::wstring* middle) {
    const std::wstring& line = AtEnd() ? std::wstring() : Peek();
    if (line.size() < prefix.size() + suffix.size() || line.compare(0, prefix.size(), prefix) != 0 ||
        line.compare(line.size() - suffix.size(), suffix.size(), suffix) != 0) {
      return Fail("expected \"" + base::WideToUTF8(prefix) + "...\"");
    }
    *middle = line.substr(prefix.size(), line.size() - prefix.size() - suffix.size());
    Skip();
    return true;
  }

  bool Fail(const std::string& why) {
    if (error_.empty())
      error_ = base::StringPrintf("line %zu: ", std::min(next_, lines_.size()) + 1) + why;
    return false;
  }
  // Reports a problem with the line just consumed.
  bool FailPrevious(const std::string& why) {
    --next_;
    return Fail(why);
  }

  bool unterminated() const { return unterminated_; }
  const std::string& error() const { return error_; }

 private:
  std::vector<std::wstring> lines_;
  size_t next_ = 0;
  bool unterminated_ = false;
  std::string error_;
};

bool ReadWatchedProcesses(LineReader* reader, std::vector<int>* slots) {
  for (int slot = 0; slot < kWatchedProcessSlots; ++slot) {
    if (reader->NextIs(SetRunningLine(slot))) {
      slots->push_back(slot);
      reader->Skip();
    } else if (slot == 0) {
      return reader->Expect(SetRunningLine(0));
    }
  }
  if (!reader->Expect(kAgainLabel))
    return false;
  for (int slot : *slots) {
    std::wstring digits;
    if (!reader->Expect(IfRunningOpenLine(slot)) || !reader->TakeBetween(kTaskListPrefix, kTaskListSuffix, &digits))
      return false;
    unsigned process_id = 0;
    if (!base::StringToUint(digits, &process_id) || process_id == 0 || std::to_wstring(process_id) != digits)
      return reader->FailPrevious("not a process id");
    if (!reader->Expect(ResetRunningLine(slot)) || !reader->Expect(L")"))
      return false;
  }
  if (!reader->Expect(kPause))
    return false;
  for (int slot : *slots) {
    if (!reader->Expect(LoopLine(slot)))
      return false;
  }
  return true;
}

// The paths of the lines that start with `prefix`, each checked against the folder; folders (`folder_itself`)
// also for their order.
bool ReadPathLines(LineReader* reader, const wchar_t* prefix, const base::FilePath& folder, bool folder_itself,
                   std::vector<UninstallBatchEntry>* entries) {
  while (reader->NextStartsWith(prefix)) {
    std::wstring quoted;
    std::wstring path;
    if (!reader->TakeBetween(prefix, L"\"", &quoted))
      return false;
    if (!UnescapePercent(quoted, &path))
      return reader->FailPrevious("a lone percent sign");
    UninstallBatchEntry entry{base::FilePath(path), {}};
    if (!IsInsideFolder(folder, path, folder_itself, &entry.below))
      return reader->FailPrevious("not a path inside " + folder.AsUTF8());
    // The command processor follows links: a path through one leads outside the folder whatever its text says.
    std::string problem;
    if (!LinkFreePath().Hold(entry.path, false, &problem))
      return reader->FailPrevious("the path leads through a link: " + problem);
    // The writer removes each folder once, a subfolder before its parent.
    if (folder_itself && !entries->empty() && !(path < entries->back().path.value()))
      return reader->FailPrevious("folders not in descending order");
    entries->push_back(std::move(entry));
  }
  return true;
}

}  // namespace

UninstallBatch::UninstallBatch(const base::FilePath& install_folder) : install_folder_(install_folder) {
  process_ids_[0] = GetCurrentProcessId();
}

UninstallBatch::~UninstallBatch() = default;

void UninstallBatch::SetWatchedProcesses(uint32_t own, uint32_t initial, uint32_t other) {
  process_ids_[0] = own ? own : GetCurrentProcessId();
  process_ids_[1] = initial;
  process_ids_[2] = other;
}

bool UninstallBatch::AddLeftoverFile(const base::FilePath& file) {
  base::FilePath named = file;
  if (!IsInsideFolder(install_folder_, named.value(), false)) {
    // A name the command processor's code page cannot carry is named by its short name, which is plain ASCII.
    named = ShortName(file);
    if (named.empty() || !IsAscii(named.value()) || !IsInsideFolder(install_folder_, named.value(), false))
      return false;
  }
  std::string problem;
  if (!LinkFreePath().Hold(named, false, &problem))
    return false;
  files_.push_back(named);
  // Up to the installation folder, which may be a drive's root (its own parent).
  for (base::FilePath folder = named.DirName(); IsInsideFolder(install_folder_, folder.value(), true);) {
    folders_.insert(folder.value());
    const base::FilePath parent = folder.DirName();
    if (parent.value() == folder.value())
      break;
    folder = parent;
  }
  return true;
}

std::string UninstallBatch::Format() const {
  std::vector<std::wstring> lines;
  std::vector<int> slots;
  for (int slot = 0; slot < kWatchedProcessSlots; ++slot) {
    if (process_ids_[slot] != 0)
      slots.push_back(slot);
  }
  for (int slot : slots)
    lines.push_back(SetRunningLine(slot));
  lines.push_back(kAgainLabel);
  for (int slot : slots) {
    lines.insert(lines.end(), {IfRunningOpenLine(slot), TaskListLine(process_ids_[slot]), ResetRunningLine(slot),
                               L")"});
  }
  lines.push_back(kPause);
  for (int slot : slots)
    lines.push_back(LoopLine(slot));
  for (const base::FilePath& file : files_)
    lines.push_back(kDeletePrefix + EscapePercent(file.value()) + L"\"");
  for (const std::wstring& folder : folders_)
    lines.push_back(kRemoveFolderPrefix + EscapePercent(folder) + L"\"");
  lines.push_back(kDeleteSelf);

  std::wstring text;
  for (const std::wstring& line : lines)
    text += line + L"\n";
  return ToOemCodePage(text);
}

bool UninstallBatch::Write() const {
  const std::string text = Format();
  return base::WriteFile(install_folder_.Append(kUninstallBatchFileName), text.data(), static_cast<int>(text.size())) ==
         static_cast<int>(text.size());
}

bool CheckUninstallBatch(const std::string& text, const base::FilePath& install_folder, std::string* error,
                         UninstallBatchEntries* entries) {
  LineReader reader(base::SystemMultiByteToWide(text, CP_OEMCP));
  std::vector<int> slots;
  UninstallBatchEntries read;
  bool valid = ReadWatchedProcesses(&reader, &slots) &&
               ReadPathLines(&reader, kDeletePrefix, install_folder, false, &read.files) &&
               ReadPathLines(&reader, kRemoveFolderPrefix, install_folder, true, &read.folders) &&
               reader.Expect(kDeleteSelf);
  if (valid && !reader.AtEnd())
    valid = reader.Fail("a line after the end");
  else if (valid && reader.unterminated())
    valid = reader.Fail("text after the last line end");
  *error = reader.error();
  if (valid && entries)
    *entries = std::move(read);
  return valid;
}

}  // namespace zorvi::installer
