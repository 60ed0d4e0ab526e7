#!/usr/bin/python3
"""Checks on Linux, through pefile, that a host executable carries every resource the installer library looks up
in it: the manifest, icon 1, the two dialog templates with each control's id, class and style, the pictures, the
branding, language and terms texts and the string tables of every language it lists.

Usage:
  check_host_resources.py --hosts LIST         checks every host named in LIST (one path a line); fails on a problem
  check_host_resources.py HOST...              the same for the hosts given
  check_host_resources.py --expect TEXT... -- HOST
                                               passes only when the host has problems and each TEXT is part of one
                                               (the check's own test on a host that lacks what it should have)
  check_host_resources.py --strings HOST       prints the string tables as JSON: {"languages": [tags of 134],
                                               "tables": {"0x0409": {"2313:9": text, ...}}}, keyed by block and entry
"""
import json
import locale
import struct
import sys
import xml.etree.ElementTree as ElementTree

import pefile

RT_ICON, RT_DIALOG, RT_STRING, RT_GROUP_ICON, RT_MANIFEST = 3, 5, 6, 14, 24
FIRST_STRING, LAST_STRING = 37000, 37060

WS_POPUP, WS_CHILD, WS_VISIBLE, WS_CAPTION = 0x80000000, 0x40000000, 0x10000000, 0x00C00000
DS_SETFONT, DS_CONTROL = 0x40, 0x400
BS_PUSHBUTTON, BS_DEFPUSHBUTTON, BS_AUTOCHECKBOX, BS_TYPEMASK = 0, 1, 3, 0xF
ES_MULTILINE, ES_READONLY = 0x4, 0x800
CBS_DROPDOWN, CBS_DROPDOWNLIST, CBS_TYPEMASK, CBS_SORT = 2, 3, 3, 0x100
CLASS_ORDINALS = {0x80: "button", 0x81: "edit", 0x82: "static", 0x83: "listbox", 0x84: "scrollbar", 0x85: "combobox"}

# What each control must be: class, and (mask, value) pairs its style must match.
PUSH = ("button", [(BS_TYPEMASK, BS_PUSHBUTTON)])
STATIC = ("static", [])
READ_ONLY_MULTILINE = [(ES_MULTILINE | ES_READONLY, ES_MULTILINE | ES_READONLY)]
AUTO_CHECKBOX = ("button", [(BS_TYPEMASK, BS_AUTOCHECKBOX)])
MAIN_DIALOG = {
    1000: STATIC, 1001: PUSH, 1002: PUSH, 1003: ("button", [(BS_TYPEMASK, BS_DEFPUSHBUTTON)]), 1004: PUSH,
    1005: PUSH, 1006: PUSH, 1013: PUSH,
    1007: ("richedit50w", READ_ONLY_MULTILINE), 1008: ("richedit50w", READ_ONLY_MULTILINE),
    1012: ("edit", READ_ONLY_MULTILINE),
    1009: STATIC, 1010: STATIC, 1011: STATIC, 1028: STATIC, 1036: STATIC,
    1025: ("msctls_progress32", []), 1029: AUTO_CHECKBOX,
}
DROP_DOWN_LIST = ("combobox", [(CBS_TYPEMASK, CBS_DROPDOWNLIST), (CBS_SORT, 0)])
OPTIONS_DIALOG = {
    1014: DROP_DOWN_LIST, 1015: DROP_DOWN_LIST, 1016: ("combobox", [(CBS_TYPEMASK, CBS_DROPDOWN)]), 1017: PUSH,
    1022: AUTO_CHECKBOX, 1023: AUTO_CHECKBOX, 1024: AUTO_CHECKBOX,
    1027: ("static", [(WS_VISIBLE, 0)]), 1030: STATIC, 1031: STATIC, 1032: STATIC,
}

# The branding document's keys and their kinds; "urls" holds these names.
BRANDING_KEYS = {
    "company_name": str, "crash_log_product_sufix": str, "default_profile_path_template": str, "domain": str,
    "expected_signer": str, "file_name_base": str, "product_name": str, "shortcut_suffix": str,
    "user_agent_name": str, "visible_product_name": str, "major_delta": int, "schedule_autoupdate_task": bool,
    "use_vastrelo_major_for_minor": bool, "white_labeled": bool, "urls": dict,
}
BRANDING_URLS = ["autoupdate", "crash", "download", "download_full_windows", "help", "homepage", "uninstall_survey"]


class Resources:
    """The resource tree of one executable: (type, name) -> {language: bytes}."""

    def __init__(self, path):
        self.pe = pefile.PE(path, fast_load=True)
        self.pe.parse_data_directories(directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
        self.items = {}
        directory = getattr(self.pe, "DIRECTORY_ENTRY_RESOURCE", None)
        for kind in directory.entries if directory else []:
            kind_key = kind.id if kind.id is not None else str(kind.name)
            for name in kind.directory.entries:
                name_key = name.id if name.id is not None else str(name.name)
                for language in name.directory.entries:
                    data = language.data.struct
                    self.items.setdefault((kind_key, name_key), {})[language.id] = self.pe.get_data(
                        data.OffsetToData, data.Size)

    def get(self, kind, name):
        """The data of one resource in any language, or None."""
        languages = self.items.get((kind, name))
        return next(iter(languages.values())) if languages else None

    def string_languages(self):
        return sorted({language for (kind, _), languages in self.items.items() if kind == RT_STRING
                       for language in languages})

    def string_block(self, block, language):
        """The 16 texts of a string block in a language, or None without the block."""
        data = self.items.get((RT_STRING, block), {}).get(language)
        if data is None:
            return None
        texts, at = [], 0
        for _ in range(16):
            if at + 2 > len(data):
                texts.append(None)
                continue
            (length,) = struct.unpack_from("<H", data, at)
            texts.append(data[at + 2: at + 2 + 2 * length].decode("utf-16-le", "replace"))
            at += 2 + 2 * length
        return texts


def read_sz_or_ord(data, at):
    """A dialog template's name field: (text or ordinal, next offset)."""
    (first,) = struct.unpack_from("<H", data, at)
    if first == 0:
        return "", at + 2
    if first == 0xFFFF:
        return struct.unpack_from("<H", data, at + 2)[0], at + 4
    end = at
    while struct.unpack_from("<H", data, end)[0] != 0:
        end += 2
    return data[at:end].decode("utf-16-le"), end + 2


def parse_dialog(data):
    """An extended dialog template: its header fields and its controls by id."""
    version, signature = struct.unpack_from("<HH", data, 0)
    if (version, signature) != (1, 0xFFFF):
        raise ValueError("not an extended dialog template")
    _, _, style, count = struct.unpack_from("<IIIH", data, 4)
    at = 26
    _, at = read_sz_or_ord(data, at)  # menu
    _, at = read_sz_or_ord(data, at)  # class
    title, at = read_sz_or_ord(data, at)
    dialog = {"style": style, "title": title, "font": None, "controls": {}, "ids": []}
    if style & DS_SETFONT:
        points, _, _, _ = struct.unpack_from("<HHBB", data, at)
        face, at = read_sz_or_ord(data, at + 6)
        dialog["font"] = (face, points)
    for _ in range(count):
        at = (at + 3) & ~3
        _, _, item_style, _, _, _, _, item_id = struct.unpack_from("<IIIhhhhI", data, at)
        item_class, at = read_sz_or_ord(data, at + 24)
        _, at = read_sz_or_ord(data, at)  # title
        (extra,) = struct.unpack_from("<H", data, at)
        at += 2 + extra
        item_class = CLASS_ORDINALS.get(item_class, item_class) if isinstance(item_class, int) else item_class
        dialog["controls"][item_id] = (str(item_class).lower(), item_style)
        dialog["ids"].append(item_id)
    return dialog


def check_dialog(resources, dialog_id, wanted, problems):
    data = resources.get(RT_DIALOG, dialog_id)
    if data is None:
        problems.append(f"no dialog {dialog_id}")
        return None
    try:
        dialog = parse_dialog(data)
    except (ValueError, struct.error) as error:
        problems.append(f"dialog {dialog_id}: {error}")
        return None
    for control_id, (control_class, rules) in wanted.items():
        found = dialog["controls"].get(control_id)
        if found is None:
            problems.append(f"dialog {dialog_id}: no control {control_id}")
            continue
        if found[0] != control_class:
            problems.append(f"dialog {dialog_id}: control {control_id} is a {found[0]}, not a {control_class}")
        for mask, value in rules:
            if found[1] & mask != value:
                problems.append(f"dialog {dialog_id}: control {control_id} has style {found[1]:#010x}, "
                                f"which masked with {mask:#x} is not {value:#x}")
    for reserved in (1, 2):  # IDOK and IDCANCEL, which the dialog manager sends for Enter and Escape
        if reserved in dialog["controls"]:
            problems.append(f"dialog {dialog_id}: a control uses the reserved id {reserved}")
    if len(dialog["ids"]) != len(set(dialog["ids"])):
        problems.append(f"dialog {dialog_id}: control ids repeat")
    return dialog


def check_dialogs(resources, problems):
    main = check_dialog(resources, 101, MAIN_DIALOG, problems)
    if main:
        if not main["style"] & WS_POPUP or main["style"] & WS_CAPTION != WS_CAPTION:
            problems.append(f"dialog 101: style {main['style']:#010x} is not a popup with a caption")
        if main["font"] != ("MS Shell Dlg", 8):
            problems.append(f"dialog 101: font {main['font']} is not MS Shell Dlg 8")
    options = check_dialog(resources, 138, OPTIONS_DIALOG, problems)
    if options:
        if options["style"] & (WS_CHILD | DS_CONTROL) != WS_CHILD | DS_CONTROL:
            problems.append(f"dialog 138: style {options['style']:#010x} is not a child control dialog")
        if options["style"] & WS_CAPTION == WS_CAPTION or options["title"]:
            problems.append("dialog 138 has a caption")


def check_manifest_and_icon(resources, problems):
    manifest = resources.get(RT_MANIFEST, 1)
    if manifest is None:
        problems.append("no manifest")
    else:
        root = ElementTree.fromstring(manifest)
        identities = [element.attrib for element in root.iter() if element.tag.endswith("assemblyIdentity")]
        if not any(identity.get("name") == "Microsoft.Windows.Common-Controls" and
                   identity.get("version", "").startswith("6.0.") for identity in identities):
            problems.append("the manifest does not ask for Common-Controls 6.0")
        levels = [element.attrib.get("level") for element in root.iter()
                  if element.tag.endswith("requestedExecutionLevel")]
        if levels != ["asInvoker"]:
            problems.append(f"the manifest's execution levels are {levels}, not asInvoker")
    group = resources.get(RT_GROUP_ICON, 1)
    if group is None:
        problems.append("no icon 1")
        return
    reserved, kind, count = struct.unpack_from("<HHH", group, 0)
    if (reserved, kind) != (0, 1) or count == 0:
        problems.append("icon 1 is not an icon group")
    for index in range(count):
        *_, size, image_id = struct.unpack_from("<BBBBHHIH", group, 6 + 14 * index)
        image = resources.get(RT_ICON, image_id)
        if image is None or len(image) != size:
            problems.append(f"icon 1: image {image_id} is missing or not {size} bytes")


def jpeg_size(data):
    """(width, height) of a baseline or progressive JPEG frame, or None."""
    if data[:3] != b"\xff\xd8\xff" or data[-2:] != b"\xff\xd9":
        return None
    at = 2
    while at + 9 < len(data):
        marker, length = data[at + 1], struct.unpack_from(">H", data, at + 2)[0]
        if marker in (0xC0, 0xC1, 0xC2):
            height, width = struct.unpack_from(">HH", data, at + 5)
            return width, height
        at += 2 + length
    return None


def png_has_alpha(data):
    """Whether a PNG has an alpha channel or a transparent colour; None when it is no PNG."""
    if data[:8] != b"\x89PNG\r\n\x1a\n" or data[12:16] != b"IHDR":
        return None
    colour_type = data[25]
    return colour_type in (4, 6) or b"tRNS" in data


def check_pictures(resources, problems):
    background = resources.get("JPG", 139)
    size = jpeg_size(background) if background else None
    if not size or 0 in size:
        problems.append('"JPG" 139 is missing or not a JPEG picture')
    for picture_id in (140, 141):
        data = resources.get("PNG", picture_id)
        alpha = png_has_alpha(data) if data else None
        if alpha is None:
            problems.append(f'"PNG" {picture_id} is missing or not a PNG picture')
        elif not alpha:
            problems.append(f'"PNG" {picture_id} has no alpha')


def check_branding(resources, problems):
    text = resources.get("TXT", 133)
    try:
        branding = json.loads(text) if text is not None else None
    except ValueError as error:
        problems.append(f'"TXT" 133 is not JSON: {error}')
        return
    if not isinstance(branding, dict):
        problems.append('"TXT" 133 is missing or not a JSON object')
        return
    for key, kind in BRANDING_KEYS.items():
        if type(branding.get(key)) is not kind:
            problems.append(f'"TXT" 133: "{key}" is missing or not a {kind.__name__}')
    urls = branding.get("urls") if isinstance(branding.get("urls"), dict) else {}
    for name in BRANDING_URLS:
        if not isinstance(urls.get(name), str) or not urls[name]:
            problems.append(f'"TXT" 133: "urls.{name}" is missing or empty')
    if not str(urls.get("autoupdate", "")).endswith("/"):
        problems.append('"TXT" 133: "urls.autoupdate" does not end in "/"')
    # The window adds "&product=..." to the full package's address: without a query it would land in the path.
    if "?" not in str(urls.get("download_full_windows", "?")):
        problems.append('"TXT" 133: "urls.download_full_windows" has no query ("?")')
    if not branding.get("domain"):
        problems.append('"TXT" 133: "domain" is empty')


def language_tags(resources, problems):
    data = resources.get("TXT", 134)
    if data is None:
        problems.append('no "TXT" 134')
        return []
    try:
        text = data.decode("ascii")
    except UnicodeDecodeError:
        problems.append('"TXT" 134 is not ASCII')
        return []
    if text.endswith("\n"):
        problems.append('"TXT" 134 ends in a line feed')
    lines = text.split("\n")
    if any(not line.strip() for line in lines):
        problems.append('"TXT" 134 has an empty line')
    return [line.strip() for line in lines if line.strip()]


def language_of(language_id):
    """The language part of a Windows language id's locale name ("de" for 0x0407), as Python's table has it."""
    return locale.windows_locale.get(language_id, "").split("_")[0].lower()


def check_strings(resources, tags, problems):
    complete = []
    for language in resources.string_languages():
        missing = []
        for block in range(FIRST_STRING // 16 + 1, LAST_STRING // 16 + 2):
            texts = resources.string_block(block, language)
            for entry in range(16):
                string_id = (block - 1) * 16 + entry
                if FIRST_STRING <= string_id <= LAST_STRING and not (texts and texts[entry]):
                    missing.append(string_id)
        if missing:
            problems.append(f"strings of language {language:#06x} lack ids {missing}")
        else:
            complete.append(language)
    for tag in tags:
        if not any(language_of(language) == tag.split("-")[0].lower() for language in complete):
            problems.append(f'no complete string table for "{tag}" of "TXT" 134')


def check_terms(resources, problems):
    terms = resources.get("TXT", 142)
    if not terms or terms.find(b"\0") != len(terms) - 1:
        problems.append('"TXT" 142 is missing, empty or does not end in its only NUL')
        return
    try:
        terms[:-1].decode("utf-8")
    except UnicodeDecodeError:
        problems.append('"TXT" 142 is not UTF-8')


def check_host(path):
    try:
        resources = Resources(path)
    except (OSError, pefile.PEFormatError) as error:
        return [f"cannot read: {error}"]
    problems = []
    check_manifest_and_icon(resources, problems)
    check_dialogs(resources, problems)
    check_pictures(resources, problems)
    check_branding(resources, problems)
    check_strings(resources, language_tags(resources, problems), problems)
    check_terms(resources, problems)
    return problems


def dump_strings(path):
    resources = Resources(path)
    tables = {}
    for language in resources.string_languages():
        table = tables.setdefault(f"{language:#06x}", {})
        for (kind, block), _ in resources.items.items():
            texts = resources.string_block(block, language) if kind == RT_STRING else None
            for entry, text in enumerate(texts or []):
                if text:
                    table[f"{block}:{entry}"] = text
    print(json.dumps({"languages": language_tags(resources, []), "tables": tables}, ensure_ascii=False))


def main(argv):
    if argv[:1] == ["--strings"] and len(argv) == 2:
        dump_strings(argv[1])
        return 0
    expected = []
    if argv[:1] == ["--expect"] and "--" in argv:
        expected, argv = argv[1:argv.index("--")], argv[argv.index("--") + 1:]
    if argv[:1] == ["--hosts"] and len(argv) == 2:
        with open(argv[1]) as listing:
            argv = [line.strip() for line in listing if line.strip()]
    if not argv:
        print(__doc__, file=sys.stderr)
        return 2
    failed = False
    for host in argv:
        problems = check_host(host)
        if expected:
            unseen = [text for text in expected if not any(text in problem for problem in problems)]
            print(f"{host}: {len(problems)} problems found as expected" if not unseen else
                  f"{host}: the check missed {unseen}; it found {problems}")
            failed |= bool(unseen)
            continue
        for problem in problems:
            print(f"{host}: {problem}")
        print(f"{host}: {'FAILED' if problems else 'every resource as the installer needs it'}")
        failed |= bool(problems)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
