#!/usr/bin/env python3
"""Checks the default-browser scenario (DefaultBrowserMachineTest) from the registry files its wine server wrote:
the rows the per-user and the machine-wide registration left, the user's earlier choices removed, the previous
browser kept, and each answer the scenario recorded, recomputed from the files as wine's classes root shows them
(the machine's classes only).
Usage: default_browser_oracle.py SCENARIO TEMPLATE_SYSTEM_REG USER_REG SYSTEM_REG"""
import sys

ESCAPES = {"\\": "\\", '"': '"', "n": "\n", "r": "\r", "t": "\t", "0": "\0"}


def unquote(text, start):
    """The string that starts after the quote at text[start]; returns it and the index after its closing quote."""
    out, i = [], start + 1
    while text[i] != '"':
        if text[i] == "\\":
            if text[i + 1] == "x":
                j = i + 2
                while j < len(text) and j < i + 6 and text[j] in "0123456789abcdefABCDEF":
                    j += 1
                out.append(chr(int(text[i + 2:j], 16)))
                i = j
                continue
            out.append(ESCAPES.get(text[i + 1], text[i + 1]))
            i += 2
        else:
            out.append(text[i])
            i += 1
    return "".join(out), i + 1


def parse_data(data):
    if data.startswith('"'):
        return ("sz", unquote(data, 0)[0])
    if data.startswith("dword:"):
        return ("dword", int(data[6:], 16))
    if data.startswith("hex(1):") or data.startswith("hex(2):"):
        raw = bytes(int(b, 16) for b in data[7:].replace(" ", "").split(",") if b)
        return ("sz", raw.decode("utf-16-le").split("\0")[0])
    return ("other", data)


def read_reg(path):
    """{lower-case key: {lower-case value name: (kind, data)}} of a wine registry file."""
    keys, current, pending = {}, None, ""
    for raw in open(path, encoding="utf-8", errors="surrogateescape").read().splitlines():
        line = pending + raw.lstrip() if pending else raw
        if not line.startswith("[") and line.endswith("\\") and not line.endswith('"'):
            pending = line[:-1]
            continue
        pending = ""
        if line.startswith("["):
            name = line[1:line.rindex("]")].replace("\\\\", "\\")
            current = keys.setdefault(name.lower(), {})
        elif current is not None and line.startswith("@="):
            current[""] = parse_data(line[2:])
        elif current is not None and line.startswith('"'):
            name, end = unquote(line, 0)
            current[name.lower()] = parse_data(line[end + 1:])
    return keys


def main():
    scenario = dict(line.split("=", 1) for line in open(sys.argv[1], encoding="utf-8").read().splitlines() if line)
    template, user, system = (read_reg(path) for path in sys.argv[2:5])
    folder, cls, product = scenario["folder"], scenario["class"], scenario["product"]
    errors = []

    def rows(base, first, launcher, per_user):
        command = '"%s\\%s" -noautoupdate -- "%%1"' % (folder, launcher)
        out = {base: dict([first, ("url protocol", ("sz", ""))]),
               base + "\\defaulticon": {"": ("sz", folder + "\\Launcher.exe,0")},
               base + "\\shell\\open\\command": {"": ("sz", command)}}
        if per_user:
            for key in ("", "\\application", "\\topic"):
                out[base + "\\shell\\open\\ddeexec" + key] = {"": ("sz", "")}
        return out

    def expected(per_user):
        out = rows("software\\classes\\" + cls.lower(), ("friendlytypename", ("sz", product + " Web Document")),
                   "Launcher.exe", per_user)
        for protocol in ("http", "https", "ftp"):
            out.update(rows("software\\classes\\" + protocol, ("editflags", ("dword", 2)), "launcher.exe", per_user))
        for extension in (".crx", ".htm", ".html", ".nex", ".zvdownload", ".shtml", ".xht", ".xhtml"):
            out["software\\classes\\" + extension] = {"": ("sz", cls)}
        out["software\\clients\\startmenuinternet"] = {"": ("sz", cls)}
        return out

    for view, keys, per_user in (("user.reg", user, True), ("system.reg", system, False)):
        for key, values in expected(per_user).items():
            for name, value in values.items():
                if keys.get(key, {}).get(name) != value:
                    errors.append("%s [%s] %r: %r, want %r" % (view, key, name, keys.get(key, {}).get(name), value))
        # The rows own the class and protocol keys: per user nothing else is there; machine-wide no DDE key is.
        for base in ["software\\classes\\" + name for name in (cls.lower(), "http", "https", "ftp")]:
            found = {k for k in keys if k == base or k.startswith(base + "\\")}
            if per_user and found != {k for k in expected(True) if k == base or k.startswith(base + "\\")}:
                errors.append("%s: keys below %s: %s" % (view, base, sorted(found)))
            if not per_user and any("\\ddeexec" in k for k in found):
                errors.append("%s: a DDE key is left below %s" % (view, base))
    for choice in ("software\\microsoft\\windows\\shell\\associations\\urlassociations\\http\\userchoice",
                   "software\\microsoft\\windows\\currentversion\\explorer\\fileexts\\.htm\\userchoice"):
        if "progid" in user.get(choice, {}):
            errors.append("user.reg: the earlier choice %s is still there" % choice)

    company = "software\\" + scenario["company"].lower()
    other = system.get("software\\classes\\%s\\shell\\open\\command" % scenario["other_class"].lower(), {}).get("")
    wine_http = template.get("software\\classes\\http\\shell\\open\\command", {}).get("")
    for view, keys, want in (("user.reg", user, other), ("system.reg", system, wine_http)):
        got = keys.get(company, {}).get("previous default browser")
        if got != want:
            errors.append("%s: Previous Default Browser %r, want %r" % (view, got, want))

    launcher = (folder + "\\launcher.exe").lower()

    def handles(machine, protocol):
        command = machine.get("software\\classes\\%s\\shell\\open\\command" % protocol, {}).get("", ("", ""))[1]
        return launcher in command.lower()

    def start_menu(machine):
        chosen = user.get("software\\clients\\startmenuinternet", {}).get("")
        chosen = chosen or machine.get("software\\clients\\startmenuinternet", {}).get("")
        return chosen == ("sz", cls)

    answers = {"per_user": handles(template, "http") and handles(template, "https") and start_menu(template),
               "machine_wide": handles(system, "http") and handles(system, "https") and start_menu(system),
               "windows10": handles(system, "http") and handles(system, "https")}
    for name, want in answers.items():
        if scenario[name] != str(int(want)):
            errors.append("answer %s: the scenario says %s, the registry files %d" % (name, scenario[name], want))
    if errors:
        sys.exit("\n".join(errors))
    print("user.reg, system.reg: %d rows per user, %d machine-wide, the earlier choices gone, the previous browser "
          "kept, answers %s recomputed" % (sum(map(len, expected(True).values())),
                                            sum(map(len, expected(False).values())),
                                            " ".join("%s=%d" % (k, v) for k, v in answers.items())))


if __name__ == "__main__":
    main()
