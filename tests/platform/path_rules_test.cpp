// The cut of the executable's path into its directory, in both character widths the back ends
// use: the POSIX one cuts its UTF-8 path, the Windows one its UTF-16 path.
#include "runtime/platform/path_rules.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Case {
    const char* path;
    const char* directory;
};

const Case cases[] = {
    {"C:\\Users\\me\\Downloads\\unveilo\\unveilo.exe", "C:\\Users\\me\\Downloads\\unveilo"},
    {"/usr/lib/unveilo/unveilo", "/usr/lib/unveilo"},
    {"C:/mixed\\slashes/unveilo.exe", "C:/mixed\\slashes"},
    {"\\\\server\\share\\unveilo.exe", "\\\\server\\share"},
    {"E:unveilo.exe", "E:"},        // a drive-relative path keeps its drive
    {"C:\\unveilo.exe", "C:"},      // the root of a drive: the cut takes the backslash
    {"/unveilo", ""},               // the root of a POSIX tree likewise
    {"unveilo.exe", "unveilo.exe"}, // no separator at all: the path is left whole
    {"", ""},
};

TEST(platform_directory_length, CutsAtTheLastSeparatorInBothWidths) {
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        std::string narrow = c.path;
        EXPECT_EQ(narrow.substr(0, platform_directory_length(narrow.data(), narrow.size())),
                  c.directory);
        std::u16string wide(narrow.begin(), narrow.end());
        std::u16string expected(c.directory,
                                c.directory + std::char_traits<char>::length(c.directory));
        EXPECT_EQ(wide.substr(0, platform_directory_length(wide.data(), wide.size())), expected);
    }
}

TEST(platform_directory_length, NonAsciiNamesAreNotSeparators) {
    // "Загрузки" in UTF-16: none of its code units is a separator, whatever their low byte.
    std::u16string wide = u"C:\\Users\\\u0418\u0432\u0430\u043d\\\u0417\u0430\u0433\u0440"
                          u"\u0443\u0437\u043a\u0438\\unveilo.exe";
    size_t length = platform_directory_length(wide.data(), wide.size());
    EXPECT_EQ(
        wide.substr(0, length),
        u"C:\\Users\\\u0418\u0432\u0430\u043d\\\u0417\u0430\u0433\u0440\u0443\u0437\u043a\u0438");
    // The same folder in UTF-8: its bytes are all above 0x7F.
    std::string narrow = "/tmp/\xD0\x97\xD0\xB0\xD0\xB3\xD1\x80\xD1\x83\xD0\xB7\xD0\xBA\xD0\xB8/u";
    EXPECT_EQ(platform_directory_length(narrow.data(), narrow.size()), narrow.size() - 2);
}

} // namespace
