// Value trees to and from JSON text held in memory.
#ifndef BASE_JSON_JSON_STRING_VALUE_SERIALIZER_H_
#define BASE_JSON_JSON_STRING_VALUE_SERIALIZER_H_

#include <memory>
#include <string>

#include "base/strings/string_piece.h"
#include "base/values.h"

namespace base {

class JsonStringValueSerializer : public ValueSerializer {
 public:
  // `json_string` (not owned) receives the text; without one every Serialize fails.
  explicit JsonStringValueSerializer(std::string* json_string);
  ~JsonStringValueSerializer() override;

  bool Serialize(const Value& root) override;

 private:
  std::string* json_string_;
};

class JsonStringValueDeserializer : public ValueDeserializer {
 public:
  // `json_string` must outlive the deserializer.
  explicit JsonStringValueDeserializer(StringPiece json_string);
  ~JsonStringValueDeserializer() override;

  // The message carries the line and the column of the error.
  std::unique_ptr<Value> Deserialize(int* error_code, std::string* error_message) override;

 private:
  StringPiece json_string_;
};

}  // namespace base

#endif  // BASE_JSON_JSON_STRING_VALUE_SERIALIZER_H_
