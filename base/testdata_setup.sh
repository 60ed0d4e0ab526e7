#!/bin/bash
# Inputs and outside-oracle results for the tests of base/. Usage: testdata_setup.sh DATA_DIR BIN_DIR
set -euo pipefail
D=$1
rm -rf "$D"; mkdir -p "$D"

# Packed buffer: a record encoded by Python's struct module, independently of the product's writer.
mkdir -p "$D/packed_buffer"
python3 - "$D/packed_buffer/from_python.bin" <<'PY'
import struct, sys
def pad(b): return b + b"\0" * (-len(b) % 4)
def string(b): return struct.pack("<i", len(b)) + pad(b)
text = "h\u00e9llo"
wide = (text + " \U0001F600").encode("utf-16-le")
payload = (struct.pack("<i", -123456789) + struct.pack("<q", 0x0123456789ABCDEF) + string(text.encode())
           + struct.pack("<i", len(wide) // 2) + pad(wide) + struct.pack("<I", 1))
open(sys.argv[1], "wb").write(struct.pack("<I", len(payload)) + payload)
PY

mkdir -p "$D/hash"

# Hash inputs: random files from 0 bytes to 10 MiB, with every size around the padding boundaries of one and
# two blocks (55/56/64 and 119/120/128 bytes). md5sum, sha1sum and the published SuperFastHash are the oracles.
sizes="0 1 2 3 4 5 6 7 8 31 32 33 54 55 56 57 62 63 64 65 66 118 119 120 121 127 128 129 183 184 191 192 193
       1000 4095 4096 4097 65535 65536 65537 1048575 1048576 1048577 3333333 10485760"
for n in $sizes; do head -c "$n" /dev/urandom > "$D/hash/random_$n.bin"; done
# Tails of 1 to 3 bytes of 0x80 and 0xff: the values that the tail step must take as negative.
for n in 1 2 3 5 6 7; do
  head -c "$n" /dev/zero | tr '\0' '\200' > "$D/hash/x80_$n.bin"
  head -c "$n" /dev/zero | tr '\0' '\377' > "$D/hash/xff_$n.bin"
done
printf 'abc' > "$D/hash/abc.bin"
(cd "$D/hash" && md5sum -- *.bin > MD5SUMS && sha1sum -- *.bin > SHA1SUMS)

python3 "${BASH_SOURCE[0]%/*}/testdata_hash.py" "$D/hash"

# Processor identification: CPUID read natively by a Linux program, decoded from the manufacturers' manuals, one
# "name value" line per field. The kernel's /proc/cpuinfo is no oracle: it was taken at boot, and a hypervisor
# may show the kernel other strings than a process reads.
mkdir -p "$D/cpu"
cat > "$D/cpu/cpuid_oracle.c" <<'C'
#include <cpuid.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

static int bit(uint32_t value, int n) { return (value >> n) & 1; }

int main(void) {
  uint32_t a, b, c, d;
  const uint32_t max_leaf = __get_cpuid_max(0, NULL);
  __cpuid(0, a, b, c, d);
  char vendor[13] = {0};
  memcpy(vendor, &b, 4);
  memcpy(vendor + 4, &d, 4);
  memcpy(vendor + 8, &c, 4);
  printf("vendor %s\n", vendor);
  uint32_t eax1 = 0, ecx1 = 0, edx1 = 0, ebx7 = 0;
  uint64_t xcr0 = 0;
  if (max_leaf >= 1) {
    __cpuid(1, eax1, b, ecx1, edx1);
    if (bit(ecx1, 27)) {  /* OSXSAVE: the system allows XGETBV */
      uint32_t lo, hi;
      __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
      xcr0 = ((uint64_t)hi << 32) | lo;
    }
  }
  if (max_leaf >= 7)
    __cpuid_count(7, 0, a, ebx7, c, d);
  printf("signature %u\n", eax1);
  printf("stepping %u\n", eax1 & 0xF);
  printf("family %u\n", (eax1 >> 8) & 0xF);
  printf("extended_family %u\n", (eax1 >> 20) & 0xFF);
  printf("extended_model %u\n", (eax1 >> 16) & 0xF);
  printf("model %u\n", (((eax1 >> 16) & 0xF) << 4) | ((eax1 >> 4) & 0xF));
  printf("type %u\n", (eax1 >> 12) & 3);
  printf("mmx %d\n", bit(edx1, 23));
  printf("sse %d\n", bit(edx1, 25));
  printf("sse2 %d\n", bit(edx1, 26));
  printf("sse3 %d\n", bit(ecx1, 0));
  printf("ssse3 %d\n", bit(ecx1, 9));
  printf("sse41 %d\n", bit(ecx1, 19));
  printf("sse42 %d\n", bit(ecx1, 20));
  printf("aesni %d\n", bit(ecx1, 25));
  /* AVX is usable when the processor has it and XSAVE, and the system saves the SSE and AVX state. */
  const int avx = bit(ecx1, 28) && bit(ecx1, 26) && bit(ecx1, 27) && (xcr0 & 6) == 6;
  printf("avx %d\n", avx);
  printf("avx2 %d\n", avx && bit(ebx7, 5));
  const uint32_t max_extended = __get_cpuid_max(0x80000000, NULL);
  char brand[49] = {0};
  if (max_extended >= 0x80000004) {
    for (uint32_t i = 0; i < 3; ++i) {
      __cpuid(0x80000002 + i, a, b, c, d);
      memcpy(brand + 16 * i, &a, 4);
      memcpy(brand + 16 * i + 4, &b, 4);
      memcpy(brand + 16 * i + 8, &c, 4);
      memcpy(brand + 16 * i + 12, &d, 4);
    }
  }
  uint32_t edx80000007 = 0;
  if (max_extended >= 0x80000007)
    __cpuid(0x80000007, a, b, c, edx80000007);
  printf("non_stop_tsc %d\n", bit(edx80000007, 8));
  /* Last, and whole: leading and trailing blanks are part of it. */
  printf("brand %s\n", brand);
  return 0;
}
C
gcc -O2 -o "$D/cpu/cpuid_oracle" "$D/cpu/cpuid_oracle.c"
"$D/cpu/cpuid_oracle" > "$D/cpu/cpuid.txt"

# Verbose-module patterns: random patterns and strings matched by Python's fnmatch. '/' and '\' in a pattern
# match either slash, so both sides are compared with backslashes turned into slashes.
mkdir -p "$D/vlog"
python3 - "$D/vlog/patterns.txt" <<'PY'
import fnmatch, random, sys
random.seed(4711)
with open(sys.argv[1], "w", newline="\n") as out:
    for _ in range(3000):
        pattern = "".join(random.choice("ab/\\*?") for _ in range(random.randint(0, 6)))
        text = "".join(random.choice("ab/\\") for _ in range(random.randint(0, 7)))
        match = fnmatch.fnmatchcase(text.replace("\\", "/"), pattern.replace("\\", "/"))
        out.write(f"{pattern}\t{text}\t{int(match)}\n")
PY

# System information: the host's count of online processors.
mkdir -p "$D/sys_info"
getconf _NPROCESSORS_ONLN > "$D/sys_info/processors.txt"

# Path service: where the prefix keeps its folders, as wine's reg, cmd and winepath tools say (one
# "key<TAB>path" line per path key of the service).
mkdir -p "$D/path_service"
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BIN=$2
BUILD_DIR=$(cd "$BIN/.." && pwd) . "$ROOT/tools/env.sh"
wine_run() { "$ROOT/tools/wine-run" "$WINDEPS" "$RUN_PREFIX" "$@" </dev/null | tr -d '\r'; }
reg_value() {  # reg query prints "    name    REG_SZ    data"
  wine_run reg query "$1" /v "$2" | sed -n "s/^    $2    REG_SZ    //p"
}
user_folders='HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders'
common_folders='HKLM\Software\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders'
current_version='HKLM\Software\Microsoft\Windows\CurrentVersion'
{
  printf '4\t%s\n' "$(wine_run cmd /c 'echo %TEMP%')"
  printf '5\t%s\n' "$(wine_run cmd /c 'echo %USERPROFILE%')"
  printf '6\t%s\n' "$(wine_run winepath -w "$BIN/base_unittests.exe")"
  printf '8\t%s\n' "$(wine_run winepath -w "$(cd "$BIN/../.." && pwd)")"
  printf '9\t%s\n' "$(reg_value "$user_folders" Desktop)"
  printf '101\t%s\n' "$(wine_run cmd /c 'echo %SystemRoot%')"
  printf '103\t%s\n' "$(reg_value "$current_version" ProgramFilesDir)"
  printf '104\t%s\n' "$(reg_value "$current_version" 'ProgramFilesDir (x86)')"
  printf '105\t%s\n' "$(reg_value "$current_version" ProgramFilesDir)"
  printf '106\t%s\n' "$(reg_value "$user_folders" Cache)"
  printf '107\t%s\n' "$(reg_value "$common_folders" 'Common Programs')"
  printf '108\t%s\n' "$(reg_value "$user_folders" Programs)"
  printf '109\t%s\n' "$(reg_value "$user_folders" AppData)"
  printf '110\t%s\n' "$(reg_value "$user_folders" 'Local AppData')"
  printf '111\t%s\n' "$(reg_value "$common_folders" 'Common AppData')"
  printf '113\t%s\n' "$(reg_value "$common_folders" 'Common Desktop')"
  printf '116\t%s\n' "$(reg_value "$user_folders" Fonts)"
} > "$D/path_service/oracle.txt"
# Every line must carry a path: an empty one means the query failed.
if awk -F'\t' '$2 == "" { bad = 1 } END { exit !bad }' "$D/path_service/oracle.txt"; then
  echo "a path-service oracle query failed:" >&2; cat "$D/path_service/oracle.txt" >&2; exit 1
fi
