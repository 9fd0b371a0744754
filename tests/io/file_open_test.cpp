#include "io/file_fixture.h"

namespace {

using FileOpen = FileTest;

struct OpenErrorCase {
    const char* what;
    int32_t mode;
    int32_t number;
    int32_t access;
    int32_t lock;
    int64_t length;
    int32_t has_length;
    uint32_t error;
};

TEST_F(FileOpen, argument_errors) {
    const OpenErrorCase cases[] = {
        {"number 0", FILE_MODE_BINARY, 0, 0, 0, 0, 0, 52},
        {"negative number", FILE_MODE_BINARY, -3, 0, 0, 0, 0, 52},
        {"number past the table's limit", FILE_MODE_BINARY, FILE_NUMBER_LIMIT + 1, 0, 0, 0, 0, 52},
        {"record length 0", FILE_MODE_RANDOM, 1, 0, 0, 0, 1, 5},
        {"record length -2", FILE_MODE_RANDOM, 1, 0, 0, -2, 1, 5},
        {"mode 6", 6, 1, 0, 0, 0, 0, 5},
        {"access 4", FILE_MODE_BINARY, 1, 4, 0, 0, 0, 5},
        {"lock 5", FILE_MODE_BINARY, 1, 0, 5, 0, 0, 5},
        {"record length beyond one buffer", FILE_MODE_RANDOM, 1, 0, 0, int64_t(1) << 40, 1, 7},
    };
    for (const OpenErrorCase& c : cases) {
        EXPECT_EQ(open(path("a.dat"), c.mode, c.number, c.access, c.lock, c.length, c.has_length),
                  c.error)
            << c.what;
        EXPECT_EQ(file_record_index(1), -1) << c.what;
    }
    EXPECT_FALSE(std::filesystem::exists(path("a.dat")));
}

TEST_F(FileOpen, record_length_minus_one_is_the_default) {
    ASSERT_EQ(open(path("r.dat"), FILE_MODE_RANDOM, 1, 0, 0, -1, 1), 0u);
    EXPECT_EQ(file_record(file_record_index(1))->record_length, 128);
}

TEST_F(FileOpen, mode_0_is_random_with_128_byte_zeroed_records) {
    ASSERT_EQ(open(path("r.dat"), 0, 1), 0u);
    const FileRecord* r = file_record(file_record_index(1));
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->mode, FILE_MODE_RANDOM);
    EXPECT_EQ(r->record_length, 128);
    for (int i = 0; i < 128; ++i) ASSERT_EQ(r->record_buffer[i], 0);
    EXPECT_TRUE(r->can_read && r->can_write);
    EXPECT_EQ(r->file_number, 1);
}

TEST_F(FileOpen, same_number_twice_raises_55_and_keeps_the_first) {
    ASSERT_EQ(open(path("a.dat"), FILE_MODE_BINARY, 2), 0u);
    int32_t first = file_record_index(2);
    EXPECT_EQ(open(path("b.dat"), FILE_MODE_BINARY, 2), 55u);
    EXPECT_EQ(file_record_index(2), first);
    EXPECT_FALSE(std::filesystem::exists(path("b.dat")));
}

TEST_F(FileOpen, input_needs_the_file_and_its_folder) {
    EXPECT_EQ(open(path("missing.txt"), FILE_MODE_INPUT, 1), 53u);
    EXPECT_EQ(open(path("no-folder/x.txt"), FILE_MODE_INPUT, 1), 76u);
    EXPECT_EQ(open(path("no-folder/x.txt"), FILE_MODE_OUTPUT, 1), 76u);
    EXPECT_EQ(file_record_index(1), -1);
    EXPECT_FALSE(std::filesystem::exists(path("missing.txt")));
}

TEST_F(FileOpen, a_folder_is_not_a_file) {
    std::filesystem::create_directory(path("sub"));
    EXPECT_EQ(open(path("sub"), FILE_MODE_INPUT, 1), 70u);
    EXPECT_EQ(open(path("sub"), FILE_MODE_BINARY, 1), 70u);
}

TEST_F(FileOpen, output_creates_empty_and_empties_existing) {
    ASSERT_EQ(open(path("new.txt"), FILE_MODE_OUTPUT, 1), 0u);
    EXPECT_TRUE(std::filesystem::exists(path("new.txt")));
    EXPECT_EQ(file_length(1), 0);
    write_file(path("old.txt"), "old contents");
    ASSERT_EQ(open(path("old.txt"), FILE_MODE_OUTPUT, 2), 0u);
    EXPECT_EQ(file_length(2), 0);
    const FileRecord* r = file_record(file_record_index(2));
    EXPECT_TRUE(r->can_write);
    EXPECT_FALSE(r->can_read);
    EXPECT_EQ(write(2, "new"), FILE_RESULT_OK);
    file_close(2);
    EXPECT_EQ(read_file(path("old.txt")), "new");
}

TEST_F(FileOpen, append_is_output_at_the_end) {
    write_file(path("log.txt"), "abc");
    ASSERT_EQ(open(path("log.txt"), FILE_MODE_APPEND, 1), 0u);
    EXPECT_EQ(file_record(file_record_index(1))->mode, FILE_MODE_OUTPUT);
    EXPECT_EQ(file_position(1), 4);
    EXPECT_EQ(write(1, "def"), FILE_RESULT_OK);
    file_close(1);
    EXPECT_EQ(read_file(path("log.txt")), "abcdef");
    ASSERT_EQ(open(path("fresh.txt"), FILE_MODE_APPEND, 1), 0u);
    EXPECT_EQ(file_position(1), 1);
}

TEST_F(FileOpen, input_starting_with_the_end_mark_is_at_end_at_once) {
    write_file(path("marked.txt"), std::string("\x1A"
                                               "hidden text"));
    write_file(path("plain.txt"), "text");
    write_file(path("empty.txt"), "");
    ASSERT_EQ(open(path("marked.txt"), FILE_MODE_INPUT, 1), 0u);
    ASSERT_EQ(open(path("plain.txt"), FILE_MODE_INPUT, 2), 0u);
    ASSERT_EQ(open(path("empty.txt"), FILE_MODE_INPUT, 3), 0u);
    EXPECT_EQ(file_eof(1), -1);
    EXPECT_EQ(file_position(1), 1); // the first byte was read and the position put back
    EXPECT_EQ(file_eof(2), 0);
    EXPECT_EQ(file_eof(3), -1);
    EXPECT_EQ(read(2, 4), "text");
    EXPECT_EQ(file_eof(2), -1);
}

TEST_F(FileOpen, explicit_access_replaces_the_default) {
    write_file(path("f.bin"), "12345");
    ASSERT_EQ(open(path("f.bin"), FILE_MODE_BINARY, 1, FILE_ACCESS_READ), 0u);
    ASSERT_EQ(open(path("f.bin"), FILE_MODE_BINARY, 2, FILE_ACCESS_WRITE), 0u);
    ASSERT_EQ(open(path("f.bin"), FILE_MODE_INPUT, 3, FILE_ACCESS_READ_WRITE), 0u);
    const FileRecord* r1 = file_record(file_record_index(1));
    const FileRecord* r2 = file_record(file_record_index(2));
    const FileRecord* r3 = file_record(file_record_index(3));
    EXPECT_TRUE(r1->can_read && !r1->can_write);
    EXPECT_TRUE(!r2->can_read && r2->can_write);
    EXPECT_TRUE(r3->can_read && r3->can_write);
    EXPECT_EQ(write(1, "x"), FILE_RESULT_WRONG_DIRECTION);
    int32_t result = 0;
    read(2, 1, -1, &result);
    EXPECT_EQ(result, FILE_RESULT_WRONG_DIRECTION);
}

// INPUT reads the first byte at open; a handle that may not read fails there and frees its number.
TEST_F(FileOpen, input_without_read_access_fails_at_the_first_byte) {
    write_file(path("w.txt"), "text");
    EXPECT_EQ(open(path("w.txt"), FILE_MODE_INPUT, 1, FILE_ACCESS_WRITE), 70u);
    EXPECT_EQ(file_record_index(1), -1);
    EXPECT_EQ(free_file_number(), 1);
    EXPECT_EQ(read_file(path("w.txt")), "text");
}

// The lock a file is opened with decides who else may open it: the second open is refused with
// 70 when either side's lock forbids the other's access.
TEST_F(FileOpen, lock_modes_decide_who_else_may_open) {
    struct Case {
        int32_t first_lock;
        int32_t first_access;
        int32_t second_access;
        bool allowed;
    } const cases[] = {
        {FILE_LOCK_SHARED, FILE_ACCESS_READ_WRITE, FILE_ACCESS_READ_WRITE, true},
        {FILE_LOCK_DEFAULT, FILE_ACCESS_READ_WRITE, FILE_ACCESS_READ_WRITE, true},
        {FILE_LOCK_READ_WRITE, FILE_ACCESS_READ, FILE_ACCESS_READ, false},
        {FILE_LOCK_READ_WRITE, FILE_ACCESS_READ, FILE_ACCESS_WRITE, false},
        {FILE_LOCK_READ, FILE_ACCESS_READ, FILE_ACCESS_READ, false},
        {FILE_LOCK_READ, FILE_ACCESS_READ, FILE_ACCESS_WRITE, true},
        {FILE_LOCK_WRITE, FILE_ACCESS_READ, FILE_ACCESS_WRITE, false},
        {FILE_LOCK_WRITE, FILE_ACCESS_READ, FILE_ACCESS_READ, true},
    };
    write_file(path("s.dat"), "shared");
    for (const Case& c : cases) {
        ASSERT_EQ(open(path("s.dat"), FILE_MODE_BINARY, 1, c.first_access, c.first_lock), 0u);
        EXPECT_EQ(open(path("s.dat"), FILE_MODE_BINARY, 2, c.second_access), c.allowed ? 0u : 70u)
            << "lock " << c.first_lock << " access " << c.second_access;
        file_close(2);
        file_close(1);
    }
    EXPECT_EQ(read_file(path("s.dat")), "shared");
}

TEST_F(FileOpen, random_falls_back_to_reading_when_writing_is_refused) {
    write_file(path("ro.dat"), "data");
    ASSERT_EQ(open(path("ro.dat"), FILE_MODE_BINARY, 1, FILE_ACCESS_READ, FILE_LOCK_WRITE), 0u);
    ASSERT_EQ(open(path("ro.dat"), FILE_MODE_RANDOM, 2), 0u);
    const FileRecord* r = file_record(file_record_index(2));
    EXPECT_TRUE(r->can_read);
    EXPECT_FALSE(r->can_write);
    // With an explicit access there is no fallback.
    EXPECT_EQ(open(path("ro.dat"), FILE_MODE_RANDOM, 3, FILE_ACCESS_READ_WRITE), 70u);
}

TEST_F(FileOpen, output_refused_by_a_lock_leaves_the_file_whole) {
    write_file(path("keep.txt"), "keep me");
    ASSERT_EQ(open(path("keep.txt"), FILE_MODE_INPUT, 1, 0, FILE_LOCK_WRITE), 0u);
    EXPECT_EQ(open(path("keep.txt"), FILE_MODE_OUTPUT, 2), 70u);
    file_close(1);
    EXPECT_EQ(read_file(path("keep.txt")), "keep me");
}

TEST_F(FileOpen, slashes_reach_the_platform_as_folder_separators) {
    std::filesystem::create_directory(path("sub"));
    std::string name = (dir_ / "sub").string() + "/f.txt";
    ASSERT_EQ(open(name, FILE_MODE_OUTPUT, 1), 0u);
    file_close(1);
    EXPECT_TRUE(std::filesystem::exists(dir_ / "sub" / "f.txt"));
}

TEST_F(FileOpen, a_pending_error_stops_the_open) {
    run_state.error_code = 6;
    BasicString* s = str_new(1, true);
    s->chars[0] = 'x';
    file_open(s, FILE_MODE_OUTPUT, 0, 0, 1, 0, 0);
    EXPECT_EQ(take_error(), 6u);
    EXPECT_EQ(file_record_index(1), -1);
}

} // namespace
