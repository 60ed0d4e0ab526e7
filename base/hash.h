// SuperFastHash: a fast, non-cryptographic 32-bit hash of a byte string (hash tables, handle maps).
#ifndef BASE_HASH_H_
#define BASE_HASH_H_

#include <cstdint>

namespace base {

// The hash of `length` bytes at `data`, seeded with the length; 0 for a null pointer or a length below 1.
// Bytes past the last whole group of four count as signed characters, so values stay those of the
// published algorithm on every compiler.
uint32_t SuperFastHash(const char* data, int length);

}  // namespace base

#endif  // BASE_HASH_H_
