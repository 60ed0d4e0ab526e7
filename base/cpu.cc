#include "base/cpu.h"

#include <cpuid.h>

#include <cstring>

namespace base {
namespace {

bool Bit(uint32_t value, int bit) {
  return (value >> bit) & 1;
}

uint64_t ReadXcr0() {
  uint32_t eax, edx;
  __asm__ volatile("xgetbv" : "=a"(eax), "=d"(edx) : "c"(0));
  return (static_cast<uint64_t>(edx) << 32) | eax;
}

constexpr uint32_t kOsxsaveBit = 27;

}  // namespace

CPU::CPU() {
  Initialize(ReadLeaves());
}

CPU::CPU(const Leaves& leaves) {
  Initialize(leaves);
}

// static
CPU::Leaves CPU::ReadLeaves() {
  Leaves leaves;
  uint32_t eax, ebx, ecx, edx;
  __cpuid(0, eax, ebx, ecx, edx);
  leaves.max_leaf = eax;
  leaves.vendor[0] = ebx;
  leaves.vendor[1] = edx;
  leaves.vendor[2] = ecx;
  if (leaves.max_leaf > 0) {
    __cpuid(1, eax, ebx, ecx, edx);
    leaves.leaf1_eax = eax;
    leaves.leaf1_ecx = ecx;
    leaves.leaf1_edx = edx;
    if (leaves.max_leaf >= 7) {
      __cpuid_count(7, 0, eax, ebx, ecx, edx);
      leaves.leaf7_ebx = ebx;
    }
    // XGETBV faults unless the operating system enabled it.
    if (Bit(leaves.leaf1_ecx, kOsxsaveBit))
      leaves.xcr0 = ReadXcr0();
  }
  __cpuid(0x80000000, eax, ebx, ecx, edx);
  leaves.max_extended_leaf = eax;
  if (leaves.max_extended_leaf >= 0x80000004) {
    for (uint32_t i = 0; i < 3; ++i) {
      __cpuid(0x80000002 + i, eax, ebx, ecx, edx);
      leaves.brand[i * 4 + 0] = eax;
      leaves.brand[i * 4 + 1] = ebx;
      leaves.brand[i * 4 + 2] = ecx;
      leaves.brand[i * 4 + 3] = edx;
    }
  }
  if (leaves.max_extended_leaf >= 0x80000007) {
    __cpuid(0x80000007, eax, ebx, ecx, edx);
    leaves.leaf80000007_edx = edx;
  }
  return leaves;
}

void CPU::Initialize(const Leaves& leaves) {
  char vendor[sizeof(leaves.vendor)];
  memcpy(vendor, leaves.vendor, sizeof(vendor));
  if (size_t length = strnlen(vendor, sizeof(vendor)))
    cpu_vendor_.assign(vendor, length);

  if (leaves.max_leaf > 0) {
    const uint32_t signature = leaves.leaf1_eax;
    const uint32_t ecx = leaves.leaf1_ecx;
    const uint32_t edx = leaves.leaf1_edx;
    const uint32_t leaf7_ebx = leaves.max_leaf >= 7 ? leaves.leaf7_ebx : 0;
    signature_ = signature;
    type_ = (signature >> 12) & 3;
    family_ = (signature >> 8) & 15;
    model_ = ((signature >> 4) & 15) + ((signature >> 12) & 0xF0);
    stepping_ = signature & 15;
    ext_model_ = (signature >> 16) & 15;
    ext_family_ = (signature >> 20) & 0xFF;
    has_mmx_ = Bit(edx, 23);
    has_sse_ = Bit(edx, 25);
    has_sse2_ = Bit(edx, 26);
    has_sse3_ = Bit(ecx, 0);
    has_ssse3_ = Bit(ecx, 9);
    has_sse41_ = Bit(ecx, 19);
    has_sse42_ = Bit(ecx, 20);
    // AVX, XSAVE and OSXSAVE, and the operating system saving the SSE and AVX register state.
    has_avx_ = Bit(ecx, 26) && Bit(ecx, kOsxsaveBit) && Bit(ecx, 28) && (leaves.xcr0 & 6) == 6;
    has_avx2_ = has_avx_ && Bit(leaf7_ebx, 5);
    has_aesni_ = Bit(ecx, 25);
  }

  if (leaves.max_extended_leaf >= 0x80000004) {
    char brand[sizeof(leaves.brand)];
    memcpy(brand, leaves.brand, sizeof(brand));
    cpu_brand_.assign(brand, strnlen(brand, sizeof(brand)));
  }
  if (leaves.max_extended_leaf >= 0x80000007)
    has_non_stop_time_stamp_counter_ = Bit(leaves.leaf80000007_edx, 8);
}

}  // namespace base
