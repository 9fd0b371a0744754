#!/usr/bin/env python3
"""Runs the clean-up (datafile.dat, as temp.bat in the root of a stick, and the clean-up program
it starts) over a corpus of stick layouts and judges what it did to each stick.

  stick_corpus.py --cmd build/linux/unveilo-cmd [--full] [--write-protected]
  stick_corpus.py --wine [--full] [--write-protected]
  stick_corpus.py --cmd build/linux/unveilo-cmd --clean build/linux [--round-trip] ...

Every layout is a table of entries, each with what must become of it:
  s    stays where it is, byte for byte
  q    a launcher: moves to UNVEILO-QUARANTINE/<name>[.<n>].quarantined (on a full stick:
       renamed in place to <name>.quarantined)
  qc   a launcher known by its contents only: like q, but s for the old batch under Wine,
       whose findstr is a stub
  qp   a payload (what a launcher runs, from wherever on the stick): like q, under its own
       name only
  b    inside the hiding folder: moves back to the root (the folder's name dropped from its path)
  bq   moves back to the root, then is a launcher there
  bqp  moves back to the root, then is a payload
  sq   the rules do not decide: stays byte for byte or ends in the quarantine, never lost
Anything found afterwards that the table does not account for, on the stick, beside it or in
the current folder, is a failure: nothing may be lost, made or changed but what it says.
"""
import argparse
import hashlib
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unicodedata

sys.dont_write_bytecode = True  # no __pycache__ left in the tests folder
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import families  # noqa: E402
import make_lnk  # noqa: E402

QUARANTINE = "UNVEILO-QUARANTINE"
NOTE = QUARANTINE + "/README-UNVEILO.txt"
MANIFEST = QUARANTINE + "/unveilo-manifest.txt"
CLOSING = "Unveilo clean-up finished."
NBSP = "\u00a0"
LONG = "a-very-long-name-" + "x" * 190  # with an extension and ".quarantined": near 255 bytes
HIDDEN_BIT = 0x2


def photos_virus(folder="Photos"):
    """What one infection leaves beside a folder it stands in for."""
    return [("s", folder + "/"), ("s", folder + "/a.jpg"), ("q", folder + ".lnk", "lnk:virus"),
            ("q", folder + ".exe")]


# name, the conditions it runs under beyond a plain stick, entries (kind, path[, content]).
LAYOUTS = [
    ("classic", {"full", "write-protected"}, photos_virus() + [
        ("q", "Photos.scr"), ("q", "autorun.inf"), ("q", "x.vbs"), ("q", "x.vbe"),
        ("qc", "Holiday.lnk", "lnk:virus"), ("qc", "Update.lnk", "lnk:utf16"),
        ("s", "Report.lnk", "lnk:document"), ("s", "data.lnk", "lnk:json"),
        ("s", "data.json"), ("s", "notes.vbsx"), ("s", "app.jsx"), ("s", "setup.exe"),
        ("s", "Photos/tools.vbs"), ("s", "Photos/Shortcut to cmd.lnk", "lnk:virus"),
        ("s", "Photos/autorun.inf"), ("s", "System Volume Information/"),
        ("s", "System Volume Information/IndexerVolumeGuid"), ("s", "report 100%.txt")]),
    ("percent", set(), [
        ("q", "100%.vbs"), ("q", "%PATH%.vbs"), ("q", "%~dp0.js"),
        ("q", "x.vbs"), ("s", "report 100%.txt"), ("s", "%PATH%.txt"), ("s", "100%/"),
        ("s", "100%/inner.vbs"), ("q", "100%.exe"), ("s", "%TEMP%/"), ("q", "%TEMP%.lnk",
                                                                        "lnk:document")]),
    ("percent-for", set(), [("q", "%%f.wsf"), ("q", "x.vbs"), ("s", "%%f.txt")]),
    ("punctuation", set(), [
        ("q", "a&b.vbs"), ("q", "x^y.vbs"), ("q", "(1).vbs"), ("q", "semi;colon.vbs"),
        ("q", "comma,=.vbs"), ("q", "'q'.vbs"), ("q", "`tick`.vbs"), ("q", "~tilde.js"),
        ("q", "[]{}.vbs"), ("q", "@#+.jse"), ("q", "!bang!.vbs"), ("q", "a=b.vbs"), ("s", "a&b.txt"), ("s", "!bang!.txt"),
        ("s", "x^y/"), ("q", "x^y.exe"), ("s", "a&b/"), ("s", "a&b/keep.txt"),
        ("q", "a&b.lnk", "lnk:document"), ("qc", "(1).lnk", "lnk:virus"),
        ("s", "!PATH!/"), ("q", "!PATH!.scr")]),
    ("spaces-dots", set(), [
        ("q", "  lead.vbs"), ("q", ".hidden.vbs"), ("q", "a..b.vbs"), ("q", "..dots.js"),
        ("q", "name with spaces.vbs"), ("s", "x.vbs.txt"), ("s", " a/"), ("s", " a/in.txt"),
        ("s", ".config/"), ("s", ".config/x.vbs")] + photos_virus("My Photos")),
    ("unicode", set(), photos_virus("Фото") + [
        ("q", "照片.js"), ("q", "🎉.vbs"), ("q", "Ünïcödé.wsf"), ("q", "日本語.jse"),
        ("s", "résumé.docx"), ("s", "Привет.txt"), ("q", LONG + ".vbs"), ("s", LONG + ".txt"),
        ("s", "照片/"), ("q", "照片.lnk", "lnk:document")]),
    ("command-words", set(), [
        ("q", "call.vbs"), ("q", "goto.js"), ("q", "echo.vbs"), ("q", "set.wsf"),
        ("s", "if/"), ("q", "if.lnk", "lnk:virus"), ("s", "rem/"), ("q", "rem.exe"),
        ("s", "for.cmd"), ("s", "echo.txt"), ("s", "goto.bat"),
        # A folder named like the batch itself: temp.bat is running and must stay.
        ("s", "temp/"), ("q", "temp.cmd")]),
    ("if-words", set(), [
        ("s", "exist/"), ("q", "exist.com"), ("s", "errorlevel/"), ("q", "errorlevel.pif")]),
    ("programs", set(), photos_virus() + [
        ("q", "Photos.scr"), ("q", "Photos.pif"), ("q", "Photos.com"), ("q", "Photos.cmd"),
        ("q", "Photos.bat"), ("s", "Music/"), ("q", "music.EXE"), ("s", "Setup.exe"),
        ("s", "Photos.msi"), ("s", "Photos.exe.txt"), ("s", "Photos.exe.d/"),
        ("s", "$RECYCLE.BIN/"), ("s", "$RECYCLE.BIN/desktop.ini")]),
    ("autorun-file", set(), [
        ("q", "AutoRun.INF"), ("s", "autorun.ini"), ("s", "autorun.inf.txt")]),
    ("autorun-folder", set(), [
        ("s", "autorun.inf/"), ("s", "autorun.inf/keep.txt"), ("q", "x.vbs")]),
    ("hiding-nbsp", {"full"}, [
        ("s", NBSP + "/"), ("b", NBSP + "/Documents/"), ("b", NBSP + "/Documents/cv.docx"),
        ("b", NBSP + "/Documents/sub/"), ("b", NBSP + "/Documents/sub/macro.vbs"),
        ("b", NBSP + "/Photos/"), ("b", NBSP + "/Photos/a.jpg"), ("bq", NBSP + "/x.vbs"),
        ("b", NBSP + "/Music/"), ("bq", NBSP + "/Music.exe"), ("b", NBSP + "/100% done.txt"),
        # Names the root already has (case-insensitively) stay in the hiding folder.
        ("s", "NOTES.txt"), ("s", NBSP + "/notes.txt"), ("s", "Work/"), ("s", "Work/a.txt"),
        ("s", NBSP + "/work/"), ("s", NBSP + "/work/b.txt"),
        # The virus's shortcuts: one per restored folder, one named after the drive.
        ("q", "Documents.lnk", "lnk:virus"), ("q", "Photos.lnk", "lnk:virus"),
        ("qc", "Removable Disk.lnk", "lnk:virus"), ("q", "autorun.inf"),
        ("s", "System Volume Information/")]),
    ("hiding-spaces", set(), [
        ("s", "   /"), ("b", "   /Work/"), ("b", "   /Work/plan.txt"), ("b", "   /cv.pdf"),
        ("bq", "   /run.js"), ("b", "   /!x!.txt"), ("q", "x.vbs"), ("s", " a/"),
        ("s", " a/keep.txt"), ("bq", "   /autorun.inf"), ("bq", "   /Work.lnk", "lnk:document")]),
    ("quarantine-taken", set(), [
        ("s", QUARANTINE + "/"), ("s", QUARANTINE + "/x.vbs.quarantined"), ("q", "x.vbs"),
        ("s", QUARANTINE + "/autorun.inf.quarantined"), ("q", "autorun.inf")]),
    # A file where the quarantine folder would go: the leftovers are renamed in place.
    ("quarantine-blocked", {"in-place"}, [
        ("s", QUARANTINE), ("q", "x.vbs"), ("q", "autorun.inf"), ("s", "Photos/"),
        ("q", "Photos.exe")]),
    ("clean", set(), [
        ("s", "Documents/"), ("s", "Documents/report.docx"), ("s", "Documents/tool.vbs"),
        ("s", "Documents/link.lnk", "lnk:virus"), ("s", "Report.lnk", "lnk:document"),
        ("s", "data.json"), ("s", "report 100%.txt")]),
]

# The family each of the layouts above counts under in the summaries.
FAMILY_OF = {"classic": "classic", "clean": "ordinary", "programs": "brontok",
             "autorun-file": "autorun-worm", "autorun-folder": "autorun-worm",
             "hiding-nbsp": "hiding", "hiding-spaces": "hiding",
             "quarantine-taken": "quarantine", "quarantine-blocked": "quarantine"}
ALL_LAYOUTS = [(name, FAMILY_OF.get(name, "hostile-names"), extra, entries)
               for name, extra, entries in LAYOUTS] + families.FAMILY_LAYOUTS

# Layouts that Wine's cmd (8.0) gets wrong where cmd does not, each seen with a single name:
# under Wine only the safety of the old batch's run is judged (no file lost or changed,
# nothing outside the stick touched), not the rules. The clean-up program is judged in full.
QUOTED_WILDCARD = "Wine's cmd lists nothing for a quoted wildcard in a FOR set"
WINE_FAULTS = {
    "percent-for": "Wine's cmd crashes (a page fault) on a FOR value that holds %%",
    "if-words": "Wine's cmd reads a FOR value of exist or errorlevel in IF as the keyword",
    "hiding-nbsp": QUOTED_WILDCARD,
    "hiding-spaces": QUOTED_WILDCARD,
    "vbs-worm-hiding": QUOTED_WILDCARD,
    "andromeda-nbsp": QUOTED_WILDCARD,
    "andromeda-fat32": QUOTED_WILDCARD,
    "hiding-blank-exe": QUOTED_WILDCARD,
}

# What the batch must not touch: the same bait beside the stick and in the current folder.
BAIT = [("s", "x.vbs"), ("s", "autorun.inf"), ("s", "Photos/"), ("s", "Photos.exe"),
        ("s", "Photos.lnk", "lnk:virus"), ("s", NBSP + "/"), ("s", NBSP + "/inside.txt")]

CONTENT_WORDS = ["cmd.exe", "wscript", "cscript", "powershell", "mshta", ".vbs", ".vbe", ".js",
                 ".jse", ".wsf"]

# What becomes of each kind of entry, and which column of the summary it counts in.
ROLE = {"s": "user", "b": "user", "q": "launcher", "qc": "launcher", "bq": "launcher",
        "qp": "payload", "bqp": "payload", "sq": "undecided"}
BACK = ("b", "bq", "bqp")  # out of the hiding folder: the folder's name leaves the path


def content_hits(data):
    """The content words found in a shortcut's bytes, ASCII or UTF-16LE, any case; ".js" only
    where no letter or digit follows (".json" is no script)."""
    low = data.lower()
    hits = []
    for word in CONTENT_WORDS:
        tail_ascii = rb"(?![a-z0-9])" if word == ".js" else b""
        tail_wide = rb"(?![a-z0-9]\x00)" if word == ".js" else b""
        wide = b"".join(re.escape(bytes([c])) + b"\x00" for c in word.encode())
        if re.search(re.escape(word.encode()) + tail_ascii, low):
            hits.append(word + "/ascii")
        if re.search(wide + tail_wide, low):
            hits.append(word + "/utf16")
    return hits


def check_shortcut_variants():
    """The shortcuts of the corpus carry what their kinds claim, or every verdict is void."""
    want = {"virus": ["cmd.exe/ascii", "cmd.exe/utf16", "wscript/utf16", ".vbe/utf16"],
            "utf16": ["powershell/utf16"], "document": [], "json": []}
    bad = []
    for name, expected in want.items():
        data = make_lnk.VARIANTS[name]()
        if data[:4] != b"L\0\0\0" or data[4:20] != make_lnk.LINK_CLSID:
            bad.append(name + ": no shortcut header")
        if content_hits(data) != expected:
            bad.append("%s: words %s, not %s" % (name, content_hits(data), expected))
    return bad


def lnkinfo_fields(data, work):
    """What lnkinfo (liblnk-utils) reads from a shortcut: its "Name : value" lines, and the
    target path spelled by the ID list (the volume item, then each item's long name)."""
    path = os.path.join(work, "check.lnk")
    with open(path, "wb") as out:
        out.write(data)
    done = subprocess.run(["lnkinfo", path], capture_output=True, timeout=30)
    fields, id_path = {}, None
    for line in done.stdout.decode("utf-8", "replace").splitlines():
        key, sep, value = line.lstrip().partition(":")
        key, value = key.strip(), value[1:] if value.startswith(" ") else value
        if not sep:
            continue
        if key == "Volume name":
            id_path = value
        elif key == "Long name" and id_path is not None:
            id_path += ("" if id_path.endswith("\\") else "\\") + value
        else:
            fields.setdefault(key, value)
    fields["ID list path"] = id_path
    return done.returncode, fields


def check_windows_shortcuts(work):
    """Every shortcut written in Explorer's shape reads back through lnkinfo as it was meant:
    the ID list, LinkInfo, the strings and the environment block name the same things. None
    when lnkinfo is not installed."""
    if not shutil.which("lnkinfo"):
        return None
    bad = []
    for layout, _, _, entries in ALL_LAYOUTS:
        for entry in entries:
            shape = entry[2] if len(entry) > 2 and isinstance(entry[2], dict) else None
            if shape is None:
                continue
            status, fields = lnkinfo_fields(make_lnk.win_shortcut(**shape), work)
            want = {"ID list path": shape["target"], "Local path": shape["target"],
                    "Drive type": "%s (%d)" % ("Removable" if shape.get("drive_type") ==
                                               make_lnk.DRIVE_REMOVABLE else "Fixed",
                                               shape.get("drive_type", make_lnk.DRIVE_FIXED)),
                    "Volume label": shape.get("label", ""),
                    "Command line arguments": shape.get("arguments"),
                    "Working directory": shape.get("working_dir"),
                    "Relative path": shape.get("relative_path"),
                    "Icon location": shape.get("icon"),
                    "Environment variables location": shape.get("env_target")}
            wrong = ["%s %r, not %r" % (k, fields.get(k), v) for k, v in want.items()
                     if fields.get(k) != v]
            if status != 0 or wrong:
                bad.append("%s/%s: %s" % (layout, entry[1], "; ".join(wrong) or
                                          "lnkinfo failed"))
    return bad


def content_of(layout, entry):
    if len(entry) > 2 and isinstance(entry[2], dict):
        return make_lnk.win_shortcut(**entry[2])
    if len(entry) > 2 and isinstance(entry[2], bytes):
        return entry[2]
    if len(entry) > 2 and entry[2].startswith("lnk:"):
        return make_lnk.VARIANTS[entry[2][4:]]()
    # Distinct bytes for every file, so that a file cannot pass for another.
    return ("%s:%s\r\n" % (layout, entry[1])).encode() + hashlib.sha256(
        entry[1].encode()).digest()


def build(root, layout, entries):
    os.makedirs(root, exist_ok=True)
    for entry in entries:
        path = os.path.join(root, entry[1])
        if entry[1].endswith("/"):
            os.makedirs(path, exist_ok=True)
        else:
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as out:
                out.write(content_of(layout, entry))


def batch_name(entries):
    """The name the tool copies the batch to: temp.bat, or the first of its other names that
    the root does not hold (a file or folder of the user's keeps its name)."""
    taken = {e[1].rstrip("/").lower() for e in entries if "/" not in e[1].rstrip("/")}
    names = ["temp.bat", "unveilo-temp.bat"] + ["unveilo-temp-%d.bat" % n for n in
                                                range(2, 100)]
    return next(n for n in names if n not in taken)


def snapshot(root):
    """Every path under root: "/" for a folder, the sha256 of a file, "->" for a link."""
    seen = {}
    for folder, dirs, files in os.walk(root):
        rel = os.path.relpath(folder, root)
        for name in dirs + files:
            path = os.path.join(folder, name)
            key = os.path.normpath(os.path.join(rel, name))
            if os.path.islink(path):
                seen[key] = "->" + os.readlink(path)
            elif os.path.isdir(path):
                seen[key] = "/"
            else:
                with open(path, "rb") as f:
                    seen[key] = hashlib.sha256(f.read()).hexdigest()
    return seen


def listing(folder):
    """The entries of a folder with their kind, size and time, not their contents: enough to
    see that a program's folder (which may be a large build folder) was left alone."""
    if not folder:
        return {}
    seen = {}
    for name in os.listdir(folder):
        st = os.lstat(os.path.join(folder, name))
        seen[name] = (st.st_mode, st.st_size, st.st_mtime_ns)
    return seen


def read_hidden_bit(path):
    try:
        value = os.getxattr(path, "user.DOSATTRIB").rstrip(b"\0").strip(b'"')
        return int(value, 16) & HIDDEN_BIT if value.startswith(b"0x") else None
    except OSError:
        return None


def final_path(kind, path):
    return path.split("/", 1)[1] if kind in BACK else path


def as_shown(name):
    """A name as the clean-up program writes it for people: what draws as nothing, control
    characters and direction marks as [U+XXXX], so that no name can hide or disguise itself."""
    fillers = {0x115F, 0x1160, 0x2800, 0x3164, 0xFFA0}
    return "".join("[U+%04X]" % ord(c)
                   if c != " " and (unicodedata.category(c) in ("Zs", "Zl", "Zp", "Cc", "Cf")
                                    or ord(c) in fillers) else c
                   for c in name)


def judge(entries, before, after, output, how):
    """The reasons a run failed (empty when it did all and only what the table says), and
    each entry's outcome as (role, ok). how: condition, stick, in_place, batch (the batch's
    name in the root, None when the program ran directly), old_wine (the old batch under Wine:
    no content rules, no attributes), program (the clean-up program ran: its records are
    read as UTF-8)."""
    reasons, outcomes = [], []
    lines = [l.strip() for l in output.splitlines() if l.strip()]
    claimed = set()
    if how["batch"]:
        claimed.add(how["batch"])
        if after.get(how["batch"]) != before.get(how["batch"]):
            reasons.append("%s is gone or changed" % how["batch"])
    if not lines or lines[-1] != CLOSING:
        reasons.append("did not end with %r (last line: %r)" % (CLOSING,
                                                                lines[-1] if lines else ""))
    if how["condition"] == "write-protected":
        if not any("cannot be written" in l for l in lines):
            reasons.append("no 'cannot be written' line")
        if after != before:
            reasons.append("the read-only stick changed")
        return reasons, outcomes
    in_place = how["in_place"]
    quarantined = []
    for entry in entries:
        kind, path = entry[0], entry[1].rstrip("/")
        role = ROLE[kind]
        final = final_path(kind, path)
        name = final.rsplit("/", 1)[-1]
        pattern = re.compile(re.escape(final if in_place else QUARANTINE + "/" + name) +
                             r"(\.\d+)?\.quarantined")
        found = [p for p, h in after.items() if h == before[path] and p not in claimed and
                 pattern.fullmatch(p)] if role != "user" else []
        # The summary counts what happened; the verdict holds it against what may happen
        # where the leg runs (the old batch under Wine cannot read a shortcut's contents).
        expect = "s" if kind == "qc" and how["old_wine"] else kind
        if expect in ("s", "b"):
            ok = after.get(final) == before[path]
            if not ok:
                reasons.append("%r is not %s" % (path, "where it was" if kind == "s" else
                                                 "back in the root as %r" % final))
                claimed.add(path)  # reported once, not again as left behind
            claimed.add(final)
            outcomes.append((role, ok if role == "user" else False))
            continue
        if expect == "sq":
            ok = bool(found) or after.get(path) == before[path]
            claimed.add(found[0] if found else path)
            if not ok:
                reasons.append("%r is neither where it was nor in the quarantine" % path)
            outcomes.append((role, ok))
            continue
        if not found:
            where = "renamed in place" if in_place else "in the quarantine"
            reasons.append("%r is not %s%s" % (path, where, " (it stays)" if after.get(
                path) == before[path] else ""))
            claimed.add(path)  # reported once, not again as an unexpected file
            outcomes.append((role, False))
            continue
        claimed.add(found[0])
        quarantined.append(name)
        outcomes.append((role, True))
    if not in_place:
        claimed.update({QUARANTINE, NOTE, MANIFEST})
    for path in sorted(set(after) - claimed):
        reasons.append("unexpected %r" % path if path not in before else
                       "%r should have moved" % path)
    if quarantined and not in_place:
        try:
            with open(os.path.join(how["stick"], NOTE), "rb") as f:
                raw = f.read()
            note = raw.decode("utf-8", "replace") if how["program"] else raw.decode("latin-1")
        except OSError:
            note = None
            reasons.append("no README-UNVEILO.txt")
        for name in quarantined if note is not None else []:
            if how["program"]:
                if name not in note and as_shown(name) not in note:
                    reasons.append("README-UNVEILO.txt does not name %r" % name)
                continue
            # The old batch writes the note in the console's code page: a character outside
            # it may come out as "?", so such characters match any one to four bytes.
            loose = "".join(re.escape(c) if ord(c) < 128 else ".{1,4}" for c in name)
            if not re.search(loose, note):
                reasons.append("README-UNVEILO.txt does not name %r" % name)
    # What cannot leave the hiding folder is named, so that the user knows where it is.
    for entry in entries:
        parts = entry[1].rstrip("/").split("/")
        if entry[0] == "s" and len(parts) == 2 and set(parts[0]) <= set(" " + NBSP):
            if how["program"]:
                if not any(parts[1] in line for line in lines):
                    reasons.append("no line that names %r as staying" % parts[1])
                continue
            said = ('"%s" stays in that folder:' % parts[1], 'Could not move "%s"' % parts[1])
            if not any(line.startswith(said) for line in lines):
                reasons.append("no line that names %r as staying" % parts[1])
    for folder in ("System Volume Information", "$RECYCLE.BIN"):
        if not how["old_wine"] and how["condition"] == "normal" and folder in before:
            if read_hidden_bit(os.path.join(how["stick"], folder)) != HIDDEN_BIT:
                reasons.append("%s is not hidden again" % folder)
    return reasons, outcomes


def pe_machine(path):
    """The machine field of a Windows program's PE header: 0x8664 x86-64, 0x14c i386."""
    with open(path, "rb") as f:
        head = f.read(4096)
    offset = int.from_bytes(head[0x3C:0x40], "little")
    if head[:2] != b"MZ" or head[offset:offset + 4] != b"PE\0\0":
        return None
    return int.from_bytes(head[offset + 4:offset + 6], "little")


class Interpreter:
    def __init__(self, cmd, wine, work, clean_dir=None):
        # wine: judged as under Wine. clean_dir: the folder of the clean-up program, which is
        # the current folder the batch runs in and where the round trip finds the program.
        self.cmd, self.wine, self.clean_dir = cmd, wine, clean_dir
        self.clean_exe, self.clean_skip, self.clean_missing = None, None, None
        if clean_dir:
            self.clean_exe = os.path.join(clean_dir, "unveilo-clean" + (".exe" if wine else ""))
            if not os.path.isfile(self.clean_exe):
                self.clean_missing = "no %s" % self.clean_exe
        if wine:
            self.exe = "wine"
            if os.path.exists("/usr/lib/wine/wine64"):
                self.exe = "/usr/lib/wine/wine64"  # as tools/wine-run.sh picks it
            server = "/usr/lib/wine/wineserver"
            self.server = server if os.path.exists(server) else "wineserver"
            self.env = dict(os.environ, WINEPREFIX=os.path.join(work, "wine-prefix"),
                            WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
            self.clean_loader = self.exe
            if self.clean_exe and not self.clean_missing:
                machine = pe_machine(self.clean_exe)
                if machine == 0x14C:
                    # A 32-bit program needs the 32-bit loader (wine32:i386), which needs a
                    # kernel that runs i386 code (see tools/wine-run.sh).
                    loader = "/usr/lib/wine/wine"
                    runs = os.path.exists(loader) and subprocess.run(
                        [loader, "--version"], capture_output=True).returncode == 0
                    self.clean_loader = loader
                    if not runs:
                        self.clean_skip = ("%s is a 32-bit program and no 32-bit Wine runs "
                                           "here" % self.clean_exe)
                elif machine != 0x8664:
                    self.clean_skip = "%s is no Windows program" % self.clean_exe
            subprocess.run([self.exe, "wineboot", "--init"], env=self.env,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=300)
            # A server kept running saves seconds of start-up on every run.
            subprocess.run([self.server, "-p"], env=self.env)

    def _link_drive(self, stick):
        drive = os.path.join(self.env["WINEPREFIX"], "dosdevices", "e:")
        if os.path.lexists(drive):
            os.remove(drive)
        os.symlink(stick, drive)

    def _run(self, argv, cwd, env):
        try:
            done = subprocess.run(argv, cwd=cwd, env=env, stdin=subprocess.DEVNULL,
                                  stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=60)
            return done.returncode, done.stdout.decode("utf-8", "replace")
        except subprocess.TimeoutExpired:
            return None, "(hung: stopped after 60 s)"

    def run(self, stick, cwd, batch):
        """The batch, as the tool runs it: E:\\<batch> with the tool's folder current."""
        if self.clean_dir:
            cwd = self.clean_dir
        if self.wine:
            self._link_drive(stick)
            return self._run([self.exe, "cmd", "/c", "e:\\" + batch], cwd, self.env)[1]
        return self._run([self.cmd, "/c", "E:\\" + batch], cwd,
                         dict(os.environ, UNVEILO_DRIVE_E=stick))[1]

    def run_clean(self, stick, args):
        """The clean-up program on drive E:, directly: (exit status, output)."""
        if self.wine:
            self._link_drive(stick)
            return self._run([self.clean_loader, self.clean_exe] + args, self.clean_dir,
                             self.env)
        return self._run([self.clean_exe] + args, self.clean_dir,
                         dict(os.environ, UNVEILO_DRIVE_E=stick))

    def close(self):
        if self.wine:
            subprocess.run([self.server, "-k"], env=self.env, stderr=subprocess.DEVNULL)


def mount(*args):
    done = subprocess.run(["mount", *args], capture_output=True, text=True)
    return done.returncode == 0, " ".join(done.stderr.split())


def prepare(condition, case, layout, entries, batch):
    """Lays the stick out under the condition, the batch in its root unless batch is None;
    returns (unmount list, skip reason or None)."""
    stick = os.path.join(case, "stick")
    os.makedirs(stick)
    mounts = []
    if condition == "full":
        ok, why = mount("-t", "tmpfs", "-o", "size=1m,nr_inodes=4096", "tmpfs", stick)
        if not ok:
            return None, "tmpfs refused: " + why
        mounts.append(stick)
    src = os.path.join(case, "source") if condition == "write-protected" else stick
    build(src, layout, entries)
    if batch:
        shutil.copyfile(batch[0], os.path.join(src, batch[1]))
    if condition == "full":
        # Every inode in use: no folder or file can be made, a rename still works.
        fs = os.statvfs(stick)
        ok, why = mount("-o", "remount,nr_inodes=%d" % (fs.f_files - fs.f_ffree), stick)
        if not ok or os.statvfs(stick).f_ffree != 0:
            return mounts, "could not use up the inodes: " + why
    if condition == "write-protected":
        ok, why = mount("--bind", src, stick)
        if ok:
            mounts.append(stick)
            ok, why = mount("-o", "remount,bind,ro", stick)
        if not ok:
            return mounts, "read-only bind mount refused: " + why
    return mounts, None


def outside_changes(before, after):
    """What changed beside the stick and in the current folder."""
    reasons = []
    for label, b, a in (("beside the stick", before[1], after[1]),
                        ("in the current folder", before[2], after[2])):
        if a != b:
            changed = sorted(set(a.items()) ^ set(b.items()))
            reasons.append("changed %s: %s" % (label, [p for p, _ in changed][:4]))
    return reasons


def lost_files(before, after):
    kept = sorted(h for p, h in before.items() if h is not None)
    found = [h for p, h in after.items() if h is not None]
    return ["a file was lost or changed"] if any(
        kept.count(h) > found.count(h) for h in set(kept)) else []


def run_case(interp, condition, layout, extra, entries, batch, work, keep):
    """One run of the batch on one stick: (verdict, reasons, outcomes)."""
    case = tempfile.mkdtemp(prefix="%s-%s." % (condition, layout), dir=work)
    stick, sentinel, cwd = (os.path.join(case, n) for n in ("stick", "sentinel", "cwd"))
    name = batch_name(entries)
    mounts, skip = prepare(condition, case, layout, entries, (batch, name))
    try:
        if skip:
            return "SKIP", [skip], []
        build(sentinel, "sentinel", BAIT)
        build(cwd, "cwd", BAIT)
        current = lambda: (snapshot(cwd) if not interp.clean_dir else
                           listing(interp.clean_dir))
        before = snapshot(stick), snapshot(sentinel), current()
        output = interp.run(stick, cwd, name)
        after = snapshot(stick), snapshot(sentinel), current()
        program = bool(interp.clean_dir)
        how = dict(condition=condition, stick=stick, batch=name, program=program,
                   in_place=condition == "full" or "in-place" in extra,
                   old_wine=interp.wine and not program)
        reasons, outcomes = judge(entries, before[0], after[0], output, how)
        if interp.wine and not program and layout in WINE_FAULTS:
            reasons = lost_files(before[0], after[0])
        reasons += outside_changes(before, after)
        if reasons and keep:
            with open(os.path.join(case, "output.txt"), "w") as f:
                f.write(output)
        return ("FAIL" if reasons else "PASS"), reasons, outcomes
    finally:
        for point in reversed(mounts or []):
            subprocess.run(["umount", point])
        if not keep:
            shutil.rmtree(case, ignore_errors=True)


def restored(before, after):
    """What differs after --undo from the stick before the clean-up, beyond the quarantine
    folder with its two records."""
    allowed = {NOTE, MANIFEST} | ({QUARANTINE} if QUARANTINE not in before else set())
    differ = sorted(p for p in set(before) | set(after)
                    if before.get(p) != after.get(p) and p not in allowed)
    return ["after --undo %s %r" % ("lost" if p not in after else "left" if p not in before
                                    else "changed", p) for p in differ[:6]] + (
        ["and %d more differences" % (len(differ) - 6)] if len(differ) > 6 else [])


def run_round_trip(interp, layout, extra, entries, work, keep):
    """--dry-run, the clean-up, --undo, each on the program directly: (verdict, reasons,
    outcomes of the clean-up, {"dry-run": ok, "undo": ok or None})."""
    case = tempfile.mkdtemp(prefix="round-trip-%s." % layout, dir=work)
    stick, sentinel = os.path.join(case, "stick"), os.path.join(case, "sentinel")
    in_place = "in-place" in extra
    reasons, steps, log = [], {}, []
    try:
        prepare("normal", case, layout, entries, None)
        build(sentinel, "sentinel", BAIT)
        start = snapshot(stick), snapshot(sentinel), listing(interp.clean_dir)

        status, output = interp.run_clean(stick, ["--dry-run", "E:"])
        log.append(output)
        dry = snapshot(stick)
        steps["dry-run"] = status == 0 and dry == start[0]
        if status != 0:
            reasons.append("--dry-run exited with %s" % status)
        if dry != start[0]:
            changed = sorted(p for p in set(dry) | set(start[0]) if dry.get(p) !=
                             start[0].get(p))
            reasons.append("--dry-run changed %s" % changed[:4])

        status, output = interp.run_clean(stick, ["E:"])
        log.append(output)
        cleaned = snapshot(stick)
        how = dict(condition="normal", stick=stick, batch=None, program=True,
                   in_place=in_place, old_wine=False)
        judged, outcomes = judge(entries, start[0], cleaned, output, how)
        reasons += judged
        if status != 0:
            reasons.append("the clean-up exited with %s" % status)

        if in_place:
            steps["undo"] = None  # no quarantine folder, so no manifest for --undo to read
        else:
            status, output = interp.run_clean(stick, ["--undo", "E:"])
            log.append(output)
            undone = restored(start[0], snapshot(stick))
            manifest = os.path.isfile(os.path.join(stick, MANIFEST)) or cleaned == start[0]
            steps["undo"] = status == 0 and not undone and manifest
            reasons += undone
            if status != 0:
                reasons.append("--undo exited with %s" % status)
            if not manifest:
                reasons.append("no %s after --undo" % MANIFEST)
        end = snapshot(stick), snapshot(sentinel), listing(interp.clean_dir)
        reasons += outside_changes(start, (None, end[1], end[2]))
        if reasons and keep:
            with open(os.path.join(case, "output.txt"), "w") as f:
                f.write("\n----\n".join(log))
        return ("FAIL" if reasons else "PASS"), reasons, outcomes, steps
    finally:
        if not keep:
            shutil.rmtree(case, ignore_errors=True)


def shown(reasons):
    return "; ".join(reasons[:6]) + ("; and %d more" % (len(reasons) - 6)
                                     if len(reasons) > 6 else "")


def run_leg(interp, leg, layouts, batch, work, keep):
    """Runs every layout meant for the leg (a condition, or "round-trip"); returns its
    results as (verdict, layout, family, reasons, outcomes, steps)."""
    results = []
    for layout, family, extra, entries in ALL_LAYOUTS:
        if (layouts and layout not in layouts) or (leg not in ("normal", "round-trip") and
                                                   leg not in extra):
            continue
        steps = {}
        if leg == "round-trip":
            verdict, reasons, outcomes, steps = run_round_trip(interp, layout, extra, entries,
                                                               work, keep)
        else:
            verdict, reasons, outcomes = run_case(interp, leg, layout, extra, entries, batch,
                                                  work, keep)
        results.append((verdict, layout, family, reasons, outcomes, steps))
        note = reasons
        if interp.wine and not interp.clean_dir and layout in WINE_FAULTS and not reasons:
            note = ["only safety judged: " + WINE_FAULTS[layout]]
        print("%s %s/%s%s" % (verdict, leg, layout, ": " + shown(note) if note else ""))
    return results


def summary(leg, results):
    """Per family: launchers and payloads quarantined, user files unchanged, ordinary sticks
    unchanged; for the round trip also the dry runs and undos that held."""
    table = {}
    for verdict, _, family, _, outcomes, steps in results:
        row = table.setdefault(family, {"launcher": [0, 0], "payload": [0, 0],
                                        "user": [0, 0], "ordinary": [0, 0],
                                        "dry-run": [0, 0], "undo": [0, 0]})
        for role, ok in outcomes:
            if role in row and family != "ordinary":
                row[role][0] += ok
                row[role][1] += 1
        if family == "ordinary" and verdict != "SKIP":
            row["ordinary"][0] += verdict == "PASS"
            row["ordinary"][1] += 1
        for step, ok in steps.items():
            if ok is not None:
                row[step][0] += ok
                row[step][1] += 1
    columns = [("launcher", "launchers quarantined"), ("payload", "payloads quarantined"),
               ("user", "user files unchanged"), ("ordinary", "ordinary sticks unchanged")]
    if leg == "round-trip":
        columns += [("dry-run", "dry runs unchanged"), ("undo", "undos restored")]
    print("summary of the %s leg:" % leg)
    counted = [f for f in sorted(table) if any(table[f][key][1] for key, _ in columns)]
    if counted:
        print("  %-16s" % "family" + "".join(" %-*s" % (len(t), t) for _, t in columns))
    for family in counted:
        row = table[family]
        cells = ["%d/%d" % tuple(row[key]) if row[key][1] else "-" for key, _ in columns]
        print("  %-16s" % family + "".join(" %-*s" % (len(t), c)
                                           for (_, t), c in zip(columns, cells)))
    count = {v: sum(1 for r in results if r[0] == v) for v in ("PASS", "FAIL", "SKIP")}
    print("  %s leg: %d passed, %d failed%s" % (leg, count["PASS"], count["FAIL"],
                                               ", %d skipped" % count["SKIP"]
                                               if count["SKIP"] else ""))


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    which = parser.add_mutually_exclusive_group(required=True)
    which.add_argument("--cmd", help="path of unveilo-cmd")
    which.add_argument("--wine", action="store_true", help="run under Wine's cmd")
    parser.add_argument("--batch", default=os.path.join(here, "..", "..", "datafile.dat"))
    parser.add_argument("--clean", metavar="DIR",
                        help="the folder holding unveilo-clean (unveilo-clean.exe under Wine):"
                        " the batch runs with it as the current folder")
    parser.add_argument("--round-trip", action="store_true",
                        help="also run the program itself: --dry-run, the clean-up, --undo")
    parser.add_argument("--full", action="store_true", help="also on sticks with no room")
    parser.add_argument("--write-protected", action="store_true",
                        help="also on read-only sticks")
    parser.add_argument("--layout", action="append", help="only these layouts")
    parser.add_argument("--keep", action="store_true",
                        help="keep the sticks of failed runs (with output.txt) in the work folder")
    args = parser.parse_args()
    if args.round_trip and not args.clean:
        parser.error("--round-trip needs --clean DIR")
    known = {layout for layout, _, _, _ in ALL_LAYOUTS}
    if args.layout and set(args.layout) - known:
        parser.error("no layout %s" % ", ".join(sorted(set(args.layout) - known)))
    legs = ["normal"] + [c for c, on in (("full", args.full),
                                         ("write-protected", args.write_protected),
                                         ("round-trip", args.round_trip)) if on]
    work = tempfile.mkdtemp(prefix="stick-corpus.")
    failed = [("shortcut corpus", r) for r in check_shortcut_variants()]
    lnk_bad = check_windows_shortcuts(work)
    if lnk_bad is None:
        print("SKIP shortcuts read back through lnkinfo: lnkinfo (liblnk-utils) is not installed")
    failed += [("shortcut read back through lnkinfo", r) for r in lnk_bad or []]
    for case, reason in failed:
        print("FAIL %s: %s" % (case, reason))
    if args.wine and not (shutil.which("wine") or os.path.exists("/usr/lib/wine/wine64")):
        print("SKIP wine: Wine is not installed")
        print("0 passed, %d failed, 1 skipped" % len(failed))
        shutil.rmtree(work, ignore_errors=True)
        return 1 if failed else 0
    batch = os.path.abspath(args.batch)
    clean_dir = os.path.abspath(args.clean) if args.clean else None
    interp = Interpreter(args.cmd and os.path.abspath(args.cmd), args.wine, work, clean_dir)
    verdicts = [v for v in ("FAIL",) for _ in failed]
    try:
        # A program asked for and not there fails; one this machine cannot run is skipped.
        if interp.clean_missing or interp.clean_skip:
            verdict = "FAIL" if interp.clean_missing else "SKIP"
            print("%s the clean-up program's legs: %s" % (verdict, interp.clean_missing or
                                                          interp.clean_skip))
            verdicts.append(verdict)
            legs = []
        for leg in legs:
            results = run_leg(interp, leg, args.layout, batch, work, args.keep)
            summary(leg, results)
            verdicts += [r[0] for r in results]
    finally:
        interp.close()
        if not args.keep:
            shutil.rmtree(work, ignore_errors=True)
        else:
            print("work folder kept: " + work)
    count = {v: verdicts.count(v) for v in ("PASS", "FAIL", "SKIP")}
    print("%d passed, %d failed" % (count["PASS"], count["FAIL"]) +
          (", %d skipped" % count["SKIP"] if count["SKIP"] else ""))
    return 1 if count["FAIL"] else 0


if __name__ == "__main__":
    sys.exit(main())
