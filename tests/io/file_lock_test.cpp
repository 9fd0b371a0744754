// Two handles on one file: what one handle locks, the other can neither lock nor move bytes in,
// while the owner goes on using its range. Under Wine the locks exclude each other but do not
// stop transfers, so the transfer checks there expect the bytes to pass.
#include "io/file_fixture.h"

namespace {

class FileLock : public FileTest {
  protected:
    void SetUp() override {
        FileTest::SetUp();
        write_file(path("shared.dat"), std::string(64, '.'));
    }
    void open_both(int32_t mode, int64_t length = 0) {
        ASSERT_EQ(open(path("shared.dat"), mode, 1, 0, 0, length, length != 0), 0u);
        ASSERT_EQ(open(path("shared.dat"), FILE_MODE_BINARY, 2), 0u);
    }
    // What a transfer into a range locked by another handle gives on this platform.
    static int32_t denied() {
        return platform_file_locks_refuse_transfers() ? FILE_RESULT_PERMISSION_DENIED
                                                      : FILE_RESULT_OK;
    }
    // The result of handle 2 reading `count` bytes at byte offset `at`.
    static int32_t other_reads(int64_t at, int64_t count = 1) {
        int32_t result = 0;
        read(2, count, at, &result);
        return result;
    }
};

TEST_F(FileLock, binary_byte_range) {
    open_both(FILE_MODE_BINARY);
    file_lock(1, 11, 20, FILE_RANGE_FIRST_GIVEN | FILE_RANGE_LAST_GIVEN); // bytes 10..19
    ASSERT_EQ(take_error(), 0u);
    struct Probe {
        int64_t at;
        int32_t result;
    } const probes[] = {
        {9, FILE_RESULT_OK},
        {10, denied()},
        {19, denied()},
        {20, FILE_RESULT_OK},
    };
    for (const Probe& p : probes) EXPECT_EQ(other_reads(p.at), p.result) << "byte " << p.at;
    EXPECT_EQ(other_reads(5, 10), denied()); // overlaps the start
    EXPECT_EQ(write(2, "x", 15), denied());
    // The owner reads and writes its own range.
    EXPECT_EQ(write(1, "mine", 10), FILE_RESULT_OK);
    EXPECT_EQ(read(1, 4, 10), "mine");
    // The other handle cannot take an overlapping lock; a separate range is free.
    file_lock(2, 20, 0, FILE_RANGE_FIRST_GIVEN);
    EXPECT_EQ(take_error(), 70u);
    file_lock(2, 30, 0, FILE_RANGE_FIRST_GIVEN);
    EXPECT_EQ(take_error(), 0u);
    EXPECT_EQ(write(1, "y", 29), denied());
    file_unlock(1, 11, 20, FILE_RANGE_FIRST_GIVEN | FILE_RANGE_LAST_GIVEN);
    ASSERT_EQ(take_error(), 0u);
    EXPECT_EQ(other_reads(10), FILE_RESULT_OK);
    EXPECT_EQ(read(2, 4, 10), "mine");
}

TEST_F(FileLock, random_records_cover_their_bytes) {
    open_both(FILE_MODE_RANDOM, 10);
    file_lock(1, 2, 0, FILE_RANGE_FIRST_GIVEN); // record 2: bytes 10..19
    ASSERT_EQ(take_error(), 0u);
    EXPECT_EQ(other_reads(9), FILE_RESULT_OK);
    EXPECT_EQ(other_reads(10), denied());
    EXPECT_EQ(other_reads(19), denied());
    EXPECT_EQ(other_reads(20), FILE_RESULT_OK);
    file_unlock(1, 2, 0, FILE_RANGE_FIRST_GIVEN);
    file_lock(1, 3, 4, FILE_RANGE_FIRST_GIVEN | FILE_RANGE_LAST_GIVEN); // bytes 20..39
    ASSERT_EQ(take_error(), 0u);
    EXPECT_EQ(other_reads(19), FILE_RESULT_OK);
    EXPECT_EQ(other_reads(39), denied());
    EXPECT_EQ(other_reads(40), FILE_RESULT_OK);
}

TEST_F(FileLock, locks_do_not_nest_and_unlock_needs_the_same_range) {
    open_both(FILE_MODE_BINARY);
    file_lock(1, 1, 10, FILE_RANGE_FIRST_GIVEN | FILE_RANGE_LAST_GIVEN);
    ASSERT_EQ(take_error(), 0u);
    file_lock(1, 5, 0, FILE_RANGE_FIRST_GIVEN); // overlaps the handle's own lock
    EXPECT_EQ(take_error(), 70u);
    file_unlock(1, 1, 5, FILE_RANGE_FIRST_GIVEN | FILE_RANGE_LAST_GIVEN);
    EXPECT_EQ(take_error(), 70u);
    file_unlock(2, 1, 10, FILE_RANGE_FIRST_GIVEN | FILE_RANGE_LAST_GIVEN); // not its lock
    EXPECT_EQ(take_error(), 70u);
    EXPECT_EQ(other_reads(0), denied());
}

TEST_F(FileLock, bad_ranges_raise_5) {
    open_both(FILE_MODE_BINARY);
    const int64_t ranges[][2] = {{0, 3}, {-4, 2}, {5, 4}};
    for (const auto& r : ranges) {
        file_lock(1, r[0], r[1], FILE_RANGE_FIRST_GIVEN | FILE_RANGE_LAST_GIVEN);
        EXPECT_EQ(take_error(), 5u) << r[0] << " to " << r[1];
    }
    EXPECT_EQ(other_reads(0, 64), FILE_RESULT_OK);
}

TEST_F(FileLock, other_modes_and_no_range_lock_the_whole_file) {
    ASSERT_EQ(open(path("shared.dat"), FILE_MODE_INPUT, 1), 0u);
    ASSERT_EQ(open(path("shared.dat"), FILE_MODE_BINARY, 2), 0u);
    ASSERT_EQ(open(path("shared.dat"), FILE_MODE_BINARY, 3), 0u);
    file_lock(1, 5, 6, FILE_RANGE_FIRST_GIVEN | FILE_RANGE_LAST_GIVEN); // INPUT: whole file
    ASSERT_EQ(take_error(), 0u);
    EXPECT_EQ(other_reads(0), denied());
    EXPECT_EQ(other_reads(63), denied());
    file_close(1); // closing drops the handle's locks
    EXPECT_EQ(other_reads(63), FILE_RESULT_OK);
    file_lock(3, 0, 0, 0); // BINARY without a range: whole file
    ASSERT_EQ(take_error(), 0u);
    EXPECT_EQ(other_reads(40), denied());
    EXPECT_EQ(write(2, "z", 1000), denied());
}

// A write refused part-way (here by another handle's lock) reports the failure and keeps every
// byte already in the file.
TEST_F(FileLock, a_refused_write_keeps_what_was_written) {
    if (!platform_file_locks_refuse_transfers()) GTEST_SKIP() << "locks do not stop writes here";
    ASSERT_EQ(open(path("out.txt"), FILE_MODE_OUTPUT, 1), 0u);
    ASSERT_EQ(write(1, "hello"), FILE_RESULT_OK);
    ASSERT_EQ(open(path("out.txt"), FILE_MODE_BINARY, 2), 0u);
    file_lock(2, 8, 10, FILE_RANGE_FIRST_GIVEN | FILE_RANGE_LAST_GIVEN);
    ASSERT_EQ(take_error(), 0u);
    EXPECT_EQ(write(1, " world and more"), denied());
    EXPECT_EQ(file_position(1), 6);
    file_close(2);
    file_close(1);
    EXPECT_EQ(read_file(path("out.txt")), "hello");
}

} // namespace
