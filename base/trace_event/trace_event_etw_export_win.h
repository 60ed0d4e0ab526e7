// Writes trace events to Event Tracing for Windows as one event kind whose payload is eight narrow strings
// (name, phase name, three argument name/value pairs). The provider is registered on first use through
// functions looked up in "Advapi32.dll"; export stays off unless switched on.
#ifndef BASE_TRACE_EVENT_TRACE_EVENT_ETW_EXPORT_WIN_H_
#define BASE_TRACE_EVENT_TRACE_EVENT_ETW_EXPORT_WIN_H_

#include <windows.h>

#include <evntprov.h>

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

namespace base {
namespace trace_event {

// The provider's identity and its single event.
inline constexpr GUID kEtwProviderGuid = {0xD2D578D9, 0x2936, 0x45B6, {0xA0, 0x9F, 0x30, 0xE3, 0x27, 0x15, 0xF4, 0x2D}};
inline constexpr uint64_t kEtwEventKeyword = 0x8000000000000000ull;
inline constexpr unsigned char kEtwEventLevel = 4;
inline constexpr int kEtwEventDataCount = 8;

class EtwTraceExport {
 public:
  using EventRegisterFunction = ULONG(WINAPI*)(LPCGUID provider_id, PENABLECALLBACK enable_callback,
                                               PVOID callback_context, PREGHANDLE reg_handle);
  using EventWriteFunction = ULONG(WINAPI*)(REGHANDLE reg_handle, PCEVENT_DESCRIPTOR event_descriptor,
                                            ULONG user_data_count, PEVENT_DATA_DESCRIPTOR user_data);
  using EventUnregisterFunction = ULONG(WINAPI*)(REGHANDLE reg_handle);

  struct PlatformFunctions {
    EventRegisterFunction event_register = nullptr;
    EventWriteFunction event_write = nullptr;
    EventUnregisterFunction event_unregister = nullptr;
  };

  // The process-wide object, made (and the provider registered) on first use; null once it was destroyed
  // at exit.
  static EtwTraceExport* GetInstance();

  // Whether export is on and any category of the comma-separated group is enabled for it.
  static bool IsCategoryGroupEnabled(const char* category_group_name);

  // Writes one event when export and the provider's event are on. At most three arguments; convertible
  // values (type 8) are sent as empty texts. The category and id are not sent.
  static void AddEvent(char phase, const unsigned char* category_group_enabled, const char* name,
                       unsigned long long id, int num_args, const char* const* arg_names,
                       const unsigned char* arg_types, const unsigned long long* arg_values);
  // The end of a complete event.
  static void AddCompleteEndEvent(const char* name);

  // Called by ETW when a session enables or disables the provider.
  static void NTAPI EnableCallback(LPCGUID source_id, ULONG control_code, UCHAR level, ULONGLONG match_any_keyword,
                                   ULONGLONG match_all_keyword, PEVENT_FILTER_DESCRIPTOR filter_data,
                                   PVOID callback_context);

  // Whether a session has switched the provider's event on.
  static bool IsProviderEventEnabled();

  // The text sent for a phase character.
  static std::string PhaseName(char phase);

  // Tests: replaces the platform functions (unregistering through the old ones and registering through the
  // new ones), and switches export and a category's status, which nothing in the product does.
  void SetPlatformFunctionsForTesting(const PlatformFunctions& functions);
  void SetExportEnabledForTesting(bool enabled) { etw_export_enabled_ = enabled; }
  void SetCategoryEnabledForTesting(std::string_view category, bool enabled);
  // The provider's registration handle; 0 when not registered.
  static REGHANDLE provider_handle();

 private:
  EtwTraceExport();
  ~EtwTraceExport();

  static void DeleteAtExit(void* unused);

  bool IsCategoryEnabled(std::string_view category_name) const;
  void Register();
  void Unregister();
  void Write(const char* strings[kEtwEventDataCount]);

  bool etw_export_enabled_ = false;
  std::map<std::string_view, bool> categories_status_;
  PlatformFunctions functions_;
};

}  // namespace trace_event
}  // namespace base

#endif  // BASE_TRACE_EVENT_TRACE_EVENT_ETW_EXPORT_WIN_H_
