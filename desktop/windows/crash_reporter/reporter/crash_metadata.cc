#include "desktop/windows/crash_reporter/reporter/crash_metadata.h"

#include <windows.h>

#include <cwchar>
#include <utility>
#include <vector>

#include "base/lazy_instance.h"
#include "base/strings/stringprintf.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/common/product/product_info.h"
#include "desktop/windows/crash_reporter/crash_common.h"
#include "desktop/windows/crash_reporter/crash_key_names.h"

namespace zorvi {
namespace installer {
namespace {

constinit base::LazyInstance<CrashMetadata> g_crash_metadata;

// Variables whose values go into an upload form fit this many characters, terminator included.
constexpr size_t kUploadValueBufferSize = 192;

// Keys the crash log leaves out: they are long, private, or printed elsewhere.
constexpr const wchar_t* kKeysLeftOutOfTheLog[] = {
    kCrashKeyPtime,           kCrashKeyActiveUrl,     kCrashKeyCrashGuid, kCrashKeyModules,
    kCrashKeyHandleInfoItems, kCrashKeyInvalidHandle, kCrashKeyBuildSet,  kCrashKeyBuildRequestTime};

bool IsLoggableKeyName(const std::wstring& name) {
  if (name.empty() || name.size() > 63)
    return false;
  for (wchar_t c : name) {
    const bool alphanumeric = (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9');
    if (!alphanumeric && c != L'.' && c != L'-' && c != L'_')
      return false;
  }
  return true;
}

void AddIfAbsent(UploadParameters* parameters, const std::wstring& name, const std::wstring& value) {
  parameters->emplace(name, value);
}

}  // namespace

const CrashMetadata& CrashMetadata::Get() {
  return g_crash_metadata.Get();
}

CrashMetadata::CrashMetadata() {
  FillSystemInfo();
  key_names_ = {{kCrashKeyVersion, L"Version"},
                {kCrashKeyBuild, L"UBN"},
                {kCrashKeyProcessType, L"ProcessType"},
                {kCrashKeyActiveUrl, L"URL"},
                {kCrashKeyGpuVendorId, kCrashKeyGpuVendorId},
                {kCrashKeyGpuDeviceId, kCrashKeyGpuDeviceId},
                {kCrashKeyGpuDriverVersion, kCrashKeyGpuDriverVersion},
                {kCrashKeyGpuPixelShaderVersion, kCrashKeyGpuPixelShaderVersion},
                {kCrashKeyGpuVertexShaderVersion, kCrashKeyGpuVertexShaderVersion}};
  const std::wstring email_variable = GetCrashEmailVariableName();
  dump_env_names_ = {{email_variable, L"Email"}};
  log_env_names_ = {{email_variable, L"email"}};
}

void CrashMetadata::FillSystemInfo() {
  OSVERSIONINFOEXW version = {};
  version.dwOSVersionInfoSize = sizeof(version);
  if (GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&version))) {
    os_version_ = base::StringPrintf("%lu.%lu.%lu", version.dwMajorVersion, version.dwMinorVersion,
                                     version.dwBuildNumber);
    if (version.wServicePackMajor != 0)
      os_service_pack_version_ = base::StringPrintf("%u.%u", version.wServicePackMajor, version.wServicePackMinor);
  }
  SYSTEM_INFO system = {};
  GetNativeSystemInfo(&system);
  cpu_architecture_ = base::StringPrintf("0x%x", system.wProcessorArchitecture);
  cpu_level_ = base::StringPrintf("0x%x", system.wProcessorLevel);
  cpu_revision_ = base::StringPrintf("0x%x", system.wProcessorRevision);
}

std::wstring GetProductVariableName(const char* suffix) {
  std::string name = GetProductName();
  for (char& c : name) {
    if (c >= 'a' && c <= 'z')
      c = static_cast<char>(c - 'a' + 'A');
  }
  return base::UTF8ToWide(name + suffix);
}

std::wstring GetCrashEmailVariableName() {
  return GetProductVariableName("_CRASH_EMAIL");
}

std::wstring CustomInfoText(const wchar_t (&text)[CrashCustomInfoEntry::kTextLength]) {
  return std::wstring(text, wcsnlen(text, CrashCustomInfoEntry::kTextLength));
}

const CrashCustomInfoEntry* FindCustomInfoEntry(const CrashCustomClientInfo& entries, const std::wstring& name) {
  for (size_t i = 0; i < entries.count; ++i) {
    if (wcsncmp(entries.entries[i].name, name.c_str(), CrashCustomInfoEntry::kTextLength) == 0)
      return &entries.entries[i];
  }
  return nullptr;
}

bool GetCustomInfoValue(const CrashCustomClientInfo& entries, const std::wstring& name, std::wstring* value) {
  const CrashCustomInfoEntry* entry = FindCustomInfoEntry(entries, name);
  if (!entry)
    return false;
  *value = CustomInfoText(entry->value);
  return true;
}

bool GetJoinedCustomInfoValue(const CrashCustomClientInfo& entries, const std::wstring& name,
                              std::wstring* value) {
  value->clear();
  for (size_t i = 0; i < entries.count; ++i) {
    if (wcsncmp(entries.entries[i].name, name.c_str(), CrashCustomInfoEntry::kTextLength) == 0)
      value->append(CustomInfoText(entries.entries[i].value));
  }
  return !value->empty();
}

std::wstring GetOrigin(const CrashCustomClientInfo& entries) {
  std::wstring value;
  if (GetCustomInfoValue(entries, kCrashKeyVemtraTest, &value) && !value.empty())
    return L"Vemtra";
  if (GetCustomInfoValue(entries, kCrashKeyOrigin, &value) && value == L"Pellow")
    return L"Pellow";
  return std::wstring();
}

bool IsBrowserProcess(const CrashCustomClientInfo& entries) {
  std::wstring value;
  return GetCustomInfoValue(entries, kCrashKeyProcessType, &value) && value == L"browser";
}

void AddCrashLogMetadata(const CrashCustomClientInfo& entries, CrashLogInfo* info) {
  struct Accumulator {
    const wchar_t* name;
    bool written_when_empty;
    std::wstring value;
  };
  Accumulator accumulators[] = {{kCrashKeyVemtraTest, false, {}},           {kCrashKeyEnabledExtensions, true, {}},
                                {kCrashKeyDisabledExtensions, true, {}},   {kCrashKeyBlacklistedExtensions, true, {}},
                                {kCrashKeyTerminatedExtensions, true, {}}, {kCrashKeyThirdPartyInstalls, true, {}}};
  for (size_t i = 0; i < entries.count; ++i) {
    const std::wstring name = CustomInfoText(entries.entries[i].name);
    const std::wstring value = CustomInfoText(entries.entries[i].value);
    if (!IsLoggableKeyName(name))
      continue;
    bool left_out = false;
    for (const wchar_t* key : kKeysLeftOutOfTheLog)
      left_out = left_out || name == key;
    if (left_out)
      continue;
    Accumulator* accumulator = nullptr;
    for (Accumulator& each : accumulators) {
      if (name == each.name)
        accumulator = &each;
    }
    if (accumulator) {
      accumulator->value += value;
    } else if (name == kCrashKeyVersion) {
      info->version = base::WideToUTF8(value);
    } else if (name == kCrashKeyBuild) {
      info->build = base::WideToUTF8(value);
    } else if (!value.empty()) {
      info->metadata.emplace_back(base::WideToUTF8(name), base::WideToUTF8(value));
    }
  }
  for (const Accumulator& each : accumulators) {
    if (!each.value.empty() || each.written_when_empty)
      info->metadata.emplace_back(base::WideToUTF8(each.name), base::WideToUTF8(each.value));
  }
  const CrashMetadata& metadata = CrashMetadata::Get();
  info->metadata.emplace_back("os_version", metadata.os_version());
  info->metadata.emplace_back("os_service_pack_version", metadata.os_service_pack_version());
  info->metadata.emplace_back("cpu_architecture", metadata.cpu_architecture());
  info->metadata.emplace_back("cpu_level", metadata.cpu_level());
  info->metadata.emplace_back("cpu_revision", metadata.cpu_revision());
  FillCrashLogHeader(info);
}

void AddMemoryMetadata(uint64_t working_set_size, uint64_t peak_working_set_size, uint64_t private_usage,
                       CrashLogInfo* info) {
  info->metadata.emplace_back("mem_working_set_size", std::to_string(working_set_size));
  info->metadata.emplace_back("mem_peak_working_set_size", std::to_string(peak_working_set_size));
  info->metadata.emplace_back("mem_private_usage", std::to_string(private_usage));
}

void AddSelfCrashMetadata(CrashLogInfo* info) {
  info->metadata.emplace_back(base::WideToUTF8(kCrashKeyProcessType), "crash_reporter");
  FillCrashLogHeader(info);
}

void FillCrashLogHeader(CrashLogInfo* info) {
  if (info->version.empty())
    info->version = GetFullVersionString();
  if (info->build.empty())
    info->build = std::to_string(GetBuildNumber());
  if (info->product_suffix.empty())
    info->product_suffix = GetBrandingCrashLogProductSuffix();
}

void AddEnvironmentParameters(const std::map<std::wstring, std::wstring>& env_names,
                              UploadParameters* parameters) {
  for (const auto& [variable, parameter] : env_names) {
    const std::wstring value = ReadEnvironmentVariable(variable.c_str(), kUploadValueBufferSize);
    if (!value.empty())
      AddIfAbsent(parameters, parameter, value);
  }
}

void TranslateClientEntries(const CrashCustomClientInfo& entries, UploadParameters* parameters) {
  const std::map<std::wstring, std::wstring>& key_names = CrashMetadata::Get().key_names();
  for (size_t i = 0; i < entries.count; ++i) {
    const auto key = key_names.find(CustomInfoText(entries.entries[i].name));
    if (key != key_names.end())
      (*parameters)[key->second] += CustomInfoText(entries.entries[i].value);
  }
}

std::wstring ReleaseChannelForStream(int stream_id, const std::string& stream_name) {
  if (stream_id == 2)
    return L"nightly";
  if (stream_id == 4)
    return L"release";
  return base::UTF8ToWide(stream_name);
}

void AddCommonUploadParameters(UploadParameters* parameters) {
  AddIfAbsent(parameters, L"ProductName", L"ZorviDesktop");
  AddIfAbsent(parameters, L"Version", base::UTF8ToWide(GetFullVersionString()));
  AddIfAbsent(parameters, L"UBN", std::to_wstring(GetBuildNumber()));
  AddIfAbsent(parameters, L"ReleaseChannel", ReleaseChannelForStream(GetStreamId(), GetStreamName()));
  const auto process_type = parameters->find(L"ProcessType");
  const bool tests = process_type != parameters->end() && process_type->second == L"browser_tests";
  AddIfAbsent(parameters, L"symbols-package", tests ? L"tests-syms" : L"browser-syms");
  AddIfAbsent(parameters, L"BuildID",
              FormatBuildId(std::to_wstring(GetBuildSetNumber()), base::UTF8ToWide(GetBuildRequestTime())));
}

std::wstring FormatBuildId(const std::wstring& build_set, const std::wstring& request_time) {
  std::wstring id = request_time.substr(0, 8);
  if (build_set.size() < 6)
    id.append(6 - build_set.size(), L'0');
  return id + build_set;
}

std::wstring GetClientBuildId(const CrashCustomClientInfo& entries) {
  std::wstring build_set, request_time;
  if (!GetCustomInfoValue(entries, kCrashKeyBuildSet, &build_set))
    build_set = std::to_wstring(GetBuildSetNumber());
  if (!GetCustomInfoValue(entries, kCrashKeyBuildRequestTime, &request_time))
    request_time = base::UTF8ToWide(GetBuildRequestTime());
  return FormatBuildId(build_set, request_time);
}

void AddLogUploadParameters(const CrashCustomClientInfo& entries, UploadParameters* parameters) {
  AddEnvironmentParameters(CrashMetadata::Get().log_env_names(), parameters);
  // The client's up-time in milliseconds, which the dump server appended; sent in whole seconds.
  std::wstring uptime;
  if (GetCustomInfoValue(entries, kCrashKeyPtime, &uptime) && uptime.size() >= 4 && uptime.size() <= 13)
    AddIfAbsent(parameters, L"CrashUptime", uptime.substr(0, uptime.size() - 3));
  const std::wstring origin = GetOrigin(entries);
  if (!origin.empty())
    AddIfAbsent(parameters, L"origin", origin);
  std::wstring url;
  if (!IsBrowserProcess(entries) && GetJoinedCustomInfoValue(entries, kCrashKeyActiveUrl, &url))
    AddIfAbsent(parameters, L"url", url);
}

void AddDumpUploadParameters(const CrashCustomClientInfo& entries, UploadParameters* parameters) {
  AddEnvironmentParameters(CrashMetadata::Get().dump_env_names(), parameters);
  TranslateClientEntries(entries, parameters);
  const std::wstring origin = GetOrigin(entries);
  if (!origin.empty())
    AddIfAbsent(parameters, L"Origin", origin);
  AddIfAbsent(parameters, L"BuildID", GetClientBuildId(entries));
  AddCommonUploadParameters(parameters);
}

void AddSelfLogUploadParameters(UploadParameters* parameters) {
  AddEnvironmentParameters(CrashMetadata::Get().log_env_names(), parameters);
}

void AddSelfDumpUploadParameters(UploadParameters* parameters) {
  AddEnvironmentParameters(CrashMetadata::Get().dump_env_names(), parameters);
  AddIfAbsent(parameters, L"ProcessType", L"crash_reporter");
  AddCommonUploadParameters(parameters);
}

void AddStacktraceId(const std::wstring& stacktrace_id, UploadParameters* parameters) {
  if (!stacktrace_id.empty())
    AddIfAbsent(parameters, L"stacktraceId", stacktrace_id);
}

}  // namespace installer
}  // namespace zorvi
