"""Checks what the finishing steps of one installation scenario left: the status log's facts (read by xmllint and
handed over), "installer_prefs.json", the autoupdate task in the recording scheduler's file, the launcher's
recorded command line and a kept earlier log. Usage: finished_oracle.py FACTS SCENARIO STRINGS_RC VERSION APP_ID
COPY_ONLY SUBFOLDER FILE_COUNT EXPECTED_VERSION LISTED_FILES OLD_LOGS OLD_APP_ID"""
import glob, json, os, re, sys

(facts_path, scenario, strings_rc, version, app_id, copy_only, subfolder, file_count, expected_version,
 listed_files, old_logs, old_app_id) = sys.argv[1:]
facts = json.load(open(facts_path))
install = os.path.join(scenario, "Zorvi")
branding = json.load(open(os.path.join(scenario, "branding.json")))
copy = facts.get("copy_only", False)

assert version == expected_version == subfolder, (version, expected_version, subfolder)
assert copy_only == ("True" if copy else "False"), copy_only
assert int(float(file_count)) == int(listed_files), (file_count, listed_files)
assert re.fullmatch(r"\d+", app_id), app_id
if facts.get("upgraded"):
    assert old_logs == "1" and old_app_id == app_id, (old_logs, old_app_id, app_id)
    kept = glob.glob(os.path.join(install, "old_status", "installation_status.xml.*"))
    assert re.fullmatch(r"installation_status\.xml\.\d{10}", os.path.basename(kept[0])), kept

prefs = json.load(open(os.path.join(install, "installer_prefs.json"), encoding="utf-8"))
assert prefs["installer-experiments"] == [], prefs
assert len(prefs["all-installer-experiments"]) == 4, prefs
assert all(re.fullmatch(r".+@[12]", entry) for entry in prefs["all-installer-experiments"]), prefs
assert prefs["welcome-url"] == json.load(open(os.path.join(scenario, "download", "installer_prefs_include.json")))["welcome-url"]
assert isinstance(prefs["single_profile"], bool) and isinstance(prefs["import_browser_data"], bool), prefs
assert isinstance(prefs["enable_stats"], bool), prefs
if "au_task_error_count" in facts:
    assert prefs["au_task_error_count"] == facts["au_task_error_count"], prefs

# No file: the scheduler was never asked for anything.
record = os.path.join(scenario, "tasks.json")
tasks = json.load(open(record, encoding="utf-8")).get("tasks", {}) if os.path.exists(record) else {}
name = branding["product_name"] + " scheduled Autoupdate " + app_id
if copy:
    assert tasks == {}, tasks
else:
    assert list(tasks) == [name], (list(tasks), name)
    task = tasks[name]
    description = re.search(r'IDS_AUTOUPDATE_TASK, "(.*)"', open(strings_rc, encoding="utf-8").read()).group(1)
    scheduled = bool(branding.get("schedule_autoupdate_task", False))
    want = {"program": "Z:" + install.replace("/", "\\") + "\\launcher.exe",
            "arguments": "--scheduledautoupdate $(Arg0)", "description": description, "all_users": False,
            "execution_time_limit_seconds": 3600, "trigger_kind": 1 if scheduled else 2,
            "add_logon_trigger": scheduled, "run_only_if_network_available": True}
    assert {key: task[key] for key in want} == want, (task, want)

if "launcher" in facts:
    commands = open(os.path.join(install, "launcher.exe.commands.txt"), encoding="utf-8").read().split()
    assert commands[1:] == facts["launcher"], commands
print("%s: version %s, app id %s, %d prefs, %d tasks" % (os.path.basename(scenario), version, app_id, len(prefs),
                                                         len(tasks)))
