#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include "runtime/base/run_state.h"
#include "runtime/display/display.h"
#include "runtime/input/detail.h"
#include "runtime/input/keys.h"
#include "runtime/input/line_input.h"
#include "runtime/memory/conv.h"
#include "runtime/strings/detail.h"
#include "screen/screen_fixture.h"
#include "support/watchdog.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t STRING = INPUT_TYPE_STRING;
constexpr uint32_t I8 = 8, I16 = 16, I32 = 32, I64 = 64;
constexpr uint32_t U8 = INPUT_TYPE_UNSIGNED | 8, U16 = INPUT_TYPE_UNSIGNED | 16;
constexpr uint32_t U32 = INPUT_TYPE_UNSIGNED | 32, U64 = INPUT_TYPE_UNSIGNED | 64;
constexpr uint32_t SINGLE = INPUT_TYPE_FLOAT | 32, DOUBLE = INPUT_TYPE_FLOAT | 64;
constexpr uint32_t EXTENDED = INPUT_TYPE_FLOAT | INPUT_TYPE_EXTENDED_BITS;

bool buffer_empty() {
    return conv_load8(BIOS_KEYBOARD_HEAD) == conv_load8(BIOS_KEYBOARD_TAIL);
}

// Ends a statement that is still waiting when the watchdog fires with a stop request, so that a
// statement that fails to finish makes the test fail instead of hanging it.
void stop_the_statement() {
    run_state.stop_requested.store(1);
    keys_wake_waiters();
}

class LineInputTest : public ScreenTest {
  protected:
    void SetUp() override {
        ScreenTest::SetUp();
        keys_reset();
        input_reset();
        wait_set_literal_spin(false);
        display_auto.store(1);
    }
    void TearDown() override {
        EXPECT_STREQ(str_check_invariants(), "");
        ScreenTest::TearDown();
    }

    // Puts keys into the BIOS buffer as the window thread would (at most 15 fit).
    static void type(const std::string& keys) {
        for (char c : keys) type_key(KeyCode(uint8_t(c)));
    }
    static void type_key(KeyCode code) {
        key_down(code);
        key_up(code);
    }

    // Runs the statement over the keys typed so far; the keys must end in Enter.
    static void run(int32_t count, int32_t end_line = 1) {
        Watchdog watchdog(5000, stop_the_statement);
        input_values(count, end_line);
        EXPECT_FALSE(watchdog.finish()) << "the statement did not finish";
    }

    // The statement with one string variable after the tool's prompt; returns the variable.
    std::string prompt_and_read(const std::string& keys) {
        print("Enter USB Drive letter : ");
        BasicString* drive = str_new(0, false);
        input_set_variable(1, STRING, drive);
        type(keys);
        run(1);
        return as_text(drive);
    }

    static std::string as_text(const BasicString* s) {
        return std::string(reinterpret_cast<const char*>(s->chars), size_t(s->length));
    }
    // Row 1 after the prompt, without trailing blanks.
    static std::string typed_row(int32_t row = 1, int32_t first = 26) {
        std::string text = row_text(row, first);
        return text.substr(0, text.find_last_not_of(' ') + 1);
    }
};

using input_values_ = LineInputTest;

TEST_F(input_values_, LetterAndEnterStoreTheLetterAndEndTheLine) {
    EXPECT_EQ(prompt_and_read("E\r"), "E");
    EXPECT_EQ(row_text(1, 1, 26), "Enter USB Drive letter : E");
    EXPECT_EQ(writing().cursor_x, 1);
    EXPECT_EQ(writing().cursor_y, 2);
    EXPECT_TRUE(buffer_empty());
}

TEST_F(input_values_, WithoutEndLineTheCursorStaysAfterTheText) {
    print("? ");
    BasicString* s = str_new(0, false);
    input_set_variable(1, STRING, s);
    type("ab\r");
    run(1, 0);
    EXPECT_EQ(writing().cursor_x, 5);
    EXPECT_EQ(writing().cursor_y, 1);
}

// What the user types into the tool's one string variable, and what the screen and the
// variable then hold.
struct TypedCase {
    const char* keys;
    const char* stored;
    const char* shown;
};

class input_values_string : public LineInputTest,
                            public ::testing::WithParamInterface<TypedCase> {};

TEST_P(input_values_string, StoresWhatTheScreenShows) {
    const TypedCase& c = GetParam();
    EXPECT_EQ(prompt_and_read(c.keys), c.stored);
    EXPECT_EQ(typed_row(), c.shown);
    EXPECT_EQ(writing().cursor_y, 2);
}

INSTANTIATE_TEST_SUITE_P(
    Edges, input_values_string,
    ::testing::Values(TypedCase{"E,F\r", "EF", "EF"},           // the comma is taken back
                      TypedCase{"\"E\r", "E", "\"E"},           // a leading quote is not stored
                      TypedCase{"\"E\"X,\r", "E", "\"E\""},     // nothing after the closing quote
                      TypedCase{"\"E,F\"\r", "E,F", "\"E,F\""}, // a comma inside quotes
                      TypedCase{"E\"F\r", "E\"F", "E\"F"},      // a quote inside a field
                      TypedCase{" E \r", " E ", " E"},          // spaces are kept
                      TypedCase{"\r", "", ""},                  // Enter at once
                      TypedCase{"\b\bE\r", "E", "E"},           // Backspace on an empty line
                      TypedCase{"AB\b\r", "A", "A"},            // Backspace after AB
                      TypedCase{"AB\tC\r", "AB      C", "AB      C"}, // Tab to column 8
                      TypedCase{"ABCDEFGH\tI\r", "ABCDEFGH        I", "ABCDEFGH        I"},
                      TypedCase{"A\x1b\r", "A\x1b", "A\x1b"}));

TEST_F(input_values_, ArrowAndFunctionKeysChangeNothing) {
    print("Enter USB Drive letter : ");
    BasicString* drive = str_new(0, false);
    input_set_variable(1, STRING, drive);
    type("A");
    for (KeyCode key : {KEY_UP, KEY_LEFT, KEY_HOME, KEY_END, KEY_DELETE, KEY_F1, KEY_F10})
        type_key(key);
    type("\r");
    run(1);
    EXPECT_EQ(as_text(drive), "A");
    EXPECT_EQ(typed_row(), "A");
}

TEST_F(input_values_, ControlCharacters10To12And28To31AreIgnored) {
    BasicString* s = str_new(0, false);
    input_set_variable(1, STRING, s);
    type("A");
    key_down(KEY_LEFT_CTRL);
    for (char key : {'j', 'k', 'l', '\\', ']', '6', '-'}) type_key(KeyCode(key));
    type_key('c'); // Ctrl+C is character 3, which is typed like any other
    key_up(KEY_LEFT_CTRL);
    type("B\r");
    run(1);
    EXPECT_EQ(as_text(s), "A\x03"
                          "B");
}

TEST_F(input_values_, BellIsNotAddedToTheLine) {
    BasicString* s = str_new(0, false);
    input_set_variable(1, STRING, s);
    type("A");
    key_down(KEY_LEFT_CTRL);
    type_key('g'); // Ctrl+G is character 7
    key_up(KEY_LEFT_CTRL);
    type("B\r");
    run(1);
    EXPECT_EQ(as_text(s), "AB");
    EXPECT_EQ(row_text(1, 1, 3), "AB ");
}

// Feeds keys from another thread whenever the buffer has drained, for lines longer than the
// BIOS buffer holds.
void feed(const std::string& keys) {
    for (size_t i = 0; i < keys.size(); ++i) {
        Clock::time_point start = Clock::now();
        while (!buffer_empty() && Clock::now() - start < std::chrono::seconds(5))
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        key_down(KeyCode(uint8_t(keys[i])));
        key_up(KeyCode(uint8_t(keys[i])));
    }
}

TEST_F(input_values_, The256thCharacterIsIgnored) {
    BasicString* s = str_new(0, false);
    input_set_variable(1, STRING, s);
    std::string keys = std::string(255, 'a') + "bcd\r";
    std::thread feeder(feed, keys);
    Watchdog watchdog(20000, stop_the_statement);
    input_values(1, 1);
    EXPECT_FALSE(watchdog.finish());
    feeder.join();
    EXPECT_EQ(as_text(s), std::string(255, 'a'));
    EXPECT_EQ(row_text(4, 1, 16), std::string(15, 'a') + " ");
    EXPECT_EQ(writing().cursor_y, 5);
}

TEST_F(input_values_, WholeLineModeTakesCommasAndQuotes) {
    BasicString* s = str_new(0, false);
    input_set_variable(1, STRING | INPUT_TYPE_WHOLE_LINE, s);
    type("\"a\",b,\"c\r");
    run(1);
    EXPECT_EQ(as_text(s), "\"a\",b,\"c");
}

TEST_F(input_values_, FixedLengthStringIsPaddedAndLimited) {
    uint8_t storage[3] = {'x', 'y', 'z'};
    BasicString* s = str_new_fixed(storage, 3, false);
    input_set_variable(1, STRING, s);
    type("A\r");
    run(1);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(storage), 3), "A  ");
    type("ABCD\r");
    run(1);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(storage), 3), "ABC");
    EXPECT_EQ(row_text(1, 1, 4), "A   ");
    EXPECT_EQ(row_text(2, 1, 4), "ABC ");
}

TEST_F(input_values_, SeveralVariablesTakeOneFieldEach) {
    int16_t a = 99, b = 99;
    BasicString* s = str_new(0, false);
    input_set_variable(1, I16, &a);
    input_set_variable(2, STRING, s);
    input_set_variable(3, I16, &b);
    type("-12,\"x,y\",7,8\r");
    run(3);
    EXPECT_EQ(a, -12);
    EXPECT_EQ(as_text(s), "x,y");
    EXPECT_EQ(b, 78); // the comma that would open a fourth field was taken back
    EXPECT_EQ(row_text(1, 1, 13), "-12,\"x,y\",78 ");
}

// Keys typed into a signed 16-bit variable, the value stored and the line left on the screen.
struct IntegerCase {
    const char* keys;
    int16_t stored;
    const char* shown;
};

class input_values_integer : public LineInputTest,
                             public ::testing::WithParamInterface<IntegerCase> {};

TEST_P(input_values_integer, RefusedCharactersAreTakenBack) {
    const IntegerCase& c = GetParam();
    int16_t value = 1234;
    input_set_variable(1, I16, &value);
    type(c.keys);
    run(1);
    EXPECT_EQ(value, c.stored);
    EXPECT_EQ(typed_row(1, 1), c.shown);
}

INSTANTIATE_TEST_SUITE_P(
    Signed16, input_values_integer,
    ::testing::Values(IntegerCase{"32767\r", 32767, "32767"}, IntegerCase{"32768\r", 3276, "3276"},
                      IntegerCase{"-32768\r", -32768, "-32768"},
                      IntegerCase{"-32769\r", -3276, "-3276"}, IntegerCase{"01\r", 0, "0"},
                      IntegerCase{"&H7FFF\r", 32767, "&H7FFF"},
                      IntegerCase{"&HFFFF\r", -1, "&HFFFF"},
                      IntegerCase{"&H10000\r", 4096, "&H1000"}, IntegerCase{"1 2\r", 12, "12"},
                      IntegerCase{"\r", 0, ""}, IntegerCase{"-\r", 0, "-"},
                      IntegerCase{"12\b\r", 1, "1"}));

TEST_F(input_values_, SingleRefusesDButDoubleTakesItAsE) {
    float single = 7;
    type("1D5\r");
    input_set_variable(1, SINGLE, &single);
    run(1);
    EXPECT_EQ(single, 15.0f);
    EXPECT_EQ(typed_row(1, 1), "15");

    double twin = 7;
    type("1D5\r");
    input_set_variable(1, DOUBLE, &twin);
    run(1);
    EXPECT_EQ(twin, 1e5);
    EXPECT_EQ(typed_row(2, 1), "1D5");
}

TEST_F(input_values_, TakeBackAfterAScrollRestoresTheScreenAndTheWrap) {
    // The text view is rows 1 to 24; a line that wraps past row 24 scrolls it.
    for (int32_t row = 1; row <= 24; ++row) {
        cursor_to(row, 1);
        print("row" + std::to_string(row));
    }
    cursor_to(24, 76);
    print("? ");
    BasicString* s = str_new(0, false);
    input_set_variable(1, STRING, s);
    // X, Y and Z fill columns 78 to 80; the comma wraps and scrolls the view and is taken back;
    // W must then start the new row rather than overwrite Z.
    type("XYZ,W\r");
    run(1, 0);
    EXPECT_EQ(as_text(s), "XYZW");
    EXPECT_EQ(row_text(23, 1, 5), "row24");
    EXPECT_EQ(row_text(23, 76, 80), "? XYZ");
    EXPECT_EQ(row_text(24, 1, 2), "W ");
    EXPECT_EQ(row_text(1, 1, 4), "row2");

    // Backspace over a character that scrolled: the screen comes back from the snapshot, with
    // the cursor and its pending wrap where the remaining line left them.
    cursor_to(24, 78);
    BasicString* t = str_new(0, false);
    input_set_variable(1, STRING, t);
    type("ABCD\b\r");
    run(1, 0);
    EXPECT_EQ(as_text(t), "ABC");
    EXPECT_EQ(row_text(24, 1, 2), "W ");
    EXPECT_EQ(row_text(24, 78, 80), "ABC");
    EXPECT_EQ(row_text(1, 1, 4), "row2");
    EXPECT_EQ(writing().cursor_x, 80);
    EXPECT_EQ(writing().cursor_y, 24);
    EXPECT_EQ(writing().pending_wrap, 1);
}

TEST_F(input_values_, EndStepsRestoreTheScreenState) {
    int16_t value = 0;
    input_set_variable(1, I16, &value);
    writing().cursor_visible = 0;
    int32_t source_before = get_read_page();
    int32_t images_before = screen_state.slots_issued - int32_t(screen_state.free_slots.size());
    display_auto.store(0);
    type("5\r");
    run(1);
    EXPECT_EQ(value, 5);
    EXPECT_EQ(writing().cursor_visible, 0);
    EXPECT_EQ(get_read_page(), source_before);
    EXPECT_EQ(screen_state.slots_issued - int32_t(screen_state.free_slots.size()), images_before);
    EXPECT_EQ(display_auto.load(), 0); // no display thread here to answer the last frame
}

TEST_F(input_values_, StopRequestEndsTheWait) {
    BasicString* s = str_new(0, false);
    input_set_variable(1, STRING, s);
    type("Q");
    std::thread stopper([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        run_state.stop_requested.store(1);
        keys_wake_waiters();
    });
    Watchdog watchdog(5000, stop_the_statement);
    input_values(1, 1);
    EXPECT_FALSE(watchdog.finish());
    stopper.join();
    EXPECT_EQ(as_text(s), "Q");       // stored while typing
    EXPECT_EQ(writing().cursor_y, 1); // no end steps
}

TEST_F(input_values_, DoesNothingWhileAnErrorIsPending) {
    int16_t value = 42;
    input_set_variable(1, I16, &value);
    type("5\r");
    run_state.error_code.store(5);
    input_values(1, 1);
    EXPECT_EQ(value, 42);
    EXPECT_FALSE(buffer_empty());
}

TEST_F(input_values_, RefusesMissingOrUnknownVariables) {
    int16_t value = 42;
    input_values(1, 1); // nothing set
    EXPECT_EQ(error(), 5u);
    clear_error();
    input_set_variable(1, 12, &value); // no integer has 12 bits
    input_values(1, 1);
    EXPECT_EQ(error(), 5u);
    clear_error();
    input_set_variable(1, I16, &value);
    input_values(0, 1);
    EXPECT_EQ(error(), 5u);
    clear_error();
    input_set_variable(0, I16, &value);
    EXPECT_EQ(error(), 5u);
    EXPECT_EQ(value, 42);
}

TEST_F(input_values_, ClearsNumbersUnlessBit24IsSet) {
    int32_t cleared = 77, kept = 77;
    int64_t wide = 77;
    input_set_variable(1, I32, &cleared);
    input_set_variable(2, I32 | INPUT_TYPE_NO_CLEAR, &kept);
    input_set_variable(3, I64 | INPUT_TYPE_NO_CLEAR, &wide);
    type(",5,6\r");
    run(3);
    EXPECT_EQ(cleared, 0);
    EXPECT_EQ(kept, 77); // results of 32 bits or less are not stored either
    EXPECT_EQ(wide, 6);
}

// --- The splitter -------------------------------------------------------------------------------

struct SplitCase {
    const char* line;
    int32_t count;
    bool whole_line;
    int32_t field_number; // 0: refused
    const char* field;
};

class input_split_line_ : public ::testing::TestWithParam<SplitCase> {};

TEST_P(input_split_line_, FindsTheFieldBeingTyped) {
    const SplitCase& c = GetParam();
    std::string field = "junk";
    EXPECT_EQ(input_split_line(c.line, c.count, c.whole_line, field), c.field_number);
    if (c.field_number != 0) {
        EXPECT_EQ(field, c.field);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Fields, input_split_line_,
    ::testing::Values(SplitCase{"", 1, false, 1, ""}, SplitCase{"E,F", 1, false, 0, ""},
                      SplitCase{"E,F", 2, false, 2, "F"}, SplitCase{"E,", 2, false, 2, ""},
                      SplitCase{"\"E", 1, false, 1, "E"}, SplitCase{"\"E\"", 1, false, 1, "E"},
                      SplitCase{"\"E\"X", 1, false, 0, ""},
                      SplitCase{"\"E\",\"F", 2, false, 2, "F"},
                      SplitCase{"\"A,B\"", 1, false, 1, "A,B"},
                      SplitCase{"A\"B\"", 1, false, 1, "A\"B\""},
                      SplitCase{"\"\"\"", 1, false, 0, ""}, SplitCase{" , ", 2, false, 2, " "},
                      SplitCase{"\"A,B\",C", 1, true, 1, "\"A,B\",C"}));

// --- The field checks ---------------------------------------------------------------------------

struct IntegerField {
    uint32_t type;
    const char* field;
    bool passes;
    int64_t stored; // as the signed view of the stored bits
};

class input_check_field_integer : public ::testing::TestWithParam<IntegerField> {};

TEST_P(input_check_field_integer, StoresExactlyOrNothing) {
    const IntegerField& c = GetParam();
    constexpr uint64_t SENTINEL = 0x5A5A5A5A5A5A5A5Aull;
    uint64_t variable = SENTINEL;
    uint32_t bytes = (c.type & INPUT_TYPE_SIZE_MASK) / 8;
    EXPECT_EQ(input_check_field(c.type, &variable, c.field), c.passes) << c.field;
    uint64_t expected = SENTINEL;
    if (c.passes) {
        uint64_t bits = uint64_t(c.stored);
        std::memcpy(&expected, &bits, bytes); // the low bytes of a little-endian host
    }
    EXPECT_EQ(variable, expected) << c.field;
}

INSTANTIATE_TEST_SUITE_P(
    Limits, input_check_field_integer,
    ::testing::Values(
        IntegerField{U8, "255", true, 255}, IntegerField{U8, "256", false, 0},
        IntegerField{U8, "-1", false, 0}, IntegerField{U8, "-", false, 0},
        IntegerField{I8, "127", true, 127}, IntegerField{I8, "128", false, 0},
        IntegerField{I8, "-128", true, -128}, IntegerField{I8, "-129", false, 0},
        IntegerField{I8, "&HFF", true, -1}, IntegerField{I8, "&H0FF", false, 0},
        IntegerField{U8, "&O377", true, 255}, IntegerField{U8, "&O400", false, 0},
        IntegerField{U8, "&O0377", false, 0}, IntegerField{U16, "&O177777", true, 65535},
        IntegerField{I16, "&h7fff", true, 32767}, IntegerField{I16, "&", true, 0},
        IntegerField{I16, "&h", true, 0}, IntegerField{I16, "&o", true, 0},
        IntegerField{I16, "&X", false, 0}, IntegerField{I16, "&1", false, 0},
        IntegerField{I16, "&HG", false, 0}, IntegerField{I16, "&O8", false, 0},
        IntegerField{I16, "0", true, 0}, IntegerField{I16, "00", false, 0},
        IntegerField{I16, "-0", true, 0}, IntegerField{I16, "-01", false, 0},
        IntegerField{I16, "+1", false, 0}, IntegerField{I16, " 1", false, 0},
        IntegerField{I16, "1.5", false, 0}, IntegerField{I16, "", true, 0},
        IntegerField{I32, "2147483647", true, 2147483647},
        IntegerField{I32, "2147483648", false, 0},
        IntegerField{I32, "-2147483648", true, -2147483647 - 1},
        IntegerField{I32, "-2147483649", false, 0}, IntegerField{I32, "99999999999", false, 0},
        IntegerField{U32, "4294967295", true, 4294967295},
        IntegerField{U32, "4294967296", false, 0},
        IntegerField{U32, "&O37777777777", true, 4294967295},
        IntegerField{U32, "&O40000000000", false, 0}, IntegerField{I32, "&HFFFFFFFF", true, -1},
        IntegerField{I32, "&H1FFFFFFFF", false, 0},
        IntegerField{I64, "9223372036854775807", true, INT64_MAX},
        IntegerField{I64, "9223372036854775808", false, 0},
        IntegerField{I64, "-9223372036854775808", true, INT64_MIN},
        IntegerField{I64, "-9223372036854775809", false, 0},
        IntegerField{I64, "10000000000000000000", false, 0},
        IntegerField{I64, "999999999999999999", true, 999999999999999999},
        IntegerField{U64, "18446744073709551615", true, -1},
        IntegerField{U64, "18446744073709551616", false, 0},
        IntegerField{U64, "99999999999999999999", false, 0},
        IntegerField{U64, "100000000000000000000", false, 0}, IntegerField{U64, "-1", false, 0},
        IntegerField{I64, "-", true, 0}, IntegerField{I64, "01", false, 0},
        IntegerField{I64, "&HFFFFFFFFFFFFFFFF", true, -1},
        IntegerField{I64, "&H10000000000000000", false, 0},
        IntegerField{U64, "&O1777777777777777777777", true, -1},
        IntegerField{U64, "&O2000000000000000000000", false, 0},
        IntegerField{U64, "&O01777777777777777777777", false, 0},
        IntegerField{I16 | INPUT_TYPE_NO_CLEAR, "5", true, 0x5A5A},
        IntegerField{I64 | INPUT_TYPE_NO_CLEAR, "5", true, 5}));

struct FloatField {
    uint32_t type;
    const char* field;
    bool passes;
    double stored;
};

class input_check_field_float : public ::testing::TestWithParam<FloatField> {};

TEST_P(input_check_field_float, StoresTheConvertedValueOrNothing) {
    const FloatField& c = GetParam();
    alignas(16) uint8_t variable[32];
    std::memset(variable, 0xA5, sizeof variable);
    uint8_t before[32];
    std::memcpy(before, variable, sizeof before);
    EXPECT_EQ(input_check_field(c.type, variable, c.field), c.passes) << c.field;
    if (!c.passes) {
        EXPECT_EQ(std::memcmp(variable, before, sizeof before), 0) << c.field;
        return;
    }
    switch (c.type & INPUT_TYPE_SIZE_MASK) {
    case 32: {
        float f;
        std::memcpy(&f, variable, sizeof f);
        EXPECT_EQ(f, float(c.stored)) << c.field;
        break;
    }
    case 64: {
        double d;
        std::memcpy(&d, variable, sizeof d);
        EXPECT_EQ(d, c.stored) << c.field;
        break;
    }
    default: {
        long double e;
        std::memcpy(&e, variable, sizeof e);
        EXPECT_EQ(e, static_cast<long double>(c.stored)) << c.field;
    }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Exponents, input_check_field_float,
    ::testing::Values(
        FloatField{SINGLE, "1D5", false, 0}, FloatField{DOUBLE, "1D5", true, 1e5},
        FloatField{DOUBLE, "1d5", true, 1e5}, FloatField{EXTENDED, "1D5", true, 1e5},
        FloatField{SINGLE, "1e5", true, 1e5}, FloatField{SINGLE, "1E", true, 1},
        FloatField{SINGLE, "1E-", true, 1}, FloatField{SINGLE, "1E+", true, 1},
        FloatField{SINGLE, "E5", false, 0}, FloatField{SINGLE, "-E5", false, 0},
        FloatField{SINGLE, "1E0", true, 1}, FloatField{SINGLE, "1E05", false, 0},
        FloatField{SINGLE, "1E5.", false, 0}, FloatField{SINGLE, "1EE", false, 0},
        FloatField{SINGLE, "3.402823E38", true, 3.402823e38},
        FloatField{SINGLE, "3.402824E38", false, 0}, FloatField{SINGLE, "1E38", true, 1e38},
        FloatField{SINGLE, "1E39", false, 0}, FloatField{SINGLE, "34028230E31", true, 3.402823e38},
        // At the top magnitude the leading digits pass up to 3402823999..., above the largest
        // single: refused rather than stored as infinity.
        FloatField{SINGLE, "340282399999999999999999999999999999999", false, 0},
        FloatField{SINGLE, "1.401298E-45", true, 1.401298e-45},
        FloatField{SINGLE, "1.401297E-45", false, 0}, FloatField{SINGLE, "1E-46", false, 0},
        FloatField{SINGLE, "1E-44", true, 1e-44},
        FloatField{DOUBLE, "1.7976931E308", true, 1.7976931e308},
        FloatField{DOUBLE, "1.7976932E308", false, 0},
        FloatField{DOUBLE, "1.79769319E308", false, 0}, FloatField{DOUBLE, "1E309", false, 0},
        FloatField{DOUBLE, "1E39", true, 1e39},
        FloatField{DOUBLE, "4.940656E-324", true, 4.940656e-324},
        FloatField{DOUBLE, "4.940655E-324", false, 0}, FloatField{DOUBLE, "1E-325", false, 0},
        FloatField{EXTENDED, "1E5000", true, HUGE_VAL}, // not range-checked
        FloatField{SINGLE, "1.2345678", true, 1.2345678},
        FloatField{SINGLE, "1.23456789", false, 0},
        FloatField{SINGLE, "0.00012345678", true, 0.00012345678},
        FloatField{SINGLE, "0.000123456789", false, 0},
        FloatField{SINGLE, ".00012345678", true, 0.00012345678},
        FloatField{SINGLE, "123456789012", true, 123456789012.0},
        FloatField{DOUBLE, "1.234567890123456", true, 1.234567890123456},
        FloatField{DOUBLE, "1.2345678901234567", false, 0}, FloatField{SINGLE, "0", true, 0},
        FloatField{SINGLE, "0.5", true, 0.5}, FloatField{SINGLE, "05", false, 0},
        FloatField{SINGLE, "00", false, 0}, FloatField{SINGLE, "0E1", false, 0},
        FloatField{SINGLE, "-", true, 0}, FloatField{SINGLE, "-2.5", true, -2.5},
        FloatField{SINGLE, ".", true, 0}, FloatField{SINGLE, "1.2.", false, 0},
        FloatField{SINGLE, "--1", false, 0}, FloatField{SINGLE, "1,", false, 0},
        FloatField{SINGLE, "", true, 0}, FloatField{SINGLE, "inf", false, 0},
        FloatField{DOUBLE, "0x10", false, 0}, FloatField{DOUBLE, "&H10", true, 16},
        FloatField{SINGLE, "&O17", true, 15},
        FloatField{DOUBLE, "&HFFFFFFFFFFFFFFFF", true, 18446744073709551615.0}));

} // namespace

namespace {

TEST_F(input_values_, GraphicsDestinationShowsItsOwnCursorWhileWaiting) {
    int32_t handle = image_new_statement(64, 32, 13, 1);
    ASSERT_LT(handle, 0);
    set_write_page(handle);
    ScreenImage& image = writing();
    ASSERT_FALSE(image.is_text);
    image_cell_store(image, 0, 0x12);
    image_cell_store(image, 8, 0x34); // first pixel of the next cell, never inverted
    BasicString* s = str_new(0, false);
    input_set_variable(1, STRING, s);
    std::atomic<int> seen_while_waiting{-1};
    std::thread user([&image, &seen_while_waiting] {
        Clock::time_point start = Clock::now();
        while (image_cell_load(image, 0) == 0x12 && Clock::now() - start < std::chrono::seconds(5))
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        seen_while_waiting.store(image_cell_load(image, 0));
        key_down(13);
    });
    Watchdog watchdog(5000, stop_the_statement);
    input_values(1, 0);
    EXPECT_FALSE(watchdog.finish());
    user.join();
    EXPECT_EQ(seen_while_waiting.load(), 0x12 ^ int(image.colour_mask ? image.colour_mask : 0xFF));
    EXPECT_EQ(image_cell_load(image, 0), 0x12); // removed before the key was handled
    EXPECT_EQ(image_cell_load(image, 8), 0x34);
    set_write_page(0);
}

} // namespace
