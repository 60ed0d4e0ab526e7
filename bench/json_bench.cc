// JSON reading and writing throughput against two reference libraries, compiled into this executable with the
// same compiler and flags and run on the same generated documents in the same process. The references are
// used here only; the product never links them.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

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

// The rates of several bodies (each doing `megabytes` of work), measured in turns over a few rounds so that
// they see the same machine load; each body's best round counts.
std::vector<double> BestRates(const std::vector<std::function<void()>>& bodies, double megabytes) {
  const int kRounds = bench::Sized(5, 1);
  std::vector<double> best(bodies.size(), 0.0);
  for (int round = 0; round < kRounds; ++round) {
    for (size_t i = 0; i < bodies.size(); ++i)
      best[i] = std::max(best[i], bench::Rate(bodies[i], megabytes, 0.3));
  }
  return best;
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

  // Reading includes freeing the result, for all three.
  const std::vector<double> read = BestRates(
      {[&] {
         std::unique_ptr<base::Value> value = base::JsonReader::Read(document);
         bench::DoNotOptimize(value.get());
       },
       [&] {
         rapidjson::Document parsed;
         parsed.Parse(document.data(), document.size());
         bench::DoNotOptimize(&parsed);
       },
       [&] {
         nlohmann::json parsed = nlohmann::json::parse(document);
         bench::DoNotOptimize(&parsed);
       }},
      megabytes);
  bench::Report(std::string("read ") + label + ": ours", read[0], "MB/s", "nlohmann/json", read[2]);
  bench::Report(std::string("read ") + label + ": ours", read[0], "MB/s", "RapidJSON", read[1]);

  std::string out;
  const std::vector<double> write = BestRates(
      {[&] {
         base::JsonWriter::Write(*ours, &out);
         bench::DoNotOptimize(out.data());
       },
       [&] {
         rapidjson::StringBuffer buffer;
         rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
         rapid.Accept(writer);
         bench::DoNotOptimize(buffer.GetString());
       },
       [&] {
         std::string dumped = lohmann.dump();
         bench::DoNotOptimize(dumped.data());
       }},
      megabytes);
  bench::Report(std::string("write ") + label + ": ours", write[0], "MB/s", "nlohmann/json", write[2]);
  bench::Report(std::string("write ") + label + ": ours", write[0], "MB/s", "RapidJSON", write[1]);
}

}  // namespace

int main() {
  Measure("1 MiB", MakeDocument(1 << 20, 1));
  if (!bench::Smoke())
    Measure("20 MiB", MakeDocument(20 << 20, 2));
  return 0;
}
