#include "base/json/json_file_value_serializer.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "base/json/json_reader.h"
#include "testing/test_support.h"

namespace base {
namespace {

class JsonFileValueDeserializerTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(test_support::TestDataDir().empty());
    folder_ = test_support::TestDataDir() + L"\\out\\" + test_support::UniqueName(L"json_file");
    ASSERT_TRUE(CreateDirectoryW(folder_.c_str(), nullptr));
  }

  std::wstring folder_;
};

// Deserializes with `deserializer`, which must fail with `code` and `message`.
void ExpectFailure(JsonFileValueDeserializer* deserializer, int code, const std::string& message) {
  int actual_code = -1;
  std::string actual_message;
  EXPECT_EQ(nullptr, deserializer->Deserialize(&actual_code, &actual_message));
  EXPECT_EQ(code, actual_code);
  EXPECT_EQ(message, actual_message);
}

TEST_F(JsonFileValueDeserializerTest, ReadsAndParsesTheWholeFile) {
  // Larger than one read chunk, so that the file arrives in several pieces.
  std::string text = "{\"list\": [";
  for (int i = 0; i < 20000; ++i)
    text += (i ? ",\"item " : "\"item ") + std::to_string(i) + "\"";
  text += "], \"n\": 1.5}";
  const std::wstring path = folder_ + L"\\prefs.json";
  ASSERT_TRUE(test_support::WriteFileBytes(path, text));
  JsonFileValueDeserializer deserializer{FilePath(path)};
  EXPECT_EQ(0u, deserializer.get_last_read_size());
  int code = -1;
  std::string message = "untouched";
  std::unique_ptr<Value> value = deserializer.Deserialize(&code, &message);
  ASSERT_NE(nullptr, value) << message;
  EXPECT_TRUE(value->Equals(JsonReader::Read(text).get()));
  EXPECT_EQ(text.size(), deserializer.get_last_read_size());
}

TEST_F(JsonFileValueDeserializerTest, ParseErrorsComeFromTheReader) {
  const std::wstring path = folder_ + L"\\broken.json";
  ASSERT_TRUE(test_support::WriteFileBytes(path, "{\n  \"a\": 1,\n}"));
  JsonFileValueDeserializer deserializer{FilePath(path)};
  ExpectFailure(&deserializer, JsonReader::kTrailingComma, "Line: 3, column: 2, Trailing comma not allowed.");
  EXPECT_EQ(13u, deserializer.get_last_read_size());  // the file was read
}

TEST_F(JsonFileValueDeserializerTest, MissingFile) {
  JsonFileValueDeserializer deserializer{FilePath(folder_ + L"\\absent.json")};
  ExpectFailure(&deserializer, JsonFileValueDeserializer::kFileNoSuchFile, "File doesn't exist.");
  int code = -1;
  JsonFileValueDeserializer in_missing_folder{FilePath(folder_ + L"\\no\\such\\folder.json")};
  EXPECT_EQ(nullptr, in_missing_folder.Deserialize(&code, nullptr));
  EXPECT_EQ(1003, code);
}

TEST_F(JsonFileValueDeserializerTest, FileLockedByAnotherHandle) {
  const std::wstring path = folder_ + L"\\locked.json";
  ASSERT_TRUE(test_support::WriteFileBytes(path, "{}"));
  test_support::ScopedTestHandle exclusive(
      CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(exclusive.valid());
  JsonFileValueDeserializer deserializer{FilePath(path)};
  ExpectFailure(&deserializer, JsonFileValueDeserializer::kFileLocked, "File locked.");
  exclusive.reset();
  int code = -1;
  std::string message;
  EXPECT_NE(nullptr, deserializer.Deserialize(&code, &message));
}

// A path through ".." is refused before the system is asked: the code must not come from an error that
// earlier work left on the thread.
TEST_F(JsonFileValueDeserializerTest, RefusedParentReferenceIgnoresAStaleLastError) {
  const std::wstring name = folder_.substr(folder_.rfind(L'\\') + 1);
  ASSERT_TRUE(test_support::WriteFileBytes(folder_ + L"\\present.json", "{}"));
  const std::wstring through_parent = folder_ + L"\\..\\" + name;

  JsonFileValueDeserializer present{FilePath(through_parent + L"\\present.json")};
  SetLastError(ERROR_ACCESS_DENIED);
  ExpectFailure(&present, JsonFileValueDeserializer::kFileCannotRead, "Can't read file.");

  JsonFileValueDeserializer absent{FilePath(through_parent + L"\\absent.json")};
  SetLastError(ERROR_SHARING_VIOLATION);
  ExpectFailure(&absent, JsonFileValueDeserializer::kFileNoSuchFile, "File doesn't exist.");
}

// A folder exists but is no file: the code follows what the system answers when the folder is opened as a file.
TEST_F(JsonFileValueDeserializerTest, FolderInsteadOfFile) {
  SetLastError(0);
  test_support::ScopedTestHandle probe(
      CreateFileW(folder_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                  FILE_ATTRIBUTE_NORMAL, nullptr));
  const DWORD system_error = GetLastError();
  ASSERT_FALSE(probe.valid());
  JsonFileValueDeserializer deserializer{FilePath(folder_)};
  SCOPED_TRACE(testing::Message() << "system error " << system_error);
  if (system_error == ERROR_ACCESS_DENIED)
    ExpectFailure(&deserializer, JsonFileValueDeserializer::kFileAccessDenied, "Access denied.");
  else
    ExpectFailure(&deserializer, JsonFileValueDeserializer::kFileCannotRead, "Can't read file.");
}

}  // namespace
}  // namespace base
