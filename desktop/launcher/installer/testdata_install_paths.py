import glob, os, re, sys
text = open(sys.argv[1], "rb").read().decode("utf-16", errors="replace")
sections = {}
for match in re.finditer(r"^\[HKEY_CURRENT_USER\\Software\\([^\]\\]+)\]\r?\n((?:[^\r\n]+\r?\n)*)", text, re.M):
    sections[match.group(1)] = match.group(2)
checked = 0
for scenario in glob.glob(os.path.join(sys.argv[2], "*", "expect")):
    folder = os.path.dirname(scenario)
    words = open(scenario).readline().split()
    company = open(os.path.join(folder, "company")).read()
    value = re.search(r'^"Last [^"]* Install Path"="(.*)"\r?$', sections.get(company, ""), re.M)
    name = os.path.basename(folder)
    # An upgrade's earlier installation was per-user too; its failure leaves that installation's value.
    installed = words[0] == "installed" or name.startswith("upgrade")
    if installed and (name.startswith(("per_user", "upgrade")) or words[2:] == ["last-path"]):
        assert value, "%s: no last install path" % folder
        want = "Z:" + folder.replace("/", "\\") + "\\Zorvi\\"
        assert value.group(1).replace("\\\\", "\\") == want, (value.group(1), want)
    else:
        assert not value, "%s: a last install path remains: %s" % (folder, value.group(1))
    checked += 1
print("reg export: the last install path of %d scenarios is where it must be" % checked)
