import hashlib, os, sys
tree, renamed = sys.argv[1], sys.argv[2]
expected = {}
for line in open(os.path.join(tree, "source.sha256"), encoding="utf-8"):
    digest, name = line.rstrip("\n").split("  ", 1)
    expected[name[2:]] = digest
moved_out = expected.pop("d07/f070.bin")
expected["d03/f042.bin"] = hashlib.sha256(open(os.path.join(tree, "replacement.txt"), "rb").read()).hexdigest()
for name in list(expected):
    if (name.startswith("d05/t") and name.endswith(".tmp")) or name.startswith("d08/sub/"):
        del expected[name]
found = {}
for folder, _, files in os.walk(renamed):
    for f in files:
        path = os.path.join(folder, f)
        found[os.path.relpath(path, renamed)] = hashlib.sha256(open(path, "rb").read()).hexdigest()
if found != expected:
    missing = sorted(set(expected) - set(found))[:5]
    extra = sorted(set(found) - set(expected))[:5]
    wrong = sorted(k for k in expected if k in found and found[k] != expected[k])[:5]
    sys.exit("moved tree differs: missing %s extra %s wrong %s" % (missing, extra, wrong))
single = hashlib.sha256(open(os.path.join(tree, "work", "single.bin"), "rb").read()).hexdigest()
if single != moved_out:
    sys.exit("the file moved back across volumes differs")
print("moved tree: %d files match their sha256sum digests" % len(found))
