// rand_s, declared only when asked for before the C runtime's headers.
#define _CRT_RAND_S
#include "desktop/windows/crash_reporter/reporter/multipart_upload.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/stringprintf.h"
#include "base/strings/sys_string_conversions.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/windows/crash_reporter/reporter/crash_url.h"

namespace zorvi {
namespace installer {
namespace {

// Names go between double quotes in the body's headers, where other characters could end or forge them.
bool IsValidFieldName(const std::wstring& name) {
  if (name.empty())
    return false;
  for (wchar_t c : name) {
    if (c < 0x20 || c > 0x7F || c == L'"')
      return false;
  }
  return true;
}

// Bounds the whole answer to an upload sent without a time limit: a server that drips it would otherwise hold
// the upload, and with it the reporter, for as long as it goes on.
constexpr DWORD kResponseTimeLimitMs = 60000;
// The service answers with a short text; more is no answer of its, and would otherwise be kept without end.
constexpr uint64_t kMaxResponseBytes = 64 * 1024;

// A number of 0-32767 from the system's random source: the C runtime's rand() starts every thread at the same
// seed, so each fresh thread would draw the same boundary.
unsigned RandomBoundaryNumber() {
  unsigned value = 0;
  if (rand_s(&value) != 0) {
    LARGE_INTEGER counter = {};
    QueryPerformanceCounter(&counter);
    value = static_cast<unsigned>(counter.QuadPart ^ (counter.QuadPart >> 15));
  }
  return value % 32768;
}

// How often a new boundary is drawn when the body holds the one drawn: values and files are sent as they are.
constexpr int kBoundaryAttempts = 8;

// Counts "--" + `boundary` in `body`, wherever it starts.
size_t CountDelimiters(const std::string& body, const std::string& boundary) {
  const std::string delimiter = "--" + boundary;
  size_t count = 0;
  for (size_t at = body.find(delimiter); at != std::string::npos; at = body.find(delimiter, at + 1))
    ++count;
  return count;
}

// The body with a boundary that occurs in it only as its own delimiters: one before each part and the closing one.
bool BuildBodyWithOwnBoundary(const UploadParameters& parameters, const UploadFiles& files, std::wstring* boundary,
                              std::string* body) {
  for (int attempt = 0; attempt < kBoundaryAttempts; ++attempt) {
    *boundary = MultipartUpload::GenerateBoundary();
    if (!MultipartUpload::BuildRequestBody(parameters, files, *boundary, body))
      return false;
    const std::string separator = MultipartUpload::WideToCodePage(*boundary, CP_UTF8);
    if (CountDelimiters(*body, separator) == parameters.size() + files.size() + 1)
      return true;
  }
  LOG(ERROR) << "Every boundary drawn occurs in the upload's contents";
  return false;
}

}  // namespace

bool MultipartUpload::SendRequest(const std::wstring& user_agent_suffix, const std::wstring& url,
                                  const UploadParameters& parameters, const UploadFiles& files,
                                  const int* timeout_ms, std::wstring* response, int* response_code) {
  if (response_code)
    *response_code = 0;
  for (const auto& parameter : parameters) {
    if (!IsValidFieldName(parameter.first)) {
      LOG(ERROR) << "Refused to upload a field with an invalid name";
      return false;
    }
  }
  CrashServerUrl parts;
  if (!SplitCrashServerUrl(url, &parts))
    return false;
  CrashServerRequest http;
  if (!http.Open(parts, kCrashUploadUserAgent + user_agent_suffix, L"POST", INTERNET_FLAG_NO_COOKIES)) {
    PLOG(ERROR) << "Could not open the upload request";
    return false;
  }
  std::wstring boundary;
  std::string body;
  if (!BuildBodyWithOwnBoundary(parameters, files, &boundary, &body))
    return false;
  const std::wstring content_type = L"Content-Type: multipart/form-data; boundary=" + boundary + L"\r\n";
  if (!HttpAddRequestHeadersW(http.request.Get(), content_type.c_str(), static_cast<DWORD>(content_type.size()),
                              HTTP_ADDREQ_FLAG_ADD)) {
    return false;
  }
  if (timeout_ms) {
    DWORD timeout = static_cast<DWORD>(*timeout_ms);
    if (!InternetSetOptionW(http.request.Get(), INTERNET_OPTION_SEND_TIMEOUT, &timeout, sizeof(timeout)))
      fputs("Could not unset send timeout, continuing...\n", stderr);
    if (!InternetSetOptionW(http.request.Get(), INTERNET_OPTION_RECEIVE_TIMEOUT, &timeout, sizeof(timeout)))
      fputs("Could not unset receive timeout, continuing...\n", stderr);
  }
  if (!HttpSendRequestW(http.request.Get(), nullptr, 0, body.data(), static_cast<DWORD>(body.size()))) {
    PLOG(ERROR) << "The upload request failed";
    return false;
  }
  DWORD status = 0;
  DWORD status_size = sizeof(status);
  if (!HttpQueryInfoW(http.request.Get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &status_size,
                      nullptr)) {
    return false;
  }
  if (response_code)
    *response_code = static_cast<int>(status);
  if (status != 200) {
    LOG(ERROR) << "The upload was answered " << status;
    return false;
  }
  return ReadResponse(http.request.Get(), timeout_ms ? static_cast<DWORD>(*timeout_ms) : kResponseTimeLimitMs,
                      response);
}

bool MultipartUpload::SendRequestWithoutAgentSuffix(const std::wstring& url, const UploadParameters& parameters,
                                                    const UploadFiles& files, const int* timeout_ms,
                                                    std::wstring* response, int* response_code) {
  return SendRequest(std::wstring(), url, parameters, files, timeout_ms, response, response_code);
}

std::wstring MultipartUpload::GenerateBoundary() {
  const unsigned first = RandomBoundaryNumber();
  const unsigned second = RandomBoundaryNumber();
  return L"---------------------------" + base::StringPrintf(L"%08X%08X", first, second);
}

bool MultipartUpload::BuildRequestBody(const UploadParameters& parameters, const UploadFiles& files,
                                       const std::wstring& boundary, std::string* body) {
  const std::string separator = WideToCodePage(boundary, CP_UTF8);
  if (separator.empty())
    return false;
  body->clear();
  for (const auto& [name, value] : parameters) {
    *body += "--" + separator + "\r\n";
    *body += "Content-Disposition: form-data; name=\"" + WideToCodePage(name, CP_UTF8) + "\"\r\n\r\n";
    *body += WideToCodePage(value, CP_UTF8) + "\r\n";
  }
  for (const auto& [name, path] : files) {
    std::string contents;
    if (!ReadFileContents(path, &contents))
      return false;
    const std::string field = WideToCodePage(name, CP_UTF8);
    const std::string file_name = WideToCodePage(path, CP_UTF8);
    if (field.empty() || file_name.empty())
      return false;
    *body += "--" + separator + "\r\n";
    *body += "Content-Disposition: form-data; name=\"" + field + "\"; filename=\"" + file_name + "\"\r\n";
    *body += "Content-Type: application/octet-stream\r\n\r\n";
    *body += contents;
    *body += "\r\n";
  }
  *body += "--" + separator + "--\r\n";
  return true;
}

bool MultipartUpload::ReadFileContents(const std::wstring& path, std::string* contents) {
  return base::ReadFileToString(base::FilePath(path), contents);
}

std::string MultipartUpload::WideToCodePage(const std::wstring& text, UINT code_page) {
  return code_page == CP_UTF8 ? base::WideToUTF8(text) : base::SystemWideToMultiByte(text, code_page);
}

std::wstring MultipartUpload::UTF8ToWide(const std::string& text) {
  return base::UTF8ToWide(text);
}

bool MultipartUpload::ReadResponse(HINTERNET request, DWORD time_limit_ms, std::wstring* response) {
  wchar_t length_text[32] = {};
  DWORD length_size = sizeof(length_text);
  uint64_t expected = 0;
  const bool has_length =
      HttpQueryInfoW(request, HTTP_QUERY_CONTENT_LENGTH, length_text, &length_size, nullptr) &&
      base::StringToUint64(base::WideToUTF8(std::wstring(length_text, length_size / sizeof(wchar_t))), &expected);
  // The receive time-out bounds only one stalled read: a server sending a byte now and then passes it forever.
  const ULONGLONG deadline = GetTickCount64() + time_limit_ms;
  std::string received;
  uint64_t total = 0;
  char buffer[4096];
  for (;;) {
    const ULONGLONG now = GetTickCount64();
    if (now >= deadline) {
      LOG(ERROR) << "The answer took longer than " << time_limit_ms << " ms";
      return false;
    }
    DWORD left = static_cast<DWORD>(deadline - now);
    InternetSetOptionW(request, INTERNET_OPTION_RECEIVE_TIMEOUT, &left, sizeof(left));
    DWORD available = 0;
    if (!InternetQueryDataAvailable(request, &available, 0, 0))
      return false;
    if (available == 0)
      break;
    DWORD read = 0;
    if (!InternetReadFile(request, buffer, std::min<DWORD>(available, sizeof(buffer)), &read))
      return false;
    if (read == 0)
      break;
    total += read;
    if (total > kMaxResponseBytes) {
      LOG(ERROR) << "The answer is longer than " << kMaxResponseBytes << " bytes";
      return false;
    }
    if (response)
      received.append(buffer, read);
  }
  if (response)
    *response = UTF8ToWide(received);
  return !has_length || total == expected;
}

}  // namespace installer
}  // namespace zorvi
