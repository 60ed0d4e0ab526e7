#!/bin/bash
# Builds the Windows x64 toolchain dependencies into one cache folder and a booted wine prefix template.
# Usage: windeps.sh CACHE_DIR   (as root on Debian 12; idempotent: finished steps leave a stamp and are skipped)
# The caller names CACHE_DIR after a hash of this file and the toolchain file, so a changed recipe builds afresh.
set -euo pipefail
C=$(realpath -m "${1:?usage: windeps.sh CACHE_DIR}")
JOBS=${JOBS:-$(nproc)}
TOOLS=$(cd "$(dirname "$0")/../tools" && pwd)
T=x86_64-w64-mingw32
CC=$T-gcc-posix; AR=$T-ar
mkdir -p "$C"/{apt/lists/partial,apt/sources.list.d,src,x,build,prefix/include,prefix/lib,stamps}
# Several clones on one machine may set up the same cache at once: one at a time.
exec 8>"$C/.lock"; flock 8
P=$C/prefix
step() { [ -e "$C/stamps/$1" ] && return 1; echo "[run ] $1"; SECONDS=0; }
done_() { echo "$SECONDS s" > "$C/stamps/$1"; echo "[done] $1 (${SECONDS}s)"; }

# 1. Debian packages: checked on every run, since a new machine has none of them whatever the cache holds.
PKGS=(wine64 gcc-mingw-w64-x86-64-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
      mingw-w64-x86-64-dev libz-mingw-w64-dev cmake ninja-build make perl googletest ccache gcc libc6-dev
      7zip zip unzip libarchive-tools xvfb imagemagick osslsigncode openssl python3 xz-utils bzip2
      ca-certificates liblnk-utils coreutils findutils util-linux rapidjson-dev nlohmann-json3-dev
      icoutils libxml2-utils llvm-14 lldb-14 python3-yaml python3-pefile xdotool curl locales gdb)
missing=$(for p in "${PKGS[@]}"; do dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || echo "$p"; done)
if [ -n "$missing" ]; then
  echo "[run ] apt: installing" $missing; SECONDS=0
  apt-get update
  DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${PKGS[@]}"
  echo "[done] apt (${SECONDS}s)"
fi

# Locales that tests run wine under: wine takes its ANSI and OEM code pages and the preferred UI language from them.
LOCALES=(en_US.UTF-8 de_DE.UTF-8 ja_JP.UTF-8 ru_RU.UTF-8)
missing_locales=$(for l in "${LOCALES[@]}"; do locale -a 2>/dev/null | grep -qix "${l/UTF-8/utf8}" || echo "$l"; done)
if [ -n "$missing_locales" ]; then
  for l in $missing_locales; do
    grep -q "^$l UTF-8" /etc/locale.gen 2>/dev/null || echo "$l UTF-8" >> /etc/locale.gen
  done
  locale-gen >/dev/null
fi

# wine's loader and server are not on PATH: record where Debian put them.
first() { awk -v re="$1" '$0 ~ re && !f { print; f = 1 }'; }   # reads all input: no SIGPIPE under pipefail
WINE=$(dpkg -L wine64 | first '/wine/wine64$'); WINESERVER=$(dpkg -L libwine | first '/wine/wineserver$')
printf 'WINE=%s\nWINESERVER=%s\n' "$WINE" "$WINESERVER" > "$C/wine.env.tmp" && mv "$C/wine.env.tmp" "$C/wine.env"

# 2. deb-src entries derived from the machine's own apt sources; the lists stay in the cache (no system change).
APTSRC=(-o Dir::Etc::SourceList=/dev/null -o "Dir::Etc::SourceParts=$C/apt/sources.list.d" -o "Dir::State::Lists=$C/apt/lists")
if step srclists; then
  eval "$(apt-config shell SRCLIST Dir::Etc::sourcelist/f SRCPARTS Dir::Etc::sourceparts/d)"
  rm -f "$C"/apt/sources.list.d/*
  if [ -f "${SRCPARTS}debian.sources" ]; then      # Debian 12 default (deb822)
    sed 's/^Types: deb$/Types: deb-src/' "${SRCPARTS}debian.sources" > "$C/apt/sources.list.d/src.sources"
  else                                            # one-line format
    sed -n 's/^deb \(.*\)$/deb-src \1/p' "$SRCLIST" > "$C/apt/sources.list.d/src.list"
  fi
  apt-get "${APTSRC[@]}" update
  done_ srclists
fi

# 3. Source packages from the release pocket (apt checks them against the signed index); only .orig tarballs are used.
if step download; then
  rm -rf "$C/src"/*
  (cd "$C/src" && apt-get "${APTSRC[@]}" source --download-only openssl/bookworm 7zip/bookworm zlib/bookworm icu/bookworm)
  done_ download
fi
if step extract; then
  rm -rf "$C/x"/*; cd "$C/x"
  for f in "$C"/src/openssl_*.orig.tar.gz "$C"/src/7zip_*.orig.tar.xz "$C"/src/zlib_*.orig.tar.* "$C"/src/icu_*.orig.tar.gz; do
    case $f in *.asc) continue;; esac; tar xf "$f"
  done
  mv openssl-* openssl; mv zlib-* zlib; mv ip7z-7zip-* 7zip
  done_ extract
fi

# 4. OpenSSL libcrypto, static, with its assembly (SHA-256 is several times faster than the C fallback).
if step openssl; then
  rm -rf "$C/build/openssl"; mkdir -p "$C/build/openssl" "$P/include/openssl"; cd "$C/build/openssl"
  "$C/x/openssl/Configure" mingw64 no-shared no-tests --cross-compile-prefix=$T- --prefix="$P" --libdir=lib >/dev/null
  make -j"$JOBS" build_generated >/dev/null
  make -j"$JOBS" libcrypto.a >/dev/null 2>build.err || { cat build.err; exit 1; }
  cp "$C"/x/openssl/include/openssl/*.h include/openssl/*.h "$P/include/openssl/"; cp libcrypto.a "$P/lib/"
  done_ openssl
fi

# 5. The C 7z reader of the LZMA SDK: LZMA, LZMA2, BCJ, BCJ2 and CRC (Delta, BraIA64 and Alloc are in the filter table).
if step 7zdec; then
  rm -rf "$C/build/7zdec"; mkdir -p "$C/build/7zdec" "$P/include/7z"
  printf '%s\n' 7zAlloc 7zArcIn 7zBuf 7zCrc 7zCrcOpt 7zDec 7zStream Alloc Bcj2 Bra Bra86 BraIA64 CpuArch Delta Lzma2Dec LzmaDec |
    xargs -P "$JOBS" -I{} $CC -O2 -Wall -c "$C/x/7zip/C/{}.c" -o "$C/build/7zdec/{}.o"
  rm -f "$P/lib/lib7zdec.a"; $AR rcs "$P/lib/lib7zdec.a" "$C"/build/7zdec/*.o
  cp "$C"/x/7zip/C/*.h "$P/include/7z/"
  done_ 7zdec
fi

# 6. minizip (zlib's contrib) against Debian's zlib for mingw.
if step minizip; then
  rm -rf "$C/build/minizip"; mkdir -p "$C/build/minizip" "$P/include/minizip"; M=$C/x/zlib/contrib/minizip
  for f in zip unzip ioapi iowin32; do $CC -O2 -c "$M/$f.c" -o "$C/build/minizip/$f.o"; done
  rm -f "$P/lib/libminizip.a"; $AR rcs "$P/lib/libminizip.a" "$C"/build/minizip/*.o
  cp "$M"/{zip,unzip,ioapi,iowin32,crypt}.h "$P/include/minizip/"
  done_ minizip
fi

# 7. ICU headers only: the UTF-8 decoding step is a macro.
if step icu; then
  mkdir -p "$P/include/unicode"; cp "$C"/x/icu/source/common/unicode/*.h "$P/include/unicode/"
  done_ icu
fi

# 8. GoogleTest and GoogleMock from Debian's source copy.
if step googletest; then
  rm -rf "$C/build/googletest"
  GTEST_SRC=$(dpkg -L googletest | first '/src/googletest$')
  cmake -S "$GTEST_SRC" -B "$C/build/googletest" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$TOOLS/mingw-w64-x86_64.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$P" -DBUILD_GMOCK=ON -DINSTALL_GTEST=ON >/dev/null
  cmake --build "$C/build/googletest" -j "$JOBS" >/dev/null
  cmake --install "$C/build/googletest" >/dev/null
  done_ googletest
fi

# 9. Wine prefix template: booted once, first-boot work finished (server exit) before anyone copies it.
#    Test runs copy it, so nothing a run writes reaches the next run.
if step wineprefix; then
  # Debian's wine64 has no preloader: with address randomisation about one start in two thousand finds the
  # shared user data page taken and fails. Every wine process runs with randomisation off.
  NORANDOM=(setarch "$(uname -m)" --addr-no-randomize)
  export WINEPREFIX="$C/wineprefix-template" WINEDEBUG=-all WINEARCH=win64 WINEDLLOVERRIDES="mscoree,mshtml="
  rm -rf "$WINEPREFIX"
  "${NORANDOM[@]}" "$WINE" wineboot -i </dev/null >/dev/null 2>&1
  "$WINESERVER" -w
  # A crashing test process must end with its exception code. Without a Debugger value wine attaches its own
  # debugger, after which the process exits with 0 and the crash passes as success; with "Auto" 0 it asks in
  # a message box, which nobody closes. "Auto" 1 with a debugger that cannot start does neither.
  AEDEBUG='HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug'
  "${NORANDOM[@]}" "$WINE" reg add "$AEDEBUG" /v Auto /t REG_SZ /d 1 /f >/dev/null 2>&1
  "${NORANDOM[@]}" "$WINE" reg add "$AEDEBUG" /v Debugger /t REG_SZ /d 'no-debugger.exe %ld %ld' /f >/dev/null 2>&1
  "${NORANDOM[@]}" "$WINE" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
  "$WINESERVER" -w
  grep -q '^"Debugger"="no-debugger.exe' "$WINEPREFIX/system.reg" || { echo "could not disable the crash debugger" >&2; exit 1; }
  done_ wineprefix
fi
echo "windeps ready in $C"
