#include "base/win/shortcut.h"

#include <shellapi.h>
#include <shlobj.h>

#include <vector>

#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/win/property_store.h"
#include "base/win/scoped_comptr.h"
#include "base/win/windows_version.h"

namespace base {
namespace win {
namespace {

// The longest text a link stores: its string fields carry a 16-bit character count.
constexpr size_t kMaxLinkStringLength = 65535;

// Reads one text field of a link through `getter`(buffer, size). The link's getters cut a longer text to the
// buffer without saying so, so the buffer grows while the text fills it up to the last character.
template <typename Getter>
bool ReadLinkString(Getter getter, std::wstring* text) {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    buffer[0] = L'\0';
    if (FAILED(getter(buffer.data(), static_cast<int>(buffer.size()))))
      return false;
    buffer.back() = L'\0';
    const size_t length = wcslen(buffer.data());
    if (length + 1 < buffer.size() || buffer.size() > kMaxLinkStringLength) {
      text->assign(buffer.data(), length);
      return true;
    }
    buffer.assign(buffer.size() * 2, L'\0');
  }
}

// The shell link object with its persist interface.
struct ShellLink {
  bool Create() {
    return SUCCEEDED(link.CreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER)) &&
           SUCCEEDED(persist_file.QueryFrom(link.get()));
  }
  bool CreateAndLoad(const FilePath& path, DWORD mode) {
    return Create() && SUCCEEDED(persist_file->Load(path.value().c_str(), mode));
  }
  void Release() {
    persist_file.Reset();
    link.Reset();
  }

  ScopedComPtr<IShellLinkW> link;
  ScopedComPtr<IPersistFile> persist_file;
};

bool ReadArguments(IShellLinkW* link, std::wstring* arguments) {
  return ReadLinkString([link](wchar_t* buffer, int size) { return link->GetArguments(buffer, size); }, arguments);
}

}  // namespace

ShortcutProperties::ShortcutProperties() = default;
ShortcutProperties::ShortcutProperties(const ShortcutProperties& other) = default;
ShortcutProperties& ShortcutProperties::operator=(const ShortcutProperties& other) = default;
ShortcutProperties::~ShortcutProperties() = default;

namespace internal {

bool WriteShortcutPropertyStore(IPropertyStore* property_store, const ShortcutProperties& properties) {
  if ((properties.options & ShortcutProperties::PROPERTIES_APP_ID) &&
      !SetAppIdForPropertyStore(property_store, properties.app_id.c_str())) {
    return false;
  }
  if ((properties.options & ShortcutProperties::PROPERTIES_DUAL_MODE) &&
      !SetBooleanValueForPropertyStore(property_store, kAppUserModelDualModeKey, properties.dual_mode)) {
    return false;
  }
  return true;
}

bool ReadShortcutPropertyStore(IPropertyStore* property_store, uint32_t options, ShortcutProperties* properties) {
  if (options & ShortcutProperties::PROPERTIES_APP_ID) {
    PROPVARIANT value;
    PropVariantInit(&value);
    if (FAILED(property_store->GetValue(kAppUserModelIdKey, &value)))
      return false;
    const VARTYPE type = value.vt;
    bool known_type = true;
    if (type == VT_EMPTY)
      properties->set_app_id(std::wstring());
    else if (type == VT_LPWSTR)
      properties->set_app_id(value.pwszVal ? value.pwszVal : L"");
    else
      known_type = false;
    PropVariantClear(&value);
    if (!known_type) {
      LOG(ERROR) << "Unexpected type of the application id: " << type;
      return false;
    }
  }
  if (options & ShortcutProperties::PROPERTIES_DUAL_MODE) {
    PROPVARIANT value;
    PropVariantInit(&value);
    if (FAILED(property_store->GetValue(kAppUserModelDualModeKey, &value)))
      return false;
    const VARTYPE type = value.vt;
    bool known_type = true;
    if (type == VT_EMPTY)
      properties->set_dual_mode(false);
    else if (type == VT_BOOL)
      properties->set_dual_mode(value.boolVal == VARIANT_TRUE);
    else
      known_type = false;
    PropVariantClear(&value);
    if (!known_type) {
      LOG(ERROR) << "Unexpected type of the dual mode: " << type;
      return false;
    }
  }
  return true;
}

}  // namespace internal

bool CreateOrUpdateShortcutLink(const FilePath& shortcut_path, const ShortcutProperties& properties,
                                ShortcutWriteMode mode) {
  if (mode != ShortcutWriteMode::UpdateExisting && !(properties.options & ShortcutProperties::PROPERTIES_TARGET)) {
    LOG(ERROR) << "A new shortcut needs a target";
    return false;
  }
  const bool shortcut_existed = PathExists(shortcut_path);

  ShellLink old_link;
  ShellLink link;
  switch (mode) {
    case ShortcutWriteMode::CreateAlways:
      if (!link.Create())
        return false;
      break;
    case ShortcutWriteMode::ReplaceExisting:
      if (!old_link.CreateAndLoad(shortcut_path, STGM_READWRITE) || !link.Create())
        return false;
      break;
    case ShortcutWriteMode::UpdateExisting:
      if (!link.CreateAndLoad(shortcut_path, STGM_READWRITE))
        return false;
      break;
  }

  const uint32_t options = properties.options;
  if ((options & ShortcutProperties::PROPERTIES_TARGET) &&
      FAILED(link.link->SetPath(properties.target.value().c_str()))) {
    return false;
  }
  if ((options & ShortcutProperties::PROPERTIES_WORKING_DIR) &&
      FAILED(link.link->SetWorkingDirectory(properties.working_dir.value().c_str()))) {
    return false;
  }
  if (options & ShortcutProperties::PROPERTIES_ARGUMENTS) {
    if (FAILED(link.link->SetArguments(properties.arguments.c_str())))
      return false;
  } else if (old_link.link) {
    // Read whole: a long argument list cut to a fixed buffer would change what the shortcut runs.
    std::wstring old_arguments;
    if (!ReadArguments(old_link.link.get(), &old_arguments) ||
        FAILED(link.link->SetArguments(old_arguments.c_str()))) {
      return false;
    }
  }
  if ((options & ShortcutProperties::PROPERTIES_DESCRIPTION) &&
      FAILED(link.link->SetDescription(properties.description.c_str()))) {
    return false;
  }
  if ((options & ShortcutProperties::PROPERTIES_ICON) &&
      FAILED(link.link->SetIconLocation(properties.icon.value().c_str(), properties.icon_index))) {
    return false;
  }

  if ((options & (ShortcutProperties::PROPERTIES_APP_ID | ShortcutProperties::PROPERTIES_DUAL_MODE)) &&
      GetVersion() >= VERSION_WIN7) {
    ScopedComPtr<IPropertyStore> property_store;
    if (FAILED(property_store.QueryFrom(link.link.get())) || !property_store) {
      LOG(ERROR) << "The shortcut has no property store";
      return false;
    }
    if (!internal::WriteShortcutPropertyStore(property_store.get(), properties))
      return false;
  }

  old_link.Release();
  const HRESULT result = link.persist_file->Save(shortcut_path.value().c_str(), TRUE);
  link.Release();
  if (FAILED(result)) {
    LOG(ERROR) << "Could not save the shortcut: 0x" << std::hex << result;
    return false;
  }
  if (shortcut_existed)
    SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
  else
    SHChangeNotify(SHCNE_CREATE, SHCNF_PATH, shortcut_path.value().c_str(), nullptr);
  return true;
}

bool ResolveShortcutProperties(const FilePath& shortcut_path, uint32_t options, ShortcutProperties* properties) {
  ShellLink link;
  if (!link.CreateAndLoad(shortcut_path, STGM_READ))
    return false;
  IShellLinkW* shell_link = link.link.get();

  properties->options = 0;
  std::wstring text;
  if (options & ShortcutProperties::PROPERTIES_TARGET) {
    if (!ReadLinkString([shell_link](wchar_t* buffer, int size) {
          return shell_link->GetPath(buffer, size, nullptr, SLGP_UNCPRIORITY);
        }, &text)) {
      return false;
    }
    properties->set_target(FilePath(text));
  }
  if (options & ShortcutProperties::PROPERTIES_WORKING_DIR) {
    if (!ReadLinkString([shell_link](wchar_t* buffer, int size) {
          return shell_link->GetWorkingDirectory(buffer, size);
        }, &text)) {
      return false;
    }
    properties->set_working_dir(FilePath(text));
  }
  if (options & ShortcutProperties::PROPERTIES_ARGUMENTS) {
    if (!ReadArguments(shell_link, &text))
      return false;
    properties->set_arguments(text);
  }
  if (options & ShortcutProperties::PROPERTIES_DESCRIPTION) {
    if (!ReadLinkString([shell_link](wchar_t* buffer, int size) {
          return shell_link->GetDescription(buffer, size);
        }, &text)) {
      return false;
    }
    properties->set_description(text);
  }
  if (options & ShortcutProperties::PROPERTIES_ICON) {
    int icon_index = -1;
    if (!ReadLinkString([shell_link, &icon_index](wchar_t* buffer, int size) {
          return shell_link->GetIconLocation(buffer, size, &icon_index);
        }, &text)) {
      return false;
    }
    properties->set_icon(FilePath(text), icon_index);
  }

  if ((options & (ShortcutProperties::PROPERTIES_APP_ID | ShortcutProperties::PROPERTIES_DUAL_MODE)) &&
      GetVersion() >= VERSION_WIN7) {
    ScopedComPtr<IPropertyStore> property_store;
    if (FAILED(property_store.QueryFrom(shell_link)) || !property_store) {
      LOG(ERROR) << "The shortcut has no property store";
      return false;
    }
    if (!internal::ReadShortcutPropertyStore(property_store.get(), options, properties))
      return false;
  }
  return true;
}

bool ResolveShortcut(const FilePath& shortcut_path, FilePath* target_path, std::wstring* args) {
  uint32_t options = 0;
  if (target_path)
    options |= ShortcutProperties::PROPERTIES_TARGET;
  if (args)
    options |= ShortcutProperties::PROPERTIES_ARGUMENTS;
  ShortcutProperties properties;
  if (!ResolveShortcutProperties(shortcut_path, options, &properties))
    return false;
  if (target_path)
    *target_path = properties.target;
  if (args)
    *args = properties.arguments;
  return true;
}

bool CanPinShortcutToTaskbar() {
  const WindowsVersion version = GetVersion();
  return version >= VERSION_WIN7 && version <= VERSION_WIN8_1;
}

bool TaskbarPinShortcutLink(const FilePath& shortcut) {
  const intptr_t result = reinterpret_cast<intptr_t>(
      ShellExecuteW(nullptr, L"taskbarpin", shortcut.value().c_str(), nullptr, nullptr, SW_HIDE));
  return result > 32;
}

bool TaskbarUnpinShortcutLink(const FilePath& shortcut) {
  if (GetVersion() < VERSION_WIN7)
    return false;
  const intptr_t result = reinterpret_cast<intptr_t>(
      ShellExecuteW(nullptr, L"taskbarunpin", shortcut.value().c_str(), nullptr, nullptr, SW_HIDE));
  return result > 32;
}

}  // namespace win
}  // namespace base
