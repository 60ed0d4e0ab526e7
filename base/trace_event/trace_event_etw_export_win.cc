#include "base/trace_event/trace_event_etw_export_win.h"

#include <atomic>
#include <new>

#include "base/lazy_instance.h"
#include "base/trace_event/string_tokenizer.h"
#include "base/trace_event/trace_event.h"
#include "base/win/native_library.h"

namespace base {
namespace trace_event {

namespace {

// Categories with an export switch of their own; the row is the keyword bit a session would use.
constexpr const char* kFilteredEventGroupNames[] = {
    "installer",                             // 0
    "installer.backend",                     // 1
    "installer.ui",                          // 2
    "ipc",                                   // 3
    "package_fetcher",                       // 4
    "download",                              // 5
    "unpack",                                // 6
    "prefs",                                 // 7
    "crash_reporter",                        // 8
    "toplevel",                              // 9
    "base",                                  // 10
    "disabled-by-default-memory-infra",      // 11
    "disabled-by-default-installer.debug",   // 12
    "disabled-by-default-toplevel.flow",     // 13
    "startup",                               // 14
};
constexpr char kOtherEventsGroupName[] = "__OTHER_EVENTS";
constexpr char kDisabledOtherEventsGroupName[] = "__DISABLED_OTHER_EVENTS";
constexpr char kDisabledByDefaultPrefix[] = "disabled-by-default";

// Control codes of the enable callback.
constexpr ULONG kControlCodeDisableProvider = 0;
constexpr ULONG kControlCodeEnableProvider = 1;

// The provider's one event: id 1, version 0, channel 8, level 4, opcode 0, task 0.
constexpr EVENT_DESCRIPTOR kEventDescriptor = {1, 0, 8, kEtwEventLevel, 0, 0, kEtwEventKeyword};

// What ETW's enable callback records for the provider. The callback runs on a thread of ETW's choosing and
// writers test the event's bit without a lock, hence the atomics.
constexpr int kEventCount = 1;
std::atomic<uint32_t> g_enable_bits[(kEventCount + 31) / 32];
constexpr uint64_t kEventKeywords[kEventCount] = {kEtwEventKeyword};
constexpr unsigned char kEventLevels[kEventCount] = {kEtwEventLevel};
struct ProviderContext {
  std::atomic<uint64_t> match_any_keyword{0};
  std::atomic<uint64_t> match_all_keyword{0};
  std::atomic<uint32_t> is_enabled{0};
  std::atomic<unsigned char> level{0};
  uint16_t enable_bits_count = kEventCount;
} g_provider_context;

std::atomic<REGHANDLE> g_provider_handle{0};

// The object lives in static storage and is made once per process.
constinit internal::LazyInstanceState g_instance_state{0};
std::atomic<bool> g_instance_created_once{false};
alignas(EtwTraceExport) unsigned char g_instance_storage[sizeof(EtwTraceExport)];

bool EventEnabled(int event_index) {
  return (g_enable_bits[event_index / 32].load(std::memory_order_acquire) & (1u << (event_index % 32))) != 0;
}

}  // namespace

EtwTraceExport::EtwTraceExport() {
  HMODULE advapi = base::win::LoadSystemLibrary(L"Advapi32.dll");
  if (advapi) {
    functions_.event_register =
        reinterpret_cast<EventRegisterFunction>(reinterpret_cast<void*>(GetProcAddress(advapi, "EventRegister")));
    functions_.event_write =
        reinterpret_cast<EventWriteFunction>(reinterpret_cast<void*>(GetProcAddress(advapi, "EventWrite")));
    functions_.event_unregister = reinterpret_cast<EventUnregisterFunction>(
        reinterpret_cast<void*>(GetProcAddress(advapi, "EventUnregister")));
    Register();
  }
  for (const char* name : kFilteredEventGroupNames)
    categories_status_[name] = false;
  categories_status_[kOtherEventsGroupName] = false;
  categories_status_[kDisabledOtherEventsGroupName] = false;
}

EtwTraceExport::~EtwTraceExport() = default;

void EtwTraceExport::Register() {
  if (g_provider_handle.load() != 0 || !functions_.event_register)
    return;
  REGHANDLE handle = 0;
  functions_.event_register(&kEtwProviderGuid, &EtwTraceExport::EnableCallback, &g_provider_context, &handle);
  g_provider_handle.store(handle);
}

void EtwTraceExport::Unregister() {
  const REGHANDLE handle = g_provider_handle.load();
  if (handle == 0 || !functions_.event_unregister)
    return;
  functions_.event_unregister(handle);
  g_provider_handle.store(0);
}

// static
EtwTraceExport* EtwTraceExport::GetInstance() {
  // Destroyed at exit: it is not made a second time.
  if (!g_instance_created_once.load(std::memory_order_acquire) && internal::NeedsLazyInstance(&g_instance_state)) {
    if (g_instance_created_once.exchange(true)) {
      g_instance_state.store(0, std::memory_order_release);
      return nullptr;
    }
    EtwTraceExport* instance = new (g_instance_storage) EtwTraceExport();
    internal::CompleteLazyInstance(&g_instance_state, reinterpret_cast<uintptr_t>(instance), nullptr,
                                   &EtwTraceExport::DeleteAtExit);
    return instance;
  }
  const uintptr_t state = internal::WaitForInstance(&g_instance_state);
  return state > internal::kLazyInstanceStateCreating ? reinterpret_cast<EtwTraceExport*>(state) : nullptr;
}

// static
void EtwTraceExport::DeleteAtExit(void* /*unused*/) {
  const uintptr_t state = g_instance_state.load(std::memory_order_acquire);
  if (state <= internal::kLazyInstanceStateCreating)
    return;
  EtwTraceExport* instance = reinterpret_cast<EtwTraceExport*>(state);
  instance->Unregister();
  instance->~EtwTraceExport();
  g_instance_state.store(0, std::memory_order_release);
}

// static
REGHANDLE EtwTraceExport::provider_handle() {
  return g_provider_handle.load();
}

// static
void NTAPI EtwTraceExport::EnableCallback(LPCGUID /*source_id*/, ULONG control_code, UCHAR level,
                                          ULONGLONG match_any_keyword, ULONGLONG match_all_keyword,
                                          PEVENT_FILTER_DESCRIPTOR /*filter_data*/, PVOID callback_context) {
  ProviderContext* context = static_cast<ProviderContext*>(callback_context);
  if (!context)
    return;
  switch (control_code) {
    case kControlCodeEnableProvider:
      context->level.store(level);
      context->match_any_keyword.store(match_any_keyword);
      context->match_all_keyword.store(match_all_keyword);
      context->is_enabled.store(1);
      for (int i = 0; i < context->enable_bits_count; ++i) {
        const bool level_ok = kEventLevels[i] <= level || level == 0;
        const uint64_t keyword = kEventKeywords[i];
        const bool keyword_ok = keyword == 0 || ((keyword & match_any_keyword) != 0 &&
                                                 (keyword & match_all_keyword) == match_all_keyword);
        if (level_ok && keyword_ok)
          g_enable_bits[i / 32].fetch_or(1u << (i % 32));
        else
          g_enable_bits[i / 32].fetch_and(~(1u << (i % 32)));
      }
      break;
    case kControlCodeDisableProvider:
      context->is_enabled.store(0);
      context->level.store(0);
      context->match_any_keyword.store(0);
      context->match_all_keyword.store(0);
      for (auto& word : g_enable_bits)
        word.store(0);
      break;
    default:
      break;
  }
}

// static
bool EtwTraceExport::IsProviderEventEnabled() {
  return EventEnabled(0);
}

// static
std::string EtwTraceExport::PhaseName(char phase) {
  switch (phase) {
    case 'B': return "Begin";
    case 'C': return "Phase Counter";
    case 'D': return "Phase Delete Object";
    case 'E': return "End";
    case 'F': return "Async End";
    case 'I': return "Instant";
    case 'M': return "Phase Metadata";
    case 'N': return "Phase Create Object";
    case 'O': return "Phase Snapshot Object";
    case 'P': return "Phase Sample";
    case 'S': return "Async Begin";
    case 'T': return "Async Step Into";
    case 'X': return "Complete";
    case 'b': return "Nestable Async Begin";
    case 'e': return "Nestable Async End";
    case 'f': return "Phase Flow End";
    case 'n': return "Nestable Async Instant";
    case 'p': return "Async Step Past";
    case 's': return "Phase Flow Begin";
    case 't': return "Phase Flow Step";
    default: return std::string(1, phase);
  }
}

bool EtwTraceExport::IsCategoryEnabled(std::string_view category_name) const {
  auto it = categories_status_.find(category_name);
  if (it != categories_status_.end())
    return it->second;
  const char* fallback = category_name.substr(0, sizeof(kDisabledByDefaultPrefix) - 1) == kDisabledByDefaultPrefix
                             ? kDisabledOtherEventsGroupName
                             : kOtherEventsGroupName;
  it = categories_status_.find(fallback);
  return it != categories_status_.end() && it->second;
}

// static
bool EtwTraceExport::IsCategoryGroupEnabled(const char* category_group_name) {
  EtwTraceExport* instance = GetInstance();
  if (!instance || !instance->etw_export_enabled_)
    return false;
  const std::string group(category_group_name ? category_group_name : "");
  StringTokenizer tokens(group, ",");
  while (tokens.AdvanceToken()) {
    if (instance->IsCategoryEnabled(std::string_view(&*tokens.token_begin(),
                                                     static_cast<size_t>(tokens.token_end() - tokens.token_begin()))))
      return true;
  }
  return false;
}

void EtwTraceExport::SetCategoryEnabledForTesting(std::string_view category, bool enabled) {
  auto it = categories_status_.find(category);
  if (it != categories_status_.end())
    it->second = enabled;
}

void EtwTraceExport::SetPlatformFunctionsForTesting(const PlatformFunctions& functions) {
  Unregister();
  functions_ = functions;
  Register();
}

void EtwTraceExport::Write(const char* strings[kEtwEventDataCount]) {
  if (!functions_.event_write)
    return;
  EVENT_DATA_DESCRIPTOR data[kEtwEventDataCount];
  for (int i = 0; i < kEtwEventDataCount; ++i) {
    const char* text = strings[i] ? strings[i] : "NULL";
    EventDataDescCreate(&data[i], text, static_cast<ULONG>(strlen(text) + 1));
  }
  functions_.event_write(g_provider_handle.load(), &kEventDescriptor, kEtwEventDataCount, data);
}

// static
void EtwTraceExport::AddEvent(char phase, const unsigned char* /*category_group_enabled*/, const char* name,
                              unsigned long long /*id*/, int num_args, const char* const* arg_names,
                              const unsigned char* arg_types, const unsigned long long* arg_values) {
  EtwTraceExport* instance = GetInstance();
  if (!instance || !instance->etw_export_enabled_ || !EventEnabled(0))
    return;
  const std::string phase_string = PhaseName(phase);
  constexpr int kMaxEtwArgs = 3;
  std::string arg_values_string[kMaxEtwArgs];
  for (int i = 0; i < num_args && i < kMaxEtwArgs; ++i) {
    if (arg_types[i] == kTraceValueTypeConvertable)
      continue;
    TraceValue value;
    memcpy(&value, &arg_values[i], sizeof(value));
    TraceEvent::AppendValueAsJSON(arg_types[i], value, &arg_values_string[i]);
  }
  if (!EventEnabled(0))
    return;
  const char* strings[kEtwEventDataCount] = {
      name,
      phase_string.c_str(),
      num_args > 0 ? arg_names[0] : "",
      arg_values_string[0].c_str(),
      num_args > 1 ? arg_names[1] : "",
      arg_values_string[1].c_str(),
      num_args > 2 ? arg_names[2] : "",
      arg_values_string[2].c_str(),
  };
  instance->Write(strings);
}

// static
void EtwTraceExport::AddCompleteEndEvent(const char* name) {
  EtwTraceExport* instance = GetInstance();
  if (!instance || !instance->etw_export_enabled_ || !EventEnabled(0))
    return;
  const char* strings[kEtwEventDataCount] = {name, "Complete End", "", "", "", "", "", ""};
  instance->Write(strings);
}

}  // namespace trace_event
}  // namespace base
