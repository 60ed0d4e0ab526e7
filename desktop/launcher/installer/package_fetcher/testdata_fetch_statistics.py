import json, os, sys
folder = sys.argv[1]
def load(scenario):
    with open(os.path.join(folder, scenario, "stats.json"), encoding="utf-8") as f:
        return json.load(f)
def steps_in_order(fetch, keys):
    times = [fetch[key]["elapsed"] for key in keys]
    assert times == sorted(times), (keys, times)
    for key in keys:
        assert len(fetch[key]["time"]) == 23, fetch[key]

full = load("full_package")
assert [f["result"] for f in full["fetches"]] == ["package_ready"], full["fetches"]
assert "download_url" not in full["fetches"][0] and "fetcher_restarts" not in full
steps_in_order(full["fetches"][0], ["start_time", "unpack_start_time", "unpack_end_time", "package_ready_time"])
for key in ("installation_start_unpacking_time", "installation_unpack_complete_time", "package_ready_time"):
    assert isinstance(full[key], str), key

tracking = load("tracking")
[fetch] = tracking["fetches"]
assert fetch["try_number"] == 0 and fetch["result"] == "package_ready"
assert fetch["download_url"] == tracking["download_url"] and fetch["download_url"].startswith("http://127.0.0.2:")
assert fetch["download_url"].endswith("/good.exe"), fetch["download_url"]
assert (fetch["internal_version"], fetch["stream"]) == ("2234.0", "nightly"), fetch
assert (fetch["fetch_download_url_http_status"], fetch["fetch_download_url_wininet_error"]) == (200, 0), fetch
[chunk] = fetch["download_chunks"]
assert (chunk["ip"], chunk["http_status"]) == ("127.0.0.2", 200), chunk
steps_in_order(fetch, ["start_time", "fetch_download_url_start_time", "download_start_time", "download_end_time",
                       "extract_start_time", "unpack_start_time", "unpack_end_time", "package_ready_time"])
assert "installation_start_download_time" in tracking

given_up = load("partners_given_up")
listed, never = given_up["fetches"]
assert [(a["download_url"].rsplit("/", 1)[1], a["download_succeeded"], [t["try_number"] for t in a["download_tries"]],
         a["download_tries"][0]["http_status"]) for a in listed["addtional_files"]] == \
    [("a.dat", 1, [0], 200), ("b.dat", 1, [0], 200)], listed["addtional_files"]
assert "result" not in never, never
[never_file] = never["addtional_files"]
assert never_file["download_succeeded"] == 0 and [t["try_number"] for t in never_file["download_tries"]] == [0, 1, 2, 3]

restarts = load("restarts")
assert [(f["try_number"], f["result"]) for f in restarts["fetches"]] == \
    [(0, "download_failed"), (1, "download_failed"), (2, "package_ready")], restarts["fetches"]
assert restarts["fetcher_restarts"] == 2
assert [f.get("fetch_download_url_http_status") for f in restarts["fetches"]] == [404, 404, 200]
with open(os.path.join(folder, "tracking", "tree", "installer_prefs_include.json"), encoding="utf-8") as f:
    assert json.load(f) == {"welcome-url": "https://welcome.example/first run?x=1"}
