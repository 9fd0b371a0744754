"""Sticks laid out as published malware families leave them, and ordinary sticks that must not
change. Only the footprints are rebuilt (names, hiding, the shortcut fields, the command lines,
the shape of autorun.inf), from the vendors' public analyses that docs/infections.md lists; every
file body is a placeholder, so nothing here can run.

Each layout is (name, family, conditions beyond a plain stick, entries); an entry is
(kind, path[, content]) as stick_corpus.py reads it. A content that is a dict is handed to
make_lnk.win_shortcut (a shortcut in the shape Explorer saves); bytes are written as they are.
"""
import hashlib

import make_lnk as lnk

NBSP = "\u00a0"
HANGUL_FILLER = "\u3164"
CMD = "C:\\Windows\\System32\\cmd.exe"
WSCRIPT = "C:\\Windows\\System32\\wscript.exe"
RUNDLL32 = "C:\\Windows\\System32\\rundll32.exe"
# The SID-named folder Conficker's autorun.inf points into (F-Secure's description).
CONFICKER_SID = "S-5-3-42-2819952290-8240758988-879315005-3665"


def cmd_link(arguments, icon_index=lnk.ICON_FOLDER):
    """What the VBS worms save for every item they hide: cmd.exe, a minimised window, the
    folder or document icon of shell32.dll."""
    return dict(target=CMD, arguments=arguments, icon=lnk.SHELL32, icon_index=icon_index,
                show=lnk.SW_SHOWMINNOACTIVE_WIN)


def junk_line(seed, length=60):
    """A line of bytes that is no INI line: no NUL, CR, LF, '[', '=' or ';' (so it opens no
    section, sets no key and is no comment), different for every seed."""
    out = bytearray()
    counter = 0
    while len(out) < length:
        for byte in hashlib.sha256(b"%s:%d" % (seed.encode(), counter)).digest():
            if byte not in b"\0\r\n[=;" and len(out) < length:
                out.append(byte)
        counter += 1
    return bytes(out)


def conficker_inf():
    """Conficker's autorun.inf: the keys buried in lines of binary junk, odd letter case, the
    folder icon and an "Open folder to view files" action, rundll32 on a library in a SID-named
    RECYCLER folder (F-Secure, Sophos, SANS via Threatpost)."""
    command = ("RuNdLl32.eXe .\\RECYCLER\\%s\\jwgvsq.vmx,ahaezedrn" % CONFICKER_SID).encode()
    lines = [junk_line("c1"), b"[AuToRuN]", junk_line("c2", 200), b";" + junk_line("c3"),
             b"AcTiOn=Open folder to view files", junk_line("c4", 120),
             b"iCoN=%syStEmrOOt%\\sYsTeM32\\sHeLl32.dLl,4", junk_line("c5", 300),
             b"sHeLlExEcUtE=" + command, junk_line("c6"), b"UsEaUtOpLaY=1",
             junk_line("c7", 90)]
    return b"\r\n".join(lines) + b"\r\n"


def sality_inf():
    """A Sality-style autorun.inf: comment lines of random letters between the keys, odd case,
    open, shellexecute and two shell verbs on one hidden program in the root."""
    words = ["tHgHkvcDs", "QewRVbnMlkoP", "uIjSgHbvcXzs", "PlmnKbRet", "wEdXcvBgTyH"]
    lines = [b";" + words[0].encode(), b"[AutoRun]", b";" + words[1].encode(),
             b"open=bfuw.pif", b";" + words[2].encode(), b"shellexecute=bfuw.pif",
             b";" + words[3].encode(), b"ShElL\\oPeN\\CoMmAnD=bfuw.pif",
             b"shell\\Open\\Default=1", b";" + words[4].encode(),
             b"sHeLl\\ExPlOrE\\CoMmAnD=bfuw.pif"]
    return b"\r\n".join(lines) + b"\r\n"


def recycler_inf():
    """The RECYCLER autorun.inf Trend Micro quotes for WORM_RIMECUD: the program in a folder
    posing as the recycle bin, the folder icon and the "Open folder" action."""
    return (b"[autorun]\r\nopen=RECYCLER\\autorun.exe\r\n"
            b"icon=%SystemRoot%\\system32\\SHELL32.dll,4\r\n"
            b"action=Open folder to view files\r\nshell\\open=Open\r\n"
            b"shell\\open\\command=RECYCLER\\autorun.exe\r\nshell\\open\\default=1\r\n")


def user_files(folder=""):
    """A user's ordinary things, under `folder` when the worm moved them there."""
    return [("s", folder + "Photos/"), ("s", folder + "Photos/beach.jpg"),
            ("s", folder + "Photos/family/"), ("s", folder + "Photos/family/2019.png"),
            ("s", folder + "CV.docx")]


def hidden_user_files(folder):
    """The same things inside a hiding folder: all of it comes back to the root."""
    return [("b", folder + "/" + path) if kind == "s" else (kind, path)
            for kind, path in user_files()]


SVI = [("s", "System Volume Information/"), ("s", "System Volume Information/IndexerVolumeGuid")]

FAMILY_LAYOUTS = [
    # VBS worms (Houdini, Jenxcus): every item hidden, a shortcut of its name beside it that
    # starts the script in the root and then opens the item; the script is a launcher itself.
    ("vbs-worm-root", "vbs-worm", set(), user_files() + [
        ("s", "notes.txt"),
        ("q", "Photos.lnk", cmd_link('/c start svchost.vbs&start explorer "Photos"&exit')),
        ("q", "CV.docx.lnk",
         cmd_link('/c start svchost.vbs&start "" "CV.docx"&exit', lnk.ICON_DOCUMENT)),
        ("q", "notes.txt.lnk",
         cmd_link('/c start svchost.vbs&start "" "notes.txt"&exit', lnk.ICON_DOCUMENT)),
        ("q", "svchost.vbs")]),
    # The script in a hidden folder of its own, run through wscript as JScript.
    ("vbs-worm-subfolder", "vbs-worm", set(), user_files() + [
        ("s", "Sysdata/"), ("qp", "Sysdata/wbkmuzpt.js"),
        ("q", "Photos.lnk", cmd_link(
            '/c start wscript /e:javascript "Sysdata\\wbkmuzpt.js"&start explorer "Photos"'
            '&exit')),
        ("q", "CV.docx.lnk", cmd_link(
            '/c start wscript /e:javascript "Sysdata\\wbkmuzpt.js"&start "" "CV.docx"&exit',
            lnk.ICON_DOCUMENT))]),
    # The script inside the blank-named folder that holds the user's files.
    ("vbs-worm-hiding", "vbs-worm", set(), [("s", NBSP + "/")] + hidden_user_files(NBSP) + [
        ("bqp", NBSP + "/svchost.vbs"),
        ("q", "Photos.lnk", cmd_link(
            '/c start "" "%s\\svchost.vbs"&start explorer "%s\\Photos"&exit' % (NBSP, NBSP)))]),

    # Andromeda/Gamarue: everything in a folder named U+00A0, one shortcut named after the
    # drive with the removable-drive icon, rundll32 on a hidden library in the root.
    ("andromeda-nbsp", "andromeda", {"full"}, [("s", NBSP + "/")] + hidden_user_files(NBSP) +
     SVI + [
        ("qp", "~$W1A2B3C.usb"),
        ("q", "STICK.lnk", dict(
            target=RUNDLL32, env_target="%windir%\\system32\\rundll32.exe",
            arguments="~$W1A2B3C.usb,gbxQsD", icon=lnk.SHELL32, icon_index=lnk.ICON_REMOVABLE,
            show=lnk.SW_SHOWMINNOACTIVE_WIN))]),
    # The target as Trend Micro quotes it: odd-case variable, a space after the comma.
    ("andromeda-fat32", "andromeda", set(), [("s", NBSP + "/")] + hidden_user_files(NBSP) + [
        ("qp", "~WYDCNU.FAT32"),
        ("q", "KINGSTON.lnk", dict(
            target="C:\\WINDOWS\\System32\\rundll32.exe",
            env_target="%hoMEdrive%\\WINDOWS\\System32\\rundll32.exe",
            arguments="~WYDCNU.FAT32, lnk", icon=lnk.SHELL32, icon_index=lnk.ICON_REMOVABLE,
            show=lnk.SW_SHOWMINNOACTIVE_WIN))]),

    # Raspberry Robin: a shortcut posing as a folder ("Recovery", or the drive's name) on
    # cmd.exe, whose arguments read commands from a file on the stick with a random extension.
    ("raspberry-robin-recovery", "raspberry-robin", set(), [
        ("s", "Work/"), ("s", "Work/report.docx"), ("qp", "QjM.cHK"),
        ("q", "Recovery.lnk", cmd_link("/r cMD<QjM.cHK"))]),
    ("raspberry-robin-label", "raspberry-robin", set(), [
        ("s", "Work/"), ("s", "Work/report.docx"), ("qp", "laUReN.lo"),
        ("q", "LAUREN V.lnk", cmd_link("/v  /r  C^m^D <  laUReN.lo"))]),
    # The command file with the extension of a shortcut (one of those Red Canary lists).
    ("raspberry-robin-lnk", "raspberry-robin", set(), [
        ("s", "Work/"), ("s", "Work/report.docx"), ("qp", "ZpTo.lNk"),
        ("q", "Recovery.lnk", cmd_link("/R CMd<ZpTo.lNk"))]),

    # Autorun-era worms: what autorun.inf names is the payload, wherever it sits.
    ("autorun-conficker", "autorun-worm", set(), user_files() + [
        ("q", "autorun.inf", conficker_inf()), ("s", "RECYCLER/"),
        ("s", "RECYCLER/%s/" % CONFICKER_SID),
        ("qp", "RECYCLER/%s/jwgvsq.vmx" % CONFICKER_SID)]),
    ("autorun-sality", "autorun-worm", set(), user_files() + [
        ("q", "autorun.inf", sality_inf()), ("qp", "bfuw.pif")]),
    ("autorun-recycler", "autorun-worm", set(), user_files() + [
        ("q", "AUTORUN.INF", recycler_inf()), ("s", "RECYCLER/"),
        ("qp", "RECYCLER/autorun.exe"), ("sq", "RECYCLER/Desktop.ini")]),

    # Brontok style: a program named after each folder, with a folder icon.
    ("brontok", "brontok", set(), user_files() + [
        ("s", "Music/"), ("s", "Music/song.mp3"), ("s", "New Folder/"),
        ("s", "New Folder/list.txt"), ("q", "Photos.exe"), ("q", "Music.scr"),
        ("q", "New Folder.pif")]),

    # Phorpiex: the files moved into "_" (a visible name: no hiding folder), a shortcut that
    # opens it and starts the program inside.
    ("phorpiex", "phorpiex", set(), [("s", "_/")] + user_files("_/") + [
        ("qp", "_/DeviceManager.exe"),
        ("q", "STICK.lnk", cmd_link("/c start _ & _\\DeviceManager.exe & exit",
                                    lnk.ICON_REMOVABLE))]),

    # The "WindowsServices" worm: a hidden folder of scripts and a miner; a shortcut named
    # after the volume runs one script, the files sit in "_". Only the script a launcher runs
    # is a payload; the others may stay or go.
    ("windowsservices-volume", "script-folder", {"full"}, [
        ("s", "WindowsServices/"), ("qp", "WindowsServices/movemenoreg.vbs"),
        ("sq", "WindowsServices/helper.vbs"), ("sq", "WindowsServices/installer.vbs"),
        ("sq", "WindowsServices/WindowsServices.exe"), ("s", "_/")] + user_files("_/") + [
        ("q", "STICK.lnk", cmd_link("/C .\\WindowsServices\\movemenoreg.vbs",
                                    lnk.ICON_REMOVABLE))]),
    # Shortcuts named after the user's items, wscript on a script of the folder.
    ("windowsservices-items", "script-folder", set(), user_files() + [
        ("s", "WindowsServices/"), ("qp", "WindowsServices/helper.vbs"),
        ("sq", "WindowsServices/installer.vbs"), ("sq", "WindowsServices/WindowsServices.exe"),
        ("q", "Photos.lnk", dict(target=WSCRIPT, arguments='"WindowsServices\\helper.vbs"',
                                 icon=lnk.SHELL32, icon_index=lnk.ICON_FOLDER,
                                 show=lnk.SW_SHOWMINNOACTIVE_WIN)),
        ("q", "CV.docx.lnk", dict(target=WSCRIPT, arguments='"WindowsServices\\helper.vbs"',
                                  icon=lnk.SHELL32, icon_index=lnk.ICON_DOCUMENT,
                                  show=lnk.SW_SHOWMINNOACTIVE_WIN))]),

    # Memory-card worms: the scripts kept as .vbss, renamed to .vbs by the shortcut itself.
    ("memory-card-vbss", "memory-card", set(), [
        ("s", "DCIM/"), ("s", "DCIM/100CANON/"), ("s", "DCIM/100CANON/IMG_0001.JPG"),
        ("s", "Sys/"), ("qp", "Sys/svchost.vbss"), ("qp", "Sys/autorun.vbss"),
        ("q", "DCIM.lnk", cmd_link(
            "/c ren Sys\\*.vbss *.vbs &start \\Sys\\svchost.vbs&start explorer DCIM&exit"))]),

    # Hiding folders whose names draw as nothing, and shortcuts whose target is a program
    # inside one ("E:\ \ .exe").
    ("hiding-hangul", "hiding", set(), [("s", HANGUL_FILLER + "/")] +
     hidden_user_files(HANGUL_FILLER) + [
        ("bqp", HANGUL_FILLER + "/" + HANGUL_FILLER + ".exe"),
        ("q", "STICK.lnk", dict(target="E:\\%s\\%s.exe" % (HANGUL_FILLER, HANGUL_FILLER),
                                drive_type=lnk.DRIVE_REMOVABLE, label="STICK",
                                icon=lnk.SHELL32, icon_index=lnk.ICON_REMOVABLE))]),
    ("hiding-blank-exe", "hiding", set(), [("s", " /")] + hidden_user_files(" ") + [
        ("bqp", " / .exe"),
        ("q", "USB DISK.lnk", dict(target="E:\\ \\ .exe", drive_type=lnk.DRIVE_REMOVABLE,
                                   label="USB DISK", icon=lnk.SHELL32,
                                   icon_index=lnk.ICON_REMOVABLE))]),
    # More characters that draw as nothing; a folder with one visible character is no
    # hiding folder.
    ("hiding-invisible", "hiding", set(), [
        ("s", "\u2800/"), ("b", "\u2800/braille.txt"), ("s", "\u200b/"),
        ("b", "\u200b/zero-width.txt"), ("s", "\u3000/"), ("b", "\u3000/ideographic/"),
        ("b", "\u3000/ideographic/in.txt"), ("s", "\uffa0/"), ("b", "\uffa0/halfwidth.txt"),
        ("s", NBSP + " " + NBSP + "/"), ("b", NBSP + " " + NBSP + "/mixed.txt"),
        ("s", NBSP + "x/"), ("s", NBSP + "x/visible.txt"), ("s", "_/"), ("s", "_/under.txt")]),

    # Ordinary sticks that must not change at all.
    ("ordinary-photographer", "ordinary", set(), SVI + [
        ("s", "DCIM/"), ("s", "DCIM/100NIKON/"), ("s", "DCIM/100NIKON/DSC_0001.NEF"),
        ("s", "DCIM/100NIKON/DSC_0002.NEF"), ("s", "Edits/"), ("s", "Edits/portrait.psd"),
        ("s", "Edits/Portfolio/"), ("s", "Edits/Portfolio/cover.jpg"), ("s", "Clients.xlsx"),
        ("s", "Lightroom Catalog.lrcat"), ("s", "Lightroom Catalog Previews.lrdata/"),
        ("s", "Lightroom Catalog Previews.lrdata/root-pixels.db"),
        ("s", "Portfolio.lnk", dict(target="E:\\Edits\\Portfolio", target_is_dir=True,
                                    relative_path=".\\Edits\\Portfolio",
                                    drive_type=lnk.DRIVE_REMOVABLE, label="NIKON D750"))]),
    ("ordinary-student", "ordinary", set(), [
        ("s", "Start.exe"), ("s", "PortableApps/"), ("s", "PortableApps/FirefoxPortable/"),
        ("s", "PortableApps/FirefoxPortable/FirefoxPortable.exe"), ("s", "Apps/"),
        ("s", "Apps/tool.exe"), ("s", "Documents/"), ("s", "Documents/essay.docx"),
        ("s", "tool.lnk", dict(target="E:\\Apps\\tool.exe", relative_path=".\\Apps\\tool.exe",
                               working_dir="E:\\Apps", icon="E:\\Apps\\tool.exe",
                               drive_type=lnk.DRIVE_REMOVABLE, label="STUDENT")),
        ("s", "Firefox.lnk", dict(
            target="E:\\PortableApps\\FirefoxPortable\\FirefoxPortable.exe",
            relative_path=".\\PortableApps\\FirefoxPortable\\FirefoxPortable.exe",
            working_dir="E:\\PortableApps\\FirefoxPortable", drive_type=lnk.DRIVE_REMOVABLE,
            label="STUDENT")),
        ("s", "Essays.lnk", dict(target="E:\\Documents", target_is_dir=True,
                                 relative_path=".\\Documents", drive_type=lnk.DRIVE_REMOVABLE,
                                 label="STUDENT"))]),
    ("ordinary-developer", "ordinary", set(), [
        ("s", "project/"), ("s", "project/src/"), ("s", "project/src/app.js"),
        ("s", "project/src/util.js"), ("s", "project/build.bat"), ("s", "project/scripts/"),
        ("s", "project/scripts/deploy.cmd"), ("s", "project/scripts/setup.vbs"),
        ("s", "project/package.json"), ("s", "project/.git/"), ("s", "project/.git/HEAD"),
        ("s", "tools/"), ("s", "tools/format.js"), ("s", "README.md"),
        ("s", "notes.txt")]),
    ("ordinary-autorun-folder", "ordinary", set(), [
        ("s", "AUTORUN.INF/"), ("s", "AUTORUN.INF/keep.txt"), ("s", "Photos/"),
        ("s", "Photos/beach.jpg")]),
    ("ordinary-doc-shortcuts", "ordinary", set(), [
        ("s", "Letters/"), ("s", "Letters/to-bank.docx"),
        ("s", "Report.lnk", dict(target="C:\\Users\\ana\\Documents\\Report.docx",
                                 working_dir="C:\\Users\\ana\\Documents", target_size=48213)),
        ("s", "Downloads.lnk", dict(target="C:\\Users\\ana\\Downloads", target_is_dir=True)),
        # A shortcut named like a document that the root does not hold.
        ("s", "Budget.xlsx.lnk", dict(target="C:\\Users\\ana\\Documents\\Budget.xlsx",
                                      working_dir="C:\\Users\\ana\\Documents")),
        ("s", "Рецепты.lnk", dict(target="C:\\Users\\ана\\Документы\\Рецепты.docx",
                                  working_dir="C:\\Users\\ана\\Документы"))]),
    # The user's own temp.bat: the batch then runs under the next free name.
    ("ordinary-own-temp-bat", "ordinary", set(), [
        ("s", "temp.bat"), ("s", "Photos/"), ("s", "Photos/beach.jpg")]),
]
