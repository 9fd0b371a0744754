#include "io/file_fixture.h"

namespace {

using FileBytes = FileTest;
using FileTable_ = FileTest;

TEST_F(FileBytes, write_then_read_back_at_positions) {
    ASSERT_EQ(open(path("b.bin"), FILE_MODE_BINARY, 1), 0u);
    EXPECT_EQ(write(1, "hello world"), FILE_RESULT_OK);
    EXPECT_EQ(file_position(1), 12);
    EXPECT_EQ(file_length(1), 11);
    EXPECT_EQ(read(1, 5, 6), "world");
    EXPECT_EQ(file_last_read_count(), 5);
    EXPECT_EQ(file_position(1), 12);
    EXPECT_EQ(write(1, "W", 6), FILE_RESULT_OK);
    EXPECT_EQ(read(1, 11, 0), "hello World");
    EXPECT_EQ(file_total_read_count(), 16);
    file_close(1);
    EXPECT_EQ(read_file(path("b.bin")), "hello World");
}

TEST_F(FileBytes, short_read_zero_fills_and_sets_the_end) {
    write_file(path("s.bin"), "abc");
    ASSERT_EQ(open(path("s.bin"), FILE_MODE_BINARY, 1), 0u);
    int32_t result = 0;
    std::string got = read(1, 6, 1, &result);
    EXPECT_EQ(result, FILE_RESULT_SHORT_READ);
    EXPECT_EQ(got, std::string("bc\0\0\0\0", 6));
    EXPECT_EQ(file_last_read_count(), 2);
    EXPECT_EQ(file_position(1), 4);
    EXPECT_EQ(file_eof(1), -1);
    read(1, 1, 0, &result); // a full read clears the end again
    EXPECT_EQ(result, FILE_RESULT_OK);
    EXPECT_EQ(file_eof(1), 0);
}

TEST_F(FileBytes, result_codes) {
    ASSERT_EQ(open(path("out.txt"), FILE_MODE_OUTPUT, 1), 0u);
    write_file(path("in.txt"), "in");
    ASSERT_EQ(open(path("in.txt"), FILE_MODE_INPUT, 2), 0u);
    int32_t out = file_record_index(1);
    int32_t in = file_record_index(2);
    char buffer[4] = {};
    struct Case {
        const char* what;
        int32_t result;
        int32_t expected;
    } const cases[] = {
        {"read from OUTPUT", file_read_bytes(out, -1, buffer, 1), FILE_RESULT_WRONG_DIRECTION},
        {"write to INPUT", file_write_bytes(in, -1, "x", 1), FILE_RESULT_WRONG_DIRECTION},
        {"negative position", file_write_bytes(out, -2, "x", 1), FILE_RESULT_NEGATIVE},
        {"negative count", file_read_bytes(in, 0, buffer, -1), FILE_RESULT_NEGATIVE},
        {"end beyond any file", file_read_bytes(in, INT64_MAX, buffer, 2), FILE_RESULT_NEGATIVE},
        {"record never opened", file_read_bytes(7, -1, buffer, 1), FILE_RESULT_NOT_OPEN},
        {"negative record", file_write_bytes(-1, -1, "x", 1), FILE_RESULT_NOT_OPEN},
        {"empty write", file_write_bytes(out, -1, "", 0), FILE_RESULT_OK},
        {"read to the end", file_read_bytes(in, -1, buffer, 2), FILE_RESULT_OK},
    };
    for (const Case& c : cases) EXPECT_EQ(c.result, c.expected) << c.what;
    file_close(2);
    EXPECT_EQ(file_read_bytes(in, -1, buffer, 1), FILE_RESULT_NOT_OPEN);
}

TEST_F(FileBytes, seek_and_position_by_record_or_byte) {
    ASSERT_EQ(open(path("r.dat"), FILE_MODE_RANDOM, 1, 0, 0, 100, 1), 0u);
    file_seek(1, 3);
    EXPECT_EQ(file_record(file_record_index(1))->position, 200);
    EXPECT_EQ(file_position(1), 3);
    EXPECT_EQ(write(1, std::string(100, 'r')), FILE_RESULT_OK);
    EXPECT_EQ(file_position(1), 4);
    EXPECT_EQ(file_length(1), 300);
    ASSERT_EQ(open(path("b.dat"), FILE_MODE_BINARY, 2), 0u);
    file_seek(2, 5);
    EXPECT_EQ(file_position(2), 5);
    EXPECT_EQ(write(2, "x"), FILE_RESULT_OK);
    EXPECT_EQ(read(2, 5, 0), std::string("\0\0\0\0x", 5));
    file_seek(2, 0);
    EXPECT_EQ(take_error(), 63u);
    file_seek(1, INT64_MAX);
    EXPECT_EQ(take_error(), 63u);
    EXPECT_EQ(file_position(2), 6);
}

TEST_F(FileBytes, queries_on_numbers_that_are_not_open_raise_52) {
    struct Case {
        const char* what;
        void (*call)();
    } const cases[] = {
        {"length", [] { file_length(4); }},      {"eof", [] { file_eof(4); }},
        {"seek", [] { file_seek(4, 1); }},       {"position", [] { file_position(4); }},
        {"lock", [] { file_lock(4, 0, 0, 0); }}, {"unlock", [] { file_unlock(4, 0, 0, 0); }},
        {"length of 0", [] { file_length(0); }},
    };
    for (const Case& c : cases) {
        c.call();
        EXPECT_EQ(take_error(), 52u) << c.what;
    }
    file_close(4); // closing what is not open does nothing
    EXPECT_EQ(take_error(), 0u);
}

TEST_F(FileBytes, a_pending_error_makes_queries_do_nothing) {
    ASSERT_EQ(open(path("p.dat"), FILE_MODE_BINARY, 1), 0u);
    ASSERT_EQ(write(1, "abc"), FILE_RESULT_OK);
    run_state.error_code = 9;
    EXPECT_EQ(file_length(1), 0);
    EXPECT_EQ(file_position(1), 0);
    EXPECT_EQ(free_file_number(), 0);
    file_close(1);
    EXPECT_EQ(take_error(), 9u);
    EXPECT_GE(file_record_index(1), 0);
}

TEST_F(FileTable_, free_file_number_is_the_lowest_gap) {
    EXPECT_EQ(free_file_number(), 1);
    ASSERT_EQ(open(path("1"), FILE_MODE_BINARY, 1), 0u);
    ASSERT_EQ(open(path("3"), FILE_MODE_BINARY, 3), 0u);
    EXPECT_EQ(free_file_number(), 2);
    ASSERT_EQ(open(path("2"), FILE_MODE_BINARY, 2), 0u);
    EXPECT_EQ(free_file_number(), 4);
}

TEST_F(FileTable_, closed_records_are_reused_serials_are_not) {
    ASSERT_EQ(open(path("a"), FILE_MODE_BINARY, 1), 0u);
    ASSERT_EQ(open(path("b"), FILE_MODE_BINARY, 2), 0u);
    int32_t index = file_record_index(1);
    uint64_t serial = file_record(index)->serial;
    file_close(1);
    EXPECT_EQ(file_record_index(1), -1);
    EXPECT_EQ(file_record(index), nullptr);
    ASSERT_EQ(open(path("c"), FILE_MODE_RANDOM, 9), 0u);
    EXPECT_EQ(file_record_index(9), index);
    EXPECT_GT(file_record(index)->serial, serial);
    EXPECT_EQ(file_record(index)->file_number, 9);
}

int network_closes = 0;
int network_closed_number = 0;

TEST_F(FileTable_, close_all_closes_network_then_files) {
    file_set_network_hooks([](int32_t n) { network_closed_number = n; }, [] { ++network_closes; });
    network_closes = 0;
    ASSERT_EQ(open(path("a"), FILE_MODE_OUTPUT, 1), 0u);
    ASSERT_EQ(open(path("b"), FILE_MODE_OUTPUT, 5), 0u);
    ASSERT_EQ(write(5, "kept"), FILE_RESULT_OK);
    file_close(-3);
    EXPECT_EQ(network_closed_number, -3);
    run_state.error_code = 5; // program end closes files even after an error
    file_close_all();
    take_error();
    file_set_network_hooks(nullptr, nullptr);
    EXPECT_EQ(network_closes, 1);
    EXPECT_EQ(file_record_index(1), -1);
    EXPECT_EQ(file_record_index(5), -1);
    EXPECT_EQ(free_file_number(), 1);
    EXPECT_EQ(read_file(path("b")), "kept");
    // Everything is closed: the files can be opened without sharing again.
    EXPECT_EQ(open(path("b"), FILE_MODE_INPUT, 1, 0, FILE_LOCK_READ_WRITE), 0u);
}

} // namespace
