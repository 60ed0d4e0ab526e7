#!/usr/bin/env python3
"""Outside oracle for the installation status log tests.

generate COUNT SEED OUT: writes COUNT random models (one JSON list) for the round-trip test. Each model holds
    the log's fields and raw registry writes ("records"), which the test turns into key records itself.
mutate COUNT SEED SOURCE OUT: writes COUNT damaged copies of SOURCE as OUT/00000.xml, ...: one to three random
    edits each (a markup, blank or non-ASCII byte inserted or put in place of one, a span deleted or repeated).
facts MODEL: prints what XPath must find in the model's file, a line each: the number of files, the subfolder,
    the user keys' clean levels.
check MODELS XML...: rebuilds a model from each XML file with xml.etree and compares it with what the model
    says the file must hold: the registry records merged by key path, data texts and type names computed here
    from the raw writes, shortcut types from the all-users flag, elements in the file's fixed order.
    MODELS is one model (a JSON object) for one file, or a list of them for files named 0000.xml, 0001.xml, ...
"""
import json
import os
import random
import sys
import xml.etree.ElementTree as ElementTree

TYPE_NAMES = ["REG_NONE", "REG_SZ", "REG_EXPAND_SZ", "REG_BINARY", "REG_DWORD", "REG_DWORD_BIG_ENDIAN",
              "REG_LINK", "REG_MULTI_SZ", "REG_RESOURCE_LIST", "REG_FULL_RESOURCE_DESCRIPTOR",
              "REG_RESOURCE_REQUIREMENTS_LIST", "REG_QWORD"]
# Pieces of random texts: markup characters, quotes, inner blanks, tabs and line breaks, non-ASCII (an astral
# one too).
PIECES = ["a", "b", "Z", "9", "_", ".", "-", "\\", "%", "{x}", " ", "  ", "&", "&amp;", "<", ">", "\"", "'",
          "ü", "é", "日本", "Ω", "😀", "Grüße", "Program Files", "=", ",", ";", "]]>", "<!--", "?>",
          "a\tb", "c\r\nd", "e\rf", "g\nh"]


def random_text(rng, max_pieces=8, allow_empty=False):
    while True:
        text = "".join(rng.choice(PIECES) for _ in range(rng.randint(1, max_pieces))).strip(" ")
        if text or allow_empty:
            return text


def random_path(rng):
    return "C:\\" + "\\".join(random_text(rng, 4) for _ in range(rng.randint(1, 4)))


def random_record(rng, key_pool):
    record = {"hive": rng.choice(["HKLM", "HKCU"]), "key": rng.choice(key_pool),
              "name": random_text(rng, 4, allow_empty=True), "clean": rng.randint(-2, 5),
              "type": rng.choice([-1, 0, 1, 1, 2, 3, 3, 4, 4, 5, 6, 7, 8, 9, 10, 11])}
    if record["type"] in (1, 2):
        record["text"] = random_text(rng, 10, allow_empty=True)
    elif record["type"] == 4:
        record["bytes"] = [rng.randrange(256) for _ in range(4)]
    elif record["type"] >= 0:
        record["bytes"] = [rng.randrange(256) for _ in range(rng.randint(0, 9))]
    return record


def random_model(rng):
    key_pool = [random_text(rng, 6) for _ in range(rng.randint(1, 4))]
    key_pool += [key.upper() for key in key_pool[:1]]  # paths differing in case only are different keys
    return {
        "copy_only": rng.random() < 0.5, "all_users": rng.random() < 0.5, "pinned": rng.random() < 0.5,
        "app_id": random_text(rng, 3, allow_empty=True), "version": random_text(rng, 3),
        "path": random_path(rng), "subfolder": random_text(rng, 3, allow_empty=True),
        "files": [random_path(rng) for _ in range(rng.randint(1, 8))],
        "root_files": [random_path(rng) for _ in range(rng.choice([0, 0, 1, 3]))],
        "records": [random_record(rng, key_pool) for _ in range(rng.randint(0, 10))],
        "desktop": rng.choice(["", random_path(rng)]), "start_menu": rng.choice(["", random_path(rng)]),
        "quick_launch": rng.choice(["", random_path(rng)]),
    }


def data_text(record):
    kind = record["type"]
    if kind in (1, 2):
        return record["text"]
    if kind == 3:
        return ",".join("%02x" % byte for byte in record["bytes"])
    if kind == 4:
        return "%08x" % int.from_bytes(bytes(record["bytes"]), "little")
    return ""


def expected_registry(model):
    hives = {"HKLM": [], "HKCU": []}
    for record in model["records"]:
        if record["type"] == -1:  # a deletion leaves no record
            continue
        keys = hives[record["hive"]]
        key = next((k for k in reversed(keys) if k["path"] == record["key"]), None)
        if key is None:
            key = {"path": record["key"], "clean": record["clean"], "values": []}
            keys.append(key)
        key["clean"] = max(key["clean"], record["clean"])
        key["values"].append((record["name"], TYPE_NAMES[record["type"]], data_text(record)))
    return hives


def expected_file(model):
    boolean = lambda value: "True" if value else "False"
    children = [("path", {"subfolder": model["subfolder"]}, model["path"], []),
                ("files", {}, "", [("file", {}, f, []) for f in model["files"]])]
    if model["root_files"]:
        children.append(("root_files", {}, "", [("file", {}, f, []) for f in model["root_files"]]))
    for hive, keys in expected_registry(model).items():
        if keys:
            children.append(("registry", {"hive": hive}, "", [
                ("key", {"path": k["path"], "clean": str(k["clean"])}, "",
                 [("value", {"name": name, "type": kind}, data, []) for name, kind, data in k["values"]])
                for k in keys]))
    common = "COMMON_" if model["all_users"] else ""
    for field, kind in (("desktop", common + "DESKTOP"), ("start_menu", common + "MENU"),
                        ("quick_launch", "QUICK_LAUNCH")):
        if model[field]:
            children.append(("shortcut", {"type": "SC_DEST_" + kind}, model[field], []))
    attributes = {"version": model["version"], "copy_only": boolean(model["copy_only"]),
                  "all_users": boolean(model["all_users"]), "pinned": boolean(model["pinned"]),
                  "app_id": model["app_id"]}
    return ("install_log", attributes, "", children)


def as_tree(element):
    """(tag, attributes, text, children) of an element; text only of elements without children."""
    children = [as_tree(child) for child in element]
    return (element.tag, dict(element.attrib), "" if children else (element.text or ""), children)


def check(models_path, xml_paths):
    models = json.load(open(models_path, encoding="utf-8"))
    if isinstance(models, dict):
        pairs = [(models, path) for path in xml_paths]
    else:
        by_name = {os.path.basename(path): path for path in xml_paths}
        pairs = [(model, by_name.get("%04d.xml" % index)) for index, model in enumerate(models)]
    failures = 0
    for model, path in pairs:
        if path is None:
            failures += 1
            print("a model has no written file", file=sys.stderr)
            continue
        got = as_tree(ElementTree.parse(path).getroot())
        want = expected_file(model)
        if got != want:
            failures += 1
            print("%s: xml.etree reads\n  %r\nthe model says\n  %r" % (path, got, want), file=sys.stderr)
    print("xml.etree: %d of %d files hold their model" % (len(pairs) - failures, len(pairs)))
    return failures == 0


MUTATION_BYTES = b"<>/=\"'&;!?- \n\tx0\xc3\xbc\xff"


def mutate(rng, text):
    for _ in range(rng.randint(1, 3)):
        at = rng.randint(0, len(text))
        span = text[at:at + rng.randrange(24)]
        edit = rng.randrange(4)
        if edit == 0:
            text = text[:at] + bytes([rng.choice(MUTATION_BYTES)]) + text[at:]
        elif edit == 1:
            text = text[:at] + text[at + len(span):]
        elif edit == 2:
            to = rng.randint(0, len(text))
            text = text[:to] + span + text[to:]
        elif at < len(text):
            text = text[:at] + bytes([rng.choice(MUTATION_BYTES)]) + text[at + 1:]
    return text


def main():
    if sys.argv[1] == "generate":
        count, seed, out = int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
        rng = random.Random(seed)
        with open(out, "w", encoding="utf-8") as f:
            json.dump([random_model(rng) for _ in range(count)], f, ensure_ascii=False)
        return 0
    if sys.argv[1] == "mutate":
        count, seed, source, out = int(sys.argv[2]), int(sys.argv[3]), sys.argv[4], sys.argv[5]
        rng = random.Random(seed)
        original = open(source, "rb").read()
        os.makedirs(out, exist_ok=True)
        for index in range(count):
            with open(os.path.join(out, "%05d.xml" % index), "wb") as f:
                f.write(mutate(rng, original))
        return 0
    if sys.argv[1] == "facts":
        model = json.load(open(sys.argv[2], encoding="utf-8"))
        print(len(model["files"]), model["subfolder"], sep="\n")
        print(" ".join(str(key["clean"]) for key in expected_registry(model)["HKCU"]))
        return 0
    if sys.argv[1] == "check":
        return 0 if check(sys.argv[2], sys.argv[3:]) else 1
    sys.exit(__doc__)


if __name__ == "__main__":
    sys.exit(main())
