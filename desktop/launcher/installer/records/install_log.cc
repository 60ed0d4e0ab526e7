#include "desktop/launcher/installer/records/install_log.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <iterator>

#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/string_util.h"
#include "base/strings/stringprintf.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/launcher/installer/service/xml_document.h"

namespace zorvi {
namespace installer {

const wchar_t kInstallLogFileName[] = L"installation_status.xml";
const wchar_t kKadroInstallLogFileName[] = L"zorvi_install_log.xml";

namespace {

constexpr char kRootElement[] = "install_log";
constexpr char kPathElement[] = "path";
constexpr char kFilesElement[] = "files";
constexpr char kRootFilesElement[] = "root_files";
constexpr char kFileElement[] = "file";
constexpr char kRegistryElement[] = "registry";
constexpr char kKeyElement[] = "key";
constexpr char kValueElement[] = "value";
constexpr char kShortcutElement[] = "shortcut";

constexpr char kVersionAttribute[] = "version";
constexpr char kCopyOnlyAttribute[] = "copy_only";
constexpr char kAllUsersAttribute[] = "all_users";
constexpr char kPinnedAttribute[] = "pinned";
constexpr char kAppIdAttribute[] = "app_id";
constexpr char kSubfolderAttribute[] = "subfolder";
constexpr char kHiveAttribute[] = "hive";
constexpr char kKeyPathAttribute[] = "path";
constexpr char kCleanAttribute[] = "clean";
constexpr char kNameAttribute[] = "name";
constexpr char kTypeAttribute[] = "type";

constexpr char kMachineHive[] = "HKLM";
constexpr char kUserHive[] = "HKCU";
constexpr char kTrue[] = "True";
constexpr char kFalse[] = "False";

constexpr char kDesktopShortcut[] = "SC_DEST_DESKTOP";
constexpr char kCommonDesktopShortcut[] = "SC_DEST_COMMON_DESKTOP";
constexpr char kMenuShortcut[] = "SC_DEST_MENU";
constexpr char kCommonMenuShortcut[] = "SC_DEST_COMMON_MENU";
constexpr char kQuickLaunchShortcut[] = "SC_DEST_QUICK_LAUNCH";

// Registry value types by number.
constexpr const char* kTypeNames[] = {
    "REG_NONE",
    "REG_SZ",
    "REG_EXPAND_SZ",
    "REG_BINARY",
    "REG_DWORD",
    "REG_DWORD_BIG_ENDIAN",
    "REG_LINK",
    "REG_MULTI_SZ",
    "REG_RESOURCE_LIST",
    "REG_FULL_RESOURCE_DESCRIPTOR",
    "REG_RESOURCE_REQUIREMENTS_LIST",
    "REG_QWORD",
};

constexpr DWORD kDeleteValue = 0xFFFFFFFF;

// Paths go into the file as UTF-8 and come back trimmed: the document's text may carry the indentation's
// blanks around them.
base::FilePath PathFromText(const std::string& text) {
  std::wstring path;
  base::TrimWhitespace(base::UTF8ToWide(text), base::TRIM_ALL, &path);
  return base::FilePath(path);
}


// Walks a loaded document in the one order the file may have, stopping at the first element out of place.
class InstallLogReader {
 public:
  InstallLogReader(XmlDocument* document, InstallLog* log) : document_(document), log_(log) {}

  bool Read() {
    if (!MoveTo(document_->MoveToFirstChild(), kRootElement) || !ReadRoot())
      return false;
    if (!MoveTo(document_->MoveToFirstChild(), kPathElement) || !ReadPath())
      return false;
    if (!MoveTo(document_->MoveToNextSibling(), kFilesElement) || !ReadFileList(&log_->files))
      return false;
    XmlMoveResult next = document_->MoveToNextSibling();
    if (next == XmlMoveResult::kMoved && IsAt(kRootFilesElement)) {
      if (!ReadFileList(&log_->root_files))
        return false;
      next = document_->MoveToNextSibling();
    }
    while (next == XmlMoveResult::kMoved && IsAt(kRegistryElement)) {
      if (!ReadRegistry())
        return false;
      next = document_->MoveToNextSibling();
    }
    while (next == XmlMoveResult::kMoved) {
      if (!IsAt(kShortcutElement) || !ReadShortcut())
        return false;
      next = document_->MoveToNextSibling();
    }
    return next == XmlMoveResult::kNotFound;
  }

 private:
  // True when a move succeeded and landed on an element of that name.
  bool MoveTo(XmlMoveResult moved, const char* name) { return moved == XmlMoveResult::kMoved && IsAt(name); }

  bool IsAt(const char* name) {
    std::string current;
    return document_->GetName(&current) && current == name;
  }

  bool ReadBoolean(const char* name, bool* value) {
    std::string text;
    if (!document_->GetAttribute(name, &text))
      return false;
    *value = text == kTrue;
    return true;
  }

  bool ReadRoot() {
    if (!document_->GetAttribute(kVersionAttribute, &log_->version))
      return false;
    document_->GetAttribute(kAppIdAttribute, &log_->app_id);  // optional
    return ReadBoolean(kCopyOnlyAttribute, &log_->copy_only) && ReadBoolean(kAllUsersAttribute, &log_->all_users) &&
           ReadBoolean(kPinnedAttribute, &log_->pinned);
  }

  bool ReadPath() {
    std::string text;
    if (document_->GetAttribute(kSubfolderAttribute, &text))
      log_->subfolder = PathFromText(text);
    if (!document_->GetText(&text))
      return false;
    log_->installation_path = PathFromText(text);
    return true;
  }

  // A list element needs at least one "file"; the cursor ends on the list element again.
  bool ReadFileList(std::vector<base::FilePath>* files) {
    XmlMoveResult next = document_->MoveToFirstChild();
    if (next != XmlMoveResult::kMoved)
      return false;
    for (; next == XmlMoveResult::kMoved; next = document_->MoveToNextSibling()) {
      std::string text;
      if (!IsAt(kFileElement) || !document_->GetText(&text))
        return false;
      files->push_back(PathFromText(text));
    }
    return next == XmlMoveResult::kNotFound && document_->ToParent();
  }

  bool ReadRegistry() {
    std::string hive;
    if (!document_->GetAttribute(kHiveAttribute, &hive))
      return false;
    std::vector<InstallLogKey>* keys = nullptr;
    if (hive == kMachineHive)
      keys = &log_->machine_keys;
    else if (hive == kUserHive)
      keys = &log_->user_keys;
    else
      return false;
    XmlMoveResult next = document_->MoveToFirstChild();
    if (next != XmlMoveResult::kMoved)
      return false;
    for (; next == XmlMoveResult::kMoved; next = document_->MoveToNextSibling()) {
      InstallLogKey key;
      std::string clean;
      if (!IsAt(kKeyElement) || !document_->GetAttribute(kKeyPathAttribute, &key.path) ||
          !document_->GetAttribute(kCleanAttribute, &clean) || !base::StringToInt(clean, &key.clean_level) ||
          !ReadValues(&key.values)) {
        return false;
      }
      keys->push_back(std::move(key));
    }
    return next == XmlMoveResult::kNotFound && document_->ToParent();
  }

  // A key may have no values; the cursor ends on the key.
  bool ReadValues(std::vector<InstallLogValue>* values) {
    XmlMoveResult next = document_->MoveToFirstChild();
    if (next == XmlMoveResult::kNotFound)
      return true;
    for (; next == XmlMoveResult::kMoved; next = document_->MoveToNextSibling()) {
      InstallLogValue value;
      std::string data;
      if (!IsAt(kValueElement) || !document_->GetAttribute(kNameAttribute, &value.name) ||
          !document_->GetAttribute(kTypeAttribute, &value.type) || !document_->GetText(&data)) {
        return false;
      }
      base::TrimWhitespaceASCII(data, base::TRIM_ALL, &value.data);
      values->push_back(std::move(value));
    }
    return next == XmlMoveResult::kNotFound && document_->ToParent();
  }

  bool ReadShortcut() {
    std::string type;
    std::string text;
    if (!document_->GetAttribute(kTypeAttribute, &type) || !document_->GetText(&text))
      return false;
    base::FilePath* shortcut = nullptr;
    if (type == kDesktopShortcut || type == kCommonDesktopShortcut)
      shortcut = &log_->desktop_shortcut;
    else if (type == kMenuShortcut || type == kCommonMenuShortcut)
      shortcut = &log_->start_menu_shortcut;
    else if (type == kQuickLaunchShortcut)
      shortcut = &log_->quick_launch_shortcut;
    else
      return false;
    *shortcut = PathFromText(text);
    return true;
  }

  XmlDocument* const document_;
  InstallLog* const log_;
};

// Adds the elements of a log under the document node; every call must succeed.
class InstallLogWriter {
 public:
  explicit InstallLogWriter(XmlDocument* document) : document_(document) {}

  bool Write(const InstallLog& log) {
    if (!Open(kRootElement) || !Attribute(kVersionAttribute, log.version) ||
        !Attribute(kCopyOnlyAttribute, Boolean(log.copy_only)) ||
        !Attribute(kAllUsersAttribute, Boolean(log.all_users)) || !Attribute(kPinnedAttribute, Boolean(log.pinned)) ||
        !Attribute(kAppIdAttribute, log.app_id)) {
      return false;
    }
    if (!Open(kPathElement) || !Attribute(kSubfolderAttribute, log.subfolder.AsUTF8()) ||
        !Text(log.installation_path.AsUTF8()) || !Close()) {
      return false;
    }
    if (!FileList(kFilesElement, log.files) ||
        (!log.root_files.empty() && !FileList(kRootFilesElement, log.root_files))) {
      return false;
    }
    if ((!log.machine_keys.empty() && !Registry(kMachineHive, log.machine_keys)) ||
        (!log.user_keys.empty() && !Registry(kUserHive, log.user_keys))) {
      return false;
    }
    return Shortcut(log.all_users ? kCommonDesktopShortcut : kDesktopShortcut, log.desktop_shortcut) &&
           Shortcut(log.all_users ? kCommonMenuShortcut : kMenuShortcut, log.start_menu_shortcut) &&
           Shortcut(kQuickLaunchShortcut, log.quick_launch_shortcut);
  }

 private:
  static const char* Boolean(bool value) { return value ? kTrue : kFalse; }

  bool Open(const char* name) { return document_->AddChild(name); }
  bool Close() { return document_->ToParent(); }
  bool Attribute(const char* name, const std::string& value) { return document_->SetAttribute(name, value); }
  bool Text(const std::string& text) { return document_->SetText(text); }

  // Written also when empty, though such a list does not load: the file always has a "files" element.
  bool FileList(const char* name, const std::vector<base::FilePath>& files) {
    if (!Open(name))
      return false;
    for (const base::FilePath& file : files) {
      if (!Open(kFileElement) || !Text(file.AsUTF8()) || !Close())
        return false;
    }
    return Close();
  }

  bool Registry(const char* hive, const std::vector<InstallLogKey>& keys) {
    if (!Open(kRegistryElement) || !Attribute(kHiveAttribute, hive))
      return false;
    for (const InstallLogKey& key : keys) {
      if (!Open(kKeyElement) || !Attribute(kKeyPathAttribute, key.path) ||
          !Attribute(kCleanAttribute, base::IntToString(key.clean_level))) {
        return false;
      }
      for (const InstallLogValue& value : key.values) {
        if (!Open(kValueElement) || !Attribute(kNameAttribute, value.name) || !Attribute(kTypeAttribute, value.type) ||
            !Text(value.data) || !Close()) {
          return false;
        }
      }
      if (!Close())
        return false;
    }
    return Close();
  }

  bool Shortcut(const char* type, const base::FilePath& path) {
    return path.empty() ||
           (Open(kShortcutElement) && Attribute(kTypeAttribute, type) && Text(path.AsUTF8()) && Close());
  }

  XmlDocument* const document_;
};

}  // namespace

FolderInstallLog LoadFolderInstallLog(XmlDocument* document, InstallLog* log, const base::FilePath& folder) {
  const base::FilePath own = folder.Append(kInstallLogFileName);
  if (base::PathExists(own) && LoadInstallLog(document, log, own))
    return FolderInstallLog::kOwn;
  const base::FilePath earlier = folder.Append(kKadroInstallLogFileName);
  if (base::PathExists(earlier) && LoadInstallLog(document, log, earlier))
    return FolderInstallLog::kEarlierEngine;
  return FolderInstallLog::kNone;
}

bool LoadInstallLog(XmlDocument* document, InstallLog* log, const base::FilePath& path) {
  log->files.clear();
  log->root_files.clear();
  log->machine_keys.clear();
  log->user_keys.clear();
  if (!document->Create() || !document->Load(path)) {
    LOG(ERROR) << "Cannot load the installation status " << path.AsUTF8();
    return false;
  }
  // Read into a copy, so that a file refused halfway leaves nothing of it in the log.
  InstallLog read = *log;
  if (!ReadInstallLog(document, &read)) {
    LOG(ERROR) << "The installation status " << path.AsUTF8() << " is not a valid installation log";
    return false;
  }
  *log = std::move(read);
  return true;
}

bool ReadInstallLog(XmlDocument* document, InstallLog* log) { return InstallLogReader(document, log).Read(); }

bool WriteInstallLog(XmlDocument* document, const InstallLog& log) {
  if (!document->Create() || !InstallLogWriter(document).Write(log)) {
    LOG(ERROR) << "Cannot build the installation status document";
    return false;
  }
  return true;
}

void RecordRegistryValue(std::vector<InstallLogKey>* keys, const std::wstring& key_path,
                         const std::wstring& value_name, const void* data, DWORD type, DWORD size, int clean_level) {
  if (type == kDeleteValue)
    return;
  const std::string path = base::WideToUTF8(key_path);
  auto key = std::find_if(keys->rbegin(), keys->rend(), [&path](const InstallLogKey& k) { return k.path == path; });
  InstallLogKey* record;
  if (key != keys->rend()) {
    record = &*key;
    record->clean_level = std::max(record->clean_level, clean_level);
  } else {
    record = &keys->emplace_back();
    record->path = path;
    record->clean_level = clean_level;
  }
  InstallLogValue value;
  // Types past the table (none that the installer writes) have no name to record.
  value.type = type < std::size(kTypeNames) ? kTypeNames[type] : std::string();
  value.name = base::WideToUTF8(value_name);
  value.data = RegistryDataText(data, type, size);
  record->values.push_back(std::move(value));
}

std::string RegistryDataText(const void* data, DWORD type, DWORD size) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  if (!bytes)
    size = 0;
  switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ: {
      // The size counts the terminator; text that expanded to nothing comes with no bytes at all.
      const auto* text = static_cast<const wchar_t*>(data);
      const size_t length = size / sizeof(wchar_t);
      return base::WideToUTF8(std::wstring(text, wcsnlen(text ? text : L"", length)));
    }
    case REG_BINARY: {
      std::string text;
      for (DWORD i = 0; i < size; ++i)
        base::StringAppendF(&text, i == 0 ? "%.2x" : ",%.2x", bytes[i]);
      return text;
    }
    case REG_DWORD: {
      DWORD value = 0;
      if (bytes)
        std::memcpy(&value, bytes, std::min<DWORD>(size, sizeof(value)));
      return base::StringPrintf("%.8lx", static_cast<unsigned long>(value));
    }
    default:
      return std::string();
  }
}

}  // namespace installer
}  // namespace zorvi
