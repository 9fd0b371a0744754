// Serial ports end to end: names refused before any device is touched, and on systems with
// pseudo-terminals a round trip through the port's settings to the other end of the line.
#include "io/file_fixture.h"

#include "runtime/platform/platform.h"

namespace {

class Serial : public FileTest {
  protected:
    void TearDown() override {
        FileTest::TearDown();
        for (int port : {7, 8})
            platform_setenv(("UNVEILO_COM" + std::to_string(port)).c_str(), nullptr);
        if (controller_ != PLATFORM_FILE_NONE) platform_file_close(controller_);
    }
    // Points port 7 at a fresh pseudo-terminal; false where the system has none.
    bool attach_pty() {
        std::string device;
        if (!platform_pty_open(&controller_, &device)) return false;
        platform_setenv("UNVEILO_COM7", device.c_str());
        return true;
    }
    std::string controller_reads(int64_t count) {
        std::string bytes(size_t(count), '\0');
        int64_t done = 0;
        platform_file_read(controller_, -1, bytes.data(), count, &done);
        bytes.resize(size_t(done));
        return bytes;
    }
    PlatformFile controller_ = PLATFORM_FILE_NONE;
};

TEST_F(Serial, bad_options_and_ports_raise_64_without_opening) {
    const char* names[] = {"COM1:9600,X", "COM256:", "COM3:9600,N,8,1,ZZ", "com1:,,,,BIN,BIN"};
    for (const char* name : names) {
        EXPECT_EQ(open(name, FILE_MODE_RANDOM, 1), 64u) << name;
        EXPECT_EQ(file_record_index(1), -1) << name;
    }
}

TEST_F(Serial, leading_zero_makes_an_ordinary_file) {
    ASSERT_EQ(open(path("COM01:"), FILE_MODE_OUTPUT, 1), 0u);
    EXPECT_EQ(file_record(file_record_index(1))->com_port, 0);
}

TEST_F(Serial, round_trip_over_a_pseudo_terminal) {
    if (!attach_pty()) GTEST_SKIP() << "no pseudo-terminals on this system";
    ASSERT_EQ(open("COM7:9600,N,8,1,DS300,CS500", FILE_MODE_RANDOM, 1), 0u);
    const FileRecord* r = file_record(file_record_index(1));
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->com_port, 7);
    EXPECT_EQ(r->com.baud, 9600);
    EXPECT_EQ(r->com.parity, 0);
    EXPECT_EQ(r->com.data_bits, 8);
    EXPECT_EQ(r->com.ds_ms, 300);

    // Raw 8-bit line: every byte value arrives unchanged, no echo and no line translation.
    std::string out;
    for (int i = 0; i < 256; ++i) out += char(i);
    EXPECT_EQ(write(1, out), FILE_RESULT_OK);
    EXPECT_EQ(controller_reads(256), out);

    const char raw[] = "reply\r\n\x1A\x03\x00 end";
    std::string in(raw, sizeof raw - 1);
    in += '\xff';
    int64_t done = 0;
    ASSERT_EQ(platform_file_write(controller_, -1, in.data(), int64_t(in.size()), &done),
              FILE_RESULT_OK);
    int32_t result = 0;
    EXPECT_EQ(read(1, int64_t(in.size()), -1, &result), in);
    EXPECT_EQ(result, FILE_RESULT_OK);

    // Fewer bytes than asked: the read waits for DS milliseconds, then comes back short.
    ASSERT_EQ(platform_file_write(controller_, -1, "ab", 2, &done), FILE_RESULT_OK);
    EXPECT_EQ(read(1, 5, -1, &result), std::string("ab\0\0\0", 5));
    EXPECT_EQ(result, FILE_RESULT_SHORT_READ);
    EXPECT_EQ(file_eof(1), -1);
    // The port is not shared: a second open of the same line is refused.
    EXPECT_NE(open("COM7:9600,N,8,1", FILE_MODE_RANDOM, 2), 0u);
}

TEST_F(Serial, ds0_reads_return_at_once) {
    if (!attach_pty()) GTEST_SKIP() << "no pseudo-terminals on this system";
    ASSERT_EQ(open("COM7:115200,E,7,2,DS0", FILE_MODE_INPUT, 1), 0u);
    int32_t result = 0;
    int64_t start = platform_clock_ms();
    read(1, 4, -1, &result);
    EXPECT_EQ(result, FILE_RESULT_SHORT_READ);
    EXPECT_LT(platform_clock_ms() - start, 200);
    EXPECT_EQ(file_last_read_count(), 0);
}

TEST_F(Serial, a_device_that_is_no_line_is_unavailable) {
    if (!attach_pty()) GTEST_SKIP() << "no pseudo-terminals on this system";
    write_file(path("not-a-tty"), "x");
    platform_setenv("UNVEILO_COM8", path("not-a-tty").c_str());
    EXPECT_EQ(open("COM8:9600", FILE_MODE_RANDOM, 1), 68u);
    EXPECT_EQ(open("COM7:12345", FILE_MODE_RANDOM, 1), 68u); // a rate the line cannot run at
    EXPECT_EQ(file_record_index(1), -1);
}

} // namespace
