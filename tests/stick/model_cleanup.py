"""The clean-up's rules written plainly in Python, as a reference to run the corpus against
(stick_corpus.py --model): a harness that fails this model, or passes the old batch, is wrong.
Each name in BREAKS switches one rule off or gets it wrong, so that --self-test can show that
the corpus catches every such fault.

It does what temp.bat must do in the root of a drive: restore the hiding folder's entries,
move the leftovers into the quarantine (or rename them in place when no folder can be made),
hide the Windows folders that exist, and end with the closing line.
"""
import os

QUARANTINE = "UNVEILO-QUARANTINE"
NOTE = "README-UNVEILO.txt"
CLOSING = "Unveilo clean-up finished."
SCRIPTS = {"vbs", "vbe", "js", "jse", "wsf"}
PROGRAMS = {"exe", "scr", "pif", "com", "cmd", "bat"}
HIDING_CHARACTERS = set(" \u00a0")
BREAKS = {"autorun", "lnk-name", "lnk-content", "json", "programs", "scripts", "hiding",
          "collide", "self", "note", "number", "closing", "svi", "in-place", "ro", "delete",
          "subfolders"}


def _free_name(folder, name, broken):
    candidate, number = name + ".quarantined", 1
    while "number" not in broken and os.path.lexists(os.path.join(folder, candidate)):
        number += 1
        candidate = "%s.%d.quarantined" % (name, number)
    return candidate


def _reason(root, name, folders, content_hits, broken):
    base, dot, ext = name.rpartition(".")
    base, ext = (base, ext.lower()) if dot else (name, "")
    if "json" in broken and ext == "lnk":
        with open(os.path.join(root, name), "rb") as f:
            if b".js" in f.read().lower():
                return "shortcut that names a script"
    if name.lower() == "autorun.inf" and "autorun" not in broken:
        return "autorun.inf starts the virus"
    if ext == "lnk" and base.lower() in folders and "lnk-name" not in broken:
        return "shortcut named like a folder"
    if ext == "lnk" and content_hits is not None and "lnk-content" not in broken:
        with open(os.path.join(root, name), "rb") as f:
            if content_hits(f.read()):
                return "shortcut that starts a script"
    if ext in PROGRAMS and base.lower() in folders and "programs" not in broken:
        return "program named like a folder"
    if ext in SCRIPTS and "scripts" not in broken:
        return "script in the root"
    return None


def clean(root, content_hits=None, broken=frozenset()):
    """Cleans the stick at root; content_hits (bytes -> list) judges shortcuts by their
    contents, None where no content search works. Returns the output lines."""
    out = []
    if not os.access(root, os.W_OK) and "ro" not in broken:
        return ["The drive cannot be written: nothing was changed.", CLOSING]
    for folder in sorted(os.listdir(root)):
        hiding = os.path.join(root, folder)
        if not os.path.isdir(hiding) or not set(folder) <= HIDING_CHARACTERS or (
                "hiding" in broken):
            continue
        for entry in sorted(os.listdir(hiding)):
            taken = {n if "collide" in broken else n.lower() for n in os.listdir(root)}
            if entry.lower() in taken:
                out.append('Could not move "%s": it stays where it is.' % entry)
                continue
            os.rename(os.path.join(hiding, entry), os.path.join(root, entry))
            out.append('Moved "%s" out of that folder back to the root.' % entry)
    names = sorted(os.listdir(root))
    folders = {n.lower() for n in names if os.path.isdir(os.path.join(root, n))}
    quarantine = os.path.join(root, QUARANTINE)
    for name in names:
        path = os.path.join(root, name)
        if (name == "temp.bat" and "self" not in broken) or os.path.islink(path) or (
                not os.path.isfile(path)):
            continue
        reason = _reason(root, name, folders, content_hits, broken)
        if reason is None:
            continue
        try:
            os.makedirs(quarantine, exist_ok=True)
            target = quarantine
        except OSError:
            target = root  # a full stick: a rename in place needs no room
            if "in-place" in broken:
                continue
        new = _free_name(target, name, broken)
        if "delete" in broken:
            os.remove(path)
        else:
            os.rename(path, os.path.join(target, new))
        out.append('Moved "%s" to the quarantine: %s.' % (name, reason))
        if target == quarantine and "note" not in broken:
            with open(os.path.join(quarantine, NOTE), "a", encoding="utf-8") as note:
                note.write('"%s" is now "%s": %s.\r\n' % (name, new, reason))
    if "subfolders" in broken:
        for folder, _, files in os.walk(root):
            for name in files:
                if name.endswith(".vbs") and folder != root:
                    os.rename(os.path.join(folder, name), os.path.join(folder, name + ".q"))
    for folder in ("System Volume Information", "$RECYCLE.BIN"):
        if "svi" not in broken and os.path.isdir(os.path.join(root, folder)):
            try:
                os.setxattr(os.path.join(root, folder), "user.DOSATTRIB", b"0x6")
            except OSError:
                pass
    return out + ([] if "closing" in broken else [CLOSING])
