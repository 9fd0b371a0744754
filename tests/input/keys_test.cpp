#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <thread>
#include <utility>
#include <vector>

#include "input/keys_fixture.h"
#include "runtime/base/run_state.h"
#include "runtime/input/detail.h"
#include "runtime/input/keys.h"
#include "runtime/memory/conv.h"
#include "runtime/platform/platform.h"
#include "runtime/strings/str.h"

namespace {

// --- Translation: character rows ---------------------------------------------------------------

using KeyTranslation = KeysTest;

TEST_F(KeyTranslation, letters_in_every_state) {
    // PC scan-code set 1, US layout.
    const std::vector<std::pair<char, int>> letters = {
        {'a', 30}, {'b', 48}, {'c', 46}, {'d', 32}, {'e', 18}, {'f', 33}, {'g', 34},
        {'h', 35}, {'i', 23}, {'j', 36}, {'k', 37}, {'l', 38}, {'m', 50}, {'n', 49},
        {'o', 24}, {'p', 25}, {'q', 16}, {'r', 19}, {'s', 31}, {'t', 20}, {'u', 22},
        {'v', 47}, {'w', 17}, {'x', 45}, {'y', 21}, {'z', 44}};
    for (auto [letter, scan] : letters) {
        SCOPED_TRACE(letter);
        unsigned char upper = static_cast<unsigned char>(letter - 'a' + 'A');
        int control = letter - 'a' + 1;
        EXPECT_EQ(typed(letter), (Pairs{{letter, scan}}));
        EXPECT_EQ(typed(upper, SHIFT), (Pairs{{upper, scan}}));
        EXPECT_EQ(typed(upper), (Pairs{{upper, scan}})); // Caps Lock: the system sends it upper
        EXPECT_EQ(typed(letter, SHIFT), (Pairs{{letter, scan}}));
        EXPECT_EQ(typed(letter, CTRL), (Pairs{{control, scan}}));
        EXPECT_EQ(typed(upper, CTRL), (Pairs{{control, scan}}));
        EXPECT_EQ(typed(letter, ALT), (Pairs{ext(scan)}));
        EXPECT_EQ(typed(upper, ALT), (Pairs{ext(scan)}));
        // Alt wins over Ctrl, Ctrl over Shift.
        EXPECT_EQ(typed(letter, {KEY_RIGHT_CTRL, KEY_RIGHT_ALT}), (Pairs{ext(scan)}));
        EXPECT_EQ(typed(letter, {KEY_RIGHT_SHIFT, KEY_RIGHT_CTRL}), (Pairs{{control, scan}}));
    }
}

TEST_F(KeyTranslation, digit_row) {
    const char digits[] = "1234567890";
    const char shifted[] = "!@#$%^&*()";
    for (int i = 0; i < 10; ++i) {
        SCOPED_TRACE(digits[i]);
        int scan = 2 + i;
        for (unsigned char key : {digits[i], shifted[i]}) {
            EXPECT_EQ(typed(key), (Pairs{{key, scan}}));
            EXPECT_EQ(typed(key, SHIFT), (Pairs{{key, scan}}));
            EXPECT_EQ(typed(key, ALT), (Pairs{ext(120 + i)}));
        }
    }
    EXPECT_EQ(typed('-', ALT), (Pairs{ext(130)}));
    EXPECT_EQ(typed('_', ALT), (Pairs{ext(130)}));
    EXPECT_EQ(typed('=', ALT), (Pairs{ext(131)}));
    EXPECT_EQ(typed('+', ALT), (Pairs{ext(131)}));
    EXPECT_EQ(typed('-'), (Pairs{{'-', 12}}));
    EXPECT_EQ(typed('+'), (Pairs{{'+', 13}}));
    // Ctrl only on 2, 6 and the minus key.
    EXPECT_EQ(typed('2', CTRL), (Pairs{ext(3)}));
    EXPECT_EQ(typed('@', CTRL), (Pairs{ext(3)}));
    EXPECT_EQ(typed('6', CTRL), (Pairs{{30, 7}}));
    EXPECT_EQ(typed('^', CTRL), (Pairs{{30, 7}}));
    EXPECT_EQ(typed('-', CTRL), (Pairs{{31, 12}}));
    EXPECT_EQ(typed('_', CTRL), (Pairs{{31, 12}}));
    for (unsigned char key : {'1', '3', '8', '0', '!', '*', '=', '+'}) {
        SCOPED_TRACE(key);
        EXPECT_EQ(typed(key, CTRL), NOTHING);
    }
}

TEST_F(KeyTranslation, punctuation_keys) {
    struct Expect {
        unsigned char key;
        int scan;
        int ctrl; // 0: nothing
    };
    const Expect keys[] = {
        {'[', 26, 27}, {'{', 26, 27}, {']', 27, 29}, {'}', 27, 29}, {';', 39, 0},   {':', 39, 0},
        {'\'', 40, 0}, {'"', 40, 0},  {'`', 41, 0},  {'~', 41, 0},  {'\\', 43, 28}, {'|', 43, 28},
        {',', 51, 0},  {'<', 51, 0},  {'.', 52, 0},  {'>', 52, 0},  {'/', 53, 0},   {'?', 53, 0},
    };
    for (const Expect& e : keys) {
        SCOPED_TRACE(e.key);
        EXPECT_EQ(typed(e.key), (Pairs{{e.key, e.scan}}));
        EXPECT_EQ(typed(e.key, SHIFT), (Pairs{{e.key, e.scan}}));
        EXPECT_EQ(typed(e.key, CTRL), (e.ctrl ? Pairs{{e.ctrl, e.scan}} : NOTHING));
        EXPECT_EQ(typed(e.key, ALT), (Pairs{ext(e.scan)}));
    }
}

TEST_F(KeyTranslation, control_keys_tab_enter_backspace_escape_space) {
    EXPECT_EQ(typed(9), (Pairs{{9, 15}}));
    EXPECT_EQ(typed(9, SHIFT), (Pairs{ext(15)}));
    EXPECT_EQ(typed(9, CTRL), (Pairs{ext(148)}));
    EXPECT_EQ(typed(9, ALT), NOTHING);

    EXPECT_EQ(typed(13), (Pairs{{13, 28}}));
    EXPECT_EQ(typed(13, SHIFT), (Pairs{{13, 28}}));
    EXPECT_EQ(typed(13, CTRL), (Pairs{{10, 28}}));
    EXPECT_EQ(typed(13, ALT), NOTHING);

    EXPECT_EQ(typed(8), (Pairs{{8, 14}}));
    EXPECT_EQ(typed(8, SHIFT), (Pairs{{8, 14}}));
    EXPECT_EQ(typed(8, CTRL), (Pairs{{127, 14}}));
    EXPECT_EQ(typed(8, ALT), (Pairs{ext(14)}));

    EXPECT_EQ(typed(27), (Pairs{{27, 1}}));
    EXPECT_EQ(typed(27, SHIFT), (Pairs{{27, 1}}));
    EXPECT_EQ(typed(27, CTRL), (Pairs{{27, 1}}));
    EXPECT_EQ(typed(27, ALT), NOTHING);

    EXPECT_EQ(typed(' '), (Pairs{{' ', 57}}));
    EXPECT_EQ(typed(' ', SHIFT), (Pairs{{' ', 57}}));
    EXPECT_EQ(typed(' ', CTRL), (Pairs{{' ', 57}}));
    EXPECT_EQ(typed(' ', ALT), NOTHING);
}

TEST_F(KeyTranslation, characters_without_a_key_go_in_as_themselves) {
    const int keyless[] = {1, 7, 10, 12, 26, 28, 31, 127, 128, 200, 255};
    for (int character : keyless) EXPECT_EQ(typed(character), (Pairs{{character, 0}}));
    // They have no make or break code either.
    EXPECT_TRUE(scan_code_queue_snapshot().empty());
    for (int character : keyless) {
        SCOPED_TRACE(character);
        EXPECT_EQ(typed(character, CTRL), (Pairs{{character, 0}}));
        EXPECT_EQ(typed(character, ALT), (Pairs{{character, 0}}));
        EXPECT_EQ(typed(character, SHIFT), (Pairs{{character, 0}}));
    }
    // Code 0 is buffered as a pair of zeros and kept in the held set as its stand-in.
    key_down(0);
    EXPECT_EQ(held_keys_snapshot().back(), KEY_CODE_ZERO);
    EXPECT_EQ(take_all(), (Pairs{{0, 0}}));
}

TEST_F(KeyTranslation, rows_hold_the_scan_codes_of_their_keys) {
    // Only keys of the US layout have a scan code; the rest of the character rows is empty.
    int with_scan_code = 0;
    for (int c = 0; c < 256; ++c) {
        if (KEY_TRANSLATION_TABLE[size_t(c)].scan_code != 0) ++with_scan_code;
    }
    EXPECT_EQ(with_scan_code, 26 * 2 + 10 * 2 + 2 * 2 + 9 * 2 + 5); // + Esc, BS, Tab, Enter, space
    // Extended rows exist for the function keys and the cursor block only.
    int extended_rows = 0;
    for (int s = 0; s < 256; ++s) {
        if (KEY_TRANSLATION_TABLE[size_t(KEY_ROW_EXTENDED + s)].value[KEY_STATE_NORMAL] != 0)
            ++extended_rows;
    }
    EXPECT_EQ(extended_rows, 12 + 10);
}

// --- Translation: extended keys ----------------------------------------------------------------

using ExtendedKeys = KeysTest;

TEST_F(ExtendedKeys, function_keys_f1_to_f10) {
    for (int i = 0; i < 10; ++i) {
        SCOPED_TRACE(i + 1);
        KeyCode code = KEY_F1 + i * 0x100;
        EXPECT_EQ(typed(code), (Pairs{ext(59 + i)}));
        EXPECT_EQ(typed(code, SHIFT), (Pairs{ext(84 + i)}));
        EXPECT_EQ(typed(code, CTRL), (Pairs{ext(94 + i)}));
        EXPECT_EQ(typed(code, ALT), (Pairs{ext(104 + i)}));
    }
}

TEST_F(ExtendedKeys, f11_and_f12_ignore_shift) {
    // Their codes carry the BIOS numbers 0x85 and 0x86; the keys' make codes are 87 and 88.
    typed(KEY_F11);
    typed(KEY_F12);
    EXPECT_EQ(scan_code_queue_snapshot(), (std::vector<uint8_t>{87, 87 + 128, 88, 88 + 128}));

    EXPECT_EQ(typed(KEY_F11), (Pairs{ext(133)}));
    EXPECT_EQ(typed(KEY_F11, SHIFT), (Pairs{ext(133)}));
    EXPECT_EQ(typed(KEY_F11, CTRL), (Pairs{ext(137)}));
    EXPECT_EQ(typed(KEY_F11, ALT), (Pairs{ext(139)}));
    EXPECT_EQ(typed(KEY_F12), (Pairs{ext(134)}));
    EXPECT_EQ(typed(KEY_F12, SHIFT), (Pairs{ext(134)}));
    EXPECT_EQ(typed(KEY_F12, CTRL), (Pairs{ext(138)}));
    EXPECT_EQ(typed(KEY_F12, ALT), (Pairs{ext(140)}));
}

TEST_F(ExtendedKeys, cursor_block) {
    struct Expect {
        KeyCode code;
        int scan, ctrl, alt;
    };
    const Expect keys[] = {
        {KEY_HOME, 71, 119, 151},   {KEY_UP, 72, 141, 152},        {KEY_PAGE_UP, 73, 132, 153},
        {KEY_LEFT, 75, 115, 155},   {KEY_RIGHT, 77, 116, 157},     {KEY_END, 79, 117, 159},
        {KEY_DOWN, 80, 145, 160},   {KEY_PAGE_DOWN, 81, 118, 161}, {KEY_INSERT, 82, 146, 162},
        {KEY_DELETE, 83, 147, 163},
    };
    for (const Expect& e : keys) {
        SCOPED_TRACE(e.code);
        EXPECT_EQ(typed(e.code), (Pairs{ext(e.scan)}));
        EXPECT_EQ(typed(e.code, SHIFT), (Pairs{ext(e.scan)}));
        EXPECT_EQ(typed(e.code, CTRL), (Pairs{ext(e.ctrl)}));
        EXPECT_EQ(typed(e.code, ALT), (Pairs{ext(e.alt)}));
    }
}

TEST_F(ExtendedKeys, codes_without_a_row_go_in_as_their_scan_code) {
    // Keypad 5 in cursor mode has no extended row: character 0 and its second byte.
    EXPECT_EQ(typed(KEY_KEYPAD_CENTER), (Pairs{ext(0x4C)}));
    EXPECT_EQ(typed(KEY_KEYPAD_CENTER, CTRL), (Pairs{ext(0x4C)}));
}

// --- Translation: the keypad -------------------------------------------------------------------

using Keypad = KeysTest;

TEST_F(Keypad, digits_with_num_lock_and_in_cursor_mode) {
    const int scans[] = {82, 79, 80, 81, 75, 76, 77, 71, 72, 73, 83};
    const int ctrl[] = {146, 117, 145, 118, 115, 143, 116, 119, 141, 132, 147};
    const char characters[] = "0123456789.";
    for (int n = 0; n < 11; ++n) {
        SCOPED_TRACE(n);
        int c = characters[n];
        KeyCode numeric = KEY_KEYPAD_NUMERIC_0 + n;
        KeyCode cursor = KEY_KEYPAD_CURSOR_INSERT + n;
        // Num Lock on: the digit, Shift brings the cursor key back.
        EXPECT_EQ(typed(numeric), (Pairs{{c, scans[n]}}));
        EXPECT_EQ(typed(numeric, SHIFT), (Pairs{ext(scans[n])}));
        EXPECT_EQ(typed(numeric, CTRL), (Pairs{ext(ctrl[n])}));
        EXPECT_EQ(typed(numeric, ALT), NOTHING);
        // Cursor mode: the cursor key, Shift gives the digit.
        EXPECT_EQ(typed(cursor), (Pairs{ext(scans[n])}));
        EXPECT_EQ(typed(cursor, SHIFT), (Pairs{{c, scans[n]}}));
        EXPECT_EQ(typed(cursor, CTRL), (Pairs{ext(ctrl[n])}));
        EXPECT_EQ(typed(cursor, ALT), NOTHING);
    }
}

TEST_F(Keypad, operators_and_enter) {
    struct Expect {
        KeyCode code;
        int character, scan, ctrl, alt;
    };
    const Expect keys[] = {
        {KEY_KEYPAD_NUMERIC_SLASH, '/', 53, 149, 164}, {KEY_KEYPAD_NUMERIC_STAR, '*', 55, 150, 55},
        {KEY_KEYPAD_NUMERIC_MINUS, '-', 74, 142, 74},  {KEY_KEYPAD_NUMERIC_PLUS, '+', 78, 144, 78},
        {KEY_KEYPAD_NUMERIC_ENTER, 13, 28, -1, 166},
    };
    for (const Expect& e : keys) {
        SCOPED_TRACE(e.code);
        EXPECT_EQ(typed(e.code), (Pairs{{e.character, e.scan}}));
        EXPECT_EQ(typed(e.code, SHIFT), (Pairs{{e.character, e.scan}}));
        EXPECT_EQ(typed(e.code, CTRL), (e.ctrl < 0 ? Pairs{{10, 28}} : Pairs{ext(e.ctrl)}));
        // Alt with the keypad Enter is not Alt+Enter: that is the main Enter key only.
        EXPECT_EQ(typed(e.code, ALT), (Pairs{ext(e.alt)}));
    }
    EXPECT_FALSE(key_alt_enter_take());
}

TEST_F(Keypad, ring_records_what_the_key_types_with_the_keypad_flag) {
    key_down(KEY_KEYPAD_NUMERIC_0 + 7);
    key_up(KEY_KEYPAD_NUMERIC_0 + 7);
    key_down(KEY_KEYPAD_CURSOR_INSERT + 8);
    key_down(KEY_KEYPAD_NUMERIC_ENTER);
    key_down(KEY_KEYPAD_CURSOR_INSERT + 5);
    key_down('7');
    std::vector<KeyHit> hits = ring();
    ASSERT_EQ(hits.size(), 6u);
    EXPECT_EQ(hits[0].value, '7');
    EXPECT_EQ(hits[0].keypad, 1);
    EXPECT_EQ(hits[1].value, -'7');
    EXPECT_EQ(hits[1].keypad, 1);
    EXPECT_EQ(hits[2].value, KEY_UP);
    EXPECT_EQ(hits[3].value, 13);
    EXPECT_EQ(hits[3].keypad, 1);
    EXPECT_EQ(hits[4].value, KEY_KEYPAD_CENTER);
    EXPECT_EQ(hits[5].value, '7');
    EXPECT_EQ(hits[5].keypad, 0);
}

// --- key_is_held and the held set --------------------------------------------------------------

using HeldKeys = KeysTest;

TEST_F(HeldKeys, keypad_twins_count_as_held) {
    const std::vector<std::pair<KeyCode, KeyCode>> twins = {
        {'0', KEY_KEYPAD_NUMERIC_0},
        {'5', KEY_KEYPAD_NUMERIC_0 + 5},
        {'9', KEY_KEYPAD_NUMERIC_0 + 9},
        {'.', KEY_KEYPAD_NUMERIC_POINT},
        {'/', KEY_KEYPAD_NUMERIC_SLASH},
        {'*', KEY_KEYPAD_NUMERIC_STAR},
        {'-', KEY_KEYPAD_NUMERIC_MINUS},
        {'+', KEY_KEYPAD_NUMERIC_PLUS},
        {13, KEY_KEYPAD_NUMERIC_ENTER},
        {KEY_INSERT, KEY_KEYPAD_CURSOR_INSERT},
        {KEY_END, KEY_KEYPAD_CURSOR_INSERT + 1},
        {KEY_DOWN, KEY_KEYPAD_CURSOR_INSERT + 2},
        {KEY_PAGE_DOWN, KEY_KEYPAD_CURSOR_INSERT + 3},
        {KEY_LEFT, KEY_KEYPAD_CURSOR_INSERT + 4},
        {KEY_KEYPAD_CENTER, KEY_KEYPAD_CURSOR_INSERT + 5},
        {KEY_RIGHT, KEY_KEYPAD_CURSOR_INSERT + 6},
        {KEY_HOME, KEY_KEYPAD_CURSOR_INSERT + 7},
        {KEY_UP, KEY_KEYPAD_CURSOR_INSERT + 8},
        {KEY_PAGE_UP, KEY_KEYPAD_CURSOR_INSERT + 9},
        {KEY_DELETE, KEY_KEYPAD_CURSOR_DELETE},
    };
    for (auto [code, twin] : twins) {
        SCOPED_TRACE(code);
        EXPECT_EQ(key_is_held(code), 0);
        key_down(twin);
        EXPECT_EQ(key_is_held(code), 1);
        EXPECT_EQ(key_is_held(twin), 1);
        key_up(twin);
        EXPECT_EQ(key_is_held(code), 0);
    }
    // A twin counts for its own key only.
    key_down(KEY_KEYPAD_NUMERIC_0 + 3);
    EXPECT_EQ(key_is_held('4'), 0);
    EXPECT_EQ(key_is_held(KEY_PAGE_DOWN), 0);
    key_down(KEY_KEYPAD_CURSOR_INSERT + 8);
    EXPECT_EQ(key_is_held(KEY_DOWN), 0);
    EXPECT_EQ(key_is_held('8'), 0);
    // The keypad minus and plus rows (0x4A, 0x4E) have no cursor twin.
    key_down(KEY_KEYPAD_NUMERIC_MINUS);
    EXPECT_EQ(key_is_held(0x4A00), 0);
}

TEST_F(HeldKeys, no_duplicates_and_release_keeps_the_order) {
    key_down('a');
    key_down('b');
    key_down('a'); // auto-repeat
    key_down('c');
    EXPECT_EQ(held_keys_snapshot(), (std::vector<KeyCode>{'a', 'b', 'c'}));
    key_up('b');
    EXPECT_EQ(held_keys_snapshot(), (std::vector<KeyCode>{'a', 'c'}));
    key_up('b'); // not held: nothing to remove
    EXPECT_EQ(held_keys_snapshot(), (std::vector<KeyCode>{'a', 'c'}));
    // The repeat was processed in full all the same.
    EXPECT_EQ(take_all(), (Pairs{{'a', 30}, {'b', 48}, {'a', 30}, {'c', 46}}));
}

TEST_F(HeldKeys, ctrl_8_buffers_nothing_but_counts_as_a_press) {
    key_down(KEY_RIGHT_CTRL);
    key_pressed_flag.store(0);
    ring();
    key_down('8');
    EXPECT_EQ(take_all(), NOTHING);
    EXPECT_EQ(key_pressed_flag.load(), 1);
    EXPECT_EQ(key_is_held('8'), 1);
    EXPECT_EQ(key_hit_next(), '8');
    EXPECT_EQ(scan_code_queue_snapshot().back(), 9);
}

// --- The BIOS keyboard buffer ------------------------------------------------------------------

using BiosKeyBuffer = KeysTest;

TEST_F(BiosKeyBuffer, empty_after_reset) {
    EXPECT_EQ(conv_load16(BIOS_KEYBOARD_HEAD), 0x1E);
    EXPECT_EQ(conv_load16(BIOS_KEYBOARD_TAIL), 0x1E);
    uint8_t character = 0xAA, scan = 0xAA;
    EXPECT_FALSE(bios_key_buffer_take(character, scan));
    EXPECT_EQ(character, 0xAA);
}

TEST_F(BiosKeyBuffer, pairs_sit_at_the_pc_places) {
    key_down('a');
    key_down(KEY_UP);
    EXPECT_EQ(conv_load8(0x41E), 'a');
    EXPECT_EQ(conv_load8(0x41F), 30);
    EXPECT_EQ(conv_load8(0x420), 0);
    EXPECT_EQ(conv_load8(0x421), 72);
    EXPECT_EQ(conv_load16(BIOS_KEYBOARD_HEAD), 0x1E);
    EXPECT_EQ(conv_load16(BIOS_KEYBOARD_TAIL), 0x22);
}

TEST_F(BiosKeyBuffer, fifteen_keys_fit_and_the_sixteenth_is_dropped) {
    const char text[] = "abcdefghijklmnop"; // 16 keys
    for (int i = 0; i < 16; ++i) {
        key_down(text[i]);
        key_up(text[i]);
    }
    // The dropped key still reached the held set's history, the ring and the pressed flag.
    std::vector<KeyHit> hits = ring();
    ASSERT_EQ(hits.size(), 32u);
    EXPECT_EQ(hits[30].value, 'p');
    EXPECT_EQ(key_pressed_flag.load(), 1);
    EXPECT_EQ(conv_load8(BIOS_KEYBOARD_TAIL), 0x3C);
    Pairs pairs = take_all();
    ASSERT_EQ(pairs.size(), 15u);
    for (int i = 0; i < 15; ++i) EXPECT_EQ(pairs[size_t(i)].first, text[i]);
    // Once read, there is room again.
    key_down('q');
    EXPECT_EQ(take_all(), (Pairs{{'q', 16}}));
}

TEST_F(BiosKeyBuffer, wraps_from_the_last_slot_to_the_first) {
    for (int round = 0; round < 5; ++round) {
        SCOPED_TRACE(round);
        // 7 keys a round, so the head and tail pass the end of the ring at different places.
        Pairs expected;
        for (int i = 0; i < 7; ++i) {
            unsigned char c = static_cast<unsigned char>('a' + (round * 7 + i) % 26);
            key_down(c);
            key_up(c);
            expected.push_back({c, KEY_TRANSLATION_TABLE[c].scan_code});
        }
        EXPECT_EQ(take_all(), expected);
        uint8_t head = conv_load8(BIOS_KEYBOARD_HEAD);
        EXPECT_TRUE(head >= 0x1E && head <= 0x3C && head % 2 == 0) << int(head);
    }
    // 35 keys are two trips round the 16 slots and 3 more.
    EXPECT_EQ(conv_load8(BIOS_KEYBOARD_HEAD), 0x1E + (35 % 16) * 2);
}

TEST_F(BiosKeyBuffer, full_across_the_wrap) {
    // Move head and tail to the last slot, then fill: the buffer still holds 15.
    for (int i = 0; i < 15; ++i) key_down('x');
    take_all();
    for (int i = 0; i < 20; ++i) key_down('a' + i);
    Pairs pairs = take_all();
    ASSERT_EQ(pairs.size(), 15u);
    EXPECT_EQ(pairs.front().first, 'a');
    EXPECT_EQ(pairs.back().first, 'a' + 14);
}

// --- Flag bytes --------------------------------------------------------------------------------

using KeyFlags = KeysTest;

TEST_F(KeyFlags, enhanced_keyboard_bit_is_always_set) {
    EXPECT_EQ(flags1(), 0);
    EXPECT_EQ(flags2(), 0);
    EXPECT_EQ(flags3(), 0x10);
}

TEST_F(KeyFlags, shift_ctrl_alt_left_and_right) {
    struct Expect {
        KeyCode code;
        uint8_t flags1, flags2, flags3;
    };
    const Expect keys[] = {
        {KEY_RIGHT_SHIFT, 0x01, 0x00, 0x10}, {KEY_LEFT_SHIFT, 0x02, 0x00, 0x10},
        {KEY_LEFT_CTRL, 0x04, 0x01, 0x10},   {KEY_RIGHT_CTRL, 0x04, 0x00, 0x11},
        {KEY_LEFT_ALT, 0x08, 0x02, 0x10},    {KEY_RIGHT_ALT, 0x08, 0x00, 0x12},
    };
    for (const Expect& e : keys) {
        SCOPED_TRACE(e.code);
        key_down(e.code);
        EXPECT_EQ(flags1(), e.flags1);
        EXPECT_EQ(flags2(), e.flags2);
        EXPECT_EQ(flags3(), e.flags3);
        key_up(e.code);
        EXPECT_EQ(flags1(), 0);
        EXPECT_EQ(flags2(), 0);
        EXPECT_EQ(flags3(), 0x10);
    }
    key_down(KEY_LEFT_CTRL);
    key_down(KEY_RIGHT_CTRL);
    key_up(KEY_LEFT_CTRL);
    EXPECT_EQ(flags1(), 0x04); // the right one is still down
    EXPECT_EQ(flags3(), 0x11);
}

TEST_F(KeyFlags, left_shift_make_and_break_codes) {
    key_down(KEY_LEFT_SHIFT);
    EXPECT_EQ(flags1() & 0x02, 0x02);
    key_up(KEY_LEFT_SHIFT);
    EXPECT_EQ(flags1() & 0x02, 0);
    EXPECT_EQ(scan_code_queue_snapshot(), (std::vector<uint8_t>{42, 170}));
    EXPECT_EQ(take_all(), NOTHING);
}

TEST_F(KeyFlags, modifier_scan_codes) {
    const std::vector<std::pair<KeyCode, uint8_t>> modifiers = {
        {KEY_LEFT_SHIFT, 42}, {KEY_RIGHT_SHIFT, 54}, {KEY_LEFT_ALT, 56},
        {KEY_RIGHT_ALT, 56},  {KEY_LEFT_CTRL, 29},   {KEY_RIGHT_CTRL, 29},
        {KEY_NUM_LOCK, 69},   {KEY_CAPS_LOCK, 58},   {KEY_SCROLL_LOCK, 70},
    };
    for (auto [code, make] : modifiers) {
        SCOPED_TRACE(code);
        key_down(code);
        key_up(code);
        std::vector<uint8_t> queue = scan_code_queue_snapshot();
        ASSERT_GE(queue.size(), 2u);
        EXPECT_EQ(queue[queue.size() - 2], make);
        EXPECT_EQ(queue.back(), make + 128);
    }
}

TEST_F(KeyFlags, lock_keys_and_pseudo_keys) {
    key_down(KEY_NUM_LOCK);
    EXPECT_EQ(flags1(), 0x20);
    key_down(KEY_CAPS_LOCK);
    EXPECT_EQ(flags1(), 0x60);
    key_up(KEY_NUM_LOCK);
    key_up(KEY_CAPS_LOCK);
    EXPECT_EQ(flags1(), 0);
    // The Scroll Lock key toggles the mode on each new press and shows itself held in 0x418.
    key_down(KEY_SCROLL_LOCK);
    EXPECT_EQ(flags1(), 0x10);
    EXPECT_EQ(flags2(), 0x10);
    key_down(KEY_SCROLL_LOCK); // auto-repeat: no second toggle
    EXPECT_EQ(flags1(), 0x10);
    key_up(KEY_SCROLL_LOCK);
    EXPECT_EQ(flags1(), 0x10);
    EXPECT_EQ(flags2(), 0x00);
    key_down(KEY_SCROLL_LOCK);
    key_up(KEY_SCROLL_LOCK);
    EXPECT_EQ(flags1(), 0x00);
}

TEST_F(KeyFlags, pause_and_system_request_show_at_the_next_update) {
    key_down(KEY_SYSTEM_REQUEST);
    window_event_hook(2, KEY_PAUSE, 1);
    bios_key_flags_update();
    EXPECT_EQ(flags2(), 0x0C);
    window_event_hook(2, KEY_PAUSE, -1);
    key_up(KEY_SYSTEM_REQUEST);
    bios_key_flags_update();
    EXPECT_EQ(flags2(), 0x00);
}

// --- Insert ------------------------------------------------------------------------------------

using InsertKey = KeysTest;

TEST_F(InsertKey, each_new_press_toggles_insert_mode) {
    key_down(KEY_INSERT);
    EXPECT_EQ(flags1(), 0x80);
    EXPECT_EQ(flags2(), 0x80); // the key is down
    EXPECT_EQ(key_is_held(KEY_INSERT_MODE_ON), 1);
    key_down(KEY_INSERT); // auto-repeat
    EXPECT_EQ(flags1(), 0x80);
    key_up(KEY_INSERT);
    EXPECT_EQ(flags1(), 0x80);
    EXPECT_EQ(flags2(), 0x00);
    key_down(KEY_INSERT);
    key_up(KEY_INSERT);
    EXPECT_EQ(flags1(), 0x00);
    EXPECT_EQ(key_is_held(KEY_INSERT_MODE_ON), 0);
    // Every press, repeats included, is buffered.
    EXPECT_EQ(take_all(), (Pairs{ext(82), ext(82), ext(82)}));
}

TEST_F(InsertKey, not_with_shift_ctrl_or_alt_nor_from_the_keypad) {
    for (KeyCode modifier : {KEY_LEFT_SHIFT, KEY_RIGHT_CTRL, KEY_LEFT_ALT}) {
        SCOPED_TRACE(modifier);
        typed(KEY_INSERT, {modifier});
        EXPECT_EQ(flags1() & 0x80, 0);
    }
    EXPECT_EQ(typed(KEY_KEYPAD_CURSOR_INSERT), (Pairs{ext(82)}));
    EXPECT_EQ(flags1() & 0x80, 0);
}

// --- Pause and Break ---------------------------------------------------------------------------

using PauseBreak = KeysTest;

TEST_F(PauseBreak, pause_holds_until_the_next_press_which_is_consumed) {
    EXPECT_EQ(window_event_hook(2, KEY_PAUSE, 1), 0);
    EXPECT_EQ(run_state.pause_state.load() & 1, 1);
    EXPECT_EQ(run_state.event_pending.load(), 1u);
    window_event_hook(2, KEY_PAUSE, -1);
    EXPECT_EQ(run_state.pause_state.load() & 1, 1); // releasing Pause does not resume
    ring();
    key_pressed_flag.store(0);

    key_down('a');
    EXPECT_EQ(run_state.pause_state.load(), 0);
    EXPECT_EQ(take_all(), NOTHING);
    EXPECT_EQ(key_hit_next(), 0);
    EXPECT_EQ(key_pressed_flag.load(), 1);
    EXPECT_EQ(key_is_held('a'), 1);
    key_up('a');
    // The next one is an ordinary key again.
    EXPECT_EQ(typed('b'), (Pairs{{'b', 48}}));
}

TEST_F(PauseBreak, any_key_resumes_even_a_modifier) {
    key_down(KEY_PAUSE);
    key_up(KEY_PAUSE);
    key_down(KEY_LEFT_SHIFT);
    EXPECT_EQ(run_state.pause_state.load(), 0);
    EXPECT_EQ(take_all(), NOTHING);
}

TEST_F(PauseBreak, ctrl_num_lock_pauses) {
    key_down(KEY_LEFT_CTRL);
    key_down(KEY_NUM_LOCK);
    EXPECT_EQ(run_state.pause_state.load() & 1, 1);
}

TEST_F(PauseBreak, break_requests_the_end) {
    EXPECT_EQ(window_event_hook(2, KEY_BREAK, 1), 0);
    EXPECT_EQ(run_state.end_requested.load(), 1);
    EXPECT_EQ(run_state.exit_request_flags.load(), 0u);
    EXPECT_EQ(take_all(), NOTHING);
    EXPECT_EQ(window_event_hook(2, KEY_BREAK, -1), 0);
    EXPECT_EQ(key_is_held(KEY_BREAK), 0);
}

TEST_F(PauseBreak, break_while_the_program_polls_close_requests) {
    run_state.exit_polling.store(1);
    window_event_hook(2, KEY_BREAK, 1);
    EXPECT_EQ(run_state.exit_request_flags.load(), 2u);
    EXPECT_EQ(run_state.end_requested.load(), 0);
}

TEST_F(PauseBreak, ctrl_scroll_lock_and_the_break_twin_need_ctrl) {
    key_down(KEY_BREAK_WITH_CTRL);
    key_down(KEY_SCROLL_LOCK);
    EXPECT_EQ(run_state.end_requested.load(), 0);
    EXPECT_EQ(key_is_held(KEY_SCROLL_LOCK_ON), 1); // a plain Scroll Lock press
    key_up(KEY_BREAK_WITH_CTRL);
    key_up(KEY_SCROLL_LOCK);
    key_down(KEY_RIGHT_CTRL);
    key_down(KEY_BREAK_WITH_CTRL);
    EXPECT_EQ(run_state.end_requested.load(), 1);
    run_state.end_requested.store(0);
    key_down(KEY_SCROLL_LOCK);
    EXPECT_EQ(run_state.end_requested.load(), 1);
    // Ctrl+Scroll Lock is Break, not a Scroll Lock toggle.
    EXPECT_EQ(key_is_held(KEY_SCROLL_LOCK_ON), 1);
    EXPECT_EQ(take_all(), NOTHING);
}

// --- Alt+Enter ---------------------------------------------------------------------------------

using AltEnter = KeysTest;

TEST_F(AltEnter, reaches_no_buffer_and_raises_the_request) {
    EXPECT_FALSE(key_alt_enter_take());
    key_down(KEY_RIGHT_ALT);
    ring();
    key_pressed_flag.store(0);
    key_down(13);
    EXPECT_EQ(take_all(), NOTHING);
    EXPECT_EQ(key_hit_next(), 0);
    EXPECT_EQ(key_pressed_flag.load(), 1);
    EXPECT_TRUE(key_alt_enter_take());
    EXPECT_FALSE(key_alt_enter_take());
    key_up(13);
    key_up(KEY_RIGHT_ALT);
    EXPECT_EQ(typed(13), (Pairs{{13, 28}}));
    EXPECT_FALSE(key_alt_enter_take());
}

// --- Scan-code queue ---------------------------------------------------------------------------

using ScanCodeQueue = KeysTest;

TEST_F(ScanCodeQueue, make_and_break_codes) {
    key_down('a');
    key_up('a');
    key_down(KEY_UP);
    key_up(KEY_UP);
    key_down(KEY_KEYPAD_NUMERIC_0 + 1);
    key_up(KEY_KEYPAD_NUMERIC_0 + 1);
    EXPECT_EQ(scan_code_queue_snapshot(), (std::vector<uint8_t>{30, 158, 72, 200, 79, 207}));
    EXPECT_EQ(scan_code_next(), 30);
    EXPECT_EQ(scan_code_next(), 158);
    EXPECT_EQ(scan_code_queue_snapshot(), (std::vector<uint8_t>{72, 200, 79, 207}));
}

TEST_F(ScanCodeQueue, repeated_codes_are_not_appended_again) {
    key_down('a');
    key_down('a');
    key_down('A'); // the same key
    key_up('a');
    key_up('A');
    key_down('a');
    EXPECT_EQ(scan_code_queue_snapshot(), (std::vector<uint8_t>{30, 158, 30}));
}

TEST_F(ScanCodeQueue, keys_without_codes_add_nothing) {
    key_down(200);
    key_up(200);
    key_down(KEY_KEYPAD_CENTER);
    key_up(KEY_KEYPAD_CENTER);
    key_down(KEY_PAUSE);
    key_up(KEY_PAUSE);
    key_down('z'); // resumes from the pause only
    EXPECT_TRUE(scan_code_queue_snapshot().empty());
    EXPECT_EQ(scan_code_next(), -1);
}

TEST_F(ScanCodeQueue, a_full_queue_drops_its_oldest_byte) {
    for (int i = 0; i < 128; ++i) {
        key_down('a');
        key_up('a');
    }
    ASSERT_EQ(scan_code_queue_snapshot().size(), 256u);
    key_down('b');
    std::vector<uint8_t> queue = scan_code_queue_snapshot();
    ASSERT_EQ(queue.size(), 256u);
    EXPECT_EQ(queue.front(), 158);
    EXPECT_EQ(queue.back(), 48);
    EXPECT_EQ(queue[254], 158);
}

// --- Key traps, function-key texts and the release-suppress list -------------------------------

using KeyTraps = KeysTest;

TEST_F(KeyTraps, start_up_key_codes) {
    for (int i = 0; i < 10; ++i) EXPECT_EQ(key_trap_slot(1 + i).key_code, KEY_F1 + i * 0x100);
    EXPECT_EQ(key_trap_slot(11).key_code, KEY_UP);
    EXPECT_EQ(key_trap_slot(11).alternative, 100264);
    EXPECT_EQ(key_trap_slot(12).key_code, KEY_LEFT);
    EXPECT_EQ(key_trap_slot(12).alternative, 100260);
    EXPECT_EQ(key_trap_slot(13).key_code, KEY_RIGHT);
    EXPECT_EQ(key_trap_slot(13).alternative, 100262);
    EXPECT_EQ(key_trap_slot(14).key_code, KEY_DOWN);
    EXPECT_EQ(key_trap_slot(14).alternative, 100258);
    EXPECT_EQ(key_trap_slot(30).key_code, KEY_F11);
    EXPECT_EQ(key_trap_slot(31).key_code, KEY_F12);
    for (int slot : {0, 15, 29}) EXPECT_EQ(key_trap_slot(slot).key_code, 0);
    for (int slot = 0; slot < KEY_TRAP_SLOTS; ++slot) EXPECT_EQ(key_trap_slot(slot).handler, 0);
    // Without handlers nothing is trapped.
    EXPECT_EQ(typed(KEY_F1), (Pairs{ext(59)}));
}

TEST_F(KeyTraps, an_armed_trap_takes_the_press_and_swallows_its_release) {
    KeyTrapSlot slot = key_trap_slot(1);
    slot.handler = 1;
    slot.state = 1;
    key_trap_slot_set(1, slot);
    key_down(KEY_F1);
    EXPECT_EQ(key_trap_slot(1).pending, 1);
    EXPECT_EQ(run_state.event_pending.load(), 1u);
    EXPECT_EQ(take_all(), NOTHING);
    EXPECT_EQ(key_hit_next(), 0);
    key_down(KEY_F1);
    EXPECT_EQ(key_trap_slot(1).pending, 2);
    key_up(KEY_F1); // swallowed: no ring entry, no break code
    EXPECT_EQ(key_hit_next(), 0);
    EXPECT_TRUE(scan_code_queue_snapshot().empty());
    key_up(KEY_F1); // the second entry
    EXPECT_EQ(key_hit_next(), 0);
    key_up(KEY_F1); // nothing left to swallow
    EXPECT_EQ(key_hit_next(), -KEY_F1);
    // A trap in another state than 1 restarts its count.
    slot.state = 2;
    key_trap_slot_set(1, slot);
    key_down(KEY_F1);
    EXPECT_EQ(key_trap_slot(1).pending, 1);
}

TEST_F(KeyTraps, the_alternative_code_matches_the_keypad) {
    KeyTrapSlot slot = key_trap_slot(11);
    slot.handler = 1;
    slot.state = 1;
    key_trap_slot_set(11, slot);
    key_down(KEY_KEYPAD_NUMERIC_0 + 8);     // keypad 8 with Num Lock
    key_down(KEY_KEYPAD_CURSOR_INSERT + 8); // keypad Up: its transition value is Up
    EXPECT_EQ(key_trap_slot(11).pending, 2);
    EXPECT_EQ(take_all(), NOTHING);
    key_down('8');
    EXPECT_EQ(take_all(), (Pairs{{'8', 9}}));
}

TEST_F(KeyTraps, user_defined_keys_match_scan_code_and_shift_flags) {
    KeyTrapSlot slot;
    slot.handler = 1;
    slot.state = 1;
    slot.scan_code = 30; // A
    slot.shift_flags = KEY_TRAP_CTRL;
    key_trap_slot_set(15, slot);
    EXPECT_EQ(typed('a'), (Pairs{{'a', 30}}));
    typed('a', CTRL);
    EXPECT_EQ(key_trap_slot(15).pending, 1);
    typed('a', {KEY_LEFT_CTRL, KEY_LEFT_SHIFT}); // Shift must not be held
    EXPECT_EQ(key_trap_slot(15).pending, 1);

    // Caps Lock flag: only with Caps Lock on; a clear Num Lock flag ignores Num Lock.
    slot.shift_flags = KEY_TRAP_CAPS_LOCK;
    slot.pending = 0;
    key_trap_slot_set(15, slot);
    key_down(KEY_NUM_LOCK);
    typed('a');
    EXPECT_EQ(key_trap_slot(15).pending, 0);
    key_down(KEY_CAPS_LOCK);
    take_all();
    typed('a');
    EXPECT_EQ(key_trap_slot(15).pending, 1);
}

TEST_F(KeyTraps, the_extended_flag_tells_grey_keys_from_the_keypad) {
    KeyTrapSlot slot;
    slot.handler = 1;
    slot.state = 1;
    slot.scan_code = 72;
    slot.shift_flags = KEY_TRAP_EXTENDED;
    key_trap_slot_set(16, slot);
    EXPECT_EQ(typed(KEY_KEYPAD_CURSOR_INSERT + 8), (Pairs{ext(72)}));
    EXPECT_EQ(typed(KEY_UP), NOTHING);
    EXPECT_EQ(key_trap_slot(16).pending, 1);
}

TEST_F(KeyTraps, a_modifier_trap_ignores_its_own_class) {
    KeyTrapSlot slot;
    slot.handler = 1;
    slot.state = 1;
    slot.scan_code = 42; // left Shift, trapped with the Shift flag clear
    key_trap_slot_set(17, slot);
    key_down(KEY_LEFT_SHIFT);
    EXPECT_EQ(key_trap_slot(17).pending, 1);
    // The press was consumed before the flag bytes were updated.
    EXPECT_EQ(flags1() & 0x02, 0);
}

TEST_F(KeyTraps, function_key_texts_are_typed_in) {
    KeyTrapSlot slot = key_trap_slot(2);
    slot.function_text = "Hi\r";
    key_trap_slot_set(2, slot);
    ring();
    key_down(KEY_F1 + 0x100);
    EXPECT_EQ(take_all(), (Pairs{{'H', 35}, {'i', 23}, {13, 28}}));
    // Each character went down and up; F2 itself is not in the ring and its release is kept off.
    std::vector<KeyHit> hits = ring();
    ASSERT_EQ(hits.size(), 6u);
    EXPECT_EQ(hits[0].value, 'H');
    EXPECT_EQ(hits[1].value, -'H');
    EXPECT_EQ(release_suppress_snapshot(), std::vector<KeyCode>{KEY_F1 + 0x100});
    key_up(KEY_F1 + 0x100);
    EXPECT_EQ(key_hit_next(), 0);
    EXPECT_EQ(release_suppress_snapshot(), std::vector<KeyCode>{0});
}

TEST_F(KeyTraps, characters_of_a_text_expand_no_text) {
    KeyTrapSlot f1 = key_trap_slot(1);
    f1.function_text = "ab";
    key_trap_slot_set(1, f1);
    KeyTrapSlot letter;
    letter.key_code = 'a';
    letter.function_text = "zz";
    key_trap_slot_set(20, letter);
    key_down(KEY_F1);
    EXPECT_EQ(take_all(), (Pairs{{'a', 30}, {'b', 48}}));
    key_down('a');
    EXPECT_EQ(take_all(), (Pairs{{'z', 44}, {'z', 44}}));
}

TEST_F(KeyTraps, release_suppress_list_reuses_free_entries_and_stops_at_256) {
    KeyTrapSlot slot = key_trap_slot(1);
    slot.handler = 1;
    slot.state = 1;
    key_trap_slot_set(1, slot);
    key_trap_slot_set(2, [] {
        KeyTrapSlot s = key_trap_slot(2);
        s.handler = 1;
        s.state = 1;
        return s;
    }());
    key_down(KEY_F1);
    key_down(KEY_F1 + 0x100);
    key_up(KEY_F1);
    key_down(KEY_F1 + 0x100);
    EXPECT_EQ(release_suppress_snapshot(), (std::vector<KeyCode>{KEY_F1 + 0x100, KEY_F1 + 0x100}));

    for (int i = 0; i < 300; ++i) key_down(KEY_F1);
    std::vector<KeyCode> list = release_suppress_snapshot();
    ASSERT_EQ(list.size(), 256u);
    EXPECT_EQ(std::count(list.begin(), list.end(), KEY_F1), 254);
    ring();
    for (int i = 0; i < 254; ++i) key_up(KEY_F1);
    EXPECT_EQ(key_hit_next(), 0);
    key_up(KEY_F1); // the presses beyond the list's end are released normally
    EXPECT_EQ(key_hit_next(), -KEY_F1);
}

// --- Lock-key synchronisation and start-up -----------------------------------------------------

using LockKeys = KeysTest;

TEST_F(LockKeys, caps_lock_switched_elsewhere_is_a_press_then_a_release) {
    key_pressed_flag.store(0);
    lock_keys_sync();
    EXPECT_TRUE(held_keys_snapshot().empty());
    EXPECT_EQ(key_pressed_flag.load(), 0);

    fake_keyboard.store(KEYBOARD_CAPS_LOCK_ON);
    lock_keys_sync();
    EXPECT_EQ(key_is_held(KEY_CAPS_LOCK), 1);
    EXPECT_EQ(flags1(), 0x40);
    EXPECT_EQ(key_pressed_flag.load(), 1);
    EXPECT_EQ(key_hit_next(), KEY_CAPS_LOCK);
    lock_keys_sync(); // no change, no transition
    EXPECT_EQ(key_hit_next(), 0);

    fake_keyboard.store(0);
    lock_keys_sync();
    EXPECT_EQ(key_is_held(KEY_CAPS_LOCK), 0);
    EXPECT_EQ(flags1(), 0x00);
    EXPECT_EQ(key_hit_next(), -KEY_CAPS_LOCK);
    EXPECT_EQ(scan_code_queue_snapshot(), (std::vector<uint8_t>{58, 186}));
}

TEST_F(LockKeys, num_and_scroll_lock) {
    fake_keyboard.store(KEYBOARD_NUM_LOCK_ON | KEYBOARD_SCROLL_LOCK_ON);
    lock_keys_sync();
    EXPECT_EQ(key_is_held(KEY_NUM_LOCK), 1);
    EXPECT_EQ(key_is_held(KEY_SCROLL_LOCK_ON), 1);
    EXPECT_EQ(flags1(), 0x30);
    // Scroll Lock is a mode only: no key transition.
    EXPECT_EQ(key_hit_next(), KEY_NUM_LOCK);
    EXPECT_EQ(key_hit_next(), 0);
    fake_keyboard.store(KEYBOARD_NUM_LOCK_ON);
    lock_keys_sync();
    EXPECT_EQ(flags1(), 0x20);
    EXPECT_EQ(take_all(), NOTHING);
}

TEST_F(LockKeys, start_up_seeds_from_the_system) {
    key_down('q'); // typed before start-up: emptied
    fake_keyboard.store(KEYBOARD_SCROLL_LOCK_ON | KEYBOARD_CAPS_LOCK_ON | KEYBOARD_NUM_LOCK_ON |
                        KEYBOARD_LEFT_SHIFT_DOWN | KEYBOARD_RIGHT_ALT_DOWN);
    keys_startup();
    EXPECT_EQ(key_is_held(KEY_SCROLL_LOCK_ON), 1);
    EXPECT_EQ(key_is_held(KEY_LEFT_SHIFT), 1);
    EXPECT_EQ(key_is_held(KEY_RIGHT_ALT), 1);
    EXPECT_EQ(key_is_held(KEY_CAPS_LOCK), 1);
    EXPECT_EQ(key_is_held(KEY_NUM_LOCK), 1);
    EXPECT_EQ(key_is_held(KEY_RIGHT_SHIFT), 0);
    EXPECT_EQ(flags1(), 0x02 | 0x08 | 0x10 | 0x20 | 0x40);
    EXPECT_EQ(flags3(), 0x12);
    EXPECT_EQ(key_hit_next(), 0);
    EXPECT_EQ(take_all(), NOTHING);
    EXPECT_EQ(conv_load16(BIOS_KEYBOARD_HEAD), 0x1E);
    EXPECT_EQ(conv_load16(BIOS_KEYBOARD_TAIL), 0x1E);
    // The poll that follows finds everything in step.
    lock_keys_sync();
    EXPECT_EQ(key_hit_next(), 0);
}

TEST_F(LockKeys, nothing_on_gives_only_the_fixed_bit) {
    keys_startup();
    EXPECT_TRUE(held_keys_snapshot().empty());
    EXPECT_EQ(flags1(), 0);
    EXPECT_EQ(flags3(), 0x10);
}

// --- Window hook -------------------------------------------------------------------------------

using WindowHook = KeysTest;

TEST_F(WindowHook, close_box_sets_exit_bit_0) {
    EXPECT_EQ(window_event_hook(1, 0, 0), 0);
    EXPECT_EQ(run_state.exit_request_flags.load(), 1u);
    run_state.exit_request_flags.store(2);
    window_event_hook(1, 0, 0);
    EXPECT_EQ(run_state.exit_request_flags.load(), 3u);
}

TEST_F(WindowHook, pause_and_break_transitions) {
    window_event_hook(2, KEY_PAUSE, 1);
    EXPECT_EQ(key_is_held(KEY_PAUSE), 1);
    window_event_hook(2, KEY_PAUSE, -1);
    EXPECT_EQ(key_is_held(KEY_PAUSE), 0);
    EXPECT_EQ(key_hit_next(), -KEY_PAUSE); // the press went to the pause, not the ring
    window_event_hook(2, KEY_BREAK, 1);
    EXPECT_EQ(key_is_held(KEY_BREAK), 1);
    window_event_hook(2, KEY_BREAK, 0);
    EXPECT_EQ(key_is_held(KEY_BREAK), 0);
}

TEST_F(WindowHook, rejects_other_codes_and_kinds) {
    for (int32_t code : {0, int32_t('a'), KEY_F1, KEY_SCROLL_LOCK, 100020, -100019}) {
        EXPECT_EQ(window_event_hook(2, code, 1), -1) << code;
    }
    for (int32_t kind : {0, 4, -1, 1000}) EXPECT_EQ(window_event_hook(kind, 0, 0), -1) << kind;
    EXPECT_TRUE(held_keys_snapshot().empty());
    EXPECT_EQ(run_state.exit_request_flags.load(), 0u);
    EXPECT_EQ(key_pressed_flag.load(), 0);
    MouseMessage message;
    EXPECT_FALSE(mouse_message_next(message));
}

// --- Mouse-message queue -----------------------------------------------------------------------

// --- Threads -----------------------------------------------------------------------------------

// The window thread types and the lock-key poll runs while the program thread reads; under
// ThreadSanitizer this shows the hand-offs are sound, and the reader must see every key once, in
// order, since it keeps the buffer from filling.
bool bios_buffer_full() {
    uint8_t tail = conv_load8(BIOS_KEYBOARD_TAIL);
    uint8_t next = tail == 0x3C ? 0x1E : uint8_t(tail + 2);
    return next == conv_load8(BIOS_KEYBOARD_HEAD);
}

TEST(KeyThreads, window_display_and_program_threads_share_the_key_state) {
    run_state_reset();
    conv_memory_init();
    keys_reset();
    keys_set_keyboard_state_source(fake_keyboard_state);
    constexpr int KEYS = 2000;
    std::atomic<bool> done{false};
    std::thread window([] {
        for (int i = 0; i < KEYS; ++i) {
            // Wait for room so that no key is dropped.
            while (bios_buffer_full()) std::this_thread::yield();
            unsigned char c = static_cast<unsigned char>('a' + i % 26);
            window_key_char(c, 0, true);
            window_key_char(c, 0, false);
        }
    });
    std::thread display([&done] {
        uint32_t state = 0;
        while (!done.load()) {
            fake_keyboard.store(state ^= KEYBOARD_CAPS_LOCK_ON);
            lock_keys_sync();
            std::this_thread::yield();
        }
    });
    int received = 0;
    bool in_order = true;
    while (received < KEYS) {
        uint8_t character, scan;
        if (bios_key_buffer_take(character, scan)) {
            if (character != 'a' + received % 26) in_order = false;
            ++received;
        }
        key_is_held('a');
    }
    done.store(true);
    window.join();
    display.join();
    EXPECT_TRUE(in_order);
    EXPECT_EQ(received, KEYS);
}

} // namespace
