#include "base/cpu.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <sstream>
#include <string>

#include "testing/test_support.h"

namespace base {
namespace {

// "name value" lines of the Linux-side CPUID reader (testdata_setup.sh); each value is the rest of its line, blanks
// included.
std::map<std::string, std::string> ReadOracle() {
  std::string text;
  std::map<std::string, std::string> fields;
  if (!test_support::ReadFileBytes(test_support::TestDataDir() + L"\\cpu\\cpuid.txt", &text))
    return fields;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    const size_t space = line.find(' ');
    if (space != std::string::npos)
      fields[line.substr(0, space)] = line.substr(space + 1);
  }
  return fields;
}

// The same processor read with CPUID by a native Linux program in this run, field by field.
TEST(CPUTest, AgreesWithCpuidReadOnLinux) {
  const std::map<std::string, std::string> oracle = ReadOracle();
  ASSERT_TRUE(oracle.count("brand")) << "no CPUID oracle from the setup script";
  const auto number = [&oracle](const char* name) { return std::stoul(oracle.at(name)); };
  const auto flag = [&oracle](const char* name) { return oracle.at(name) == "1"; };
  const CPU cpu;
  EXPECT_EQ(oracle.at("vendor"), cpu.vendor_name());
  EXPECT_EQ(number("signature"), cpu.signature());
  EXPECT_EQ(number("family"), static_cast<unsigned long>(cpu.family()));
  EXPECT_EQ(number("extended_family"), static_cast<unsigned long>(cpu.extended_family()));
  EXPECT_EQ(number("model"), static_cast<unsigned long>(cpu.model()));
  EXPECT_EQ(number("extended_model"), static_cast<unsigned long>(cpu.extended_model()));
  EXPECT_EQ(number("stepping"), static_cast<unsigned long>(cpu.stepping()));
  EXPECT_EQ(number("type"), static_cast<unsigned long>(cpu.type()));
  EXPECT_EQ(oracle.at("brand"), cpu.cpu_brand());
  EXPECT_EQ(flag("mmx"), cpu.has_mmx());
  EXPECT_EQ(flag("sse"), cpu.has_sse());
  EXPECT_EQ(flag("sse2"), cpu.has_sse2());
  EXPECT_EQ(flag("sse3"), cpu.has_sse3());
  EXPECT_EQ(flag("ssse3"), cpu.has_ssse3());
  EXPECT_EQ(flag("sse41"), cpu.has_sse41());
  EXPECT_EQ(flag("sse42"), cpu.has_sse42());
  EXPECT_EQ(flag("avx"), cpu.has_avx());
  EXPECT_EQ(flag("avx2"), cpu.has_avx2());
  EXPECT_EQ(flag("aesni"), cpu.has_aesni());
  EXPECT_EQ(flag("non_stop_tsc"), cpu.has_non_stop_time_stamp_counter());
}

CPU::Leaves IntelLeaves() {
  CPU::Leaves leaves;
  leaves.max_leaf = 0x16;
  memcpy(&leaves.vendor[0], "Genu", 4);
  memcpy(&leaves.vendor[1], "ineI", 4);
  memcpy(&leaves.vendor[2], "ntel", 4);
  leaves.leaf1_eax = 0x000906EA;  // family 6, model 0x9E, stepping 10
  leaves.leaf1_ecx = (1u << 0) | (1u << 9) | (1u << 19) | (1u << 20) | (1u << 25) | (1u << 26) | (1u << 27) | (1u << 28);
  leaves.leaf1_edx = (1u << 23) | (1u << 25) | (1u << 26);
  leaves.leaf7_ebx = 1u << 5;
  leaves.xcr0 = 7;
  leaves.max_extended_leaf = 0x80000008;
  memcpy(leaves.brand, "Test processor @ 1.00GHz", 25);
  leaves.leaf80000007_edx = 1u << 8;
  return leaves;
}

TEST(CPUTest, FieldsFromKnownRegisters) {
  const CPU cpu(IntelLeaves());
  EXPECT_EQ("GenuineIntel", cpu.vendor_name());
  EXPECT_EQ(0x000906EAu, cpu.signature());
  EXPECT_EQ(6, cpu.family());
  EXPECT_EQ(0x9E, cpu.model());
  EXPECT_EQ(10, cpu.stepping());
  EXPECT_EQ(9, cpu.extended_model());
  EXPECT_EQ(0, cpu.extended_family());
  EXPECT_EQ(0, cpu.type());
  EXPECT_TRUE(cpu.has_mmx() && cpu.has_sse() && cpu.has_sse2() && cpu.has_sse3() && cpu.has_ssse3());
  EXPECT_TRUE(cpu.has_sse41() && cpu.has_sse42() && cpu.has_aesni());
  EXPECT_TRUE(cpu.has_avx());
  EXPECT_TRUE(cpu.has_avx2());
  EXPECT_TRUE(cpu.has_non_stop_time_stamp_counter());
  EXPECT_EQ("Test processor @ 1.00GHz", cpu.cpu_brand());
}

TEST(CPUTest, AvxNeedsTheOperatingSystemToSaveItsState) {
  CPU::Leaves leaves = IntelLeaves();
  leaves.xcr0 = 3;  // SSE state only
  EXPECT_FALSE(CPU(leaves).has_avx());
  EXPECT_FALSE(CPU(leaves).has_avx2());
  leaves = IntelLeaves();
  leaves.leaf1_ecx &= ~(1u << 27);  // the OS did not enable XSAVE
  EXPECT_FALSE(CPU(leaves).has_avx());
}

TEST(CPUTest, LeavesAboveTheReportedMaximaAreIgnored) {
  CPU::Leaves leaves = IntelLeaves();
  leaves.max_leaf = 6;
  EXPECT_FALSE(CPU(leaves).has_avx2());
  EXPECT_TRUE(CPU(leaves).has_avx());
  leaves.max_extended_leaf = 0x80000003;
  EXPECT_EQ("", CPU(leaves).cpu_brand());
  EXPECT_FALSE(CPU(leaves).has_non_stop_time_stamp_counter());
  leaves.max_extended_leaf = 0x80000006;
  EXPECT_EQ("Test processor @ 1.00GHz", CPU(leaves).cpu_brand());
  EXPECT_FALSE(CPU(leaves).has_non_stop_time_stamp_counter());
  leaves.max_leaf = 0;
  EXPECT_EQ(0u, CPU(leaves).signature());
  EXPECT_FALSE(CPU(leaves).has_sse2());
  EXPECT_EQ("GenuineIntel", CPU(leaves).vendor_name());
}

TEST(CPUTest, VendorStaysUnknownWithoutText) {
  EXPECT_EQ("unknown", CPU(CPU::Leaves()).vendor_name());
}

}  // namespace
}  // namespace base
