#include "base/json/json_file_value_serializer.h"

#include <windows.h>

#include "base/files/file_util.h"
#include "base/json/json_string_value_serializer.h"

namespace base {

namespace {

// Reads the thread's last error right after the failed read, before anything else can change it.
JsonFileValueDeserializer::FileError FileErrorFromLastError(const FilePath& path) {
  const DWORD last_error = GetLastError();
  if (last_error == ERROR_SHARING_VIOLATION || last_error == ERROR_LOCK_VIOLATION)
    return JsonFileValueDeserializer::kFileLocked;
  if (last_error == ERROR_ACCESS_DENIED)
    return JsonFileValueDeserializer::kFileAccessDenied;
  if (PathExists(path))
    return JsonFileValueDeserializer::kFileCannotRead;
  return JsonFileValueDeserializer::kFileNoSuchFile;
}

}  // namespace

JsonFileValueDeserializer::JsonFileValueDeserializer(const FilePath& json_file_path)
    : json_file_path_(json_file_path), last_read_size_(0) {}

JsonFileValueDeserializer::~JsonFileValueDeserializer() = default;

// static
const char* JsonFileValueDeserializer::FileErrorToString(int error_code) {
  switch (error_code) {
    case kFileAccessDenied:
      return "Access denied.";
    case kFileCannotRead:
      return "Can't read file.";
    case kFileLocked:
      return "File locked.";
    case kFileNoSuchFile:
      return "File doesn't exist.";
    default:
      return "";
  }
}

std::unique_ptr<Value> JsonFileValueDeserializer::Deserialize(int* error_code, std::string* error_message) {
  std::string json_string;
  // Some refusals (a path through "..") come before any system call: without this, an error left over from
  // earlier work on the thread would decide the code.
  SetLastError(ERROR_SUCCESS);
  if (!ReadFileToString(json_file_path_, &json_string)) {
    const FileError error = FileErrorFromLastError(json_file_path_);
    if (error_code)
      *error_code = error;
    if (error_message)
      *error_message = FileErrorToString(error);
    return nullptr;
  }
  last_read_size_ = json_string.size();
  JsonStringValueDeserializer deserializer(json_string);
  return deserializer.Deserialize(error_code, error_message);
}

}  // namespace base
