// Value trees read from JSON files.
#ifndef BASE_JSON_JSON_FILE_VALUE_SERIALIZER_H_
#define BASE_JSON_JSON_FILE_VALUE_SERIALIZER_H_

#include <cstddef>
#include <memory>
#include <string>

#include "base/files/file_path.h"
#include "base/values.h"

namespace base {

class JsonFileValueDeserializer : public ValueDeserializer {
 public:
  // Why a file could not be read; reported through Deserialize's error code.
  enum FileError {
    kFileAccessDenied = 1000,
    kFileCannotRead = 1001,
    kFileLocked = 1002,
    kFileNoSuchFile = 1003,
  };

  explicit JsonFileValueDeserializer(const FilePath& json_file_path);
  ~JsonFileValueDeserializer() override;

  // Reads and parses the whole file. A file that cannot be read gives one of the codes above with its message
  // ("Access denied.", "Can't read file.", "File locked.", "File doesn't exist."); a file that does not parse
  // gives the JSON reader's code and message.
  std::unique_ptr<Value> Deserialize(int* error_code, std::string* error_message) override;

  // The size in bytes of the file that the last Deserialize read, 0 before any.
  size_t get_last_read_size() const { return last_read_size_; }

  static const char* FileErrorToString(int error_code);

 private:
  FilePath json_file_path_;
  size_t last_read_size_;
};

}  // namespace base

#endif  // BASE_JSON_JSON_FILE_VALUE_SERIALIZER_H_
