#!/bin/bash
# Inputs and outside-oracle facts for the package tests: payload files checked with pefile, checksums from
# sha256sum, executables signed with osslsigncode under a test CA (and checked with osslsigncode and openssl),
# probe variants, and 7z archives made by 7-Zip. Usage: testdata_setup.sh DATA_DIR BIN_DIR
set -euo pipefail
D=$1; BIN=$2
HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(cd "$HERE/../../../.." && pwd)
FIXTURE=$ROOT/testing/installer/package_fixture/make_package_fixture.py
PY=/usr/bin/python3  # Debian's interpreter, which has pefile
BUILD_DIR=$(cd "$BIN/.." && pwd) . "$ROOT/tools/env.sh"  # the wine prefix of this run
export TZ=UTC
chmod -R u+w "$D" 2>/dev/null || true
rm -rf "$D"; mkdir -p "$D"/{certs,payload,sha,signed,probe,archives,out}
PROBE=$BIN/../fixtures/package_probe.exe  # the stand-in that testing/installer/package_fixture builds

# Certificates: a test CA with a leaf named like a test signer and one named as the product's branding expects,
# and a CA that the machine does not trust with a leaf of the same test name.
BRANDING_SIGNER=$($PY -c 'import json, sys; print(json.load(open(sys.argv[1]))["expected_signer"])' \
                  "$ROOT/host/branding.json")
"$FIXTURE" certs "$D/certs" --signer "Test Signer" --signer "$BRANDING_SIGNER"
"$FIXTURE" certs "$D/untrusted" --signer "Test Signer"

# A small full package: a 7z archive of a few files.
mkdir -p "$D/payload/tree/docs"
printf 'package readme\n' > "$D/payload/tree/readme.txt"
seq 1 5000 > "$D/payload/tree/docs/numbers.txt"
(cd "$D/payload/tree" && 7zz a -bso0 -bsp0 "$D/payload/package.7z" ./*)
7zz t -bso0 -bsp0 "$D/payload/package.7z"

# Payload cases. Each case leaves NAME.exe and, when the file carries a block, NAME.payload with the payload's
# bytes; cases.txt lists NAME, the Security directory's offset and size as pefile reads them (- for files that
# are no PE image) and the file's length.
$PY - "$D/payload" "$PROBE" "$FIXTURE" "$D/certs" <<'PY'
import os, struct, subprocess, sys
folder, probe, fixture_tool, certs = sys.argv[1:]
sys.path.insert(0, os.path.dirname(fixture_tool))
import make_package_fixture as fixture
import pefile

image = fixture.patch_probe(fixture.read(probe), "2234.0", "nightly", False)
package = fixture.read(os.path.join(folder, "package.7z"))
def signed(data, name):
    unsigned_path = os.path.join(folder, name + ".unsigned")
    fixture.write(unsigned_path, data)
    fixture.sign(unsigned_path, os.path.join(folder, name + ".exe"), os.path.join(certs, "1.pem"),
                 os.path.join(certs, "1.key"))
    os.remove(unsigned_path)
    return fixture.read(os.path.join(folder, name + ".exe"))
def raw_block(payload, length, marker=b"ZRV"):
    return marker + payload + struct.pack("<I", length)
def security_offset_patched(data, offset, size):
    data = bytearray(data)
    pe = struct.unpack_from("<I", data, 60)[0]
    struct.pack_into("<II", data, pe + 168, offset, size)
    return bytes(data)

cases = {}   # name -> (file bytes, payload bytes or None)
cases["unsigned_full"] = (fixture.append_payload(image, package), package)
cases["unsigned_tracking"] = (fixture.append_payload(image, b"tracking=campaign-7;ref=x"), b"tracking=campaign-7;ref=x")
cases["unsigned_empty_payload"] = (fixture.append_payload(image, b""), b"")
cases["unsigned_short_7z"] = (fixture.append_payload(image, b"7z\xbc\xaf\x27"), b"7z\xbc\xaf\x27")
cases["unsigned_none"] = (image, None)
cases["length_past_start"] = (image + raw_block(b"abc", len(image) + 100), None)
cases["length_fffffff0"] = (image + raw_block(b"abc", 0xFFFFFFF0), None)
cases["length_fffffffe"] = (image + raw_block(b"abc", 0xFFFFFFFE), None)
cases["marker_zrw"] = (image + raw_block(b"abc", 3, b"ZRW"), None)
tracking_100 = bytes(range(100))
cases["override_over_100"] = (fixture.append_payload(image, tracking_100), tracking_100)
with_block = fixture.append_payload(image, b"tracking")
cases["security_past_end"] = (security_offset_patched(with_block, len(with_block) + 1, 8), b"tracking")
cases["security_at_end"] = (security_offset_patched(with_block, len(with_block), 0), b"tracking")
cases["ten_bytes"] = (b"MZ" + b"\0" * 8, None)
cases["three_bytes"] = (b"ZRV", None)
short_header = bytearray(image[:200]); struct.pack_into("<I", short_header, 60, 4000)
cases["pe_offset_past_end"] = (bytes(short_header) + raw_block(b"abc", 3), None)
near_end = bytearray(image[:300]); struct.pack_into("<I", near_end, 60, 290)
cases["pe_header_past_end"] = (bytes(near_end), None)
cases["security_below_4"] = (security_offset_patched(image + raw_block(b"abc", 100), 2, 16), None)
cases["signed_full_before_table"] = (signed(fixture.append_payload(image, package), "signed_full_before_table"), package)
cases["signed_full_after_table"] = (fixture.append_payload(signed(image, "signed_plain"), package, align=False), package)
cases["signed_tracking_after_table"] = (fixture.append_payload(signed(image, "signed_plain"), b"after-table", align=False),
                                        b"after-table")
cases["signed_tracking_before_table"] = (signed(fixture.append_payload(image, b"before-table"), "signed_tracking_before_table"),
                                         b"before-table")
# One byte more in front of the block: exe and block no longer end on 8 bytes.
cases["signed_unaligned_block"] = (signed(fixture.append_payload(image + b"\0", package, align=False),
                                          "signed_unaligned_block"), package)
os.remove(os.path.join(folder, "signed_plain.exe"))

with open(os.path.join(folder, "cases.txt"), "w") as listing:
    for name, (data, payload) in cases.items():
        fixture.write(os.path.join(folder, name + ".exe"), data)
        if payload is not None:
            fixture.write(os.path.join(folder, name + ".payload"), payload)
        try:
            security = pefile.PE(data=data, fast_load=True).OPTIONAL_HEADER.DATA_DIRECTORY[4]
            offset, size = str(security.VirtualAddress), str(security.Size)
        except Exception:
            offset = size = "-"
        listing.write("%s %s %s %d\n" % (name, offset, size, len(data)))
PY
# The signing step must have padded the unaligned file to 8 bytes before its table (the reason the fixture tool
# aligns): its block then ends short of the table.
osslsigncode verify -CAfile "$D/certs/ca.pem" -in "$D/payload/signed_full_before_table.exe" >/dev/null

# Checksums: files from 0 bytes to 8 MiB, and one whose SHA-256 ends in the byte 0x0a.
for n in 0 1 55 56 63 64 65 1000 65536 1048577 8388608; do head -c "$n" /dev/urandom > "$D/sha/random_$n.bin"; done
$PY - "$D/sha/ends_0a.bin" <<'PY'
import hashlib, os, sys
counter = 0
while True:
    data = b"digest ends in a line feed, attempt %d\n" % counter
    if hashlib.sha256(data).digest()[-1] == 0x0A:
        open(sys.argv[1], "wb").write(data)
        break
    counter += 1
PY
(cd "$D/sha" && sha256sum -- *.bin > SHA256SUMS)

# Signatures, with osslsigncode's verdict and the signer's name from openssl as the oracles.
"$FIXTURE" probe "$PROBE" "$D/signed/unsigned.exe" --internal-version 2234.0 --stream nightly
sign() { "$FIXTURE" sign "$D/signed/unsigned.exe" "$D/signed/$1.exe" --cert "$2.pem" --key "$2.key" --ca "$3"; }
sign test_signer "$D/certs/1" "$D/certs/ca.pem"
sign branding_signer "$D/certs/2" "$D/certs/ca.pem"
sign untrusted_root "$D/untrusted/1" "$D/untrusted/ca.pem"
cp "$D/signed/test_signer.exe" "$D/signed/tampered.exe"
$PY - "$D/signed/tampered.exe" <<'PY'
import pefile, sys
path = sys.argv[1]
pe = pefile.PE(path)
offset = pe.sections[0].PointerToRawData + 16  # a byte of code, which the signature's digest covers
pe.close()
data = bytearray(open(path, "rb").read()); data[offset] ^= 0xFF
open(path, "wb").write(data)
PY
cn() { openssl x509 -in "$1" -noout -subject -nameopt RFC2253,-esc_msb | sed -n 's/^subject=CN=//p'; }
for name in unsigned test_signer branding_signer untrusted_root tampered; do
  verdict=fails
  osslsigncode verify -CAfile "$D/certs/ca.pem" -in "$D/signed/$name.exe" >/dev/null 2>&1 && verdict=verifies
  case $name in
    test_signer|tampered) signer=$(cn "$D/certs/1.pem");;
    branding_signer) signer=$(cn "$D/certs/2.pem");;
    untrusted_root) signer=$(cn "$D/untrusted/1.pem");;
    *) signer=;;
  esac
  printf '%s\t%s\t%s\n' "$name" "$verdict" "$signer"
done > "$D/signed/verdicts.txt"
grep -q $'^test_signer\tverifies\tTest Signer$' "$D/signed/verdicts.txt"
grep -q $'^tampered\tfails\t' "$D/signed/verdicts.txt"

# Probe variants around the product's own internal version and stream, which an installer built with the
# product's branding reports (package_check_host). variants.txt: the variant, its answers, whether it starts,
# and whether its version and its stream pass, as Python compares them.
read -r OWN_VERSION OWN_STREAM < <("$ROOT/tools/wine-run" "$WINDEPS" "$RUN_PREFIX" "$BIN/package_check_host.exe" product |
                                  tr -d '\r' | cut -f1,2)
[ -n "$OWN_VERSION" ] && [ -n "$OWN_STREAM" ] || { echo "package_check_host did not report the product" >&2; exit 1; }
$PY - "$OWN_VERSION" "$OWN_STREAM" "$D/probe" "$PROBE" "$FIXTURE" > "$D/probe/variants.txt" <<'PY'
import os, sys
own_version, own_stream, folder, probe, fixture_tool = sys.argv[1:]
sys.path.insert(0, os.path.dirname(fixture_tool))
import make_package_fixture as fixture
numbers = [int(part) for part in own_version.split(".")]
def text(parts): return ".".join(str(part) for part in parts)
lower = list(numbers)
i = max(j for j, part in enumerate(lower) if part > 0)
lower[i] -= 1
lower[i + 1:] = [9] * (len(lower) - i - 1)
short = list(numbers)
while len(short) > 1 and short[-1] == 0:
    short.pop()
other_stream = next(name for name in ("nightly", "beta", "release") if name != own_stream)
variants = [
    ("equal", own_version, own_stream, True), ("equal_short", text(short), own_stream, True),
    ("higher", text(numbers[:-1] + [numbers[-1] + 1]), own_stream, True), ("lower", text(lower), own_stream, True),
    ("empty_version", "", own_stream, True), ("not_a_version", "abc", own_stream, True),
    ("other_stream", own_version, other_stream, True), ("case_stream", own_version, own_stream.capitalize(), True),
    ("empty_stream", own_version, "", True), ("not_startable", own_version, own_stream, False),
]
def version_passes(answer):
    if not answer or not all(part.isdigit() for part in answer.split(".")):
        return False
    parts, reference = [int(part) for part in answer.split(".")], list(numbers)
    width = max(len(parts), len(reference))
    return parts + [0] * (width - len(parts)) >= reference + [0] * (width - len(reference))
for name, version, stream, starts in variants:
    assert name != "case_stream" or stream != own_stream
    fixture.write(os.path.join(folder, name + ".exe"),
                  fixture.patch_probe(fixture.read(probe), version, stream, not starts))
    shown_version, shown_stream = (version, stream) if starts else ("", "")
    print("\t".join([name, version, stream, "yes" if starts else "no",
                     "1" if version_passes(shown_version) else "0", "1" if shown_stream == own_stream else "0"]))
PY

# Archives made by 7-Zip from one tree: nested and empty folders, non-ASCII names, an empty file, executables
# for the branch filters, a folder of small files, and every modification time 2020-01-02 03:04:05 UTC.
T=$D/archives/tree
mkdir -p "$T/a/b/c" "$T/empty" "$T/Ünïcödé κόσμε/日本"
cp "$PROBE" "$T/a/b/c/probe.exe"
cp "$BIN/installer.exe" "$T/a/installer.exe"
printf 'Grüße, κόσμε, 日本語, 😀\n' > "$T/Ünïcödé κόσμε/日本/テキスト.txt"
seq 1 100000 > "$T/a/b/numbers.txt"
head -c 200000 /dev/urandom > "$T/random.bin"
# A decoded block of several MiB, as real packages have, goes through the mapped buffer's large-view path.
head -c 65536 /dev/urandom > "$D/archives/chunk.bin"
for _ in $(seq 96); do cat "$D/archives/chunk.bin"; done > "$T/repeated.bin"
: > "$T/zero.txt"
# Enough files in one block that several threads write them.
mkdir -p "$T/many"
for i in $(seq 1 12); do printf 'small file %s\n' "$i" > "$T/many/small$i.txt"; done
find "$T" -exec touch -d '2020-01-02 03:04:05 UTC' {} +
while read -r variant expected options; do
  # shellcheck disable=SC2086
  (cd "$T" && 7zz a -bso0 -bsp0 $options "$D/archives/$variant.7z" ./*)
  7zz l -slt "$D/archives/$variant.7z" > "$D/archives/$variant.slt"
  grep -q "^Method = .*$expected" "$D/archives/$variant.slt" || { echo "$variant: 7zz did not use $expected" >&2; exit 1; }
  echo "$variant"
done > "$D/archives/variants.txt" <<'EOF'
lzma_solid LZMA: -m0=LZMA -ms=on
lzma2_nonsolid LZMA2 -m0=LZMA2 -ms=off
bcj_lzma2 BCJ -m0=BCJ -m1=LZMA2 -ms=on
bcj2_solid BCJ2 -m0=BCJ2 -m1=LZMA:d25 -m2=LZMA:d19 -m3=LZMA:d19 -mb0:1 -mb0s1:2 -mb0s2:3 -ms=on
bcj2_default BCJ2 -mx=9 -mf=BCJ2
no_mtime LZMA2 -ms=off -mtm=off
EOF
grep -q '^Modified = .' "$D/archives/no_mtime.slt" && { echo "-mtm=off still stored times" >&2; exit 1; }

# Damaged archives: truncations (the header at the end is lost) and one flipped byte inside packed data.
A=$D/archives/lzma2_nonsolid.7z
size=$(stat -c %s "$A")
for length in 10 32 100 $((size / 2)) $((size - 1)); do head -c "$length" "$A" > "$D/archives/truncated_$length.7z"; done
cp "$A" "$D/archives/corrupted_data.7z"
printf '\xff' | dd of="$D/archives/corrupted_data.7z" bs=1 seek=40 conv=notrunc status=none
7zz t -bso0 -bsp0 -bse0 "$D/archives/corrupted_data.7z" && { echo "the corrupted archive still tests good" >&2; exit 1; }
ls "$D/archives" | sed -n 's/^\(truncated_.*\)\.7z$/\1 SzArchiveOpen/p; s/^\(corrupted_data\)\.7z$/\1 SzExtract/p' \
    > "$D/archives/damaged.txt"

# Entries in a known order, for the read-only target: the listing gives the archive's own order.
mkdir -p "$D/archives/ordered"
for name in first second third; do printf 'contents of %s\n' "$name" > "$D/archives/ordered/$name.txt"; done
(cd "$D/archives/ordered" && 7zz a -bso0 -bsp0 -ms=off "$D/archives/ordered.7z" first.txt second.txt third.txt)
7zz l -slt "$D/archives/ordered.7z" | sed -n 's/^Path = \(.*\.txt\)$/\1/p' > "$D/archives/ordered.list"
# The same in one solid block, with enough files that several threads write them.
mkdir -p "$D/archives/ordered_solid"
for i in $(seq -w 1 30); do seq 1 "$((10#$i * 200))" > "$D/archives/ordered_solid/file$i.txt"; done
(cd "$D/archives/ordered_solid" && 7zz a -bso0 -bsp0 -ms=on "$D/archives/ordered_solid.7z" ./*.txt)
grep -q '^Blocks = 1$' <<<"$(7zz l -slt "$D/archives/ordered_solid.7z")" || { echo "ordered_solid is not solid" >&2; exit 1; }
7zz l -slt "$D/archives/ordered_solid.7z" | sed -n 's/^Path = \(.*\.txt\)$/\1/p' > "$D/archives/ordered_solid.list"
# Two names of one place on Windows, among files that several threads write: the later one in archive order
# is what the place holds after unpacking.
mkdir -p "$D/archives/same_place"
for i in $(seq 1 10); do printf 'other file %s\n' "$i" > "$D/archives/same_place/other$i.txt"; done
printf 'upper case\n' > "$D/archives/same_place/same_X.txt"
printf 'lower case\n' > "$D/archives/same_place/same_x.txt"
(cd "$D/archives/same_place" && 7zz a -bso0 -bsp0 -ms=on "$D/archives/same_place.7z" ./*.txt)
7zz l -slt "$D/archives/same_place.7z" | sed -n 's/^Path = \(same_[Xx]\.txt\)$/\1/p' | tail -1 > "$D/archives/same_place.last"

# Entries whose names lead out of the unpack folder. 7-Zip stores no such name, so the archive is made with a
# placeholder of the same length and an uncompressed header, the name is patched in, and both CRCs of the
# header are recomputed. escapes.txt: case, the name, and where the entry would land (- for nowhere testable)
# when unpacked into out/escape/<case> by the test.
WIN_OUT="Z:$(echo "$D/out/escape" | tr / '\\')"
$PY - "$D/archives" "$WIN_OUT" <<'PY'
import os, struct, subprocess, sys, zlib
folder, windows_out = sys.argv[1:]
cases = [
    ("parent", "../escape-parent.txt", windows_out + "\\escape-parent.txt"),
    ("deep_parent", "a/b/../../../escape-deep.txt", windows_out + "\\escape-deep.txt"),
    ("blank_parent", ".. /escape-blank.txt", windows_out + "\\escape-blank.txt"),
    ("rooted", windows_out[2:] + "\\escape-rooted.txt", windows_out + "\\escape-rooted.txt"),
    ("drive", windows_out + "\\escape-drive.txt", windows_out + "\\escape-drive.txt"),
    ("drive_relative", "Z:escape-drive-relative.txt", "-"),
    ("unc", "\\\\127.0.0.1\\share\\escape-unc.txt", "-"),
    ("device", "nul.txt", "-"),
    ("device_nested", "sub/Nul .dat", "-"),
    ("console_folder", "CONIN$/", "-"),
    ("console_nested", "sub/CONOUT$.txt", "-"),
]
work = os.path.join(folder, "escape_work")
with open(os.path.join(folder, "escapes.txt"), "w") as listing:
    for case, name, lands in cases:
        os.makedirs(work, exist_ok=True)
        # A name ending in a separator is a folder entry.
        placeholder = "x" * len(name.rstrip("/"))
        if name.endswith("/"):
            os.makedirs(os.path.join(work, placeholder))
        else:
            open(os.path.join(work, placeholder), "w").write("outside\n")
        archive = os.path.join(folder, "escape_%s.7z" % case)
        subprocess.run(["7zz", "a", "-bso0", "-bsp0", "-mhc=off", archive, placeholder], cwd=work, check=True)
        data = bytearray(open(archive, "rb").read())
        next_offset, next_size = struct.unpack_from("<QQ", data, 12)
        start = 32 + next_offset
        header = data[start:start + next_size]
        name = name.rstrip("/")
        old, new = placeholder.encode("utf-16-le"), name.encode("utf-16-le")
        assert header.count(old) == 1, case
        header = header.replace(old, new)
        data[start:start + next_size] = header
        struct.pack_into("<I", data, 28, zlib.crc32(header))
        struct.pack_into("<I", data, 8, zlib.crc32(bytes(data[12:32])))
        open(archive, "wb").write(data)
        (os.rmdir if os.path.isdir(os.path.join(work, placeholder)) else os.remove)(os.path.join(work, placeholder))
        listing.write("%s\t%s\t%s\n" % (case, name, lands))
os.rmdir(work)
PY
# 7-Zip itself reads the patched names back.
grep -qx 'Path = ../escape-parent.txt' <<<"$(7zz l -slt "$D/archives/escape_parent.7z")"

# Bases of the mutation test: a full package in an unsigned and a signed file, tracking data, and a small archive
# with an uncompressed header, so that mutations reach names and properties as well as data.
mkdir -p "$D/mutation/tree/sub"
printf 'alpha\n' > "$D/mutation/tree/a.txt"; printf 'beta\n' > "$D/mutation/tree/sub/b.txt"; : > "$D/mutation/tree/sub/empty"
(cd "$D/mutation/tree" && 7zz a -bso0 -bsp0 -mhc=off "$D/mutation/small_plain_header.7z" ./*)
(cd "$D/mutation/tree" && 7zz a -bso0 -bsp0 -m0=BCJ -m1=LZMA "$D/mutation/small_bcj.7z" ./*)
cp "$D/payload/unsigned_full.exe" "$D/payload/signed_full_before_table.exe" "$D/payload/unsigned_tracking.exe" \
   "$D/mutation/"

# The fetcher's scenarios. www/ is what the loopback server serves: package executables around the installer's
# own version and stream carrying a 7z archive (or not), signed as the test branding expects ("Test Signer",
# certs/1) or otherwise, and partner files; sha256.txt is sha256sum of them and of the tracking texts. own/ holds
# the installers whose payload the fetcher reads. expected/ is 7-Zip's extraction of the package archive, whose
# installer and library the fetcher holds once unpacked. open_list/ is the package tree whose files list ends
# without a line break.
F=$D/fetch
mkdir -p "$F"/{www,own,tree/docs,"tree/Ünïcödé",expected}
printf 'package readme\n' > "$F/tree/readme.txt"
cp "$PROBE" "$F/tree/installer.exe"
printf 'the package library\n' > "$F/tree/zorvi.dll"
printf 'readme.txt\r\ndocs\\numbers.txt\r\n' > "$F/tree/files_list"
seq 1 3000 > "$F/tree/docs/numbers.txt"
printf 'κόσμε\n' > "$F/tree/Ünïcödé/名前.txt"
(cd "$F/tree" && 7zz a -bso0 -bsp0 "$F/package.7z" ./*)
cp -r "$F/tree" "$F/open_list"
printf 'readme.txt\r\ndocs\\numbers.txt' > "$F/open_list/files_list"
(cd "$F/open_list" && 7zz a -bso0 -bsp0 "$F/open_list.7z" ./*)
7zz x -bso0 -bsp0 -o"$F/expected" "$F/package.7z"
cp "$F/package.7z" "$F/corrupt.7z"
printf '\xff' | dd of="$F/corrupt.7z" bs=1 seek=40 conv=notrunc status=none
7zz t -bso0 -bsp0 -bse0 "$F/corrupt.7z" && { echo "the corrupted package archive still tests good" >&2; exit 1; }
package() { "$FIXTURE" package "$1" --probe "$PROBE" --internal-version "$2" --stream "$3" "${@:4}"; }
W=$F/www
package "$W/good.exe" 2234.0 nightly --payload "$F/package.7z"
package "$W/open_list.exe" 2234.0 nightly --payload "$F/open_list.7z"
package "$W/signed_test.exe" 2234.0 nightly --payload "$F/package.7z" --sign "$D/certs/1.pem" "$D/certs/1.key"
package "$W/signed_other.exe" 2234.0 nightly --payload "$F/package.7z" --sign "$D/certs/2.pem" "$D/certs/2.key"
package "$W/version_empty.exe" "" nightly --payload "$F/package.7z"
package "$W/version_lower.exe" 2233.9 nightly --payload "$F/package.7z"
package "$W/version_short.exe" 2234 nightly --payload "$F/package.7z"
package "$W/stream_case.exe" 2234.0 Nightly --payload "$F/package.7z"
package "$W/no_archive.exe" 2234.0 nightly --text "tracking data, not an archive"
package "$W/corrupt_archive.exe" 2234.0 nightly --payload "$F/corrupt.7z"
head -c 3000 /dev/urandom > "$W/a.dat"
head -c 5000 /dev/urandom > "$W/b.dat"
(cd "$W" && sha256sum -- *) > "$F/sha256.txt"
for text in abc blob-7; do printf '%s' "$text" | sha256sum | sed "s/-\$/$text/"; done >> "$F/sha256.txt"
O=$F/own
package "$O/full.exe" 2234.0 nightly --payload "$F/package.7z"
package "$O/tracking.exe" 2234.0 nightly --text abc
package "$O/plain.exe" 2234.0 nightly
package "$O/signed.exe" 2234.0 nightly --sign "$D/certs/1.pem" "$D/certs/1.key"
cp "$D/payload/signed_full_after_table.exe" "$O/signed_full_after_table.exe"
cp "$D/payload/security_past_end.exe" "$O/corrupted.exe"
cp "$D/payload/ten_bytes.exe" "$O/not_pe.exe"
