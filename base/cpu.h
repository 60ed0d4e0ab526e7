// What the processor is and which instruction-set extensions it offers, read once with CPUID.
#ifndef BASE_CPU_H_
#define BASE_CPU_H_

#include <cstdint>
#include <string>

namespace base {

class CPU {
 public:
  // Reads every field from the processor.
  CPU();

  // Register values as CPUID returns them, for building a CPU from known values.
  struct Leaves {
    uint32_t max_leaf = 0;
    uint32_t vendor[3] = {};         // leaf 0: EBX, EDX, ECX
    uint32_t leaf1_eax = 0;          // the signature
    uint32_t leaf1_ecx = 0;
    uint32_t leaf1_edx = 0;
    uint32_t leaf7_ebx = 0;          // leaf 7, sub-leaf 0
    uint64_t xcr0 = 0;               // extended control register 0 (read only when the OS saves AVX state)
    uint32_t max_extended_leaf = 0;  // leaf 0x80000000
    uint32_t brand[12] = {};         // leaves 0x80000002 to 0x80000004: EAX, EBX, ECX, EDX each
    uint32_t leaf80000007_edx = 0;
  };
  // The fields that these register values describe; leaves above the reported maxima are ignored.
  explicit CPU(const Leaves& leaves);

  // The whole first register of leaf 1.
  uint32_t signature() const { return signature_; }
  int type() const { return type_; }
  // The base family (the extended family is separate).
  int family() const { return family_; }
  // The model with the extended model folded in.
  int model() const { return model_; }
  int stepping() const { return stepping_; }
  int extended_model() const { return ext_model_; }
  int extended_family() const { return ext_family_; }
  bool has_mmx() const { return has_mmx_; }
  bool has_sse() const { return has_sse_; }
  bool has_sse2() const { return has_sse2_; }
  bool has_sse3() const { return has_sse3_; }
  bool has_ssse3() const { return has_ssse3_; }
  bool has_sse41() const { return has_sse41_; }
  bool has_sse42() const { return has_sse42_; }
  // AVX in the processor and its register state saved by the operating system.
  bool has_avx() const { return has_avx_; }
  bool has_avx2() const { return has_avx2_; }
  bool has_aesni() const { return has_aesni_; }
  // The time-stamp counter runs at a constant rate in every power state.
  bool has_non_stop_time_stamp_counter() const { return has_non_stop_time_stamp_counter_; }
  // "GenuineIntel", "AuthenticAMD", ...; "unknown" when the processor reports no leaves.
  const std::string& vendor_name() const { return cpu_vendor_; }
  // Empty when the processor has no brand leaves.
  const std::string& cpu_brand() const { return cpu_brand_; }

  // Reads the registers of this processor.
  static Leaves ReadLeaves();

 private:
  void Initialize(const Leaves& leaves);

  uint32_t signature_ = 0;
  int type_ = 0;
  int family_ = 0;
  int model_ = 0;
  int stepping_ = 0;
  int ext_model_ = 0;
  int ext_family_ = 0;
  bool has_mmx_ = false;
  bool has_sse_ = false;
  bool has_sse2_ = false;
  bool has_sse3_ = false;
  bool has_ssse3_ = false;
  bool has_sse41_ = false;
  bool has_sse42_ = false;
  bool has_avx_ = false;
  bool has_avx2_ = false;
  bool has_aesni_ = false;
  bool has_non_stop_time_stamp_counter_ = false;
  std::string cpu_vendor_ = "unknown";
  std::string cpu_brand_;
};

}  // namespace base

#endif  // BASE_CPU_H_
