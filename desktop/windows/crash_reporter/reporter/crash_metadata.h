// What the reporter says about a crash besides the snapshot: the metadata and header of the text crash log,
// and the form fields of the log and minidump uploads. Both come from the crashed client's crash keys (as the
// dump server received them), the reporter's own build, the machine, and a few environment variables.
#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_REPORTER_CRASH_METADATA_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_REPORTER_CRASH_METADATA_H_

#include <cstdint>
#include <map>
#include <string>

#include "desktop/windows/crash_reporter/reporter/crash_log_writer.h"
#include "desktop/windows/crash_reporter/crash_pipe_protocol.h"

namespace zorvi {
namespace installer {

// Upload form fields, name to value, sent in ascending order of their names.
using UploadParameters = std::map<std::wstring, std::wstring>;

// Facts about the machine and the name tables, made once per process on first use and read-only afterwards.
class CrashMetadata {
 public:
  static const CrashMetadata& Get();

  CrashMetadata();
  CrashMetadata(const CrashMetadata&) = delete;
  CrashMetadata& operator=(const CrashMetadata&) = delete;

  const std::string& os_version() const { return os_version_; }  // "major.minor.build"
  const std::string& os_service_pack_version() const { return os_service_pack_version_; }
  const std::string& cpu_architecture() const { return cpu_architecture_; }  // "0x" + lower-case hex
  const std::string& cpu_level() const { return cpu_level_; }
  const std::string& cpu_revision() const { return cpu_revision_; }

  // A client's crash key name to the minidump upload's field name.
  const std::map<std::wstring, std::wstring>& key_names() const { return key_names_; }
  // An environment variable's name to the field it fills in the minidump and the log upload.
  const std::map<std::wstring, std::wstring>& dump_env_names() const { return dump_env_names_; }
  const std::map<std::wstring, std::wstring>& log_env_names() const { return log_env_names_; }

 private:
  void FillSystemInfo();

  std::string os_version_;
  std::string os_service_pack_version_;
  std::string cpu_architecture_;
  std::string cpu_level_;
  std::string cpu_revision_;
  std::map<std::wstring, std::wstring> key_names_;
  std::map<std::wstring, std::wstring> dump_env_names_;
  std::map<std::wstring, std::wstring> log_env_names_;
};

// The name of one of the product's environment variables: the product name with its ASCII letters in upper
// case, then `suffix`.
std::wstring GetProductVariableName(const char* suffix);

// The variable that carries the address a user wants to be reached at about crashes ("_CRASH_EMAIL").
std::wstring GetCrashEmailVariableName();

// A crash key's name or value: up to its first NUL, at most 64 units.
std::wstring CustomInfoText(const wchar_t (&text)[CrashCustomInfoEntry::kTextLength]);

// The first entry named `name` (case counts), or null.
const CrashCustomInfoEntry* FindCustomInfoEntry(const CrashCustomClientInfo& entries, const std::wstring& name);
// The first such entry's value; false when there is none.
bool GetCustomInfoValue(const CrashCustomClientInfo& entries, const std::wstring& name, std::wstring* value);
// Every such entry's value in order, joined (a long value is spread over entries of one name); true when the
// result is not empty.
bool GetJoinedCustomInfoValue(const CrashCustomClientInfo& entries, const std::wstring& name,
                              std::wstring* value);
// Where the crash came from: "Vemtra" (a test run), "Pellow", or empty.
std::wstring GetOrigin(const CrashCustomClientInfo& entries);
bool IsBrowserProcess(const CrashCustomClientInfo& entries);

// The crash log's metadata pairs and header texts from a client's crash keys and the machine.
void AddCrashLogMetadata(const CrashCustomClientInfo& entries, CrashLogInfo* info);
// The snapshot's memory counters, in bytes.
void AddMemoryMetadata(uint64_t working_set_size, uint64_t peak_working_set_size, uint64_t private_usage,
                       CrashLogInfo* info);
// For a crash of the reporter itself.
void AddSelfCrashMetadata(CrashLogInfo* info);
// The header texts still empty get this build's: full version, build number, the branding's product suffix.
void FillCrashLogHeader(CrashLogInfo* info);

// Upload fields. Each is added only where the map does not have it yet, unless said otherwise.
void AddLogUploadParameters(const CrashCustomClientInfo& entries, UploadParameters* parameters);
void AddDumpUploadParameters(const CrashCustomClientInfo& entries, UploadParameters* parameters);
void AddSelfLogUploadParameters(UploadParameters* parameters);
void AddSelfDumpUploadParameters(UploadParameters* parameters);
void AddStacktraceId(const std::wstring& stacktrace_id, UploadParameters* parameters);
void AddCommonUploadParameters(UploadParameters* parameters);
// Fields from environment variables of 1 to 191 characters.
void AddEnvironmentParameters(const std::map<std::wstring, std::wstring>& env_names,
                              UploadParameters* parameters);
// The crash keys the minidump upload carries, under its own names; values of one name are appended in order.
void TranslateClientEntries(const CrashCustomClientInfo& entries, UploadParameters* parameters);

// The release channel a build's stream is reported as: "nightly" (2), "release" (4), else the stream's name.
std::wstring ReleaseChannelForStream(int stream_id, const std::string& stream_name);
// The date of `request_time` ("yyyymmdd_hhmmss") followed by the build set written with at least six digits.
std::wstring FormatBuildId(const std::wstring& build_set, const std::wstring& request_time);
// The build id of the client's build (its "buildset" and "build_request_time" keys), else of this one.
std::wstring GetClientBuildId(const CrashCustomClientInfo& entries);

}  // namespace installer
}  // namespace zorvi

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_REPORTER_CRASH_METADATA_H_
