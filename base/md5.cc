#include "base/md5.h"

#include <windows.h>

#include <cstring>

namespace base {
namespace {

struct MD5Context {
  uint32_t state[4];
  uint32_t bits[2];  // message length in bits: low, high
  uint8_t buffer[64];
};

inline uint32_t LoadLittleEndian32(const uint8_t* bytes) {
  uint32_t value;
  memcpy(&value, bytes, sizeof(value));  // x86-64 is little-endian
  return value;
}

inline uint32_t RotateLeft(uint32_t value, int count) {
  return (value << count) | (value >> (32 - count));
}

// The four auxiliary functions of the standard, in forms that need fewer operations.
inline uint32_t F(uint32_t x, uint32_t y, uint32_t z) {
  return z ^ (x & (y ^ z));
}
inline uint32_t G(uint32_t x, uint32_t y, uint32_t z) {
  return y ^ (z & (x ^ y));
}
inline uint32_t H(uint32_t x, uint32_t y, uint32_t z) {
  return x ^ y ^ z;
}
inline uint32_t I(uint32_t x, uint32_t y, uint32_t z) {
  return y ^ (x | ~z);
}

#define MD5_STEP(f, a, b, c, d, word, constant, shift) \
  a = b + RotateLeft(a + f(b, c, d) + (word) + (constant), shift)

void ProcessBlocks(uint32_t state[4], const uint8_t* data, size_t blocks) {
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
  for (; blocks > 0; --blocks, data += 64) {
    uint32_t x[16];
    for (int i = 0; i < 16; ++i)
      x[i] = LoadLittleEndian32(data + 4 * i);
    const uint32_t aa = a, bb = b, cc = c, dd = d;

    MD5_STEP(F, a, b, c, d, x[0], 0xd76aa478, 7);
    MD5_STEP(F, d, a, b, c, x[1], 0xe8c7b756, 12);
    MD5_STEP(F, c, d, a, b, x[2], 0x242070db, 17);
    MD5_STEP(F, b, c, d, a, x[3], 0xc1bdceee, 22);
    MD5_STEP(F, a, b, c, d, x[4], 0xf57c0faf, 7);
    MD5_STEP(F, d, a, b, c, x[5], 0x4787c62a, 12);
    MD5_STEP(F, c, d, a, b, x[6], 0xa8304613, 17);
    MD5_STEP(F, b, c, d, a, x[7], 0xfd469501, 22);
    MD5_STEP(F, a, b, c, d, x[8], 0x698098d8, 7);
    MD5_STEP(F, d, a, b, c, x[9], 0x8b44f7af, 12);
    MD5_STEP(F, c, d, a, b, x[10], 0xffff5bb1, 17);
    MD5_STEP(F, b, c, d, a, x[11], 0x895cd7be, 22);
    MD5_STEP(F, a, b, c, d, x[12], 0x6b901122, 7);
    MD5_STEP(F, d, a, b, c, x[13], 0xfd987193, 12);
    MD5_STEP(F, c, d, a, b, x[14], 0xa679438e, 17);
    MD5_STEP(F, b, c, d, a, x[15], 0x49b40821, 22);

    MD5_STEP(G, a, b, c, d, x[1], 0xf61e2562, 5);
    MD5_STEP(G, d, a, b, c, x[6], 0xc040b340, 9);
    MD5_STEP(G, c, d, a, b, x[11], 0x265e5a51, 14);
    MD5_STEP(G, b, c, d, a, x[0], 0xe9b6c7aa, 20);
    MD5_STEP(G, a, b, c, d, x[5], 0xd62f105d, 5);
    MD5_STEP(G, d, a, b, c, x[10], 0x02441453, 9);
    MD5_STEP(G, c, d, a, b, x[15], 0xd8a1e681, 14);
    MD5_STEP(G, b, c, d, a, x[4], 0xe7d3fbc8, 20);
    MD5_STEP(G, a, b, c, d, x[9], 0x21e1cde6, 5);
    MD5_STEP(G, d, a, b, c, x[14], 0xc33707d6, 9);
    MD5_STEP(G, c, d, a, b, x[3], 0xf4d50d87, 14);
    MD5_STEP(G, b, c, d, a, x[8], 0x455a14ed, 20);
    MD5_STEP(G, a, b, c, d, x[13], 0xa9e3e905, 5);
    MD5_STEP(G, d, a, b, c, x[2], 0xfcefa3f8, 9);
    MD5_STEP(G, c, d, a, b, x[7], 0x676f02d9, 14);
    MD5_STEP(G, b, c, d, a, x[12], 0x8d2a4c8a, 20);

    MD5_STEP(H, a, b, c, d, x[5], 0xfffa3942, 4);
    MD5_STEP(H, d, a, b, c, x[8], 0x8771f681, 11);
    MD5_STEP(H, c, d, a, b, x[11], 0x6d9d6122, 16);
    MD5_STEP(H, b, c, d, a, x[14], 0xfde5380c, 23);
    MD5_STEP(H, a, b, c, d, x[1], 0xa4beea44, 4);
    MD5_STEP(H, d, a, b, c, x[4], 0x4bdecfa9, 11);
    MD5_STEP(H, c, d, a, b, x[7], 0xf6bb4b60, 16);
    MD5_STEP(H, b, c, d, a, x[10], 0xbebfbc70, 23);
    MD5_STEP(H, a, b, c, d, x[13], 0x289b7ec6, 4);
    MD5_STEP(H, d, a, b, c, x[0], 0xeaa127fa, 11);
    MD5_STEP(H, c, d, a, b, x[3], 0xd4ef3085, 16);
    MD5_STEP(H, b, c, d, a, x[6], 0x04881d05, 23);
    MD5_STEP(H, a, b, c, d, x[9], 0xd9d4d039, 4);
    MD5_STEP(H, d, a, b, c, x[12], 0xe6db99e5, 11);
    MD5_STEP(H, c, d, a, b, x[15], 0x1fa27cf8, 16);
    MD5_STEP(H, b, c, d, a, x[2], 0xc4ac5665, 23);

    MD5_STEP(I, a, b, c, d, x[0], 0xf4292244, 6);
    MD5_STEP(I, d, a, b, c, x[7], 0x432aff97, 10);
    MD5_STEP(I, c, d, a, b, x[14], 0xab9423a7, 15);
    MD5_STEP(I, b, c, d, a, x[5], 0xfc93a039, 21);
    MD5_STEP(I, a, b, c, d, x[12], 0x655b59c3, 6);
    MD5_STEP(I, d, a, b, c, x[3], 0x8f0ccc92, 10);
    MD5_STEP(I, c, d, a, b, x[10], 0xffeff47d, 15);
    MD5_STEP(I, b, c, d, a, x[1], 0x85845dd1, 21);
    MD5_STEP(I, a, b, c, d, x[8], 0x6fa87e4f, 6);
    MD5_STEP(I, d, a, b, c, x[15], 0xfe2ce6e0, 10);
    MD5_STEP(I, c, d, a, b, x[6], 0xa3014314, 15);
    MD5_STEP(I, b, c, d, a, x[13], 0x4e0811a1, 21);
    MD5_STEP(I, a, b, c, d, x[4], 0xf7537e82, 6);
    MD5_STEP(I, d, a, b, c, x[11], 0xbd3af235, 10);
    MD5_STEP(I, c, d, a, b, x[2], 0x2ad7d2bb, 15);
    MD5_STEP(I, b, c, d, a, x[9], 0xeb86d391, 21);

    a += aa;
    b += bb;
    c += cc;
    d += dd;
  }
  state[0] = a;
  state[1] = b;
  state[2] = c;
  state[3] = d;
}

#undef MD5_STEP

void MD5Init(MD5Context* context) {
  context->state[0] = 0x67452301;
  context->state[1] = 0xefcdab89;
  context->state[2] = 0x98badcfe;
  context->state[3] = 0x10325476;
  context->bits[0] = 0;
  context->bits[1] = 0;
}

void MD5Update(MD5Context* context, const uint8_t* data, size_t length) {
  if (length == 0)
    return;
  const size_t buffered = (context->bits[0] >> 3) & 63;
  // The length in bits is kept modulo 2^64, as the standard's padding carries it.
  const uint64_t bits = ((uint64_t{context->bits[1]} << 32) | context->bits[0]) + (uint64_t{length} << 3);
  context->bits[0] = static_cast<uint32_t>(bits);
  context->bits[1] = static_cast<uint32_t>(bits >> 32);

  if (buffered) {
    const size_t room = 64 - buffered;
    if (length < room) {
      memcpy(context->buffer + buffered, data, length);
      return;
    }
    memcpy(context->buffer + buffered, data, room);
    ProcessBlocks(context->state, context->buffer, 1);
    data += room;
    length -= room;
  }
  ProcessBlocks(context->state, data, length / 64);
  data += length / 64 * 64;
  memcpy(context->buffer, data, length % 64);
}

void MD5Final(MD5Digest* digest, MD5Context* context) {
  const uint32_t bits[2] = {context->bits[0], context->bits[1]};
  const size_t buffered = (bits[0] >> 3) & 63;
  // One 0x80 byte, zeros up to 56 bytes modulo 64, then the length in bits, little-endian.
  uint8_t padding[72] = {0x80};
  const size_t padding_length = buffered < 56 ? 56 - buffered : 120 - buffered;
  memcpy(padding + padding_length, bits, sizeof(bits));
  MD5Update(context, padding, padding_length + 8);
  memcpy(digest->a, context->state, sizeof(digest->a));
}

}  // namespace

void MD5Sum(const void* data, size_t length, MD5Digest* digest) {
  MD5Context context;
  MD5Init(&context);
  MD5Update(&context, static_cast<const uint8_t*>(data), length);
  MD5Final(digest, &context);
  SecureZeroMemory(&context, sizeof(context));
}

}  // namespace base
