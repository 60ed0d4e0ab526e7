#include "base/metrics/sample_set.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <sstream>
#include <vector>

#include "base/metrics/bucket_count_vector.h"
#include "base/metrics/bucket_range_table.h"
#include "base/metrics/metrics_test_util.h"
#include "base/metrics/sample_map.h"
#include "base/packed_buffer.h"

namespace base {
namespace {

using metrics_test::MakeTable;

// The payload a buffer should hold: little-endian fields, each on a 4-byte boundary.
class ExpectedPayload {
 public:
  ExpectedPayload& Int64(int64_t value) { return Raw(&value, 8); }
  ExpectedPayload& Int(int32_t value) { return Raw(&value, 4); }
  const std::string& bytes() const { return bytes_; }

 private:
  ExpectedPayload& Raw(const void* data, size_t size) {
    bytes_.append(static_cast<const char*>(data), size);
    return *this;
  }
  std::string bytes_;
};

std::string Payload(const PackedBuffer& buffer) {
  return std::string(buffer.payload(), buffer.payload_size());
}

// A buffer holding exactly the given payload bytes.
std::unique_ptr<PackedBuffer> BufferWithPayload(const std::string& payload) {
  auto buffer = std::make_unique<PackedBuffer>();
  if (!payload.empty())
    buffer->WriteBytes(payload.data(), static_cast<int>(payload.size()));
  return buffer;
}

TEST(SampleSetSerializationTest, EmptyContainerIsSumAndCountOnly) {
  SampleMap samples(1);
  PackedBuffer buffer;
  EXPECT_TRUE(samples.Serialize(&buffer));
  EXPECT_EQ(ExpectedPayload().Int64(0).Int(0).bytes(), Payload(buffer));
}

TEST(SampleSetSerializationTest, SampleMapWritesNonEmptyValuesInAscendingOrder) {
  SampleMap samples(1);
  samples.Accumulate(5, 2);
  samples.Accumulate(7, 1);
  samples.Accumulate(-3, 1);
  SampleMap seven(1);
  seven.Accumulate(7, 1);
  samples.Subtract(seven);  // leaves a zero entry for 7
  PackedBuffer buffer;
  samples.Serialize(&buffer);
  EXPECT_EQ(ExpectedPayload().Int64(7).Int(3).Int(-3).Int(-2).Int(1).Int(5).Int(6).Int(2).bytes(),
            Payload(buffer));
}

TEST(SampleSetSerializationTest, BucketVectorWritesItsBoundaries) {
  std::unique_ptr<BucketRangeTable> table = MakeTable({0, 1, 2, 3, 5, 9, 0x7fffffff});
  BucketCountVector samples(1, table.get());
  samples.Accumulate(4, 3);
  samples.Accumulate(0x7ffffffe, 1);
  PackedBuffer buffer;
  samples.Serialize(&buffer);
  EXPECT_EQ(ExpectedPayload()
                .Int64(12 + int64_t{0x7ffffffe})
                .Int(4)
                .Int(3).Int(5).Int(3)
                .Int(9).Int(0x7fffffff).Int(1)
                .bytes(),
            Payload(buffer));
}

TEST(SampleSetSerializationTest, RoundTripsThroughABufferView) {
  std::unique_ptr<BucketRangeTable> table = MakeTable({0, 10, 20, 40, 80, 0x7fffffff});
  BucketCountVector source(1, table.get());
  for (int value = 0; value < 200; value += 7)
    source.Accumulate(value, value % 3 + 1);
  PackedBuffer buffer;
  source.Serialize(&buffer);
  // As a receiving process sees it: a read-only view of the bytes.
  PackedBuffer view(buffer.data(), static_cast<int>(buffer.size()));
  PackedBufferReader reader(view);
  BucketCountVector target(1, table.get());
  target.Accumulate(15, 1);
  ASSERT_TRUE(target.AddFromBuffer(&reader));
  EXPECT_EQ(source.sum() + 15, target.sum());
  EXPECT_EQ(source.redundant_count() + 1, target.redundant_count());
  for (size_t i = 0; i < table->bucket_count(); ++i)
    EXPECT_EQ(source.GetCountAtIndex(i) + (i == 1 ? 1 : 0), target.GetCountAtIndex(i)) << i;

  SampleMap map_source(2);
  map_source.Accumulate(-100, 2);
  map_source.Accumulate(0x7fffffff, 3);
  PackedBuffer map_buffer;
  map_source.Serialize(&map_buffer);
  PackedBufferReader map_reader(map_buffer);
  SampleMap map_target(2);
  ASSERT_TRUE(map_target.AddFromBuffer(&map_reader));
  EXPECT_EQ(2, map_target.GetCount(-100));
  EXPECT_EQ(3, map_target.GetCount(0x7fffffff));
  EXPECT_EQ(map_source.sum(), map_target.sum());
}

TEST(SampleSetSerializationTest, BufferEndingAfterTheSumChangesNothing) {
  std::unique_ptr<PackedBuffer> buffer = BufferWithPayload(ExpectedPayload().Int64(50).bytes());
  PackedBufferReader reader(*buffer);
  SampleMap samples(1);
  EXPECT_FALSE(samples.AddFromBuffer(&reader));
  EXPECT_EQ(0, samples.sum());
  EXPECT_EQ(0, samples.redundant_count());
}

TEST(SampleSetSerializationTest, TruncatedTripleAddsSumAndCountButNoBucket) {
  std::unique_ptr<PackedBuffer> buffer =
      BufferWithPayload(ExpectedPayload().Int64(50).Int(5).Int(10).Int(11).bytes());
  PackedBufferReader reader(*buffer);
  SampleMap samples(1);
  EXPECT_TRUE(samples.AddFromBuffer(&reader));  // the list simply ends
  EXPECT_EQ(50, samples.sum());
  EXPECT_EQ(5, samples.redundant_count());
  EXPECT_EQ(0, samples.TotalCount());
}

TEST(SampleSetSerializationTest, BucketBetweenBoundariesFailsAfterAddingTheOnesBefore) {
  std::unique_ptr<BucketRangeTable> table = MakeTable({0, 10, 20, 30, 0x7fffffff});
  std::unique_ptr<PackedBuffer> buffer = BufferWithPayload(
      ExpectedPayload().Int64(100).Int(6).Int(0).Int(10).Int(2).Int(15).Int(30).Int(3).Int(30).Int(0x7fffffff).Int(1)
          .bytes());
  PackedBufferReader reader(*buffer);
  BucketCountVector samples(1, table.get());
  EXPECT_FALSE(samples.AddFromBuffer(&reader));
  EXPECT_EQ(2, samples.GetCountAtIndex(0));
  EXPECT_EQ(0, samples.GetCountAtIndex(2));
  EXPECT_EQ(0, samples.GetCountAtIndex(3));
  EXPECT_EQ(100, samples.sum());
  EXPECT_EQ(6, samples.redundant_count());
}

TEST(HashMetricNameTest, IsTheFirstEightMd5BytesReadBigEndian) {
  // name_hashes.txt comes from Python's hashlib: "hash name" per line, names in UTF-8, the first one empty.
  std::istringstream lines(metrics_test::ReadTestData(L"name_hashes.txt"));
  std::string line;
  int checked = 0;
  while (std::getline(lines, line)) {
    ASSERT_GE(line.size(), 17u);
    const uint64_t expected = std::stoull(line.substr(0, 16), nullptr, 16);
    const std::string name = line.substr(17);
    EXPECT_EQ(expected, HashMetricName(name)) << name;
    ++checked;
  }
  EXPECT_EQ(6, checked);
}

}  // namespace
}  // namespace base
