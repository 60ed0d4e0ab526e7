#include "desktop/windows/crash_reporter/client/crash_keys.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/strings/stringprintf.h"
#include "base/strings/sys_string_conversions.h"
#include "desktop/common/product/product_info.h"
#include "desktop/windows/crash_reporter/client/scripted_crash_server_test_util.h"

namespace zorvi {
namespace installer {
namespace {

// The table the reporter reads, in entry order: a name and how many entries carry it.
const struct {
  const char* name;
  size_t count;
} kLayout[] = {
    {"version", 1}, {"build", 1}, {"buildset", 1}, {"build_request_time", 1}, {"process_type", 1},
    {"crash_guid", 1}, {"active_url", 16}, {"gpu_vendor_id", 1}, {"gpu_device_id", 1},
    {"gpu_driver_version", 1}, {"gpu_pixel_shader_version", 1}, {"gpu_vertex_shader_version", 1},
    {"is_wow64", 1}, {"exception_policy", 1}, {"vemtra_test", 4}, {"origin", 1}, {"enabled_extensions", 16},
    {"disabled_extensions", 16}, {"blacklisted_extensions", 4}, {"terminated_extensions", 4},
    {"third_party_installs", 4}, {"modules", 16}, {"handle_info_items", 1}, {"invalid_handle", 1},
};

std::wstring Pattern(size_t length) {
  std::wstring text;
  for (size_t i = 0; i < length; ++i)
    text += static_cast<wchar_t>(L'A' + i % 26);
  return text;
}

std::string JsonString(const std::wstring& text) {
  std::string json = "\"";
  for (wchar_t c : text)
    json += static_cast<char>(c);  // the texts here are ASCII letters and digits
  return json + "\"";
}

TEST(CrashKeysTest, AChildsBlockHoldsTheTableAndItsWritesAndStaysReadOnly) {
  // The constructor's values, from the same getters and system calls the table uses.
  std::vector<std::wstring> names, values;
  for (const auto& key : kLayout) {
    for (size_t i = 0; i < key.count; ++i)
      names.push_back(base::SystemUTF8ToWide(key.name));
  }
  ASSERT_EQ(CrashKeys::kEntryCount, names.size());
  values.resize(names.size());
  values[0] = base::SystemUTF8ToWide(GetFullVersionString());
  values[1] = std::to_wstring(GetBuildNumber());
  values[2] = std::to_wstring(GetBuildSetNumber());
  values[3] = base::SystemUTF8ToWide(GetBuildRequestTime());
  BOOL wow64 = FALSE;
  values[27] = IsWow64Process(GetCurrentProcess(), &wow64) ? (wow64 ? L"1" : L"0") : L"";
  using GetPolicyFunction = BOOL(WINAPI*)(DWORD*);
  const auto get_policy = reinterpret_cast<GetPolicyFunction>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetProcessUserModeExceptionPolicy")));
  DWORD policy = 0;
  if (get_policy && get_policy(&policy))
    values[28] = base::StringPrintf(L"0x%04x", static_cast<unsigned>(policy));

  // The writes, in order, and what each leaves in its entries.
  const std::wstring text63 = Pattern(63), text64 = Pattern(64), text130 = Pattern(130), text200 = Pattern(200);
  std::wstring arguments;
  const struct {
    size_t first, last;
    bool range;
    std::wstring text;
  } kWrites[] = {
      {CrashKeys::kProcessType, 0, false, text63},                                // stored whole
      {CrashKeys::kOrigin, 0, false, text64},                                     // cut to 63
      {CrashKeys::kVemtraTestFirst, CrashKeys::kVemtraTestLast, true, text130},  // 63, 63, 4 and a cleared entry
      {CrashKeys::kModulesFirst, CrashKeys::kModulesLast, true, text200},        // then cleared by the next
      {CrashKeys::kModulesFirst, CrashKeys::kModulesLast, true, L""},
      {6, 9, true, text130},  // a range that holds all of it
  };
  for (const auto& write : kWrites) {
    arguments += write.range ? base::StringPrintf(L" %zu-%zu:", write.first, write.last)
                             : base::StringPrintf(L" %zu:", write.first);
    arguments += write.text;
    const size_t last = write.range ? write.last : write.first;
    for (size_t index = write.first, offset = 0; index <= last; ++index) {
      values[index] = offset < write.text.size() ? write.text.substr(offset, 63) : L"";
      offset += 63;
    }
  }

  const std::wstring folder = FreshRecordFolder(L"keys");
  const std::wstring event_base = test_support::UniqueName(L"CrashKeys");
  test_support::ScopedTestHandle release(CreateEventW(nullptr, TRUE, FALSE, (event_base + L"_release").c_str()));
  test_support::ScopedTestHandle child;
  ASSERT_TRUE(StartTestChild(L"\"" + test_support::ExecutableDir() + L"\\crash_client_test_child.exe\" keys - \"" +
                                 folder + L"\" " + event_base + arguments,
                             event_base + L"_ready", &child));
  const uint64_t address = std::stoull(ReadRecordFields(folder, L"keys.txt").at("address"), nullptr, 16);
  void* block_address = reinterpret_cast<void*>(static_cast<uintptr_t>(address));
  MEMORY_BASIC_INFORMATION region = {};
  ASSERT_TRUE(VirtualQueryEx(child.get(), block_address, &region, sizeof(region)));
  EXPECT_EQ(static_cast<DWORD>(PAGE_READONLY), region.Protect);
  EXPECT_GE(region.RegionSize, 24576u);
  std::string block(24576, '\0');
  SIZE_T read = 0;
  ASSERT_TRUE(ReadProcessMemory(child.get(), block_address, block.data(), block.size(), &read));
  EXPECT_EQ(block.size(), read);
  SetEvent(release.get());
  WaitForSingleObject(child.get(), 60000);

  // Python decodes the raw block against the same expectations in the Linux-side check.
  std::string json = "[";
  for (size_t i = 0; i < names.size(); ++i) {
    json += (i ? ",\n[" : "\n[") + JsonString(names[i]) + ", " + JsonString(values[i]) + "]";
    CrashCustomInfoEntry entry;
    std::memcpy(&entry, block.data() + i * sizeof(entry), sizeof(entry));
    EXPECT_EQ(names[i], entry.name) << "entry " << i;
    EXPECT_EQ(values[i], entry.value) << "entry " << i;
  }
  json += "\n]\n";
  ASSERT_TRUE(test_support::WriteFileBytes(folder + L"\\expected.json", json));
  ASSERT_TRUE(test_support::WriteFileBytes(folder + L"\\block.bin", block));
}

TEST(CrashKeysTest, AStrayWriteIntoTheBlockFaults) {
  EXPECT_EQ(static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION),
            RunCrashClient(L"stray-write", nullptr, FreshRecordFolder(test_support::UniqueName(L"stray"))));
}

TEST(CrashKeysTest, WithoutItsBlockTheTableHandsOverNothingAndIgnoresWrites) {
  CrashKeys::FailAllocationForTesting(true);
  CrashKeys keys;
  CrashKeys::FailAllocationForTesting(false);
  EXPECT_EQ(nullptr, keys.entries());
  const CrashCustomClientInfo info = keys.custom_client_info();
  EXPECT_EQ(nullptr, info.entries);
  EXPECT_EQ(0u, info.count);
  keys.SetValue(CrashKeys::kProcessType, L"installer");
  keys.SetValueRange(CrashKeys::kModulesFirst, CrashKeys::kModulesLast, L"modules");

  CrashKeys with_block;
  ASSERT_NE(nullptr, with_block.entries());
  EXPECT_EQ(with_block.entries(), with_block.custom_client_info().entries);
  EXPECT_EQ(CrashKeys::kEntryCount, with_block.custom_client_info().count);
}

}  // namespace
}  // namespace installer
}  // namespace zorvi
