#!/usr/bin/python3
"""Makes package executables for tests, on the Linux side, from the package_probe.exe stand-in.

A fixture is built in up to three steps, each also available on its own:
  1. probe:   a copy of package_probe.exe whose "--internal-version" and "--stream" answers are patched in
              (optionally made unstartable: its machine type is one no x64 system runs);
  2. append:  the payload block appended to it: "ZRV", the payload, the payload's length (u32, little-endian).
              The block is preceded by zero padding so that the file ends on a multiple of 8 bytes: a signing
              tool pads to 8 bytes before it adds the certificate table, and without the alignment the block
              would end short of the table, where no reader looks for it;
  3. sign:    an Authenticode signature by a leaf certificate of the test CA (osslsigncode); the signature then
              covers the block, which ends exactly where the certificate table starts.

Commands:
  certs DIR [--signer CN]...     a test CA (DIR/ca.pem, DIR/ca.key) and one code-signing leaf per CN
                                 (DIR/<n>.pem, DIR/<n>.key, n = 1, 2, ...; CN is UTF-8)
  probe IN OUT --internal-version TEXT --stream TEXT [--not-startable]
  append IN OUT (--payload FILE | --text TEXT) [--no-align]
  sign IN OUT --cert PEM --key KEY [--ca PEM]
  package OUT --probe EXE --internal-version TEXT --stream TEXT [--not-startable]
          [--payload FILE | --text TEXT] [--sign PEM KEY] [--ca PEM]
                                 all three steps; the block is appended before signing

Windows-side counterpart: testing/trusted_test_root.h puts the test CA among the machine's trusted roots.
"""
import argparse
import os
import struct
import subprocess
import sys
import tempfile

MARKER = b"package-probe-answers:v1"
FIELD_SIZES = (32, 64, 64)  # marker, internal version, stream: the record in package_probe.c
PAYLOAD_MARKER = b"ZRV"
UNSTARTABLE_MACHINE = 0x01C4  # ARM Thumb-2: a valid PE that an x64 system refuses to start


def read(path):
    with open(path, "rb") as f:
        return f.read()


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


def patch_probe(image, internal_version, stream, not_startable):
    image = bytearray(image)
    at = image.find(MARKER)
    if at < 0 or image.find(MARKER, at + 1) >= 0:
        sys.exit("make_package_fixture: the answer record is not found exactly once")
    offset = at + FIELD_SIZES[0]
    for value, size in zip((internal_version, stream), FIELD_SIZES[1:]):
        encoded = value.encode("utf-8")
        if len(encoded) >= size:
            sys.exit("make_package_fixture: answer %r is longer than %d bytes" % (value, size - 1))
        image[offset:offset + size] = encoded + b"\0" * (size - len(encoded))
        offset += size
    if not_startable:
        pe = struct.unpack_from("<I", image, 60)[0]
        if image[pe:pe + 4] != b"PE\0\0":
            sys.exit("make_package_fixture: not a PE image")
        struct.pack_into("<H", image, pe + 4, UNSTARTABLE_MACHINE)
    return bytes(image)


def payload_block(payload):
    return PAYLOAD_MARKER + payload + struct.pack("<I", len(payload))


def append_payload(image, payload, align=True):
    block = payload_block(payload)
    padding = (-(len(image) + len(block)) % 8) if align else 0
    return image + b"\0" * padding + block


def sign(source, target, cert, key, ca=None):
    command = ["osslsigncode", "sign", "-certs", cert, "-key", key, "-h", "sha256", "-in", source, "-out", target]
    if ca:
        command[4:4] = ["-ac", ca]
    if os.path.exists(target):
        os.remove(target)
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL)


def openssl(*arguments):
    subprocess.run(["openssl", *arguments], check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def make_certs(folder, signers):
    os.makedirs(folder, exist_ok=True)
    ca_key, ca_pem = os.path.join(folder, "ca.key"), os.path.join(folder, "ca.pem")
    openssl("req", "-x509", "-utf8", "-newkey", "rsa:2048", "-nodes", "-keyout", ca_key, "-out", ca_pem,
            "-days", "3650", "-subj", "/CN=Package Fixture Test Root", "-addext",
            "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign,cRLSign")
    with tempfile.TemporaryDirectory() as work:
        extensions = os.path.join(work, "leaf.ext")
        with open(extensions, "w") as f:
            f.write("basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\n"
                    "extendedKeyUsage=codeSigning\n")
        for number, common_name in enumerate(signers, 1):
            key, pem = (os.path.join(folder, "%d.%s" % (number, kind)) for kind in ("key", "pem"))
            request = os.path.join(work, "%d.csr" % number)
            openssl("req", "-utf8", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", request,
                    "-subj", "/CN=" + common_name.replace("/", "\\/"))
            openssl("x509", "-req", "-in", request, "-CA", ca_pem, "-CAkey", ca_key, "-set_serial",
                    str(1000 + number), "-days", "3650", "-extfile", extensions, "-out", pem)


def payload_of(arguments):
    if arguments.payload is not None:
        return read(arguments.payload)
    if arguments.text is not None:
        return arguments.text.encode("utf-8")
    return None


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    commands = parser.add_subparsers(dest="command", required=True)

    certs = commands.add_parser("certs")
    certs.add_argument("folder")
    certs.add_argument("--signer", action="append", default=[])

    def answers(command):
        command.add_argument("--internal-version", required=True)
        command.add_argument("--stream", required=True)
        command.add_argument("--not-startable", action="store_true")

    def payload_source(command, required):
        group = command.add_mutually_exclusive_group(required=required)
        group.add_argument("--payload")
        group.add_argument("--text")

    probe = commands.add_parser("probe")
    probe.add_argument("source")
    probe.add_argument("target")
    answers(probe)

    append = commands.add_parser("append")
    append.add_argument("source")
    append.add_argument("target")
    payload_source(append, True)
    append.add_argument("--no-align", action="store_true")

    signing = commands.add_parser("sign")
    signing.add_argument("source")
    signing.add_argument("target")
    signing.add_argument("--cert", required=True)
    signing.add_argument("--key", required=True)
    signing.add_argument("--ca")

    package = commands.add_parser("package")
    package.add_argument("target")
    package.add_argument("--probe", required=True)
    answers(package)
    payload_source(package, False)
    package.add_argument("--sign", nargs=2, metavar=("PEM", "KEY"))
    package.add_argument("--ca")

    arguments = parser.parse_args()
    if arguments.command == "certs":
        make_certs(arguments.folder, arguments.signer)
    elif arguments.command == "probe":
        write(arguments.target, patch_probe(read(arguments.source), arguments.internal_version, arguments.stream,
                                            arguments.not_startable))
    elif arguments.command == "append":
        write(arguments.target, append_payload(read(arguments.source), payload_of(arguments),
                                               not arguments.no_align))
    elif arguments.command == "sign":
        sign(arguments.source, arguments.target, arguments.cert, arguments.key, arguments.ca)
    else:
        image = patch_probe(read(arguments.probe), arguments.internal_version, arguments.stream,
                            arguments.not_startable)
        payload = payload_of(arguments)
        if payload is not None:
            image = append_payload(image, payload)
        if arguments.sign:
            unsigned = arguments.target + ".unsigned"
            write(unsigned, image)
            sign(unsigned, arguments.target, arguments.sign[0], arguments.sign[1], arguments.ca)
            os.remove(unsigned)
        else:
            write(arguments.target, image)


if __name__ == "__main__":
    main()
