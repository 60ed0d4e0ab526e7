// End-to-end proof of the toolchain: each dependency is called as the product will call it, and the results
// are checked against outside oracles (sha256sum and 7-Zip on the Linux side, unzip -t after the run).
#include <windows.h>

#include <sddl.h>

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#define OPENSSL_SUPPRESS_DEPRECATED  // the product uses the SHA256_Init/Update/Final family
#include <openssl/sha.h>

extern "C" {
#include "7z.h"
#include "7zAlloc.h"
#include "7zCrc.h"
}
#include "zip.h"
#include "iowin32.h"  // after zip.h, which declares what it uses

#include "base/win/scoped_local_memory.h"
#include "testing/test_support.h"
#include "writable_by_others.h"

namespace {

using test_support::ReadFileBytes;
using test_support::TestDataDir;

std::string Sha256Hex(const std::string& data) {
  SHA256_CTX context;
  SHA256_Init(&context);
  // Feed in uneven pieces so that the block buffering is exercised.
  size_t offset = 0, piece = 1;
  while (offset < data.size()) {
    size_t length = std::min(piece, data.size() - offset);
    SHA256_Update(&context, data.data() + offset, length);
    offset += length;
    piece = piece * 3 + 1;
  }
  unsigned char digest[SHA256_DIGEST_LENGTH];
  SHA256_Final(digest, &context);
  static const char kHex[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char byte : digest) {
    hex += kHex[byte >> 4];
    hex += kHex[byte & 15];
  }
  return hex;
}

std::wstring Widen(const std::string& utf8) {
  int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(length, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), length);
  return wide;
}

TEST(DependencySmoke, OpenSslSha256MatchesSha256sum) {
  ASSERT_FALSE(TestDataDir().empty());
  std::string sums;
  ASSERT_TRUE(ReadFileBytes(TestDataDir() + L"\\sha\\SHA256SUMS", &sums));
  std::istringstream lines(sums);
  std::string expected, name;
  int checked = 0;
  while (lines >> expected >> name) {
    std::string data;
    ASSERT_TRUE(ReadFileBytes(TestDataDir() + L"\\sha\\" + Widen(name), &data)) << name;
    EXPECT_EQ(expected, Sha256Hex(data)) << name;
    ++checked;
  }
  EXPECT_EQ(13, checked);
}

// The archive reader's input: a Win32 file handle behind the SDK's seekable-stream interface.
struct HandleInStream {
  ISeekInStream vt;
  HANDLE file;
};

SRes ReadHandle(ISeekInStreamPtr stream, void* buffer, size_t* size) {
  const HandleInStream* self = reinterpret_cast<const HandleInStream*>(stream);
  DWORD read = 0;
  if (!ReadFile(self->file, buffer, static_cast<DWORD>(std::min<size_t>(*size, 1 << 20)), &read, nullptr))
    return SZ_ERROR_READ;
  *size = read;
  return SZ_OK;
}

SRes SeekHandle(ISeekInStreamPtr stream, Int64* position, ESzSeek origin) {
  const HandleInStream* self = reinterpret_cast<const HandleInStream*>(stream);
  LARGE_INTEGER distance, result;
  distance.QuadPart = *position;
  DWORD method = origin == SZ_SEEK_SET ? FILE_BEGIN : origin == SZ_SEEK_CUR ? FILE_CURRENT : FILE_END;
  if (!SetFilePointerEx(self->file, distance, &result, method))
    return SZ_ERROR_READ;
  *position = result.QuadPart;
  return SZ_OK;
}

// Extracts every entry of a 7z archive with the LZMA SDK's C reader into `target`, keeping folders.
// Returns the SDK's result code of the first failure, or SZ_OK.
SRes ExtractArchive(const std::wstring& archive, const std::wstring& target, std::vector<std::wstring>* names) {
  test_support::ScopedTestHandle file(CreateFileW(archive.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid())
    return SZ_ERROR_READ;
  HandleInStream stream = {{ReadHandle, SeekHandle}, file.get()};
  CLookToRead2 look;
  LookToRead2_CreateVTable(&look, False);
  std::vector<Byte> look_buffer(1 << 16);
  look.buf = look_buffer.data();
  look.bufSize = look_buffer.size();
  look.realStream = &stream.vt;
  LookToRead2_INIT(&look);
  CrcGenerateTable();

  ISzAlloc alloc = {SzAlloc, SzFree};
  ISzAlloc alloc_temp = {SzAllocTemp, SzFreeTemp};
  CSzArEx db;
  SzArEx_Init(&db);
  SRes result = SzArEx_Open(&db, &look.vt, &alloc, &alloc_temp);
  UInt32 block_index = 0xFFFFFFFF;
  Byte* out_buffer = nullptr;
  size_t out_buffer_size = 0;
  for (UInt32 i = 0; result == SZ_OK && i < db.NumFiles; ++i) {
    size_t name_length = SzArEx_GetFileNameUtf16(&db, i, nullptr);
    std::vector<UInt16> name(name_length);
    SzArEx_GetFileNameUtf16(&db, i, name.data());
    std::wstring relative(name.begin(), name.end() - 1);
    for (wchar_t& c : relative) {
      if (c == L'/')
        c = L'\\';
    }
    names->push_back(relative);
    // Create the parent folders first: an archive need not list them before their files.
    std::wstring path = target + L"\\" + relative;
    for (size_t slash = target.size() + 1; (slash = path.find(L'\\', slash)) != std::wstring::npos; ++slash)
      CreateDirectoryW(path.substr(0, slash).c_str(), nullptr);
    if (SzArEx_IsDir(&db, i)) {
      CreateDirectoryW(path.c_str(), nullptr);
      continue;
    }
    size_t offset = 0, size = 0;
    result = SzArEx_Extract(&db, &look.vt, i, &block_index, &out_buffer, &out_buffer_size, &offset, &size, &alloc,
                            &alloc_temp);
    if (result == SZ_OK) {
      std::string contents(reinterpret_cast<const char*>(out_buffer + offset), size);
      if (!test_support::WriteFileBytes(path, contents))
        result = SZ_ERROR_WRITE;
    }
  }
  ISzAlloc_Free(&alloc, out_buffer);
  SzArEx_Free(&db, &alloc);
  return result;
}

TEST(DependencySmoke, LzmaSdkExtractsArchiveMadeBy7Zip) {
  ASSERT_FALSE(TestDataDir().empty());
  const std::wstring target = TestDataDir() + L"\\out\\extracted";
  CreateDirectoryW(target.c_str(), nullptr);
  std::vector<std::wstring> names;
  ASSERT_EQ(SZ_OK, ExtractArchive(TestDataDir() + L"\\tree.7z", target, &names));

  // Every entry that 7-Zip packed came out, byte for byte (the Linux side diffs the whole tree afterwards).
  std::string listing;
  ASSERT_TRUE(ReadFileBytes(TestDataDir() + L"\\tree.list", &listing));
  size_t expected_entries = 0;
  for (char c : listing)
    expected_entries += c == '\n';
  EXPECT_EQ(expected_entries, names.size());
  for (const wchar_t* file : {L"a\\b\\c\\program.exe", L"a\\Gr\u00fc\u00dfe \u03ba\u03cc\u03c3\u03bc\u03b5 \u65e5\u672c.txt",
                              L"a\\b\\numbers.txt", L"random.bin"}) {
    std::string original, extracted;
    ASSERT_TRUE(ReadFileBytes(TestDataDir() + L"\\tree\\" + file, &original)) << file;
    ASSERT_TRUE(ReadFileBytes(target + L"\\" + file, &extracted)) << file;
    EXPECT_TRUE(original == extracted) << file;
  }
  EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((target + L"\\empty").c_str()));
}

TEST(DependencySmoke, LzmaSdkReportsCorruptArchive) {
  ASSERT_FALSE(TestDataDir().empty());
  std::string archive;
  ASSERT_TRUE(ReadFileBytes(TestDataDir() + L"\\tree.7z", &archive));
  archive.resize(archive.size() / 2);  // a truncated download
  const std::wstring truncated = TestDataDir() + L"\\out\\truncated.7z";
  ASSERT_TRUE(test_support::WriteFileBytes(truncated, archive));
  std::vector<std::wstring> names;
  EXPECT_NE(SZ_OK, ExtractArchive(truncated, TestDataDir() + L"\\out", &names));
}

TEST(DependencySmoke, MinizipWritesZipAtUnicodePath) {
  ASSERT_FALSE(TestDataDir().empty());
  std::string log;
  for (int line = 0; log.size() < (3 << 20); ++line)
    log += "line " + std::to_string(line) + ": crash log text \xc3\xbc\n";
  ASSERT_TRUE(test_support::WriteFileBytes(TestDataDir() + L"\\out\\crashlog-source.txt", log));

  // minizip's plain zipOpen goes through the ANSI code page; a UTF-16 path needs the Win32 file functions.
  const std::wstring path = TestDataDir() + L"\\out\\crash \u00fc.zip";
  zlib_filefunc64_def file_functions;
  fill_win32_filefunc64W(&file_functions);
  zipFile zip = zipOpen2_64(path.c_str(), APPEND_STATUS_CREATE, nullptr, &file_functions);
  ASSERT_NE(nullptr, zip);
  zip_fileinfo info = {};
  info.tmz_date = {0, 0, 12, 7, 11, 2026};
  ASSERT_EQ(ZIP_OK, zipOpenNewFileInZip(zip, "crashlog.txt", &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED, 9));
  for (size_t offset = 0; offset < log.size(); offset += 1 << 20) {
    unsigned length = static_cast<unsigned>(std::min<size_t>(1 << 20, log.size() - offset));
    ASSERT_EQ(ZIP_OK, zipWriteInFileInZip(zip, log.data() + offset, length));
  }
  ASSERT_EQ(ZIP_OK, zipCloseFileInZip(zip));
  ASSERT_EQ(ZIP_OK, zipClose(zip, nullptr));
  std::string written;
  ASSERT_TRUE(ReadFileBytes(path, &written));
  EXPECT_LT(written.size(), log.size() / 4);  // deflated, not stored
}

TEST(HostExecutable, LoadsLibraryBesideIt) {
  // Only the library's entry answers the stream probe, and it succeeds.
  DWORD exit_code = 0;
  std::string output;
  ASSERT_TRUE(test_support::RunProcess(L"\"" + test_support::ExecutableDir() + L"\\installer.exe\" --stream",
                                       &exit_code, &output));
  EXPECT_EQ(0u, exit_code) << output;
  EXPECT_FALSE(output.empty());
}

// The host takes zorvi.dll beside it only where no other user may replace it, else the library it carries, which
// answers as the one beside it does. The beside library here is no library at all, so taking it fails with 2.
TEST(HostExecutable, LoadsOnlyALibraryNoOtherUserCanWrite) {
  DWORD exit_code = 0;
  std::string expected;
  ASSERT_TRUE(test_support::RunProcess(L"\"" + test_support::ExecutableDir() + L"\\installer.exe\" --stream",
                                       &exit_code, &expected));
  ASSERT_EQ(0u, exit_code);
  struct Row {
    const wchar_t* folder;
    bool beside_library;
    const wchar_t* folder_access;  // SDDL of the folder's access list; null keeps the inherited one
    DWORD exit_code;
    const char* says;  // on standard error, before what the library prints
  } const rows[] = {
      {L"alone", false, nullptr, 0, ""},
      {L"private", true, nullptr, 2, "Cannot load"},
      {L"everyone writes", true, L"D:P(A;OICI;FA;;;WD)", 0, "other users may write there"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << row.folder);
    const std::wstring folder = TestDataDir() + L"\\out\\host " + row.folder;
    CreateDirectoryW(folder.c_str(), nullptr);
    ASSERT_TRUE(CopyFileW((test_support::ExecutableDir() + L"\\installer.exe").c_str(),
                          (folder + L"\\installer.exe").c_str(), FALSE));
    if (row.beside_library) {
      ASSERT_TRUE(test_support::WriteFileBytes(folder + L"\\zorvi.dll", "no library"));
    }
    if (row.folder_access) {
      base::win::ScopedLocalMemory<> descriptor;
      ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(row.folder_access, SDDL_REVISION_1,
                                                                       descriptor.Receive(), nullptr));
      EXPECT_TRUE(SetFileSecurityW(folder.c_str(), DACL_SECURITY_INFORMATION, descriptor.Get()));
    }
    std::string output;
    ASSERT_TRUE(test_support::RunProcess(L"\"" + folder + L"\\installer.exe\" --stream", &exit_code, &output));
    EXPECT_EQ(row.exit_code, exit_code) << output;
    EXPECT_NE(std::string::npos, output.find(row.says)) << output;
    if (row.exit_code == 0) {
      EXPECT_EQ(expected, output.substr(output.size() - std::min(output.size(), expected.size()))) << output;
    }
  }
}

// Owners and entries that wine cannot set on files, judged by the host's own test: an owner outside the trusted
// accounts may rewrite the list, and a conditional grant counts by its SID. Kind 5 (an object entry) is not judged.
// The host reads the user's SID and compares SIDs without the security library, which spells them here.
TEST(HostExecutable, LibraryCheckWeighsTheOwnerAndEveryKindOfGrant) {
  const host::SidBytes user_sid = host::UserSid();
  base::win::ScopedLocalMemory<wchar_t> user_text;
  ASSERT_TRUE(!user_sid.empty() && ConvertSidToStringSidW(const_cast<BYTE*>(user_sid.data()), user_text.Receive()));
  const std::wstring user = user_text.Get();
  user_text.Close();
  struct Row {
    std::wstring sddl;
    BYTE first_entry_kind;  // 0: as written
    bool others_may_write;
  } const rows[] = {
      {L"O:" + user + L"D:P(A;;FA;;;" + user + L")(A;;FA;;;SY)(A;;FA;;;BA)", 0, false},
      {L"O:BUD:P(A;;FA;;;" + user + L")", 0, true},
      {L"O:BAD:P(A;;FA;;;BA)(A;;FRFX;;;WD)", 0, false},
      {L"O:S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464D:P(A;;FA;;;SY)", 0, false},
      {L"O:S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478465D:P(A;;FA;;;SY)", 0, true},
      {L"O:SYD:P(A;OICIIO;FA;;;WD)(A;;FA;;;SY)", 0, false},
      {L"O:" + user + L"D:P(D;;FA;;;WD)(A;;FA;;;" + user + L")", 0, false},
      {L"O:" + user + L"D:P(A;;FA;;;WD)", ACCESS_ALLOWED_CALLBACK_ACE_TYPE, true},
      {L"O:" + user + L"D:P(A;;FA;;;SY)", ACCESS_ALLOWED_CALLBACK_ACE_TYPE, false},
      {L"O:" + user + L"D:P(A;;FA;;;SY)", ACCESS_ALLOWED_OBJECT_ACE_TYPE, true},
      {L"O:" + user, 0, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << row.sddl.c_str() << " kind " << int(row.first_entry_kind));
    base::win::ScopedLocalMemory<> descriptor;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(row.sddl.c_str(), SDDL_REVISION_1,
                                                                     descriptor.Receive(), nullptr));
    if (row.first_entry_kind) {
      BOOL present = FALSE, defaulted = FALSE;
      PACL dacl = nullptr;
      ACE_HEADER* entry = nullptr;
      ASSERT_TRUE(GetSecurityDescriptorDacl(descriptor.Get(), &present, &dacl, &defaulted) && dacl);
      ASSERT_TRUE(GetAce(dacl, 0, reinterpret_cast<void**>(&entry)));
      entry->AceType = row.first_entry_kind;
    }
    EXPECT_EQ(row.others_may_write, host::OthersMayWrite(descriptor.Get(), user_sid));
  }
}

TEST(HostExecutable, CarriesBrandingResource) {
  HMODULE host = LoadLibraryExW((test_support::ExecutableDir() + L"\\installer.exe").c_str(), nullptr,
                                LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(nullptr, host);
  HRSRC resource = FindResourceW(host, MAKEINTRESOURCEW(133), L"TXT");
  ASSERT_NE(nullptr, resource);
  HGLOBAL loaded = LoadResource(host, resource);
  std::string text(static_cast<const char*>(LockResource(loaded)), SizeofResource(host, resource));
  FreeLibrary(host);
  std::string expected;
  ASSERT_TRUE(ReadFileBytes(TestDataDir() + L"\\branding.json", &expected));
  EXPECT_EQ(expected, text);
}

TEST(TestHarness, CrashingProcessEndsWithItsExceptionCode) {
  // A crash must fail a test: neither end with exit code 0 (a debugger attached) nor wait for a message box.
  DWORD exit_code = 0;
  ASSERT_TRUE(test_support::RunProcess(L"\"" + test_support::ExecutableDir() + L"\\crash_test_child.exe\"",
                                       &exit_code));
  EXPECT_EQ(static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION), exit_code);
}

}  // namespace
