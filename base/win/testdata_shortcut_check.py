import sys
fields = dict(line.split("=", 1) for line in open(sys.argv[1], encoding="utf-8").read().splitlines())
info = {}
for line in open(sys.argv[2], encoding="utf-8").read().splitlines():
    name, colon, value = line.strip().partition("\t: ")
    if colon:
        info[name.strip()] = value
full = {"Local path": fields["target"], "Working directory": fields["working_dir"],
        "Command line arguments": fields["arguments"], "Description": fields["description"],
        "Icon location": fields["icon"], "Icon index": fields["icon_index"]}
expected = {
    "created": full,
    "updated": dict(full, Description=fields["new_description"]),
    "replaced": {"Local path": fields["target"], "Command line arguments": fields["arguments"],
                 "Description": fields["new_description"], "Working directory": None, "Icon location": None},
}[sys.argv[3]]
wrong = [(name, want, info.get(name)) for name, want in expected.items() if info.get(name) != want]
if wrong:
    sys.exit("%s.lnk as lnkinfo reads it: %r" % (sys.argv[3], wrong))
print("%s.lnk verified with lnkinfo" % sys.argv[3])
