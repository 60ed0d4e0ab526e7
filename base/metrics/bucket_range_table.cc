#include "base/metrics/bucket_range_table.h"

#include <array>

#include "base/logging.h"

namespace base {
namespace {

// The table-driven CRC-32 of IEEE 802.3, in its reflected form.
constexpr std::array<uint32_t, 256> MakeCrcTable() {
  std::array<uint32_t, 256> table{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t crc = i;
    for (int bit = 0; bit < 8; ++bit)
      crc = (crc & 1) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    table[i] = crc;
  }
  return table;
}
constexpr std::array<uint32_t, 256> kCrcTable = MakeCrcTable();

uint32_t Crc32Update(uint32_t crc, uint32_t value) {
  for (int i = 0; i < 4; ++i) {
    crc = kCrcTable[(crc ^ value) & 0xff] ^ (crc >> 8);
    value >>= 8;
  }
  return crc;
}

}  // namespace

BucketRangeTable::BucketRangeTable(size_t num_ranges) : ranges_(num_ranges, 0) {
  CHECK(num_ranges >= 1);
}

void BucketRangeTable::set_range(size_t i, Sample value) {
  CHECK(i < ranges_.size());
  CHECK(value >= 0);
  ranges_[i] = value;
}

uint32_t BucketRangeTable::CalculateChecksum() const {
  uint32_t crc = static_cast<uint32_t>(ranges_.size());
  for (Sample boundary : ranges_)
    crc = Crc32Update(crc, static_cast<uint32_t>(boundary));
  return crc;
}

bool BucketRangeTable::Equals(const BucketRangeTable* other) const {
  return checksum_ == other->checksum_ && ranges_ == other->ranges_;
}

}  // namespace base
