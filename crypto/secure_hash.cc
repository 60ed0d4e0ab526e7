#include "crypto/secure_hash.h"

#include <algorithm>
#include <cstring>

// The product uses the SHA256_Init/Update/Final family, which OpenSSL 3 marks deprecated.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/crypto.h>
#include <openssl/sha.h>

#include "base/logging.h"

namespace crypto {
namespace {

class Sha256SecureHash : public SecureHash {
 public:
  Sha256SecureHash() { SHA256_Init(&context_); }
  Sha256SecureHash(const Sha256SecureHash& other) : SecureHash() { memcpy(&context_, &other.context_, sizeof(context_)); }
  ~Sha256SecureHash() override { OPENSSL_cleanse(&context_, sizeof(context_)); }

  void Update(const void* input, size_t length) override { SHA256_Update(&context_, input, length); }

  void Finish(void* output, size_t length) override {
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256_Final(digest, &context_);
    memcpy(output, digest, std::min(length, sizeof(digest)));
    OPENSSL_cleanse(digest, sizeof(digest));
  }

  size_t GetHashLength() const override { return SHA256_DIGEST_LENGTH; }

  std::unique_ptr<SecureHash> Clone() const override { return std::make_unique<Sha256SecureHash>(*this); }

 private:
  SHA256_CTX context_;
};

}  // namespace

std::unique_ptr<SecureHash> SecureHash::Create(Algorithm algorithm) {
  switch (algorithm) {
    case SHA256:
      return std::make_unique<Sha256SecureHash>();
  }
  NOTIMPLEMENTED();
  return nullptr;
}

}  // namespace crypto
