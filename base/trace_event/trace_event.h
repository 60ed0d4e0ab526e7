// The fixed-size record of one trace event, the text forms of its argument values, the interface of
// arguments that render themselves, and the constants shared by every traced site: phases, flags, argument
// types and the event handle.
#ifndef BASE_TRACE_EVENT_TRACE_EVENT_H_
#define BASE_TRACE_EVENT_TRACE_EVENT_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <sstream>
#include <string>

#include "base/time/time.h"

namespace base {
namespace trace_event {

class TraceEventMemoryOverhead;

// Phases.
constexpr char kTraceEventPhaseBegin = 'B';
constexpr char kTraceEventPhaseEnd = 'E';
constexpr char kTraceEventPhaseComplete = 'X';
constexpr char kTraceEventPhaseInstant = 'I';
constexpr char kTraceEventPhaseMetadata = 'M';
constexpr char kTraceEventPhaseFlowBegin = 's';
constexpr char kTraceEventPhaseFlowStep = 't';
constexpr char kTraceEventPhaseFlowEnd = 'f';
constexpr char kTraceEventPhaseNestableAsyncBegin = 'b';
constexpr char kTraceEventPhaseNestableAsyncEnd = 'e';

// Event flags.
constexpr uint32_t kTraceEventFlagNone = 0;
constexpr uint32_t kTraceEventFlagCopy = 1 << 0;        // name, scope and string arguments are copied
constexpr uint32_t kTraceEventFlagMangleId = 1 << 2;    // ids are made process-unique
constexpr uint32_t kTraceEventFlagFlowIn = 1 << 8;      // the event carries a bind id
constexpr uint32_t kTraceEventFlagFlowOut = 1 << 9;

// Argument value types.
constexpr unsigned char kTraceValueTypeBool = 1;
constexpr unsigned char kTraceValueTypeUint = 2;
constexpr unsigned char kTraceValueTypeInt = 3;
constexpr unsigned char kTraceValueTypeDouble = 4;
constexpr unsigned char kTraceValueTypePointer = 5;
constexpr unsigned char kTraceValueTypeString = 6;
constexpr unsigned char kTraceValueTypeCopyString = 7;
constexpr unsigned char kTraceValueTypeConvertable = 8;

constexpr int kTraceMaxNumArgs = 2;

// Names an event inside the trace buffer: the chunk's sequence number (0 = no event), the chunk's index in
// the buffer and the slot within the chunk.
struct TraceEventHandle {
  uint32_t chunk_seq = 0;
  uint32_t chunk_index : 26 = 0;
  uint32_t event_index : 6 = 0;
};
static_assert(sizeof(TraceEventHandle) == 8, "a handle is one 64-bit word");

// One 64-bit argument slot, read as its type says.
union TraceValue {
  bool as_bool;
  unsigned long long as_uint;
  long long as_int;
  double as_double;
  const void* as_pointer;
  const char* as_string;
};

// An argument that renders itself (type 8); the event that holds it owns it.
class ConvertableToTraceFormat {
 public:
  ConvertableToTraceFormat() = default;
  ConvertableToTraceFormat(const ConvertableToTraceFormat&) = delete;
  ConvertableToTraceFormat& operator=(const ConvertableToTraceFormat&) = delete;
  virtual ~ConvertableToTraceFormat() = default;

  // Appends the object's text form.
  virtual void AppendAsTraceFormat(std::string* out) const = 0;
  virtual void EstimateTraceMemoryOverhead(TraceEventMemoryOverhead* overhead);
};

class TraceEvent {
 public:
  // What one record counts for in memory accounts.
  static constexpr size_t kEstimatedSize = 144;

  TraceEvent();
  TraceEvent(const TraceEvent&) = delete;
  TraceEvent& operator=(const TraceEvent&) = delete;
  ~TraceEvent();

  // Takes over `other`'s contents (its copied strings and convertible values included) and deletes it.
  void MoveFrom(std::unique_ptr<TraceEvent> other);

  // At most two arguments are kept. Type-8 arguments take over `convertable_values[i]`. With
  // kTraceEventFlagCopy, the name, the scope, the argument names and the string values are copied into
  // storage owned by the event.
  void Initialize(int thread_id, TimeTicks timestamp, ThreadTicks thread_timestamp, char phase,
                  const unsigned char* category_group_enabled, const char* name, const char* scope,
                  unsigned long long id, unsigned long long bind_id, int num_args, const char* const* arg_names,
                  const unsigned char* arg_types, const unsigned long long* arg_values,
                  std::unique_ptr<ConvertableToTraceFormat>* convertable_values, unsigned int flags);

  // Makes the slot reusable.
  void Reset();

  void UpdateDuration(const TimeTicks& now, const ThreadTicks& thread_now);

  void EstimateTraceMemoryOverhead(TraceEventMemoryOverhead* overhead);

  // The JSON text of one argument value of type 1 to 7; other types append nothing.
  static void AppendValueAsJSON(unsigned char type, TraceValue value, std::string* out);

  // "name[category]" and, with arguments, ", {name:value, name:value}".
  void AppendPrettyPrinted(std::ostringstream* out) const;

  TimeTicks timestamp() const { return timestamp_; }
  ThreadTicks thread_timestamp() const { return thread_timestamp_; }
  TimeDelta duration() const { return duration_; }
  TimeDelta thread_duration() const { return thread_duration_; }
  const char* scope() const { return scope_; }
  unsigned long long id() const { return id_; }
  unsigned long long bind_id() const { return bind_id_; }
  unsigned int flags() const { return flags_; }
  int thread_id() const { return thread_id_; }
  char phase() const { return phase_; }
  const char* name() const { return name_; }
  const unsigned char* category_group_enabled() const { return category_group_enabled_; }
  const char* arg_name(int index) const { return arg_names_[index]; }
  unsigned char arg_type(int index) const { return arg_types_[index]; }
  TraceValue arg_value(int index) const { return arg_values_[index]; }
  const ConvertableToTraceFormat* convertable_value(int index) const { return convertable_values_[index].get(); }
  bool has_copy_storage() const { return parameter_copy_storage_ != nullptr; }
  const std::string* copy_storage() const { return parameter_copy_storage_.get(); }

 private:
  TimeTicks timestamp_;
  ThreadTicks thread_timestamp_;
  TimeDelta duration_;
  TimeDelta thread_duration_;
  const char* scope_ = nullptr;
  unsigned long long id_ = 0;
  TraceValue arg_values_[kTraceMaxNumArgs];
  const char* arg_names_[kTraceMaxNumArgs];
  std::unique_ptr<ConvertableToTraceFormat> convertable_values_[kTraceMaxNumArgs];
  const unsigned char* category_group_enabled_ = nullptr;
  const char* name_ = nullptr;
  std::unique_ptr<std::string> parameter_copy_storage_;
  int thread_id_ = 0;
  unsigned int flags_ = 0;
  unsigned long long bind_id_ = 0;
  unsigned char arg_types_[kTraceMaxNumArgs];
  char phase_ = kTraceEventPhaseBegin;
};

}  // namespace trace_event
}  // namespace base

#endif  // BASE_TRACE_EVENT_TRACE_EVENT_H_
