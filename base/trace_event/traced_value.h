// A structured trace argument: dictionaries, arrays and scalars written as a flat stream of markers into a
// packed buffer, turned into a value tree (and from there into JSON) only when it is rendered.
#ifndef BASE_TRACE_EVENT_TRACED_VALUE_H_
#define BASE_TRACE_EVENT_TRACED_VALUE_H_

#include <memory>
#include <string>

#include "base/packed_buffer.h"
#include "base/trace_event/trace_event.h"

namespace base {

class DictionaryValue;

namespace trace_event {

inline constexpr char kTracedValueOverheadName[] = "TracedValue";

class TracedValue : public ConvertableToTraceFormat {
 public:
  // Stream markers.
  static constexpr char kStartDictionary = '{';
  static constexpr char kEndDictionary = '}';
  static constexpr char kStartArray = '[';
  static constexpr char kEndArray = ']';
  static constexpr char kTypeBool = 'b';
  static constexpr char kTypeInt = 'i';
  static constexpr char kTypeDouble = 'd';
  static constexpr char kTypeString = 's';
  // Key markers: the address of a literal name, or a copy of the name.
  static constexpr char kKeyIsPointer = '*';
  static constexpr char kKeyIsCopy = 's';

  TracedValue();
  ~TracedValue() override;

  // Names are literals: only their address is stored, so they must outlive the value.
  void BeginDictionary(const char* name);
  void EndDictionary();
  void SetString(const char* name, const std::string& value);

  std::unique_ptr<DictionaryValue> ToBaseValue() const;
  // Reads any stream of the format, including the markers this class does not write.
  static std::unique_ptr<DictionaryValue> StreamToBaseValue(const PackedBuffer& stream);

  void AppendAsTraceFormat(std::string* out) const override;
  void EstimateTraceMemoryOverhead(TraceEventMemoryOverhead* overhead) override;

  // The stream, for readers that check its layout.
  const PackedBuffer& packed_buffer() const { return pickle_; }

 private:
  void WriteMarker(char marker);
  void WriteKeyPointer(const char* name);

  PackedBuffer pickle_;
};

}  // namespace trace_event
}  // namespace base

#endif  // BASE_TRACE_EVENT_TRACED_VALUE_H_
