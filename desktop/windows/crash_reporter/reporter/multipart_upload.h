// A multipart/form-data POST of form fields and files to the crash service over WinINet.
#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_REPORTER_MULTIPART_UPLOAD_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_REPORTER_MULTIPART_UPLOAD_H_

#include <windows.h>
#include <wininet.h>

#include <map>
#include <string>

#include "desktop/windows/crash_reporter/reporter/crash_metadata.h"

namespace zorvi {
namespace installer {

// Form field name to the local path of the file sent under it.
using UploadFiles = std::map<std::wstring, std::wstring>;

class MultipartUpload {
 public:
  MultipartUpload() = delete;

  // Posts `parameters` and `files` to `url` (http or https) with the user agent "CrashUploader/1.0 (Windows)"
  // + `user_agent_suffix`. `timeout_ms` (when not null) bounds sending, each wait for the answer and reading the
  // whole answer (a minute when null). True only when the server answered 200 and its whole response arrived;
  // *response (not null) gets its text, *response_code (not null) the status, 0 when none came. A field name
  // that is empty, holds a double quote or a character outside 0x20-0x7F sends nothing.
  static bool SendRequest(const std::wstring& user_agent_suffix, const std::wstring& url,
                          const UploadParameters& parameters, const UploadFiles& files, const int* timeout_ms,
                          std::wstring* response, int* response_code);
  static bool SendRequestWithoutAgentSuffix(const std::wstring& url, const UploadParameters& parameters,
                                            const UploadFiles& files, const int* timeout_ms,
                                            std::wstring* response, int* response_code);

  // 27 dashes and two random numbers of 0-32767 in hexadecimal: 43 characters. The request draws another while
  // the body holds the one drawn anywhere but at its own delimiters.
  static std::wstring GenerateBoundary();
  // The body: each field, then each file, then the closing boundary; false when a file cannot be read or a
  // text is empty in UTF-8.
  static bool BuildRequestBody(const UploadParameters& parameters, const UploadFiles& files,
                               const std::wstring& boundary, std::string* body);
  static bool ReadFileContents(const std::wstring& path, std::string* contents);
  // The form's texts go as UTF-8, code page 65001, which the project's own converter makes (ill-formed text
  // becomes U+FFFD); another code page goes through the system's converter. The answer comes back from UTF-8.
  static std::string WideToCodePage(const std::wstring& text, UINT code_page);
  static std::wstring UTF8ToWide(const std::string& text);
  // Reads the whole response (kept only when `response` is not null) within `time_limit_ms`; false when a read
  // fails, the limit passes, the answer outgrows a short text or fewer bytes than announced arrive.
  static bool ReadResponse(HINTERNET request, DWORD time_limit_ms, std::wstring* response);
};

}  // namespace installer
}  // namespace zorvi

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_REPORTER_MULTIPART_UPLOAD_H_
