#include "desktop/launcher/installer/service/transactions/registry_entry.h"

#include <cstring>
#include <limits>
#include <string>

#include "base/logging.h"
#include "base/win/windows_version.h"
#include "desktop/common/product/product_info.h"
#include "desktop/launcher/installer/records/install_log.h"
#include "desktop/launcher/installer/service/transactions/change_reg_value_operation.h"
#include "desktop/launcher/installer/service/transactions/delete_reg_key_operation.h"
#include "desktop/launcher/installer/service/transactions/placeholder_provider.h"

namespace zorvi::installer {

namespace {

// Values that name a place on the machine: taken as they are, since a folder's name may hold braces (and even
// a whole placeholder), which must never be expanded again.
bool IsVerbatimPlaceholder(const std::wstring& name) {
  return name == L"InstallFolder" || name == L"Uninstall";
}

bool AppliesHere(const RegistryEntry& entry, HKEY root) {
  if (base::win::GetVersion() < entry.min_windows_version)
    return false;
  if (entry.hive && entry.hive != root)
    return false;
  return entry.min_stream <= GetStreamId();
}

}  // namespace

bool ExpandPlaceholders(const RegistryEntry& entry, std::wstring* out, const wchar_t* text) {
  out->assign(text ? text : L"");
  if (!entry.placeholders)
    return true;
  size_t from = 0;
  for (int substitutions = 0;; ++substitutions) {
    size_t open = out->find(L'{', from);
    if (open == std::wstring::npos)
      return true;
    const size_t close = out->find(L'}', open);
    if (close == std::wstring::npos)
      return true;
    // A "{" that is never closed is plain text: the placeholder starts at the last "{" before the "}".
    open = out->rfind(L'{', close);
    if (substitutions == kMaxPlaceholderSubstitutions) {
      LOG(ERROR) << "Too many placeholder substitutions in " << (text ? text : L"");
      return false;
    }
    const std::wstring name = out->substr(open + 1, close - open - 1);
    const std::wstring value = entry.placeholders->GetValue(name);
    out->replace(open, close - open + 1, value);
    from = IsVerbatimPlaceholder(name) ? open + value.size() : open;
  }
}

bool CreateRegistryOperation(const RegistryEntry& entry, HKEY root, std::unique_ptr<Operation>* operation) {
  operation->reset();
  if (!AppliesHere(entry, root))
    return true;
  if (entry.type == kRegistryEntryDeleteKey) {
    // The key is named by the same templates as the values written next to it: taken literally, a deletion of
    // "Software\Classes\{Product}{Stream}\..." would look for a key of that very name and leave the real one.
    std::wstring key_path;
    if (!ExpandPlaceholders(entry, &key_path, entry.key_path))
      return false;
    *operation = std::make_unique<DeleteRegKeyOperation>(root, key_path);
    return true;
  }

  std::wstring text;
  DWORD number = 0;
  const void* data = nullptr;
  size_t size = 0;
  switch (entry.type) {
    case REG_NONE:
    case kRegistryEntryDeleteValue:
      break;
    case REG_SZ:
    case REG_EXPAND_SZ:
      if (!ExpandPlaceholders(entry, &text, reinterpret_cast<const wchar_t*>(entry.data)))
        return false;
      // Text that expanded to nothing is written with no bytes at all.
      if (!text.empty()) {
        data = text.c_str();
        size = (text.size() + 1) * sizeof(wchar_t);
      }
      break;
    case REG_BINARY:
      data = reinterpret_cast<const char*>(entry.data);
      size = data ? std::strlen(static_cast<const char*>(data)) : 0;
      break;
    case REG_DWORD:
      if (entry.data > std::numeric_limits<DWORD>::max()) {
        LOG(ERROR) << "A registry entry holds a number wider than 32 bits";
        return false;
      }
      number = static_cast<DWORD>(entry.data);
      data = &number;
      size = sizeof(number);
      break;
    default:
      LOG(ERROR) << "A registry entry has the refused type " << entry.type;
      return false;
  }
  CHECK(size <= std::numeric_limits<DWORD>::max());

  std::wstring key_path;
  std::wstring value_name;
  if (!ExpandPlaceholders(entry, &key_path, entry.key_path) ||
      !ExpandPlaceholders(entry, &value_name, entry.value_name)) {
    return false;
  }
  std::vector<InstallLogKey>* log = entry.placeholders ? entry.placeholders->GetRootValue(root) : nullptr;
  *operation =
      std::make_unique<ChangeRegValueOperation>(root, key_path, value_name, data, entry.type, static_cast<DWORD>(size));
  if (log) {
    RecordRegistryValue(log, key_path, value_name, data, entry.type, static_cast<DWORD>(size), entry.clean_level);
  }
  return true;
}

}  // namespace zorvi::installer
