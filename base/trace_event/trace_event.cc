#include "base/trace_event/trace_event.h"

#include <cmath>
#include <cstring>

#include "base/json/json_writer.h"
#include "base/json/string_escape.h"
#include "base/logging.h"
#include "base/strings/stringprintf.h"
#include "base/trace_event/trace_event_memory_overhead.h"
#include "base/trace_event/trace_log.h"
#include "base/values.h"

namespace base {
namespace trace_event {

namespace {


size_t GetAllocLength(const char* str) {
  return str ? strlen(str) + 1 : 0;
}

// Copies *member into the storage at *buffer and points *member at the copy.
void CopyTraceEventParameter(char** buffer, const char** member, const char* end) {
  if (!*member)
    return;
  const size_t written = strlen(*member) + 1;
  CHECK(static_cast<size_t>(end - *buffer) >= written);
  memcpy(*buffer, *member, written);
  *member = *buffer;
  *buffer += written;
}

}  // namespace

void ConvertableToTraceFormat::EstimateTraceMemoryOverhead(TraceEventMemoryOverhead* overhead) {
  overhead->Add(kUnknownConvertableOverheadName, sizeof(*this));
}

TraceEvent::TraceEvent() : duration_(TimeDelta::FromInternalValue(-1)) {
  for (int i = 0; i < kTraceMaxNumArgs; ++i) {
    arg_names_[i] = nullptr;
    arg_values_[i].as_uint = 0;
    arg_types_[i] = kTraceValueTypeUint;
  }
}

TraceEvent::~TraceEvent() = default;

void TraceEvent::MoveFrom(std::unique_ptr<TraceEvent> other) {
  timestamp_ = other->timestamp_;
  thread_timestamp_ = other->thread_timestamp_;
  duration_ = other->duration_;
  thread_duration_ = other->thread_duration_;
  scope_ = other->scope_;
  id_ = other->id_;
  bind_id_ = other->bind_id_;
  category_group_enabled_ = other->category_group_enabled_;
  name_ = other->name_;
  thread_id_ = other->thread_id_;
  phase_ = other->phase_;
  flags_ = other->flags_;
  parameter_copy_storage_ = std::move(other->parameter_copy_storage_);
  for (int i = 0; i < kTraceMaxNumArgs; ++i) {
    arg_names_[i] = other->arg_names_[i];
    arg_types_[i] = other->arg_types_[i];
    arg_values_[i] = other->arg_values_[i];
    convertable_values_[i] = std::move(other->convertable_values_[i]);
  }
}

void TraceEvent::Initialize(int thread_id, TimeTicks timestamp, ThreadTicks thread_timestamp, char phase,
                            const unsigned char* category_group_enabled, const char* name, const char* scope,
                            unsigned long long id, unsigned long long bind_id, int num_args,
                            const char* const* arg_names, const unsigned char* arg_types,
                            const unsigned long long* arg_values,
                            std::unique_ptr<ConvertableToTraceFormat>* convertable_values, unsigned int flags) {
  timestamp_ = timestamp;
  thread_timestamp_ = thread_timestamp;
  duration_ = TimeDelta::FromInternalValue(-1);
  id_ = id;
  category_group_enabled_ = category_group_enabled;
  phase_ = phase;
  bind_id_ = bind_id;
  thread_id_ = thread_id;
  scope_ = scope;
  name_ = name;
  flags_ = flags;

  if (num_args < 0)
    num_args = 0;
  if (num_args > kTraceMaxNumArgs)
    num_args = kTraceMaxNumArgs;
  int i = 0;
  for (; i < num_args; ++i) {
    arg_names_[i] = arg_names[i];
    arg_types_[i] = arg_types[i];
    if (arg_types[i] == kTraceValueTypeConvertable) {
      convertable_values_[i] = std::move(convertable_values[i]);
    } else {
      memcpy(&arg_values_[i], &arg_values[i], sizeof(arg_values_[i]));
      convertable_values_[i].reset();
    }
  }
  for (; i < kTraceMaxNumArgs; ++i) {
    arg_names_[i] = nullptr;
    arg_values_[i].as_uint = 0;
    convertable_values_[i].reset();
    arg_types_[i] = kTraceValueTypeUint;
  }

  const bool copy = (flags & kTraceEventFlagCopy) != 0;
  size_t alloc_size = 0;
  if (copy) {
    alloc_size += GetAllocLength(name) + GetAllocLength(scope);
    for (i = 0; i < num_args; ++i) {
      alloc_size += GetAllocLength(arg_names_[i]);
      if (arg_types_[i] == kTraceValueTypeString)
        arg_types_[i] = kTraceValueTypeCopyString;
    }
  }
  bool arg_is_copy[kTraceMaxNumArgs] = {};
  for (i = 0; i < num_args; ++i) {
    arg_is_copy[i] = arg_types_[i] == kTraceValueTypeCopyString;
    if (arg_is_copy[i])
      alloc_size += GetAllocLength(arg_values_[i].as_string);
  }
  if (!alloc_size)
    return;

  parameter_copy_storage_ = std::make_unique<std::string>(alloc_size, '\0');
  char* ptr = &(*parameter_copy_storage_)[0];
  const char* end = ptr + alloc_size;
  if (copy) {
    CopyTraceEventParameter(&ptr, &name_, end);
    CopyTraceEventParameter(&ptr, &scope_, end);
    for (i = 0; i < num_args; ++i)
      CopyTraceEventParameter(&ptr, &arg_names_[i], end);
  }
  for (i = 0; i < num_args; ++i) {
    if (arg_is_copy[i])
      CopyTraceEventParameter(&ptr, &arg_values_[i].as_string, end);
  }
}

void TraceEvent::Reset() {
  duration_ = TimeDelta::FromInternalValue(-1);
  parameter_copy_storage_.reset();
  for (int i = 0; i < kTraceMaxNumArgs; ++i)
    convertable_values_[i].reset();
}

void TraceEvent::UpdateDuration(const TimeTicks& now, const ThreadTicks& thread_now) {
  duration_ = now - timestamp_;
  if (!thread_timestamp_.is_null())
    thread_duration_ = thread_now - thread_timestamp_;
}

void TraceEvent::EstimateTraceMemoryOverhead(TraceEventMemoryOverhead* overhead) {
  overhead->Add(kTraceEventOverheadName, kEstimatedSize);
  if (parameter_copy_storage_)
    overhead->AddString(*parameter_copy_storage_);
  for (int i = 0; i < kTraceMaxNumArgs; ++i) {
    if (arg_types_[i] == kTraceValueTypeConvertable && convertable_values_[i])
      convertable_values_[i]->EstimateTraceMemoryOverhead(overhead);
  }
}

// static
void TraceEvent::AppendValueAsJSON(unsigned char type, TraceValue value, std::string* out) {
  switch (type) {
    case kTraceValueTypeBool:
      *out += value.as_bool ? "true" : "false";
      break;
    case kTraceValueTypeUint:
      StringAppendF(out, "%llu", value.as_uint);
      break;
    case kTraceValueTypeInt:
      StringAppendF(out, "%lld", value.as_int);
      break;
    case kTraceValueTypeDouble: {
      const double val = value.as_double;
      if (std::isfinite(val)) {
        // The JSON writer's form: the shortest text that reads back, always marked as a double.
        std::string real;
        JsonWriter::Write(ScalarValue(val), &real);
        out->append(real);
      } else if (std::isnan(val)) {
        out->append("\"NaN\"");
      } else if (val < 0) {
        out->append("\"-Infinity\"");
      } else {
        out->append("\"Infinity\"");
      }
      break;
    }
    case kTraceValueTypePointer:
      StringAppendF(out, "\"0x%llx\"",
                    static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(value.as_pointer)));
      break;
    case kTraceValueTypeString:
    case kTraceValueTypeCopyString:
      EscapeJsonStringImpl(value.as_string ? value.as_string : "NULL", true, out);
      break;
    default:
      break;
  }
}

void TraceEvent::AppendPrettyPrinted(std::ostringstream* out) const {
  *out << name_ << "[";
  *out << TraceLog::GetCategoryGroupName(category_group_enabled_);
  *out << "]";
  if (arg_names_[0]) {
    *out << ", {";
    for (int i = 0; i < kTraceMaxNumArgs && arg_names_[i]; ++i) {
      if (i > 0)
        *out << ", ";
      *out << arg_names_[i] << ":";
      std::string value_as_text;
      if (convertable_values_[i])
        convertable_values_[i]->AppendAsTraceFormat(&value_as_text);
      else
        AppendValueAsJSON(arg_types_[i], arg_values_[i], &value_as_text);
      *out << value_as_text;
    }
    *out << "}";
  }
}

}  // namespace trace_event
}  // namespace base
