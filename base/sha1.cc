#include "base/sha1.h"

#include <windows.h>

#include <cpuid.h>
#include <immintrin.h>

#include <cstring>

namespace base {
namespace internal {
namespace {

inline uint32_t LoadBigEndian32(const unsigned char* bytes) {
  uint32_t value;
  memcpy(&value, bytes, sizeof(value));
  return __builtin_bswap32(value);
}

inline void StoreBigEndian32(unsigned char* bytes, uint32_t value) {
  value = __builtin_bswap32(value);
  memcpy(bytes, &value, sizeof(value));
}

inline uint32_t RotateLeft(uint32_t value, int count) {
  return (value << count) | (value >> (32 - count));
}

// The functions of the four rounds, in forms that need fewer operations.
inline uint32_t Choose(uint32_t b, uint32_t c, uint32_t d) {
  return d ^ (b & (c ^ d));
}
inline uint32_t Parity(uint32_t b, uint32_t c, uint32_t d) {
  return b ^ c ^ d;
}
inline uint32_t Majority(uint32_t b, uint32_t c, uint32_t d) {
  return (b & c) | (d & (b | c));
}

constexpr uint32_t kK0 = 0x5a827999;
constexpr uint32_t kK1 = 0x6ed9eba1;
constexpr uint32_t kK2 = 0x8f1bbcdc;
constexpr uint32_t kK3 = 0xca62c1d6;

// The message schedule kept as 16 words that are overwritten in place: W[t] for t >= 16 lands where
// W[t - 16] was.
#define SHA1_SCHEDULE(w, t) \
  (w[(t) & 15] = RotateLeft(w[((t) + 13) & 15] ^ w[((t) + 8) & 15] ^ w[((t) + 2) & 15] ^ w[(t) & 15], 1))

#define SHA1_ROUND(a, b, c, d, e, f, k, word) \
  do {                                        \
    e += RotateLeft(a, 5) + f(b, c, d) + (k) + (word); \
    b = RotateLeft(b, 30);                    \
  } while (0)

// Five rounds rotate the roles of the working words back to where they started.
#define SHA1_FIVE_LOADED(t, f, k)                               \
  SHA1_ROUND(a, b, c, d, e, f, k, w[(t) + 0]);                  \
  SHA1_ROUND(e, a, b, c, d, f, k, w[(t) + 1]);                  \
  SHA1_ROUND(d, e, a, b, c, f, k, w[(t) + 2]);                  \
  SHA1_ROUND(c, d, e, a, b, f, k, w[(t) + 3]);                  \
  SHA1_ROUND(b, c, d, e, a, f, k, w[(t) + 4])

#define SHA1_FIVE(t, f, k)                                      \
  SHA1_ROUND(a, b, c, d, e, f, k, SHA1_SCHEDULE(w, (t) + 0));   \
  SHA1_ROUND(e, a, b, c, d, f, k, SHA1_SCHEDULE(w, (t) + 1));   \
  SHA1_ROUND(d, e, a, b, c, f, k, SHA1_SCHEDULE(w, (t) + 2));   \
  SHA1_ROUND(c, d, e, a, b, f, k, SHA1_SCHEDULE(w, (t) + 3));   \
  SHA1_ROUND(b, c, d, e, a, f, k, SHA1_SCHEDULE(w, (t) + 4))

// Four SHA-1 rounds per instruction. `kGroup` (0 to 19) numbers the groups of four rounds; the message words
// of group g sit in msg[g % 4] and are derived, three groups ahead, from those of groups g - 4 to g - 1.
template <int kGroup>
__attribute__((target("sha,sse4.1,ssse3"), always_inline)) inline void ShaInstructionGroup(__m128i& abcd,
                                                                                            __m128i (&e)[2],
                                                                                            __m128i (&msg)[4]) {
  __m128i& e_this = e[kGroup % 2];
  __m128i& e_next = e[(kGroup + 1) % 2];
  if constexpr (kGroup == 0)
    e_this = _mm_add_epi32(e_this, msg[0]);
  else
    e_this = _mm_sha1nexte_epu32(e_this, msg[kGroup % 4]);
  e_next = abcd;
  if constexpr (kGroup >= 3 && kGroup <= 18)
    msg[(kGroup + 1) % 4] = _mm_sha1msg2_epu32(msg[(kGroup + 1) % 4], msg[kGroup % 4]);
  abcd = _mm_sha1rnds4_epu32(abcd, e_this, kGroup / 5);
  if constexpr (kGroup >= 1 && kGroup <= 16)
    msg[(kGroup + 3) % 4] = _mm_sha1msg1_epu32(msg[(kGroup + 3) % 4], msg[kGroup % 4]);
  if constexpr (kGroup >= 2 && kGroup <= 17)
    msg[(kGroup + 2) % 4] = _mm_xor_si128(msg[(kGroup + 2) % 4], msg[kGroup % 4]);
}

template <int... kGroups>
__attribute__((target("sha,sse4.1,ssse3"), always_inline)) inline void ShaInstructionRounds(
    __m128i& abcd, __m128i (&e)[2], __m128i (&msg)[4], std::integer_sequence<int, kGroups...>) {
  (ShaInstructionGroup<kGroups>(abcd, e, msg), ...);
}

}  // namespace

void Sha1BlocksPortable(uint32_t state[5], const unsigned char* data, size_t blocks) {
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];
  for (; blocks > 0; --blocks, data += 64) {
    uint32_t w[16];
    for (int i = 0; i < 16; ++i)
      w[i] = LoadBigEndian32(data + 4 * i);
    const uint32_t aa = a, bb = b, cc = c, dd = d, ee = e;
    SHA1_FIVE_LOADED(0, Choose, kK0);
    SHA1_FIVE_LOADED(5, Choose, kK0);
    SHA1_FIVE_LOADED(10, Choose, kK0);
    SHA1_ROUND(a, b, c, d, e, Choose, kK0, w[15]);
    SHA1_ROUND(e, a, b, c, d, Choose, kK0, SHA1_SCHEDULE(w, 16));
    SHA1_ROUND(d, e, a, b, c, Choose, kK0, SHA1_SCHEDULE(w, 17));
    SHA1_ROUND(c, d, e, a, b, Choose, kK0, SHA1_SCHEDULE(w, 18));
    SHA1_ROUND(b, c, d, e, a, Choose, kK0, SHA1_SCHEDULE(w, 19));
    SHA1_FIVE(20, Parity, kK1);
    SHA1_FIVE(25, Parity, kK1);
    SHA1_FIVE(30, Parity, kK1);
    SHA1_FIVE(35, Parity, kK1);
    SHA1_FIVE(40, Majority, kK2);
    SHA1_FIVE(45, Majority, kK2);
    SHA1_FIVE(50, Majority, kK2);
    SHA1_FIVE(55, Majority, kK2);
    SHA1_FIVE(60, Parity, kK3);
    SHA1_FIVE(65, Parity, kK3);
    SHA1_FIVE(70, Parity, kK3);
    SHA1_FIVE(75, Parity, kK3);
    a += aa;
    b += bb;
    c += cc;
    d += dd;
    e += ee;
  }
  state[0] = a;
  state[1] = b;
  state[2] = c;
  state[3] = d;
  state[4] = e;
}

#undef SHA1_FIVE
#undef SHA1_FIVE_LOADED
#undef SHA1_ROUND
#undef SHA1_SCHEDULE

__attribute__((target("sha,sse4.1,ssse3"))) void Sha1BlocksWithShaInstructions(uint32_t state[5],
                                                                                const unsigned char* data,
                                                                                size_t blocks) {
  // Bytes reversed across the whole register: the first big-endian word lands in the top lane, where the
  // instructions expect word 0.
  const __m128i kReverseBytes = _mm_set_epi64x(0x0001020304050607ULL, 0x08090a0b0c0d0e0fULL);
  __m128i abcd = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0x1b);
  __m128i e_start = _mm_set_epi32(static_cast<int>(state[4]), 0, 0, 0);
  for (; blocks > 0; --blocks, data += 64) {
    const __m128i abcd_start = abcd;
    __m128i msg[4];
    for (int i = 0; i < 4; ++i)
      msg[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * i)), kReverseBytes);
    __m128i e[2] = {e_start, _mm_setzero_si128()};
    ShaInstructionRounds(abcd, e, msg, std::make_integer_sequence<int, 20>());
    // e[0] holds the working words from before the last group: their rotated A is the final E.
    e_start = _mm_sha1nexte_epu32(e[0], e_start);
    abcd = _mm_add_epi32(abcd, abcd_start);
  }
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_shuffle_epi32(abcd, 0x1b));
  state[4] = static_cast<uint32_t>(_mm_extract_epi32(e_start, 3));
}

bool ProcessorHasShaInstructions() {
  unsigned int eax, ebx, ecx, edx;
  if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx))
    return false;
  const bool has_ssse3_and_sse41 = (ecx & bit_SSSE3) && (ecx & bit_SSE4_1);
  if (!__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx))
    return false;
  return has_ssse3_and_sse41 && (ebx & bit_SHA);
}

void SHA1HashBytesWith(Sha1BlockFunction transform, const unsigned char* data, size_t length,
                       unsigned char* hash) {
  uint32_t state[5] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476, 0xc3d2e1f0};
  const uint64_t bits = uint64_t{length} << 3;
  transform(state, data, length / 64);

  // The final block(s): the rest of the message, one 0x80 byte, zeros up to 56 bytes modulo 64 and the
  // length in bits, big-endian.
  unsigned char tail[128] = {};
  const size_t rest = length % 64;
  if (rest)
    memcpy(tail, data + length - rest, rest);
  tail[rest] = 0x80;
  const size_t tail_length = rest < 56 ? 64 : 128;
  StoreBigEndian32(tail + tail_length - 8, static_cast<uint32_t>(bits >> 32));
  StoreBigEndian32(tail + tail_length - 4, static_cast<uint32_t>(bits));
  transform(state, tail, tail_length / 64);

  for (int i = 0; i < 5; ++i)
    StoreBigEndian32(hash + 4 * i, state[i]);
  SecureZeroMemory(state, sizeof(state));
  SecureZeroMemory(tail, sizeof(tail));
}

}  // namespace internal

void SHA1HashBytes(const unsigned char* data, size_t length, unsigned char* hash) {
  static const internal::Sha1BlockFunction transform = internal::ProcessorHasShaInstructions()
                                                           ? &internal::Sha1BlocksWithShaInstructions
                                                           : &internal::Sha1BlocksPortable;
  internal::SHA1HashBytesWith(transform, data, length, hash);
}

uint64_t Sha1OfString(const std::string& text) {
  unsigned char hash[kSHA1Length];
  SHA1HashBytes(reinterpret_cast<const unsigned char*>(text.data()), text.size(), hash);
  uint64_t value;
  memcpy(&value, hash, sizeof(value));  // little-endian, as x86-64 stores it
  return value;
}

}  // namespace base
