#include "base/cpu.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <set>
#include <sstream>
#include <string>

#include "base/strings/string_util.h"
#include "testing/test_support.h"

namespace base {
namespace {

std::string Trim(const std::string& text) {
  return TrimStringPiece(text, " \t", TRIM_ALL).as_string();
}

// "key : value" lines of the Linux kernel's description of the first processor.
std::map<std::string, std::string> ReadCpuInfo() {
  std::string text;
  std::map<std::string, std::string> fields;
  if (!test_support::ReadFileBytes(test_support::TestDataDir() + L"\\cpu\\cpuinfo", &text))
    return fields;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    const size_t colon = line.find(':');
    if (colon != std::string::npos)
      fields[Trim(line.substr(0, colon))] = Trim(line.substr(colon + 1));
  }
  return fields;
}

// The kernel reads the same CPUID leaves; its flags and numbers are the outside view of this processor.
TEST(CPUTest, AgreesWithTheKernelsView) {
  const std::map<std::string, std::string> info = ReadCpuInfo();
  ASSERT_TRUE(info.count("vendor_id")) << "no cpuinfo from the setup script";
  const CPU cpu;
  EXPECT_EQ(info.at("vendor_id"), cpu.vendor_name());
  // The kernel reports the real family: the base family, plus the extended family when the base is 15.
  const int base_family = cpu.family();
  EXPECT_EQ(std::stoi(info.at("cpu family")), base_family == 15 ? base_family + cpu.extended_family() : base_family);
  if (base_family == 6 || base_family == 15) {  // the kernel folds the extended model in for these
    EXPECT_EQ(std::stoi(info.at("model")), cpu.model());
  }
  EXPECT_EQ(std::stoi(info.at("stepping")), cpu.stepping());
  EXPECT_EQ(static_cast<uint32_t>(cpu.stepping()), cpu.signature() & 15);
  EXPECT_EQ(info.at("model name"), Trim(cpu.cpu_brand()));

  std::set<std::string> flags;
  std::istringstream flag_list(info.at("flags"));
  for (std::string flag; flag_list >> flag;)
    flags.insert(flag);
  EXPECT_EQ(flags.count("mmx") == 1, cpu.has_mmx());
  EXPECT_EQ(flags.count("sse") == 1, cpu.has_sse());
  EXPECT_EQ(flags.count("sse2") == 1, cpu.has_sse2());
  EXPECT_EQ(flags.count("pni") == 1, cpu.has_sse3());
  EXPECT_EQ(flags.count("ssse3") == 1, cpu.has_ssse3());
  EXPECT_EQ(flags.count("sse4_1") == 1, cpu.has_sse41());
  EXPECT_EQ(flags.count("sse4_2") == 1, cpu.has_sse42());
  EXPECT_EQ(flags.count("avx") == 1, cpu.has_avx());
  EXPECT_EQ(flags.count("avx2") == 1, cpu.has_avx2());
  EXPECT_EQ(flags.count("aes") == 1, cpu.has_aesni());
  EXPECT_EQ(flags.count("nonstop_tsc") == 1, cpu.has_non_stop_time_stamp_counter());
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
