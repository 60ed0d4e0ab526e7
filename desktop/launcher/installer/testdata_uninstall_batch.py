import json, os, sys
scenario, page = sys.argv[1:]
version, install_name = open(os.path.join(scenario, "uninstalled"), encoding="utf-8").read().split("\n")
version = version.rstrip("\\")
install = "Z:" + os.path.join(scenario, install_name).replace("/", "\\")
starts = [line.split("\t") for line in open(os.path.join(scenario, "starts.txt"), encoding="utf-8").read().splitlines()]
batches = [s for s in starts if s[0] == "batch"]
assert len(batches) == 1, starts
kind, pid, initial, parent, command = batches[0]
assert command == '"%s\\k.bat"' % install, command
pids = [int(pid)] + [int(p) for p in (initial, parent) if p and int(p) != 0]
lines = ["SET PID%d_RUNNING=TRUE" % (i + 1) for i in range(len(pids))] + [":again"]
for i, p in enumerate(pids):
    lines += ["IF %%PID%d_RUNNING%%==TRUE (" % (i + 1), 'TASKLIST /FI "PID eq %d" | FIND /c /i ".exe"' % p,
              "IF ERRORLEVEL 1 SET PID%d_RUNNING=FALSE" % (i + 1), ")"]
lines += ["ping -n 2 127.0.0.1"] + ["IF %%PID%d_RUNNING%%==TRUE GOTO :again" % (i + 1) for i in range(len(pids))]
package = sorted(d for d in os.listdir(scenario) if d.startswith("download"))[-1]  # the last one installed
listed = [l for l in open(os.path.join(scenario, package, "files_list"), encoding="utf-8").read().splitlines() if l]
folder = install + "\\" + version
lines += ['del "%s\\%s"' % (folder, f) for f in listed if f in ("installer.exe", "zorvi.dll")]
lines += ['rmdir "%s"' % f for f in sorted([folder, install], reverse=True)] + ["del %0"]
# The command processor expands %...% even between quotes: a percent sign of a path is written twice.
lines = [l.replace("%", "%%") if l.startswith(("del \"", "rmdir \"")) else l for l in lines]
want = ("\n".join(lines) + "\n").encode(page)
got = open(os.path.join(scenario, "k.bat.written"), "rb").read()
assert got == want, (got, want)
tasks = json.load(open(os.path.join(scenario, "tasks.json"), encoding="utf-8"))
calls = [(c["call"], c.get("suffix", "")) for c in tasks["calls"]]
last = max(i for i, (call, _) in enumerate(calls) if call == "Create")
assert ("Delete", calls[last][1]) in calls[last:], calls
assert not tasks.get("tasks"), tasks
