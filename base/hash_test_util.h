// Reads the outside-oracle lists that testdata_setup.sh writes ("<hex digest>  <file name>" per line, as
// md5sum and its kin print them) together with the files they describe.
#ifndef BASE_HASH_TEST_UTIL_H_
#define BASE_HASH_TEST_UTIL_H_

#include <string>
#include <vector>

namespace base {

struct HashOracleEntry {
  std::string expected_hex;
  std::string file_name;
  std::string contents;
};

// The entries of the list `list_name` in the test data's "hash" folder; empty when it cannot be read.
std::vector<HashOracleEntry> ReadHashOracle(const std::wstring& list_name);

// Lower-case hexadecimal of the bytes.
std::string ToHex(const void* bytes, size_t length);

}  // namespace base

#endif  // BASE_HASH_TEST_UTIL_H_
