#include "desktop/launcher/installer/records/install_log_test_util.h"

#include <gtest/gtest.h>

#include <memory>

#include "base/files/file_util.h"
#include "base/json/json_reader.h"
#include "base/values.h"

namespace zorvi {
namespace installer {
namespace {

bool ReadPath(const base::DictionaryValue& model, const char* key, base::FilePath* path) {
  std::wstring text;
  if (!model.GetString(key, &text))
    return false;
  *path = base::FilePath(text);
  return true;
}

bool ReadPaths(const base::DictionaryValue& model, const char* key, std::vector<base::FilePath>* paths) {
  const base::ListValue* list = nullptr;
  if (!model.GetList(key, &list))
    return false;
  for (const auto& item : *list) {
    std::wstring text;
    if (!item->GetAsString(&text))
      return false;
    paths->emplace_back(text);
  }
  return true;
}

// One raw registry write: the value's bytes as they would go to the registry.
bool RecordJsonRecord(const base::Value& item, InstallLog* log) {
  const base::DictionaryValue* record = nullptr;
  std::string hive;
  std::wstring key;
  std::wstring name;
  int type = 0;
  int clean = 0;
  if (!item.GetAsDictionary(&record) || !record->GetString("hive", &hive) || !record->GetString("key", &key) ||
      !record->GetString("name", &name) || !record->GetInteger("type", &type) ||
      !record->GetInteger("clean", &clean)) {
    return false;
  }
  std::wstring text;
  std::vector<unsigned char> bytes;
  const void* data = nullptr;
  DWORD size = 0;
  const base::ListValue* byte_list = nullptr;
  if (record->GetString("text", &text)) {
    // Text that expanded to nothing goes to the registry with no bytes; other text with its terminator.
    data = text.c_str();
    size = text.empty() ? 0 : static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
  } else if (record->GetList("bytes", &byte_list)) {
    for (const auto& byte : *byte_list) {
      int value = 0;
      if (!byte->GetAsInteger(&value))
        return false;
      bytes.push_back(static_cast<unsigned char>(value));
    }
    data = bytes.data();
    size = static_cast<DWORD>(bytes.size());
  }
  std::vector<InstallLogKey>* keys = hive == "HKLM" ? &log->machine_keys : &log->user_keys;
  RecordRegistryValue(keys, key, name, data, static_cast<DWORD>(type), size, clean);
  return true;
}

bool InstallLogFromJsonModel(const base::Value& item, InstallLog* log) {
  const base::DictionaryValue* model = nullptr;
  const base::ListValue* records = nullptr;
  if (!item.GetAsDictionary(&model) || !model->GetBoolean("copy_only", &log->copy_only) ||
      !model->GetBoolean("all_users", &log->all_users) || !model->GetBoolean("pinned", &log->pinned) ||
      !model->GetString("app_id", &log->app_id) || !model->GetString("version", &log->version) ||
      !ReadPath(*model, "path", &log->installation_path) || !ReadPath(*model, "subfolder", &log->subfolder) ||
      !ReadPath(*model, "desktop", &log->desktop_shortcut) ||
      !ReadPath(*model, "start_menu", &log->start_menu_shortcut) ||
      !ReadPath(*model, "quick_launch", &log->quick_launch_shortcut) || !ReadPaths(*model, "files", &log->files) ||
      !ReadPaths(*model, "root_files", &log->root_files) || !model->GetList("records", &records)) {
    return false;
  }
  for (const auto& record : *records) {
    if (!RecordJsonRecord(*record, log))
      return false;
  }
  return true;
}

}  // namespace

std::vector<InstallLog> ReadJsonModels(const base::FilePath& file) {
  std::string json;
  if (!base::ReadFileToString(file, &json)) {
    ADD_FAILURE() << "cannot read " << file.AsUTF8();
    return {};
  }
  std::unique_ptr<base::Value> root = base::JsonReader::Read(json);
  const base::ListValue* list = nullptr;
  std::vector<InstallLog> logs;
  bool valid = root != nullptr;
  if (valid && root->GetAsList(&list)) {
    for (const auto& item : *list)
      valid = valid && InstallLogFromJsonModel(*item, &logs.emplace_back());
  } else if (valid) {
    valid = InstallLogFromJsonModel(*root, &logs.emplace_back());
  }
  if (!valid) {
    ADD_FAILURE() << "malformed model in " << file.AsUTF8();
    return {};
  }
  return logs;
}

}  // namespace installer
}  // namespace zorvi
