// MD5 (RFC 1321). Not for security: it names things (metric names, dump ids) with a stable 128-bit value.
#ifndef BASE_MD5_H_
#define BASE_MD5_H_

#include <cstddef>
#include <cstdint>

namespace base {

struct MD5Digest {
  uint8_t a[16];
};

// Writes the MD5 digest of `length` bytes at `data` into `digest`.
void MD5Sum(const void* data, size_t length, MD5Digest* digest);

}  // namespace base

#endif  // BASE_MD5_H_
