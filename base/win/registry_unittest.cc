#include "base/win/registry.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testing/test_support.h"

namespace base {
namespace win {
namespace {

// Each test works below its own key of HKCU\Software and removes it afterwards.
class RegKeyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = L"Software\\" + test_support::UniqueName(L"RegKeyTest");
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                             nullptr, &key, nullptr));
    RegCloseKey(key);
  }
  void TearDown() override { RegDeleteTreeW(HKEY_CURRENT_USER, path_.c_str()); }

  // Stores a value with the system call, bypassing RegKey.
  void SetRaw(const wchar_t* name, DWORD type, const void* data, DWORD size) {
    ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_CURRENT_USER, path_.c_str(), name, type, data, size));
  }
  void SetRawString(const wchar_t* name, DWORD type, const std::wstring& text) {
    SetRaw(name, type, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
  }
  // Reads a value with the system call: its type and bytes, or false when it is absent.
  bool GetRaw(const wchar_t* name, DWORD* type, std::vector<BYTE>* data) {
    DWORD size = 0;
    if (RegGetValueW(HKEY_CURRENT_USER, path_.c_str(), name, RRF_RT_ANY | RRF_NOEXPAND, type, nullptr, &size))
      return false;
    data->resize(size);
    return RegGetValueW(HKEY_CURRENT_USER, path_.c_str(), name, RRF_RT_ANY | RRF_NOEXPAND, type, data->data(),
                        &size) == ERROR_SUCCESS;
  }

  std::wstring path_;
};

TEST_F(RegKeyTest, NullRootKeepsOnlyTheViewBits) {
  RegKey key(nullptr, L"anything", KEY_READ | KEY_WOW64_32KEY);
  EXPECT_FALSE(key.Valid());
  EXPECT_EQ(static_cast<REGSAM>(KEY_WOW64_32KEY), key.wow64access());
  RegKey other(nullptr, L"", KEY_ALL_ACCESS | KEY_WOW64_64KEY);
  EXPECT_EQ(static_cast<REGSAM>(KEY_WOW64_64KEY), other.wow64access());
}

TEST_F(RegKeyTest, ConstructorCreatesOnlyForWritingAccess) {
  const std::wstring missing = path_ + L"\\made";
  {
    RegKey reader(HKEY_CURRENT_USER, missing.c_str(), KEY_READ);
    EXPECT_FALSE(reader.Valid());
  }
  HKEY probe = nullptr;
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExW(HKEY_CURRENT_USER, missing.c_str(), 0, KEY_READ, &probe));
  for (REGSAM access : {static_cast<REGSAM>(KEY_SET_VALUE), static_cast<REGSAM>(KEY_CREATE_SUB_KEY),
                        static_cast<REGSAM>(KEY_CREATE_LINK | KEY_QUERY_VALUE)}) {
    {
      RegKey writer(HKEY_CURRENT_USER, missing.c_str(), access | KEY_WOW64_64KEY);
      EXPECT_TRUE(writer.Valid()) << access;
      EXPECT_EQ(static_cast<REGSAM>(KEY_WOW64_64KEY), writer.wow64access());
    }
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, missing.c_str(), 0, KEY_READ, &probe));
    RegCloseKey(probe);
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyW(HKEY_CURRENT_USER, missing.c_str()));
  }
}

TEST_F(RegKeyTest, FailedOpenKeepsTheHeldKey) {
  SetRawString(L"kept", REG_SZ, L"still here");
  RegKey key;
  ASSERT_EQ(ERROR_SUCCESS, key.Open(HKEY_CURRENT_USER, path_.c_str(), KEY_READ | KEY_WOW64_64KEY));
  const HKEY held = key.Handle();
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, key.Open(HKEY_CURRENT_USER, (path_ + L"\\absent").c_str(), KEY_READ));
  EXPECT_EQ(held, key.Handle());
  EXPECT_EQ(static_cast<REGSAM>(KEY_WOW64_64KEY), key.wow64access());
  std::wstring text;
  EXPECT_EQ(ERROR_SUCCESS, key.ReadValue(L"kept", &text));
  EXPECT_EQ(L"still here", text);
  key.Close();
  EXPECT_FALSE(key.Valid());
  EXPECT_EQ(0u, key.wow64access());
}

TEST_F(RegKeyTest, CreateReplacesTheHeldKey) {
  RegKey key(HKEY_CURRENT_USER, path_.c_str(), KEY_ALL_ACCESS);
  ASSERT_TRUE(key.Valid());
  ASSERT_EQ(ERROR_SUCCESS, key.Create(HKEY_CURRENT_USER, (path_ + L"\\a\\b").c_str(), KEY_ALL_ACCESS));
  ASSERT_EQ(ERROR_SUCCESS, key.WriteValue(L"where", L"inner"));
  DWORD type = 0;
  std::vector<BYTE> data;
  EXPECT_FALSE(GetRaw(L"where", &type, &data)) << "the value went to the old key";
  std::wstring inner;
  RegKey check(HKEY_CURRENT_USER, (path_ + L"\\a\\b").c_str(), KEY_READ);
  EXPECT_EQ(ERROR_SUCCESS, check.ReadValue(L"where", &inner));
  EXPECT_EQ(L"inner", inner);
}

// The options reach the system: below a volatile key the registry makes only volatile keys.
TEST_F(RegKeyTest, CreateTakesTheSystemsOptions) {
  RegKey key;
  ASSERT_EQ(ERROR_SUCCESS, key.Create(HKEY_CURRENT_USER, (path_ + L"\\volatile").c_str(), KEY_ALL_ACCESS,
                                      REG_OPTION_VOLATILE));
  RegKey child;
  EXPECT_EQ(ERROR_CHILD_MUST_BE_VOLATILE, child.Create(key.Handle(), L"lasting", KEY_ALL_ACCESS));
  EXPECT_EQ(ERROR_SUCCESS, child.Create(key.Handle(), L"passing", KEY_ALL_ACCESS, REG_OPTION_VOLATILE));
}

TEST_F(RegKeyTest, StringWriteStoresTheTerminator) {
  RegKey key(HKEY_CURRENT_USER, path_.c_str(), KEY_SET_VALUE);
  const std::wstring text = L"caf\u00e9 \U0001F600";
  ASSERT_EQ(ERROR_SUCCESS, key.WriteValue(L"text", text.c_str()));
  ASSERT_EQ(ERROR_SUCCESS, key.WriteValue(L"", L""));
  DWORD type = 0;
  std::vector<BYTE> data;
  ASSERT_TRUE(GetRaw(L"text", &type, &data));
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
  ASSERT_EQ((text.size() + 1) * sizeof(wchar_t), data.size());
  EXPECT_EQ(0, memcmp(data.data(), text.c_str(), data.size()));
  ASSERT_TRUE(GetRaw(L"", &type, &data));
  EXPECT_EQ(sizeof(wchar_t), data.size());
}

TEST_F(RegKeyTest, StringReadStopsAtTheStoredSize) {
  RegKey key(HKEY_CURRENT_USER, path_.c_str(), KEY_ALL_ACCESS);
  // Without a terminator; the bytes after it in the reader's buffer hold an earlier, longer value.
  SetRawString(L"long", REG_SZ, std::wstring(500, L'x'));
  std::wstring text;
  ASSERT_EQ(ERROR_SUCCESS, key.ReadValue(L"long", &text));
  SetRaw(L"bare", REG_SZ, L"abc", 3 * sizeof(wchar_t));
  ASSERT_EQ(ERROR_SUCCESS, key.ReadValue(L"bare", &text));
  EXPECT_EQ(L"abc", text);
  // An odd byte count holds a half character, which is dropped.
  SetRaw(L"odd", REG_SZ, L"abcd", 7);
  ASSERT_EQ(ERROR_SUCCESS, key.ReadValue(L"odd", &text));
  EXPECT_EQ(L"abc", text);
  SetRaw(L"inner nul", REG_SZ, L"ab\0cd", 6 * sizeof(wchar_t));
  ASSERT_EQ(ERROR_SUCCESS, key.ReadValue(L"inner nul", &text));
  EXPECT_EQ(L"ab", text);
  SetRaw(L"empty", REG_SZ, L"", 0);
  text = L"before";
  ASSERT_EQ(ERROR_SUCCESS, key.ReadValue(L"empty", &text));
  EXPECT_EQ(L"", text);
}

TEST_F(RegKeyTest, StringReadLimitIsTheBufferSize) {
  RegKey key(HKEY_CURRENT_USER, path_.c_str(), KEY_READ);
  const std::wstring most(RegKey::kMaxStringBytes / sizeof(wchar_t) - 1, L'q');
  SetRawString(L"exact", REG_SZ, most);  // with its terminator exactly the buffer
  SetRawString(L"over", REG_SZ, most + L"q");
  std::wstring text;
  ASSERT_EQ(ERROR_SUCCESS, key.ReadValue(L"exact", &text));
  EXPECT_EQ(most, text);
  text = L"unchanged";
  EXPECT_EQ(ERROR_MORE_DATA, key.ReadValue(L"over", &text));
  EXPECT_EQ(L"unchanged", text);
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, key.ReadValue(L"missing", &text));
  EXPECT_EQ(L"unchanged", text);
  // Without a terminator, one character below the limit.
  SetRaw(L"bare", REG_SZ, most.c_str(), RegKey::kMaxStringBytes - 2);
  ASSERT_EQ(ERROR_SUCCESS, key.ReadValue(L"bare", &text));
  EXPECT_EQ(most, text);
}

TEST_F(RegKeyTest, ExpandableStringsAreExpanded) {
  RegKey key(HKEY_CURRENT_USER, path_.c_str(), KEY_READ);
  wchar_t system_root[MAX_PATH];
  const DWORD length = GetEnvironmentVariableW(L"SystemRoot", system_root, MAX_PATH);
  ASSERT_GT(length, 0u);
  SetRawString(L"expand", REG_EXPAND_SZ, L"%SystemRoot%\\x");
  std::wstring text;
  ASSERT_EQ(ERROR_SUCCESS, key.ReadValue(L"expand", &text));
  EXPECT_EQ(std::wstring(system_root, length) + L"\\x", text);
  // An unknown reference stays as written.
  SetRawString(L"unknown", REG_EXPAND_SZ, L"%NoSuchVariableHere%");
  ASSERT_EQ(ERROR_SUCCESS, key.ReadValue(L"unknown", &text));
  EXPECT_EQ(L"%NoSuchVariableHere%", text);
}

TEST_F(RegKeyTest, ExpansionLimitCountsTheTerminator) {
  RegKey key(HKEY_CURRENT_USER, path_.c_str(), KEY_READ);
  const std::wstring variable = test_support::UniqueName(L"V");
  const std::wstring half(500, L'h');
  ASSERT_TRUE(SetEnvironmentVariableW(variable.c_str(), half.c_str()));
  const std::wstring reference = L"%" + variable + L"%";
  // 1023 characters and the terminator fit; 1024 do not.
  SetRawString(L"fits", REG_EXPAND_SZ, reference + reference + std::wstring(23, L't'));
  SetRawString(L"over", REG_EXPAND_SZ, reference + reference + std::wstring(24, L't'));
  std::wstring text;
  ASSERT_EQ(ERROR_SUCCESS, key.ReadValue(L"fits", &text));
  EXPECT_EQ(half + half + std::wstring(23, L't'), text);
  text = L"unchanged";
  EXPECT_EQ(ERROR_MORE_DATA, key.ReadValue(L"over", &text));
  EXPECT_EQ(L"unchanged", text);
  SetEnvironmentVariableW(variable.c_str(), nullptr);
}

TEST_F(RegKeyTest, WrongTypesCannotBeRead) {
  RegKey key(HKEY_CURRENT_USER, path_.c_str(), KEY_READ);
  const DWORD number = 0x12345678;
  const unsigned char eight[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  SetRaw(L"dword", REG_DWORD, &number, sizeof(number));
  SetRawString(L"sz", REG_SZ, L"text that is long");
  SetRawString(L"short sz", REG_SZ, L"x");  // four bytes, but a string
  SetRaw(L"binary8", REG_BINARY, eight, sizeof(eight));
  SetRaw(L"binary2", REG_BINARY, eight, 2);
  SetRaw(L"qword", REG_QWORD, eight, sizeof(eight));
  SetRaw(L"multi", REG_MULTI_SZ, L"a\0b\0", 5 * sizeof(wchar_t));
  std::wstring text = L"unchanged";
  EXPECT_EQ(ERROR_CANTREAD, key.ReadValue(L"dword", &text));
  EXPECT_EQ(ERROR_CANTREAD, key.ReadValue(L"multi", &text));
  EXPECT_EQ(ERROR_CANTREAD, key.ReadValue(L"binary8", &text));
  EXPECT_EQ(L"unchanged", text);
  DWORD out = 7;
  EXPECT_EQ(ERROR_CANTREAD, key.ReadValueDW(L"sz", &out));
  EXPECT_EQ(ERROR_CANTREAD, key.ReadValueDW(L"short sz", &out));
  EXPECT_EQ(ERROR_CANTREAD, key.ReadValueDW(L"binary8", &out));
  EXPECT_EQ(ERROR_CANTREAD, key.ReadValueDW(L"binary2", &out));
  EXPECT_EQ(ERROR_CANTREAD, key.ReadValueDW(L"qword", &out));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, key.ReadValueDW(L"missing", &out));
  EXPECT_EQ(7u, out);
}

TEST_F(RegKeyTest, DwordsReadFromDwordAndFourByteBinary) {
  RegKey key(HKEY_CURRENT_USER, path_.c_str(), KEY_ALL_ACCESS);
  const DWORD stored = 0xFEDCBA98;
  ASSERT_EQ(ERROR_SUCCESS, key.WriteValue(L"dword", &stored, sizeof(stored), REG_DWORD));
  SetRaw(L"binary4", REG_BINARY, "\x01\x02\x03\x04", 4);
  DWORD out = 0;
  ASSERT_EQ(ERROR_SUCCESS, key.ReadValueDW(L"dword", &out));
  EXPECT_EQ(stored, out);
  ASSERT_EQ(ERROR_SUCCESS, key.ReadValueDW(L"binary4", &out));
  EXPECT_EQ(0x04030201u, out);
  DWORD type = 0;
  std::vector<BYTE> data;
  ASSERT_TRUE(GetRaw(L"dword", &type, &data));
  EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type);
}

TEST_F(RegKeyTest, RawReadReturnsSizeAndType) {
  RegKey key(HKEY_CURRENT_USER, path_.c_str(), KEY_ALL_ACCESS);
  const unsigned char bytes[5] = {0, 0xFF, 0x10, 0x80, 7};
  ASSERT_EQ(ERROR_SUCCESS, key.WriteValue(L"blob", bytes, sizeof(bytes), REG_BINARY));
  DWORD size = 0;
  DWORD type = 0;
  ASSERT_EQ(ERROR_SUCCESS, key.ReadValue(L"blob", nullptr, &size, &type));
  EXPECT_EQ(5u, size);
  EXPECT_EQ(static_cast<DWORD>(REG_BINARY), type);
  unsigned char small[2];
  size = sizeof(small);
  EXPECT_EQ(ERROR_MORE_DATA, key.ReadValue(L"blob", small, &size, &type));
  unsigned char read[8] = {};
  size = sizeof(read);
  ASSERT_EQ(ERROR_SUCCESS, key.ReadValue(L"blob", read, &size, &type));
  ASSERT_EQ(5u, size);
  EXPECT_EQ(0, memcmp(bytes, read, 5));
}

TEST_F(RegKeyTest, DeleteValue) {
  RegKey key(HKEY_CURRENT_USER, path_.c_str(), KEY_ALL_ACCESS);
  ASSERT_EQ(ERROR_SUCCESS, key.WriteValue(L"gone", L"soon"));
  EXPECT_EQ(ERROR_SUCCESS, key.DeleteValue(L"gone"));
  DWORD type = 0;
  std::vector<BYTE> data;
  EXPECT_FALSE(GetRaw(L"gone", &type, &data));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, key.DeleteValue(L"gone"));
}

TEST_F(RegKeyTest, KeyOpenedForReadingRefusesWrites) {
  RegKey key(HKEY_CURRENT_USER, path_.c_str(), KEY_QUERY_VALUE);
  ASSERT_TRUE(key.Valid());
  EXPECT_EQ(ERROR_ACCESS_DENIED, key.WriteValue(L"x", L"y"));
  RegKey none;
  EXPECT_EQ(ERROR_INVALID_HANDLE, none.WriteValue(L"x", L"y"));
}


// Lines of a UTF-8 text file that the Linux-side setup wrote, as UTF-16.
std::vector<std::wstring> ReadOracleLines(const std::wstring& name) {
  std::string bytes;
  if (!test_support::ReadFileBytes(test_support::TestDataDir() + L"\\registry\\" + name, &bytes))
    return {};
  std::vector<std::wstring> lines;
  size_t start = 0;
  while (start < bytes.size()) {
    size_t end = bytes.find('\n', start);
    if (end == std::string::npos)
      end = bytes.size();
    const std::string line = bytes.substr(start, end - start);
    std::wstring wide(line.size(), L'\0');
    wide.resize(MultiByteToWideChar(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), wide.data(),
                                    static_cast<int>(wide.size())));
    lines.push_back(wide);
    start = end + 1;
  }
  return lines;
}

// Values that wine's reg tool stored before the tests ran.
TEST(RegKeyOracleTest, ReadsWhatTheRegToolWrote) {
  const std::vector<std::wstring> expected = ReadOracleLines(L"from_reg.txt");
  ASSERT_EQ(5u, expected.size());
  RegKey key(HKEY_CURRENT_USER, expected[0].c_str(), KEY_READ);
  ASSERT_TRUE(key.Valid());
  std::wstring text;
  ASSERT_EQ(ERROR_SUCCESS, key.ReadValue(L"text", &text));
  EXPECT_EQ(expected[1], text);
  ASSERT_EQ(ERROR_SUCCESS, key.ReadValue(L"empty", &text));
  EXPECT_EQ(L"", text);
  ASSERT_EQ(ERROR_SUCCESS, key.ReadValue(L"expand", &text));
  EXPECT_EQ(expected[2], text);
  DWORD number = 0;
  ASSERT_EQ(ERROR_SUCCESS, key.ReadValueDW(L"dword", &number));
  EXPECT_EQ(std::stoul(expected[3]), number);
  ASSERT_EQ(ERROR_SUCCESS, key.ReadValueDW(L"binary4", &number));
  EXPECT_EQ(std::stoul(expected[4]), number);
  EXPECT_EQ(ERROR_CANTREAD, key.ReadValueDW(L"binary8", &number));
}

// Values that the Linux-side check reads back with wine's reg tool.
TEST(RegKeyOracleTest, WritesWhatTheRegToolReads) {
  const std::vector<std::wstring> input = ReadOracleLines(L"to_reg.txt");
  ASSERT_EQ(5u, input.size());
  RegKey key(HKEY_CURRENT_USER, input[0].c_str(), KEY_SET_VALUE);
  ASSERT_TRUE(key.Valid());
  ASSERT_EQ(ERROR_SUCCESS, key.WriteValue(input[1].c_str(), input[2].c_str()));
  ASSERT_EQ(ERROR_SUCCESS, key.WriteValue(input[3].c_str(), input[4].c_str()));
  const DWORD number = 0xFEDCBA98;
  ASSERT_EQ(ERROR_SUCCESS, key.WriteValue(L"number", &number, sizeof(number), REG_DWORD));
  const unsigned char bytes[] = {0x00, 0xFF, 0x7F, 0x80};
  ASSERT_EQ(ERROR_SUCCESS, key.WriteValue(L"bytes", bytes, sizeof(bytes), REG_BINARY));
  ASSERT_TRUE(test_support::WriteFileBytes(test_support::TestDataDir() + L"\\registry\\to_reg.done", "written"));
}

}  // namespace
}  // namespace win
}  // namespace base
