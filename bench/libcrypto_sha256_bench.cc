// SHA-256 throughput of the cross-built libcrypto under wine; libcrypto_sha256_bench.sh sets it against the
// native openssl of the same machine, which shows whether the assembly code paths were built in.
#include <string>
#include <vector>

#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/sha.h>

#include "bench/bench_util.h"

int main() {
  std::vector<unsigned char> data(64 << 20);
  for (size_t i = 0; i < data.size(); ++i)
    data[i] = static_cast<unsigned char>(i * 2654435761u >> 24);
  unsigned char digest[SHA256_DIGEST_LENGTH];
  double bytes_per_second = bench::Rate(
      [&] {
        SHA256_CTX context;
        SHA256_Init(&context);
        SHA256_Update(&context, data.data(), data.size());
        SHA256_Final(digest, &context);
        bench::DoNotOptimize(digest);
      },
      static_cast<double>(data.size()));
  bench::PrintFigure("libcrypto SHA-256 under wine", bytes_per_second / 1e6, "MB/s");
  return 0;
}
