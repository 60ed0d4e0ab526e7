#include "base/hash.h"

namespace base {
namespace {

// Two bytes read as a little-endian 16-bit value, whatever the alignment.
inline uint32_t Get16Bits(const char* data) {
  return static_cast<uint32_t>(static_cast<uint8_t>(data[0])) |
         (static_cast<uint32_t>(static_cast<uint8_t>(data[1])) << 8);
}

// A tail byte as the published algorithm reads it: a signed char, widened to 32 bits two's complement.
// Converting to unsigned first keeps the shifts below defined for negative values.
inline uint32_t SignedByte(char byte) {
  return static_cast<uint32_t>(static_cast<int32_t>(static_cast<signed char>(byte)));
}

}  // namespace

uint32_t SuperFastHash(const char* data, int length) {
  if (!data || length <= 0)
    return 0;
  uint32_t hash = static_cast<uint32_t>(length);
  const int remainder = length & 3;
  for (int groups = length >> 2; groups > 0; --groups, data += 4) {
    hash += Get16Bits(data);
    const uint32_t mixed = (Get16Bits(data + 2) << 11) ^ hash;
    hash = (hash << 16) ^ mixed;
    hash += hash >> 11;
  }

  switch (remainder) {
    case 3:
      hash += Get16Bits(data);
      hash ^= hash << 16;
      hash ^= SignedByte(data[2]) << 18;
      hash += hash >> 11;
      break;
    case 2:
      hash += Get16Bits(data);
      hash ^= hash << 11;
      hash += hash >> 17;
      break;
    case 1:
      hash += SignedByte(data[0]);
      hash ^= hash << 10;
      hash += hash >> 1;
      break;
  }

  // Final avalanche of the last bits.
  hash ^= hash << 3;
  hash += hash >> 5;
  hash ^= hash << 4;
  hash += hash >> 17;
  hash ^= hash << 25;
  hash += hash >> 6;
  return hash;
}

}  // namespace base
