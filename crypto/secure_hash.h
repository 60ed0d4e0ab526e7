// A streaming cryptographic hash behind an interface; SHA-256 is the one algorithm offered (through
// libcrypto). Used to check the checksums of downloaded packages.
#ifndef CRYPTO_SECURE_HASH_H_
#define CRYPTO_SECURE_HASH_H_

#include <cstddef>
#include <cstdint>
#include <memory>

namespace crypto {

class SecureHash {
 public:
  enum Algorithm : int32_t {
    SHA256 = 0,
  };

  // A new hash object with an initialised context, or null (with an error logged) for an algorithm that
  // is not offered.
  static std::unique_ptr<SecureHash> Create(Algorithm algorithm);

  // Implementations wipe their context.
  virtual ~SecureHash() = default;
  SecureHash(const SecureHash&) = delete;
  SecureHash& operator=(const SecureHash&) = delete;

  virtual void Update(const void* input, size_t length) = 0;
  // Writes the first min(length, GetHashLength()) bytes of the digest. Call once.
  virtual void Finish(void* output, size_t length) = 0;
  virtual size_t GetHashLength() const = 0;
  // A new object in the same state, which continues independently.
  virtual std::unique_ptr<SecureHash> Clone() const = 0;

 protected:
  SecureHash() = default;
};

}  // namespace crypto

#endif  // CRYPTO_SECURE_HASH_H_
