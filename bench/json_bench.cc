// JSON reading and writing throughput against two reference libraries, compiled into this executable with the
// same compiler and flags and run on the same generated documents in the same process. The references are
// used here only; the product never links them.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <random>
#include <string>

#include <nlohmann/json.hpp>
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "base/json/json_reader.h"
#include "base/json/json_writer.h"
#include "base/values.h"
#include "bench/bench_util.h"

namespace {

// A document of about `target_bytes`: an array of records with nested objects, long strings (some with
// escapes and non-ASCII text) and many integers and doubles.
std::string MakeDocument(size_t target_bytes, uint32_t seed) {
  std::mt19937 random(seed);
  std::string json = "{\"generator\":\"bench\",\"records\":[";
  char number[64];
  for (int record = 0; json.size() < target_bytes; ++record) {
    if (record)
      json += ',';
    snprintf(number, sizeof(number), "{\"id\":%d,\"score\":%.17g,\"ratio\":%g,", record,
             static_cast<double>(random()) / 7919.0, static_cast<double>(random() % 100000) / 1000.0);
    json += number;
    json += "\"name\":\"record number ";
    json += std::to_string(record);
    json += "\",\"text\":\"";
    const int words = 20 + static_cast<int>(random() % 200);
    for (int w = 0; w < words; ++w) {
      switch (random() % 40) {
        case 0:
          json += "caf\xc3\xa9 ";
          break;
        case 1:
          json += "line\\nbreak ";
          break;
        case 2:
          json += "\\\"quoted\\\" ";
          break;
        default:
          json += "lorem ipsum ";
          break;
      }
    }
    json += "\",\"values\":[";
    const int values = 10 + static_cast<int>(random() % 40);
    for (int v = 0; v < values; ++v) {
      if (v)
        json += ',';
      if (v % 3 == 0)
        snprintf(number, sizeof(number), "%.6g", static_cast<double>(random()) / 3.0);
      else
        snprintf(number, sizeof(number), "%d", static_cast<int>(random() % 2000000) - 1000000);
      json += number;
    }
    json += "],\"nested\":{\"level1\":{\"level2\":{\"level3\":{\"flag\":";
    json += random() % 2 ? "true" : "false";
    json += ",\"empty\":null,\"list\":[{\"k\":\"v\"},{\"k\":\"w\"}]}}},\"tags\":[\"alpha\",\"beta\",\"gamma\"]}}";
  }
  json += "]}";
  return json;
}

void Measure(const char* label, const std::string& document) {
  const double megabytes = static_cast<double>(document.size()) / 1e6;
  printf("%s document: %.2f MB\n", label, megabytes);

  // The three parse results must agree, or the comparison would be of unequal work.
  std::unique_ptr<base::Value> ours = base::JsonReader::Read(document);
  rapidjson::Document rapid;
  rapid.Parse(document.data(), document.size());
  nlohmann::json lohmann = nlohmann::json::parse(document);
  const base::DictionaryValue* root = nullptr;
  const base::ListValue* records = nullptr;
  if (!ours || !ours->GetAsDictionary(&root) || !root->GetList("records", &records) || rapid.HasParseError() ||
      records->GetSize() != rapid["records"].Size() || records->GetSize() != lohmann["records"].size()) {
    printf("the parsers disagree on the %s document\n", label);
    return;
  }

  const double read_ours = bench::Rate(
      [&] {
        std::unique_ptr<base::Value> value = base::JsonReader::Read(document);
        bench::DoNotOptimize(value.get());
      },
      megabytes);
  const double read_rapid = bench::Rate(
      [&] {
        rapidjson::Document parsed;
        parsed.Parse(document.data(), document.size());
        bench::DoNotOptimize(&parsed);
      },
      megabytes);
  const double read_lohmann = bench::Rate(
      [&] {
        nlohmann::json parsed = nlohmann::json::parse(document);
        bench::DoNotOptimize(&parsed);
      },
      megabytes);
  bench::Report(std::string("read ") + label + ": ours", read_ours, "MB/s", "nlohmann/json", read_lohmann);
  bench::Report(std::string("read ") + label + ": ours", read_ours, "MB/s", "RapidJSON", read_rapid);

  std::string out;
  const double write_ours = bench::Rate(
      [&] {
        base::JsonWriter::Write(*ours, &out);
        bench::DoNotOptimize(out.data());
      },
      megabytes);
  const double write_rapid = bench::Rate(
      [&] {
        rapidjson::StringBuffer buffer;
        rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
        rapid.Accept(writer);
        bench::DoNotOptimize(buffer.GetString());
      },
      megabytes);
  const double write_lohmann = bench::Rate(
      [&] {
        std::string dumped = lohmann.dump();
        bench::DoNotOptimize(dumped.data());
      },
      megabytes);
  bench::Report(std::string("write ") + label + ": ours", write_ours, "MB/s", "nlohmann/json", write_lohmann);
  bench::Report(std::string("write ") + label + ": ours", write_ours, "MB/s", "RapidJSON", write_rapid);
}

}  // namespace

int main() {
  Measure("1 MiB", MakeDocument(1 << 20, 1));
  Measure("20 MiB", MakeDocument(20 << 20, 2));
  return 0;
}
