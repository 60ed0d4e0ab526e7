// Reads the files that testdata/number_oracle.c wrote on Linux with glibc (see testdata/numbers_setup.sh).
#ifndef BASE_STRINGS_NUMBER_ORACLE_TEST_UTIL_H_
#define BASE_STRINGS_NUMBER_ORACLE_TEST_UTIL_H_

#include <cstdint>
#include <string>
#include <vector>

namespace base {
namespace test {

// The whole file `name` of the oracle's folder; false when the folder is unknown or the file unreadable.
bool ReadNumberOracleFile(const std::string& name, std::string* contents);

// Writes `contents` as the file `name` of the oracle's folder, for the checks that run after the tests.
bool WriteNumberOracleFile(const std::string& name, const std::string& contents);

// The lines of a text file of the oracle, split at tabs; the first field is the input text with its backslash
// escapes (\t \n \v \f \r \\) undone. False when the file cannot be read.
bool ReadNumberOracleRecords(const std::string& name, std::vector<std::vector<std::string>>* records);

// Whole-field parsers for the oracle's numbers (plain decimal, or 16 hexadecimal digits for bits).
int64_t OracleInt64(const std::string& field);
uint64_t OracleUint64(const std::string& field);
uint64_t OracleHexBits(const std::string& field);

}  // namespace test
}  // namespace base

#endif  // BASE_STRINGS_NUMBER_ORACLE_TEST_UTIL_H_
