import json, os, sys

# The build's constants, as the product defines them.
VASTRELO_VERSION, BASE_MAJOR, INTERNAL = "52.0.2716.0", 39, (2234, 0)
STREAM, STREAM_NAMES = 2, {2: "nightly", 3: "beta", 4: "release"}
URL_NAMES = ["autoupdate", "crash", "download", "download_full_windows", "help", "homepage",
             "uninstall_survey", "not_a_url_name"]

def lookup(document, path, kind):
    node = document
    for key in path.split("."):
        if not isinstance(node, dict) or key not in node:
            return None
        node = node[key]
    if kind is int:   # the reader keeps whole numbers within 32 bits as integers, anything else is a double
        ok = type(node) is int and -2**31 <= node < 2**31
    else:
        ok = type(node) is kind
    return node if ok else None

def expectations(raw):
    try:
        document = json.loads(raw.decode("utf-8"))
    except ValueError:
        document = None
    if not isinstance(document, dict):
        document = {}
    text = lambda path: lookup(document, path, str) or ""
    flag = lambda path: bool(lookup(document, path, bool))
    delta = lookup(document, "major_delta", int) or 0
    vastrelo = int(VASTRELO_VERSION.split(".")[0])
    stream = STREAM_NAMES[STREAM]
    e = {
        "GetVastreloMajorVersion": vastrelo,
        "GetBuildRequestTime": "20160518_220129",
        "GetStreamId": STREAM,
        "GetStreamName": stream,
        "GetInternalVersion": "%d.%d" % INTERNAL,
        "GetBuildNumber": 651521,
        "GetBuildSetNumber": 241212,
        "LoadBrandingTextSize": len(raw),
    }
    for getter, key in [("CompanyName", "company_name"), ("CrashLogProductSuffix", "crash_log_product_sufix"),
                        ("DefaultProfilePathTemplate", "default_profile_path_template"), ("Domain", "domain"),
                        ("ExpectedSigner", "expected_signer"), ("FileNameBase", "file_name_base"),
                        ("ProductName", "product_name"), ("ShortcutSuffix", "shortcut_suffix"),
                        ("UserAgentName", "user_agent_name"), ("VisibleProductName", "visible_product_name")]:
        e["GetBranding" + getter] = text(key)
    for getter, key in [("ScheduleAutoupdateTask", "schedule_autoupdate_task"),
                        ("UseVastreloMajorForMinor", "use_vastrelo_major_for_minor"),
                        ("WhiteLabeled", "white_labeled")]:
        e["GetBranding" + getter] = int(flag(key))
    e["GetBrandingMajorDelta"] = delta
    for name in URL_NAMES:
        e["GetBrandingUrl." + name] = text("urls." + name)
    e["GetProductName"] = e["GetBrandingProductName"]
    e["GetUserAgentName"] = e["GetBrandingUserAgentName"]
    e["GetMajorVersion"] = BASE_MAJOR + delta
    minor = vastrelo if flag("use_vastrelo_major_for_minor") else 0
    e["GetFullVersionString"] = "%d.%d.%d.%d" % (BASE_MAJOR + delta, minor, INTERNAL[0], INTERNAL[1])
    e["GetEditionSuffix"] = " (Edition %s)" % stream
    e["GetVisibleProductNameWithStream"] = e["GetBrandingVisibleProductName"] + " " + stream
    e["GetLauncherExeName"] = e["GetBrandingFileNameBase"] + ".exe"
    e["GetStreamDisplayName"] = {"nightly": "Nightly", "beta": "Beta", "release": "Release"}[stream]
    key = ("Software\\" + e["GetBrandingCompanyName"]).encode("utf-16-le")
    e["GetCompanyRegistryKeyPath"] = "".join(
        "%d " % int.from_bytes(key[i:i + 2], "little") for i in range(0, len(key), 2))
    return e

folder = sys.argv[1]
for name in sorted(os.listdir(folder)):
    if not name.endswith(".json"):
        continue
    raw = open(os.path.join(folder, name), "rb").read()
    lines = "".join("%s=%s\n" % item for item in expectations(raw).items())
    open(os.path.join(folder, name[:-5] + ".expected"), "wb").write(lines.encode("utf-8"))
