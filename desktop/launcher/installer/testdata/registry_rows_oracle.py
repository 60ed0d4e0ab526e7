#!/usr/bin/env python3
"""Checks the scenarios of InstallerScenarioTest.RegistryRowsInAPrefixOfTheirOwn from the registry files their wine
server wrote. Each product's rows are worked out here from the installation's registry table for its hive, Windows
level and stream. An installed product's rows are in its hive with their data, exactly as its status log records
them, under the first uninstall entry its run found free, and nothing of it is anywhere else; the machine-wide ones
left no DDE key below their class. An uninstalled product left none of its values and none of its own keys; one
whose damaged log climbed too far left the keys it does not own ("Software" with another program's value, the
uninstall entry emptied) and its run logged each refusal. Prints the rows each installation wrote.
SCENARIOS_TXT has a line per scenario, in the order they ran: its name (which says its hive, its Windows level and
whether it was uninstalled), its folder below "scenarios" beside the file, and its install folder.
Usage: registry_rows_oracle.py SCENARIOS_TXT STREAM_NAME VERSION USER_REG SYSTEM_REG"""
import glob
import json
import os
import sys
import xml.etree.ElementTree as ET

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from default_browser_oracle import read_reg  # noqa: E402

VISTA = 3
STREAM_IDS = {"nightly": 2, "beta": 3, "release": 4}
# The operations each scenario carries out (values written and keys deleted) at stream 2, as the table gives them.
OPERATIONS = {"per_user_win7": 53, "machine_wide_win7": 51, "per_user_xp": 34, "machine_wide_xp": 32}
NONE = ("other", "hex(0):")  # a REG_NONE value as wine's registry file holds it


def table(product, stream, version, folder, branding):
    """(key, value name or None for a key deletion, data, min. Windows, hive or None, min. stream) in order."""
    cls, launcher = product + stream, folder + "\\Launcher.exe"
    base, client = "Software\\Classes\\" + cls, "Software\\Clients\\StartMenuInternet\\" + cls
    uninstall = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\%s %s" % (product, version)
    urls = branding.get("urls", {})
    sz = lambda text: ("sz", text)
    rows = [
        (base, "FriendlyTypeName", sz(product + " Web Document"), 1, None, 0),
        (base, "URL Protocol", sz(""), 1, None, 0),
        (base + "\\DefaultIcon", "", sz(launcher + ",0"), 1, None, 0),
        (base + "\\shell\\open\\command", "", sz('"%s" -noautoupdate -- "%%1"' % launcher), 1, None, 0),
        (base + "\\shell\\open\\ddeexec", None, None, 1, "HKLM", 0),
        (base + "\\shell\\open\\ddeexec", "", sz(""), 1, "HKCU", 0),
        (base + "\\shell\\open\\ddeexec\\Application", "", sz(""), 1, "HKCU", 0),
        (base + "\\shell\\open\\ddeexec\\Topic", "", sz(""), 1, "HKCU", 0),
        ("Software\\Classes\\.zex", "", sz(cls + ".Extension"), 1, None, 0),
        ("Software\\Classes\\.zex\\OpenWithProgIDs", cls, NONE, 1, None, 0),
    ]
    for extension in (".zvdownload", ".htm", ".html", ".pdf", ".shtml", ".xht", ".xhtml"):
        rows.append(("Software\\Classes\\%s\\OpenWithProgIDs" % extension, cls, NONE, 1, None, 0))
    app_paths = "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\" + branding["file_name_base"] + ".exe"
    rows += [
        ("Software\\Classes\\Applications\\%s.exe\\shell\\open\\command" % branding["file_name_base"], "",
         sz('"%s" "%%1"' % launcher), 1, None, 4),
        (app_paths, "", sz('"%s"' % launcher), 1, None, 4),
        (app_paths, "Path", sz('"%s"' % folder), 1, None, 4),
        ("Software\\Microsoft\\Windows NT\\CurrentVersion\\AppCompatFlags\\Compatibility Assistant\\Persisted",
         launcher, ("dword", 32), VISTA, None, 0),
        ("Software\\RegisteredApplications", "%s %s" % (product, stream), sz(client + "\\Capabilities"), VISTA, None, 0),
        (client, "", sz("%s %s" % (product, stream)), 1, None, 0),
        (client + "\\DefaultIcon", "", sz(launcher + ",0"), 1, None, 0),
        (client + "\\InstallInfo", "ShowIconsCommand", sz('"%s" --showicons' % launcher), 1, None, 0),
        (client + "\\InstallInfo", "HideIconsCommand", sz('"%s" --hideicons' % launcher), 1, None, 0),
        (client + "\\InstallInfo", "ReinstallCommand", sz('"%s" --makedefaultbrowser' % launcher), 1, None, 0),
        (client + "\\InstallInfo", "IconsVisible", ("dword", 1), 1, None, 0),
        (client + "\\shell\\open\\command", "", sz('"%s"' % launcher), 1, None, 0),
        (client + "\\Capabilities", "ApplicationDescription", None, VISTA, None, 0),  # the maker's text: any
        (client + "\\Capabilities", "ApplicationIcon", sz('"%s",0' % launcher), VISTA, None, 0),
        (client + "\\Capabilities", "ApplicationName", sz("%s %s" % (product, stream)), VISTA, None, 0),
    ]
    for extension in (".crx", ".htm", ".html", ".nex", ".zvdownload", ".pdf", ".shtml", ".xht", ".xhtml"):
        rows.append((client + "\\Capabilities\\FileAssociations", extension, sz(cls), VISTA, None, 0))
    rows.append((client + "\\Capabilities\\Startmenu", "StartMenuInternet", sz(cls), VISTA, None, 0))
    for protocol in ("http", "https", "ftp", "mailto"):
        rows.append((client + "\\Capabilities\\UrlAssociations", protocol, sz(cls), VISTA, None, 0))
    for name, data in (("DisplayName", sz("%s %s %s" % (product, stream, version))),
                       ("DisplayIcon", sz('"%s",0' % launcher)), ("DisplayVersion", sz(version)),
                       ("HelpLink", sz(urls.get("help", ""))), ("InstallLocation", sz(folder)),
                       ("NoModify", ("dword", 1)), ("NoRepair", ("dword", 1)),
                       ("Publisher", sz(branding["company_name"])),
                       ("UninstallString", sz('"%s" /uninstall' % launcher)),
                       ("URLInfoAbout", sz(urls.get("homepage", ""))), ("URLUpdateInfo", sz(urls.get("download", "")))):
        rows.append((uninstall, name, data, 1, None, 0))
    assert len(rows) == 57, len(rows)
    return rows


def recorded_values(log, hive):
    """{(lower-case key, lower-case name): data as read_reg gives it} of the status log's records of a hive."""
    values = {}
    for registry in ET.parse(log).getroot().findall("registry"):
        for key in registry.findall("key") if registry.get("hive") == hive else []:
            for value in key.findall("value"):
                text = (value.text or "").strip()
                data = {"REG_SZ": ("sz", text), "REG_NONE": NONE}.get(value.get("type"))
                if value.get("type") == "REG_DWORD":
                    data = ("dword", int(text, 16))
                values[(key.get("path").lower(), value.get("name").lower())] = data
    return values


def main():
    listing, stream, version = sys.argv[1], sys.argv[2], sys.argv[3]
    stream_id = STREAM_IDS[stream]
    hives = {"HKCU": read_reg(sys.argv[4]), "HKLM": read_reg(sys.argv[5])}
    errors, counts, last_extension = [], {}, {}
    for line in open(listing, encoding="utf-8").read().splitlines():
        name, folder_name, folder = line.split("\t")
        scenario = os.path.join(os.path.dirname(listing), "scenarios", folder_name)
        fate = "damaged" if "_damaged_" in name else "uninstalled" if name.endswith("_uninstalled") else "installed"
        taken = open(os.path.join(scenario, "taken")).read()
        branding = json.load(open(os.path.join(scenario, "branding.json"), encoding="utf-8"))
        product = branding["product_name"]
        hive = "HKLM" if name.startswith("machine_wide") else "HKCU"
        windows = 1 if name.endswith("_xp") else 4
        keys = hives[hive]
        # The first of "", "1", "2", ... that no entry of the product took before the run.
        suffix = str(int(taken)) if int(taken) else ""
        entry = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\%s %s" % (product, version)
        rows = [(entry + suffix if row[0] == entry else row[0],) + row[1:]
                for row in table(product, stream, version, folder, branding)]
        operations, expected = 0, {}
        for key, value, data, min_windows, only, min_stream in rows:
            if windows < min_windows or (only and only != hive) or stream_id < min_stream:
                if value is not None and value.lower() in keys.get(key.lower(), {}) and key != "Software\\Classes\\.zex":
                    errors.append("%s: %s [%s] %r written, though the row does not apply" % (name, hive, key, value))
                continue
            operations += 1
            got = keys.get(key.lower(), {}).get("" if value is None else value.lower())
            if value is None:
                left = [k for k in keys if k == key.lower() or k.startswith(key.lower() + "\\")]
                if left:
                    errors.append("%s: %s still has %s" % (name, hive, left))
            elif key == "Software\\Classes\\.zex" and value == "":
                if fate == "installed":
                    last_extension[hive] = (name, data)  # every product writes it: the last one's stays
            elif fate != "installed":
                if got is not None:
                    errors.append("%s: %s [%s] %r is left: %r" % (name, hive, key, value, got))
            elif got is None or (data is not None and got != data):
                errors.append("%s: %s [%s] %r is %r, want %r" % (name, hive, key, value, got, data))
            if value is not None:
                expected[(key.lower(), value.lower())] = data if data is not None else got
        cls = (product + stream).lower()
        own = ["software\\classes\\" + cls, "software\\clients\\startmenuinternet\\" + cls, (entry + suffix).lower()]
        if fate == "installed":
            counts[name] = operations
            if stream_id == 2 and OPERATIONS[name] != operations:
                errors.append("%s: %d operations, want %d" % (name, operations, OPERATIONS[name]))
            log = os.path.join(scenario, folder.rsplit("\\", 1)[1], "installation_status.xml")
            if recorded_values(log, hive) != expected:
                errors.append("%s: the status log records %s, the table %s" % (
                    name, sorted(set(recorded_values(log, hive).items()) ^ set(expected.items()))[:6], hive))
            if recorded_values(log, "HKLM" if hive == "HKCU" else "HKCU"):
                errors.append("%s: the status log records values of the other hive" % name)
        else:
            damaged = fate == "damaged"
            for key in own:
                if any(k == key or k.startswith(key + "\\") for k in keys) and not (damaged and key == own[2]):
                    errors.append("%s: %s keeps %s" % (name, hive, key))
            if damaged:
                if keys.get(own[2]) != {}:
                    errors.append("%s: the uninstall entry %s is not left empty: %r" % (name, own[2], keys.get(own[2])))
                if keys.get("software", {}).get("sentinel") != ("sz", "kept") or \
                        "otherbrowser.html" not in keys.get("software\\classes\\.htm\\openwithprogids", {}):
                    errors.append("%s: another program's values went" % name)
                logs = "".join(open(f, encoding="utf-8", errors="replace").read()
                               for f in glob.glob(os.path.join(scenario, "temp", "**", "*.log"), recursive=True))
                for target in ("Software", "Software\\Microsoft\\Windows\\CurrentVersion"):
                    if 'Refusing to delete the key "%s"' % target not in logs:
                        errors.append("%s: no refusal to delete %s logged" % (name, target))
        # Nothing of the product's class, client or uninstall entry below the other hive.
        other = hives["HKCU" if hive == "HKLM" else "HKLM"]
        for prefix in own:
            if any(k == prefix or k.startswith(prefix + "\\") for k in other):
                errors.append("%s: the other hive holds %s" % (name, prefix))
    for hive, (name, data) in last_extension.items():
        got = hives[hive].get("software\\classes\\.zex", {}).get("")
        if got != data:
            errors.append("%s: .zex default %r, want the last product's %r (%s)" % (hive, got, data, name))
    if errors:
        sys.exit("\n".join(errors))
    print("user.reg, system.reg: registry operations per installation " +
          ", ".join("%s %d" % item for item in counts.items()) + "; the status logs record them; " +
          "the uninstalled products left none")


if __name__ == "__main__":
    main()
