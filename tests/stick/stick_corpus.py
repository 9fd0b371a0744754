#!/usr/bin/env python3
"""Runs the clean-up batch (datafile.dat, as temp.bat in the root of a stick) over a corpus of
stick layouts and judges what it did to each stick.

  stick_corpus.py --cmd build/linux/unveilo-cmd [--full] [--write-protected]
  stick_corpus.py --wine [--full] [--write-protected]

Every layout is a table of entries, each with what must become of it:
  s   stays where it is, byte for byte
  q   a leftover by its name: moves to UNVEILO-QUARANTINE/<name>[.<n>].quarantined (on a full
      stick: renamed in place to <name>.quarantined)
  qc  a leftover by its contents only: like q where findstr works, s under Wine (stub findstr)
  b   inside the hiding folder: moves back to the root (the folder's name dropped from its path)
  bq  moves back to the root, then is a leftover by its name there
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

sys.dont_write_bytecode = True  # no __pycache__ left in the tests folder
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import make_lnk  # noqa: E402

QUARANTINE = "UNVEILO-QUARANTINE"
NOTE = QUARANTINE + "/README-UNVEILO.txt"
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

# Layouts that Wine's cmd (8.0) gets wrong where cmd does not, each seen with a single name:
# under Wine only the safety of the run is judged (no file lost or changed, nothing outside the
# stick touched), not the rules.
WINE_FAULTS = {
    "percent-for": "Wine's cmd crashes (a page fault) on a FOR value that holds %%",
    "if-words": "Wine's cmd reads a FOR value of exist or errorlevel in IF as the keyword",
    "hiding-nbsp": "Wine's cmd lists nothing for a quoted wildcard in a FOR set",
    "hiding-spaces": "Wine's cmd lists nothing for a quoted wildcard in a FOR set",
}

# What the batch must not touch: the same bait beside the stick and in the current folder.
BAIT = [("s", "x.vbs"), ("s", "autorun.inf"), ("s", "Photos/"), ("s", "Photos.exe"),
        ("s", "Photos.lnk", "lnk:virus"), ("s", NBSP + "/"), ("s", NBSP + "/inside.txt")]

CONTENT_WORDS = ["cmd.exe", "wscript", "cscript", "powershell", "mshta", ".vbs", ".vbe", ".js",
                 ".jse", ".wsf"]


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


def content_of(layout, entry):
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


def read_hidden_bit(path):
    try:
        value = os.getxattr(path, "user.DOSATTRIB").rstrip(b"\0").strip(b'"')
        return int(value, 16) & HIDDEN_BIT if value.startswith(b"0x") else None
    except OSError:
        return None


def judge(entries, before, after, output, wine, condition, stick, in_place):
    """The reasons a run failed, empty when it did all and only what the table says."""
    reasons = []
    claimed = {"temp.bat"}
    if after.get("temp.bat") != before.get("temp.bat"):
        reasons.append("temp.bat is gone or changed")
    lines = [l.strip() for l in output.splitlines() if l.strip()]
    if not lines or lines[-1] != CLOSING:
        reasons.append("did not end with %r (last line: %r)" % (CLOSING,
                                                                lines[-1] if lines else ""))
    if condition == "write-protected":
        if not any("cannot be written" in l for l in lines):
            reasons.append("no 'cannot be written' line")
        if after != before:
            reasons.append("the read-only stick changed")
        return reasons
    quarantined = []
    for entry in entries:
        kind, path = entry[0], entry[1].rstrip("/")
        if kind == "qc" and wine:
            kind = "s"
        final = path.split("/", 1)[1] if kind in ("b", "bq") else path
        if kind in ("s", "b"):
            if after.get(final) != before[path]:
                reasons.append("%r is not %s" % (path, "where it was" if kind == "s" else
                                                 "back in the root as %r" % final))
                claimed.add(path)  # reported once, not again as left behind
            claimed.add(final)
            continue
        name = final
        folder = "" if in_place else QUARANTINE + "/"
        pattern = re.compile(re.escape(folder + name) + r"(\.\d+)?\.quarantined")
        found = [p for p, h in after.items()
                 if h == before[path] and p not in claimed and pattern.fullmatch(p)]
        if not found:
            where = "renamed in place" if in_place else "in the quarantine"
            reasons.append("%r is not %s%s" % (path, where, " (it stays)" if after.get(
                path) == before[path] else ""))
            claimed.add(path)  # reported once, not again as an unexpected file
            continue
        claimed.add(found[0])
        quarantined.append(name)
    if not in_place:
        claimed.update({QUARANTINE, NOTE})
    for path in sorted(set(after) - claimed):
        reasons.append("unexpected %r" % path if path not in before else
                       "%r should have moved" % path)
    if quarantined and not in_place:
        try:
            with open(os.path.join(stick, NOTE), "rb") as f:
                note = f.read().decode("latin-1")
        except OSError:
            note = None
            reasons.append("no README-UNVEILO.txt")
        # Under Wine the note is written in the console's code page: a character outside it
        # may come out as "?", so such characters match any one to four bytes.
        for name in quarantined if note is not None else []:
            loose = "".join(re.escape(c) if ord(c) < 128 else ".{1,4}" for c in name)
            if not re.search(loose, note):
                reasons.append("README-UNVEILO.txt does not name %r" % name)
    # What cannot leave the hiding folder is named, so that the user knows where it is.
    for entry in entries:
        parts = entry[1].rstrip("/").split("/")
        if entry[0] == "s" and len(parts) == 2 and set(parts[0]) <= set(" " + NBSP):
            said = ('"%s" stays in that folder:' % parts[1], 'Could not move "%s"' % parts[1])
            if not any(line.startswith(said) for line in lines):
                reasons.append("no line that names %r as staying" % parts[1])
    for folder in ("System Volume Information", "$RECYCLE.BIN"):
        if not wine and condition == "normal" and folder in before:
            if read_hidden_bit(os.path.join(stick, folder)) != HIDDEN_BIT:
                reasons.append("%s is not hidden again" % folder)
    return reasons


class Interpreter:
    def __init__(self, cmd, wine, work):
        # wine: judged as under Wine (no content rules, no attributes).
        self.cmd, self.wine = cmd, wine
        if wine:
            self.exe = "wine"
            if os.path.exists("/usr/lib/wine/wine64"):
                self.exe = "/usr/lib/wine/wine64"  # as tools/wine-run.sh picks it
            server = "/usr/lib/wine/wineserver"
            self.server = server if os.path.exists(server) else "wineserver"
            self.env = dict(os.environ, WINEPREFIX=os.path.join(work, "wine-prefix"),
                            WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
            subprocess.run([self.exe, "wineboot", "--init"], env=self.env,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=300)
            # A server kept running saves seconds of start-up on every run.
            subprocess.run([self.server, "-p"], env=self.env)

    def run(self, stick, cwd):
        if self.wine:
            drive = os.path.join(self.env["WINEPREFIX"], "dosdevices", "e:")
            if os.path.lexists(drive):
                os.remove(drive)
            os.symlink(stick, drive)
            argv, env = [self.exe, "cmd", "/c", "e:\\temp.bat"], self.env
        else:
            argv, env = [self.cmd, "/c", "E:\\temp.bat"], dict(os.environ, UNVEILO_DRIVE_E=stick)
        try:
            done = subprocess.run(argv, cwd=cwd, env=env, stdin=subprocess.DEVNULL,
                                  stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=60)
            return done.stdout.decode("utf-8", "replace")
        except subprocess.TimeoutExpired:
            return "(hung: stopped after 60 s)"

    def close(self):
        if self.wine:
            subprocess.run([self.server, "-k"], env=self.env, stderr=subprocess.DEVNULL)


def mount(*args):
    done = subprocess.run(["mount", *args], capture_output=True, text=True)
    return done.returncode == 0, " ".join(done.stderr.split())


def prepare(condition, case, layout, entries, batch):
    """Lays the stick out under the condition; returns (stick, unmount list) or a skip
    reason."""
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
    shutil.copyfile(batch, os.path.join(src, "temp.bat"))
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


def run_case(interp, condition, layout, extra, entries, batch, work, keep):
    case = tempfile.mkdtemp(prefix="%s-%s." % (condition, layout), dir=work)
    stick, sentinel, cwd = (os.path.join(case, n) for n in ("stick", "sentinel", "cwd"))
    mounts, skip = prepare(condition, case, layout, entries, batch)
    try:
        if skip:
            return "SKIP", [skip]
        build(sentinel, "sentinel", BAIT)
        build(cwd, "cwd", BAIT)
        before = snapshot(stick), snapshot(sentinel), snapshot(cwd)
        output = interp.run(stick, cwd)
        after = snapshot(stick), snapshot(sentinel), snapshot(cwd)
        if interp.wine and layout in WINE_FAULTS:
            kept = sorted(h for p, h in before[0].items() if h is not None)
            found = [h for p, h in after[0].items() if h is not None]
            reasons = ["a file was lost or changed"] if any(
                kept.count(h) > found.count(h) for h in set(kept)) else []
        else:
            reasons = judge(entries, before[0], after[0], output, interp.wine, condition, stick,
                            condition == "full" or "in-place" in extra)
        for label, b, a in (("beside the stick", before[1], after[1]),
                            ("in the current folder", before[2], after[2])):
            if a != b:
                changed = sorted(set(a.items()) ^ set(b.items()))
                reasons.append("changed %s: %s" % (label, [p for p, _ in changed][:4]))
        if reasons and keep:
            with open(os.path.join(case, "output.txt"), "w") as f:
                f.write(output)
        return ("FAIL" if reasons else "PASS"), reasons
    finally:
        for point in reversed(mounts or []):
            subprocess.run(["umount", point])
        if not keep:
            shutil.rmtree(case, ignore_errors=True)


def run_all(interp, conditions, layouts, batch, work, keep, show=True):
    """Runs every layout under every condition it is meant for; returns the verdicts as
    (verdict, case, reasons)."""
    verdicts = []
    for condition in conditions:
        for layout, extra, entries in LAYOUTS:
            if (layouts and layout not in layouts) or (condition != "normal" and
                                                       condition not in extra):
                continue
            verdict, reasons = run_case(interp, condition, layout, extra, entries, batch, work,
                                        keep)
            verdicts.append((verdict, condition + "/" + layout, reasons))
            if interp.wine and layout in WINE_FAULTS and not reasons:
                reasons = ["only safety judged: " + WINE_FAULTS[layout]]
            if show:
                shown = "; ".join(reasons[:6]) + (
                    "; and %d more" % (len(reasons) - 6) if len(reasons) > 6 else "")
                print("%s %s/%s%s" % (verdict, condition, layout, ": " + shown if shown else ""))
    return verdicts


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    which = parser.add_mutually_exclusive_group(required=True)
    which.add_argument("--cmd", help="path of unveilo-cmd")
    which.add_argument("--wine", action="store_true", help="run under Wine's cmd")
    parser.add_argument("--batch", default=os.path.join(here, "..", "..", "datafile.dat"))
    parser.add_argument("--full", action="store_true", help="also on sticks with no room")
    parser.add_argument("--write-protected", action="store_true",
                        help="also on read-only sticks")
    parser.add_argument("--layout", action="append", help="only these layouts")
    parser.add_argument("--keep", action="store_true",
                        help="keep the sticks of failed runs (with output.txt) in the work folder")
    args = parser.parse_args()
    conditions = ["normal"] + [c for c, on in (("full", args.full),
                                               ("write-protected", args.write_protected)) if on]
    verdicts = [("FAIL", "shortcut corpus", [r]) for r in check_shortcut_variants()]
    for _, case, reasons in verdicts:
        print("FAIL %s: %s" % (case, reasons[0]))
    if args.wine and not (shutil.which("wine") or os.path.exists("/usr/lib/wine/wine64")):
        print("SKIP wine: Wine is not installed")
        print("0 passed, %d failed, 1 skipped" % len(verdicts))
        return 1 if verdicts else 0
    work = tempfile.mkdtemp(prefix="stick-corpus.")
    batch = os.path.abspath(args.batch)
    interp = Interpreter(args.cmd and os.path.abspath(args.cmd), args.wine, work)
    try:
        verdicts += run_all(interp, conditions, args.layout, batch, work, args.keep)
    finally:
        interp.close()
        if not args.keep:
            shutil.rmtree(work, ignore_errors=True)
        else:
            print("work folder kept: " + work)
    count = {v: sum(1 for verdict, _, _ in verdicts if verdict == v)
             for v in ("PASS", "FAIL", "SKIP")}
    print("%d passed, %d failed" % (count["PASS"], count["FAIL"]) +
          (", %d skipped" % count["SKIP"] if count["SKIP"] else ""))
    return 1 if count["FAIL"] else 0


if __name__ == "__main__":
    sys.exit(main())
