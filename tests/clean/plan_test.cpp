// The clean-up's decisions on sticks laid out as real infections leave them, and on ordinary
// sticks that must not change: one table, each row a stick and the steps it must get, in order.
#include <gtest/gtest.h>

#include "clean/lnk_writer.h"
#include "clean/memory_stick.h"
#include "clean/names.h"
#include "clean/plan.h"
#include "runtime/platform/utf16.h"

namespace {

std::u16string u16(const std::string& text) {
    return utf8_to_utf16(text);
}

// A shortcut whose LinkInfo names `target` (on a removable drive unless it starts with C:),
// or, for a target starting with %, whose environment block does, with `arguments`.
std::string shortcut(const std::string& target, const std::string& arguments = {},
                     const std::string& working_dir = {}) {
    lnk_writer::Layout layout;
    if (target[0] == '%') {
        layout.environment = u16(target);
    } else {
        const uint32_t drive_type = target.rfind("C:", 0) == 0 ? 3 : 2;
        layout.link_info = lnk_writer::local_target(target, drive_type);
        layout.link_info->local_base_unicode = u16(target);
    }
    if (!arguments.empty()) layout.arguments = u16(arguments);
    if (!working_dir.empty()) layout.working_dir = u16(working_dir);
    const lnk_writer::Bytes bytes = lnk_writer::write(layout).bytes;
    return std::string(bytes.begin(), bytes.end());
}

std::string joined(const VolumePath& path) {
    std::string text;
    for (const std::string& name : path) text += (text.empty() ? "" : "/") + name;
    return text;
}

// "from > to" for a move, "hide name" for a Windows folder hidden again.
std::vector<std::string> steps_of(const Plan& plan) {
    std::vector<std::string> out;
    for (const Step& step : plan.steps)
        out.push_back(step.kind == Step::Kind::rehide
                          ? "hide " + joined(step.from)
                          : joined(step.from) + " > " + joined(step.to));
    return out;
}

const std::string Q = "UNVEILO-QUARANTINE/";
const std::string NBSP = "\u00a0";
const std::string FILLER = "\u3164"; // Hangul filler: draws as nothing, is no space

struct Entry {
    std::string path;
    std::string contents = {};
    bool link = false;
};

struct PlanCase {
    const char* name;
    std::vector<Entry> stick;
    std::vector<std::string> steps;
};

const PlanCase PLAN_CASES[] = {
    {"vbs worm: shortcuts for a folder and a document start the hidden script",
     {{"Photos/"},
      {"Photos/a.jpg", "jpeg"},
      {"Photos.lnk",
       shortcut("C:\\Windows\\System32\\cmd.exe", "/c start x.vbs&start explorer \"Photos\"&exit")},
      {"CV.docx", "doc"},
      {"CV.docx.lnk",
       shortcut("C:\\Windows\\System32\\cmd.exe", "/c start x.vbs&start \"\" \"CV.docx\"&exit")},
      {"x.vbs", "WScript"}},
     {"Photos.lnk > " + Q + "Photos.lnk.quarantined", "x.vbs > " + Q + "x.vbs.quarantined",
      "CV.docx.lnk > " + Q + "CV.docx.lnk.quarantined"}},
    {"andromeda: no-break-space folder emptied, rundll32 shortcut and its library",
     {{NBSP + "/Docs/report.txt", "r"},
      {NBSP + "/a.txt", "a"},
      {"STICK.lnk", shortcut("%windir%\\system32\\rundll32.exe", "~$W1A2B.usb,Export")},
      {"~$W1A2B.usb", "MZ"}},
     {NBSP + "/Docs > Docs", NBSP + "/a.txt > a.txt", "STICK.lnk > " + Q + "STICK.lnk.quarantined",
      "~$W1A2B.usb > " + Q + "~$W1A2B.usb.quarantined"}},
    {"raspberry robin: cmd reads its commands from a file of any extension",
     {{"Recovery.lnk", shortcut("C:\\Windows\\System32\\cmd.exe", "/RcMD<qjM.chK")},
      {"qjm.chk", "commands"}},
     {"Recovery.lnk > " + Q + "Recovery.lnk.quarantined",
      "qjm.chk > " + Q + "qjm.chk.quarantined"}},
    {"autorun-era worm: padded autorun.inf names a program and a library under RECYCLER",
     {{"autorun.inf",
       "junk line\r\n;[autorun]\r\n[AutoRun]\r\n;comment\r\nOpEn = pxq.exe\r\n"
       "sHeLl\\oPeN\\CoMmAnD=rundll32.exe .\\RECYCLER\\S-5-3-42\\jwgkvsq.vmx,ahaezedrn\r\n"},
      {"PXQ.EXE", "MZ"},
      {"RECYCLER/S-5-3-42/jwgkvsq.vmx", "MZ"},
      {"RECYCLER/S-5-3-42/desktop.ini", "ini"}},
     {"autorun.inf > " + Q + "autorun.inf.quarantined", "PXQ.EXE > " + Q + "PXQ.EXE.quarantined",
      "RECYCLER/S-5-3-42/jwgkvsq.vmx > " + Q + "jwgkvsq.vmx.quarantined"}},
    {"brontok: a program named after a folder; another program stays",
     {{"Music/"}, {"Music.exe", "MZ"}, {"setup.exe", "MZ"}, {"music.txt", "t"}},
     {"Music.exe > " + Q + "Music.exe.quarantined"}},
    {"phorpiex: the files in folder _, a shortcut starts a program there",
     {{"_/holiday.jpg", "j"},
      {"_/DeviceManager.exe", "MZ"},
      {"USB Drive.lnk",
       shortcut("C:\\Windows\\System32\\cmd.exe", "/c start _ & _\\DeviceManager.exe & exit")}},
     {"USB Drive.lnk > " + Q + "USB Drive.lnk.quarantined",
      "_/DeviceManager.exe > " + Q + "DeviceManager.exe.quarantined"}},
    {"script-folder worm: shortcuts run a script of a hidden folder; wscript too",
     {{"WindowsServices/helper.vbs", "v"},
      {"WindowsServices/installer.vbs", "v"},
      {"Photos/"},
      {"Photos.lnk",
       shortcut("C:\\Windows\\System32\\cmd.exe", "/C .\\WindowsServices\\helper.vbs")},
      {"Music/"},
      {"Music.lnk", shortcut("C:\\Windows\\System32\\wscript.exe",
                             "\"WindowsServices\\installer.vbs\" //B", "E:\\")}},
     {"Photos.lnk > " + Q + "Photos.lnk.quarantined",
      "WindowsServices/helper.vbs > " + Q + "helper.vbs.quarantined",
      "Music.lnk > " + Q + "Music.lnk.quarantined",
      "WindowsServices/installer.vbs > " + Q + "installer.vbs.quarantined"}},
    {"memory-card worm: files renamed to scripts are payloads",
     {{"sys/a.vbss", "v"},
      {"sys/b.VBSS", "v"},
      {"sys/readme.txt", "t"},
      {"Photos/"},
      {"Photos.lnk",
       shortcut("C:\\Windows\\System32\\cmd.exe",
                "/c ren sys\\*.vbss *.vbs &start \\sys\\a.vbs&start explorer Photos&exit")}},
     {"Photos.lnk > " + Q + "Photos.lnk.quarantined", "sys/a.vbss > " + Q + "a.vbss.quarantined",
      "sys/b.VBSS > " + Q + "b.VBSS.quarantined"}},
    {"a shortcut to a program inside a Hangul-filler hiding folder, under another letter",
     {{FILLER + "/ .exe", "MZ"},
      {FILLER + "/Work/plan.txt", "p"},
      {"Work.lnk", shortcut("F:\\" + FILLER + "\\ .exe")}},
     {FILLER + "/ .exe >  .exe", FILLER + "/Work > Work",
      "Work.lnk > " + Q + "Work.lnk.quarantined", " .exe > " + Q + " .exe.quarantined"}},
    {"an ordinary stick: own shortcuts, scripts in folders, an autorun.inf folder",
     {{"Apps/tool.exe", "MZ"},
      {"Tool.lnk", shortcut("E:\\Apps\\tool.exe")},
      {"Report.lnk", shortcut("C:\\Users\\me\\report.docx")},
      {"Command Prompt.lnk", shortcut("C:\\Windows\\System32\\cmd.exe", " ")},
      {"web/app.js", "js"},
      {"web/build.bat", "bat"},
      {"autorun.inf/"},
      {"notes.txt", "n"},
      {"System Volume Information/IndexerVolumeGuid", "g"}},
     {"hide System Volume Information"}},
    {"the running batch, a taken quarantine name, a link and an unreadable shortcut",
     {{"temp/"},
      {"temp.bat", "@echo off"},
      {"UNVEILO-QUARANTINE/x.vbs.quarantined", "old"},
      {"x.vbs", "new"},
      {"y.vbs", "", true},
      {"broken.lnk", "L\0\0\0 not a shortcut"},
      {"Docs/"},
      {"Docs.lnk", "garbage"}},
     {"x.vbs > " + Q + "x.vbs.2.quarantined", "Docs.lnk > " + Q + "Docs.lnk.quarantined"}},
    {"a file holds the quarantine's name: leftovers are renamed in place",
     {{"UNVEILO-QUARANTINE", "a file"}, {"x.vbs", "v"}, {"Photos/"}, {"Photos.exe", "MZ"}},
     {"x.vbs > x.vbs.quarantined", "Photos.exe > Photos.exe.quarantined"}},
    {"the hiding folder keeps what the root already has, in any case",
     {{"photos/"}, {NBSP + "/Photos/a.jpg", "j"}, {NBSP + "/b.txt", "b"}},
     {NBSP + "/b.txt > b.txt"}},
};

TEST(plan_make, sticks) {
    for (const PlanCase& c : PLAN_CASES) {
        SCOPED_TRACE(c.name);
        MemoryStick stick;
        for (const Entry& entry : c.stick) stick.add(entry.path, entry.contents, entry.link);
        EXPECT_EQ(steps_of(plan_make(stick, "temp.bat")), c.steps);
    }
}

TEST(plan_make, says_why_an_entry_stays) {
    MemoryStick stick;
    stick.add("photos/");
    stick.add(NBSP + "/Photos/");
    stick.add("broken.lnk", "not a shortcut");
    const Plan plan = plan_make(stick, {});
    ASSERT_EQ(plan.notes.size(), 3u);
    EXPECT_NE(plan.notes[0].find("[U+00A0]"), std::string::npos) << plan.notes[0];
    EXPECT_EQ(plan.notes[1], "\"Photos\" stays in that folder: the root already holds an entry of "
                             "that name.");
    EXPECT_EQ(plan.notes[2], "\"broken.lnk\" cannot be read as a shortcut: it stays where it is.");
}

TEST(plan_quarantine_name, stays_within_a_name_and_a_character) {
    EXPECT_EQ(plan_quarantine_name("x.vbs", 1), "x.vbs.quarantined");
    EXPECT_EQ(plan_quarantine_name("x.vbs", 12), "x.vbs.12.quarantined");
    // 200 two-byte characters: cut to fit 255 bytes, never inside a character.
    std::string long_name;
    for (int i = 0; i < 200; ++i) long_name += "\u00e9";
    const std::string name = plan_quarantine_name(long_name + ".vbs", 3);
    EXPECT_LE(name.size(), VOLUME_NAME_MAX_BYTES);
    EXPECT_EQ(name.substr(name.size() - 14), ".3.quarantined");
    EXPECT_EQ(name_shown(name).find("[C3]"), std::string::npos) << "a character was cut";
}

TEST(name_is_blank, shows_as_nothing) {
    const struct {
        const char* name;
        bool blank;
    } cases[] = {
        {" ", true},      {"   ", true},          {"\u00a0", true},  {"\u3164", true},
        {"\u2800", true}, {"\u200b\u200b", true}, {"\uffa0", true},  {"\u2007 ", true},
        {"", false},      {"_", false},           {" a", false},     {"\u3164x", false},
        {".", false},     {"\xa0", false},        {"\u00e9", false}, {"\u202e", true},
    };
    for (const auto& c : cases) EXPECT_EQ(name_is_blank(c.name), c.blank) << name_shown(c.name);
}

TEST(name_shown, cannot_fool_the_reader) {
    EXPECT_EQ(name_shown("photo\u202egpj.exe"), "photo[U+202E]gpj.exe");
    EXPECT_EQ(name_shown("a\tb\x01"), "a[U+0009]b[U+0001]");
    EXPECT_EQ(name_shown("\xff\xfe"), "[FF][FE]");
    EXPECT_EQ(name_shown("Фото 照片"), "Фото 照片");
}

} // namespace
