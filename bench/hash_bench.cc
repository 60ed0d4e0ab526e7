// Throughput of the hashes on 64 MiB: MD5 and SHA-1 (computed here) against libcrypto's own, and the
// SHA-256 secure hash against libcrypto's SHA-256 in the same process. hash_bench.sh adds the machine's
// native `openssl speed sha256` as the reference for the assembly speed.
#include <string>
#include <vector>

#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/md5.h>
#include <openssl/sha.h>

#include "base/md5.h"
#include "base/sha1.h"
#include "bench/bench_util.h"
#include "crypto/secure_hash.h"

int main() {
  std::vector<unsigned char> data(64 << 20);
  for (size_t i = 0; i < data.size(); ++i)
    data[i] = static_cast<unsigned char>(i * 2654435761u >> 24);
  const double bytes = static_cast<double>(data.size());
  unsigned char digest[64];

  const double md5 = bench::Rate(
      [&] {
        base::MD5Digest result;
        base::MD5Sum(data.data(), data.size(), &result);
        bench::DoNotOptimize(&result);
      },
      bytes);
  const double md5_libcrypto = bench::Rate(
      [&] {
        MD5(data.data(), data.size(), digest);
        bench::DoNotOptimize(digest);
      },
      bytes);
  bench::Report("MD5", md5 / 1e6, "MB/s", "libcrypto MD5", md5_libcrypto / 1e6);

  const double sha1 = bench::Rate(
      [&] {
        base::SHA1HashBytes(data.data(), data.size(), digest);
        bench::DoNotOptimize(digest);
      },
      bytes);
  const double sha1_libcrypto = bench::Rate(
      [&] {
        SHA1(data.data(), data.size(), digest);
        bench::DoNotOptimize(digest);
      },
      bytes);
  bench::Report("SHA-1", sha1 / 1e6, "MB/s", "libcrypto SHA-1", sha1_libcrypto / 1e6);
  const double sha1_portable = bench::Rate(
      [&] {
        base::internal::SHA1HashBytesWith(&base::internal::Sha1BlocksPortable, data.data(), data.size(), digest);
        bench::DoNotOptimize(digest);
      },
      bytes);
  bench::Report(std::string("SHA-1 portable code") +
                    (base::internal::ProcessorHasShaInstructions() ? "" : " (the default here)"),
                sha1_portable / 1e6, "MB/s", "libcrypto SHA-1", sha1_libcrypto / 1e6);

  const double sha256 = bench::Rate(
      [&] {
        std::unique_ptr<crypto::SecureHash> hash = crypto::SecureHash::Create(crypto::SecureHash::SHA256);
        hash->Update(data.data(), data.size());
        hash->Finish(digest, 32);
        bench::DoNotOptimize(digest);
      },
      bytes);
  const double sha256_libcrypto = bench::Rate(
      [&] {
        SHA256(data.data(), data.size(), digest);
        bench::DoNotOptimize(digest);
      },
      bytes);
  bench::Report("SecureHash SHA-256", sha256 / 1e6, "MB/s", "libcrypto SHA-256", sha256_libcrypto / 1e6);
  bench::PrintFigure("SecureHash SHA-256 under wine", sha256 / 1e6, "MB/s");
  return 0;
}
