#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "runtime/io/detail.h"

namespace {

// Which names are serial ports.
TEST(file_name_kind, com_names) {
    struct Case {
        const char* name;
        FileNameKind kind;
        int32_t port;
    } const cases[] = {
        {"COM1:", FileNameKind::serial, 1},
        {"com2:9600", FileNameKind::serial, 2},
        {"cOm255:", FileNameKind::serial, 255},
        {"COM256:", FileNameKind::bad_serial, 0},
        {"COM99999999999999999999:", FileNameKind::bad_serial, 0},
        {"COM01:", FileNameKind::file, 0},
        {"COM0:", FileNameKind::file, 0},
        {"COM:", FileNameKind::file, 0},
        {"COM1", FileNameKind::file, 0},
        {"COMA:", FileNameKind::file, 0},
        {"XCOM1:", FileNameKind::file, 0},
        {"COM1.txt", FileNameKind::file, 0},
        {"", FileNameKind::file, 0},
    };
    for (const Case& c : cases) {
        FileNameInfo info = file_name_kind(c.name, std::strlen(c.name));
        EXPECT_EQ(info.kind, c.kind) << c.name;
        EXPECT_EQ(info.port, c.port) << c.name;
    }
    EXPECT_EQ(file_name_kind("COM12:x", 7).options_at, 6u);
}

struct Expect {
    int32_t baud, parity, data, stop;
    int32_t cd, cs, ds, op;
    int asc, lf, rs, tb, rb;
};

struct OptionsCase {
    const char* text;
    Expect e;
};

// parity: 0 N, 1 E, 2 O, 3 S, 4 M, 5 PE
const OptionsCase GOOD[] = {
    // the positional fields and their defaults
    {"", {300, 1, 7, 10, 0, 1000, 1000, 10000, 0, 0, 0, 0, 0}},
    {"9600,N,8,1", {9600, 0, 8, 10, 0, 1000, 1000, 10000, 0, 0, 0, 0, 0}},
    {"1200", {1200, 1, 7, 10, 0, 1000, 1000, 10000, 0, 0, 0, 0, 0}},
    {",O", {300, 2, 7, 10, 0, 1000, 1000, 10000, 0, 0, 0, 0, 0}},
    {",,,2", {300, 1, 7, 20, 0, 1000, 1000, 10000, 0, 0, 0, 0, 0}},
    {",S,5,1.5", {300, 3, 5, 15, 0, 1000, 1000, 10000, 0, 0, 0, 0, 0}},
    {",M,6", {300, 4, 6, 10, 0, 1000, 1000, 10000, 0, 0, 0, 0, 0}},
    {",PE", {300, 5, 7, 10, 0, 1000, 1000, 10000, 0, 0, 0, 0, 0}},
    // stop bits by baud rate and data bits when not given
    {"110", {110, 1, 7, 20, 0, 1000, 1000, 10000, 0, 0, 0, 0, 0}},
    {"110,N,5", {110, 0, 5, 15, 0, 1000, 1000, 10000, 0, 0, 0, 0, 0}},
    {"111,N,5", {111, 0, 5, 10, 0, 1000, 1000, 10000, 0, 0, 0, 0, 0}},
    {"75,,8", {75, 1, 8, 20, 0, 1000, 1000, 10000, 0, 0, 0, 0, 0}},
    {"2147483647", {2147483647, 1, 7, 10, 0, 1000, 1000, 10000, 0, 0, 0, 0, 0}},
    // the options in any order
    {"9600,N,8,1,RS,LF,ASC", {9600, 0, 8, 10, 0, 1000, 1000, 10000, 1, 1, 1, 0, 0}},
    {"9600,N,8,1,BIN,TB,RB", {9600, 0, 8, 10, 0, 1000, 1000, 10000, 0, 0, 0, 1, 1}},
    {",,,,CD5,CS0,DS200", {300, 1, 7, 10, 5, 0, 200, 2000, 0, 0, 0, 0, 0}},
    {",,,,CD3000", {300, 1, 7, 10, 3000, 1000, 1000, 30000, 0, 0, 0, 0, 0}},
    {",,,,CD7000,DS0", {300, 1, 7, 10, 7000, 1000, 0, 65535, 0, 0, 0, 0, 0}},
    {",,,,OP12,DS65535", {300, 1, 7, 10, 0, 1000, 65535, 12, 0, 0, 0, 0, 0}},
    {",,,,DS0,CS0,CD0,OP0", {300, 1, 7, 10, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
    {"4800,E,7,1,,LF,", {4800, 1, 7, 10, 0, 1000, 1000, 10000, 0, 1, 0, 0, 0}},
    {"19200,N,8,1,DS0010", {19200, 0, 8, 10, 0, 1000, 10, 100, 0, 0, 0, 0, 0}},
};

TEST(serial_options_parse, every_field) {
    for (const OptionsCase& c : GOOD) {
        ComSettings s;
        s.baud = -5; // the parser must fill everything in
        ASSERT_TRUE(serial_options_parse(c.text, std::strlen(c.text), &s)) << c.text;
        const Expect& e = c.e;
        EXPECT_EQ(s.baud, e.baud) << c.text;
        EXPECT_EQ(s.parity, e.parity) << c.text;
        EXPECT_EQ(s.data_bits, e.data) << c.text;
        EXPECT_EQ(s.stop_bits, e.stop) << c.text;
        EXPECT_EQ(s.cd_ms, e.cd) << c.text;
        EXPECT_EQ(s.cs_ms, e.cs) << c.text;
        EXPECT_EQ(s.ds_ms, e.ds) << c.text;
        EXPECT_EQ(s.op_ms, e.op) << c.text;
        EXPECT_EQ(s.ascii_mode, e.asc) << c.text;
        EXPECT_EQ(s.line_feed, e.lf) << c.text;
        EXPECT_EQ(s.suppress_rts, e.rs) << c.text;
        EXPECT_EQ(s.transmit_buffer, e.tb) << c.text;
        EXPECT_EQ(s.receive_buffer, e.rb) << c.text;
    }
}

TEST(serial_options_parse, refuses_what_the_options_do_not_allow) {
    const char* bad[] = {
        "X",
        "9600,X",
        "0",
        "2147483648",
        "96OO",
        "-9600",
        "+9600",
        "9600,n",
        "9600,e",
        "9600,P",
        "9600,NE",
        "9600,N,4",
        "9600,N,9",
        "9600,N,88",
        "9600,N,8,3",
        "9600,N,8,0",
        "9600,N,8,1.0",
        "9600,N,8,1.5 ",
        "9600,N,8,1,rs",
        "9600,N,8,1,RS,RS",
        ",,,,CD",
        ",,,,CD65536",
        ",,,,CDx",
        ",,,,CD1,CD2",
        ",,,,CS-1",
        ",,,,XX",
        ",,,,DS 5",
        ",,,,OP99999999999",
        ",,,,LFF",
        " 9600",
        "9600,N,8,1,TB1",
    };
    for (const char* text : bad) {
        ComSettings s;
        s.baud = 1234;
        EXPECT_FALSE(serial_options_parse(text, std::strlen(text), &s)) << text;
        EXPECT_EQ(s.baud, 1234) << "settings changed by a refused text: " << text;
    }
}

// BIN and ASC may stand together in either order, each once; only ASC makes the port text.
TEST(serial_options_parse, binary_unless_asc) {
    struct Case {
        const char* text;
        bool accepted;
        int ascii_mode;
    } const cases[] = {
        {",,,,BIN,ASC", true, 1},       {",,,,ASC,BIN", true, 1},
        {",,,,BIN", true, 0},           {",,,,ASC", true, 1},
        {",,,,LF,BIN,RS,ASC", true, 1}, {",,,,BIN,ASC,BIN", false, 0},
        {",,,,ASC,BIN,ASC", false, 0},
    };
    for (const Case& c : cases) {
        ComSettings s;
        s.ascii_mode = 7;
        EXPECT_EQ(serial_options_parse(c.text, std::strlen(c.text), &s), c.accepted) << c.text;
        if (c.accepted) {
            EXPECT_EQ(s.ascii_mode, c.ascii_mode) << c.text;
        }
    }
}

TEST(serial_options_parse, reads_only_the_given_length) {
    const char text[] = "9600,N,8,1,X";
    ComSettings s;
    ASSERT_TRUE(serial_options_parse(text, 10, &s));
    EXPECT_EQ(s.baud, 9600);
    EXPECT_EQ(s.stop_bits, 10);
}

} // namespace
