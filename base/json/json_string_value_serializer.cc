#include "base/json/json_string_value_serializer.h"

#include "base/json/json_reader.h"
#include "base/json/json_writer.h"

namespace base {

JsonStringValueSerializer::JsonStringValueSerializer(std::string* json_string) : json_string_(json_string) {}

JsonStringValueSerializer::~JsonStringValueSerializer() = default;

bool JsonStringValueSerializer::Serialize(const Value& root) {
  if (!json_string_)
    return false;
  return JsonWriter::Write(root, json_string_);
}

JsonStringValueDeserializer::JsonStringValueDeserializer(StringPiece json_string) : json_string_(json_string) {}

JsonStringValueDeserializer::~JsonStringValueDeserializer() = default;

std::unique_ptr<Value> JsonStringValueDeserializer::Deserialize(int* error_code, std::string* error_message) {
  return JsonReader::ReadAndReturnError(json_string_, error_code, error_message);
}

}  // namespace base
