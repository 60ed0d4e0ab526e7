#include "base/json/json_writer.h"

#include "base/json/json_parser.h"
#include "base/json/string_escape.h"
#include "base/strings/string_number_conversions.h"
#include "base/values.h"

namespace base {

namespace {

void AppendDouble(double value, std::string* json) {
  std::string text = DoubleToString(value);
  // Keep the value a double when read back, and make ".5" and "-.5" valid JSON.
  if (text.find_first_of(".eE") == std::string::npos)
    text.append(".0");
  if (text[0] == '.')
    text.insert(0, 1, '0');
  else if (text[0] == '-' && text[1] == '.')
    text.insert(1, 1, '0');
  json->append(text);
}

void AppendString(const Value& node, std::string* json) {
  const StringValue* string_value = nullptr;
  if (node.GetAsString(&string_value)) {
    EscapeJsonStringImpl(string_value->GetString(), true, json);
    return;
  }
  // The parser's string views are written straight from the text they view.
  if (const auto* view = dynamic_cast<const internal::JsonStringPieceValue*>(&node)) {
    EscapeJsonStringImpl(view->text(), true, json);
    return;
  }
  std::string text;
  node.GetAsString(&text);
  EscapeJsonStringImpl(text, true, json);
}

void AppendNode(const Value& node, std::string* json) {
  switch (node.GetType()) {
    case Value::kTypeNull:
      json->append("null");
      return;
    case Value::kTypeBoolean: {
      bool value = false;
      node.GetAsBoolean(&value);
      json->append(value ? "true" : "false");
      return;
    }
    case Value::kTypeInteger: {
      int value = 0;
      node.GetAsInteger(&value);
      json->append(IntToString(value));
      return;
    }
    case Value::kTypeDouble: {
      double value = 0;
      node.GetAsDouble(&value);
      AppendDouble(value, json);
      return;
    }
    case Value::kTypeString:
      AppendString(node, json);
      return;
    case Value::kTypeDictionary: {
      const DictionaryValue* dictionary = nullptr;
      node.GetAsDictionary(&dictionary);
      json->push_back('{');
      bool first = true;
      for (DictionaryValue::Iterator it(*dictionary); !it.IsAtEnd(); it.Advance()) {
        if (!first)
          json->push_back(',');
        first = false;
        EscapeJsonStringImpl(it.key(), true, json);
        json->push_back(':');
        AppendNode(it.value(), json);
      }
      json->push_back('}');
      return;
    }
    case Value::kTypeList: {
      const ListValue* list = nullptr;
      node.GetAsList(&list);
      json->push_back('[');
      bool first = true;
      for (const auto& child : *list) {
        if (!first)
          json->push_back(',');
        first = false;
        AppendNode(*child, json);
      }
      json->push_back(']');
      return;
    }
    default:
      // No node of the binary kind is ever made.
      return;
  }
}

}  // namespace

// static
bool JsonWriter::Write(const Value& node, std::string* json) {
  json->clear();
  json->reserve(1024);
  AppendNode(node, json);
  return true;
}

}  // namespace base
