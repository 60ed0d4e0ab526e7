import datetime, json, re, sys
path, written, registry = sys.argv[1], float(sys.argv[2]), sys.argv[3]
root = json.load(open(path, encoding="utf-8"))
value = lambda name: re.search(r"^    %s    REG_SZ    (.*)$" % name, registry, re.M).group(1)
major, minor = map(int, value("CurrentVersion").split("."))
pack = re.match(r"Service Pack (\d+)", value("CSDVersion"))
want_os = {"name": "windows", "version": {"major": major, "minor": minor, "build": int(value("CurrentBuildNumber"))},
           "service_pack": {"major": int(pack.group(1)) if pack else 0, "minor": 0}}
assert root["os"] == want_os, (root["os"], want_os)
assert isinstance(root["ui"], dict) and root["ui"]["initial_installation_mode"] == "current_user", root["ui"]
assert "ui.initial_installation_mode" not in root
chunks = [c for f in root["fetches"] if isinstance(f, dict) for c in f.get("download_chunks", [])]
assert root["wininet_retries"] == len(chunks), root["wininet_retries"]
assert root["download_ips"] == "; ".join(c["ip"] for c in chunks if "ip" in c), root["download_ips"]
times = [root["installation_start_time"], root["installer_start_time"]["time"], root["ui"]["accepted"]["time"],
         root["fetches"][0]["download_start"]["time"]]
for text in times:
    assert re.fullmatch(r"\d{4,}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}", text), text
    when = datetime.datetime.strptime(text, "%Y-%m-%d %H:%M:%S.%f").replace(tzinfo=datetime.timezone.utc)
    assert abs(when.timestamp() - written) <= 1.0, (text, written)
assert 0 <= root["installer_start_time"]["elapsed"] <= 1000
print("statistics: %d keys, os %d.%d.%d, %d chunk records, times within a second of date -u"
      % (len(root), major, minor, want_os["version"]["build"], len(chunks)))
