// SHA-1 (FIPS 180-1), computed here. Used to name things with stable values (dump ids), not for security.
#ifndef BASE_SHA1_H_
#define BASE_SHA1_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace base {

constexpr size_t kSHA1Length = 20;

// Writes the 20-byte SHA-1 digest of `length` bytes at `data` into `hash`.
void SHA1HashBytes(const unsigned char* data, size_t length, unsigned char* hash);

// The first 8 bytes of the SHA-1 digest of `text`, read as a little-endian 64-bit number.
uint64_t Sha1OfString(const std::string& text);

namespace internal {

// The two block transforms behind SHA1HashBytes, for tests: the processor's SHA instructions are used when
// it has them, else the portable code. Each adds `blocks` 64-byte blocks at `data` to the chaining words.
using Sha1BlockFunction = void (*)(uint32_t state[5], const unsigned char* data, size_t blocks);
void Sha1BlocksPortable(uint32_t state[5], const unsigned char* data, size_t blocks);
void Sha1BlocksWithShaInstructions(uint32_t state[5], const unsigned char* data, size_t blocks);
bool ProcessorHasShaInstructions();

// SHA1HashBytes with a chosen transform.
void SHA1HashBytesWith(Sha1BlockFunction transform, const unsigned char* data, size_t length,
                       unsigned char* hash);

}  // namespace internal
}  // namespace base

#endif  // BASE_SHA1_H_
