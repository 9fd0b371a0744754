#include "runtime/input/keys.h"

namespace {

using TranslationTable = std::array<KeyTranslationRow, KEY_TRANSLATION_ROWS>;

// An extended value: buffered as character 0 followed by this scan code.
constexpr int32_t extended(int scan_code) {
    return scan_code << 8;
}

constexpr void set_row(TranslationTable& table, int row, int scan_code, int32_t normal,
                       int32_t shift, int32_t ctrl, int32_t alt, int32_t numeric = 0,
                       int32_t numeric_shift = 0) {
    table[row].scan_code = uint8_t(scan_code);
    table[row].value[KEY_STATE_NORMAL] = normal;
    table[row].value[KEY_STATE_SHIFT] = shift;
    table[row].value[KEY_STATE_CTRL] = ctrl;
    table[row].value[KEY_STATE_ALT] = alt;
    table[row].value[KEY_STATE_NUMERIC] = numeric;
    table[row].value[KEY_STATE_NUMERIC_SHIFT] = numeric_shift;
}

// A character key of the US layout: both characters on the key share its scan code and, apart
// from Tab, type themselves with and without Shift (the shifted character arrives as itself).
constexpr void set_character_key(TranslationTable& table, unsigned char plain,
                                 unsigned char shifted, int scan_code, int32_t ctrl, int32_t alt) {
    set_row(table, plain, scan_code, plain, plain, ctrl, alt);
    set_row(table, shifted, scan_code, shifted, shifted, ctrl, alt);
}

constexpr TranslationTable build_translation_table() {
    TranslationTable table{};

    // Letters, row by row of the keyboard (PC scan-code set 1): Ctrl gives 1-26, Alt the bare
    // scan code.
    struct LetterRow {
        const char* letters;
        int first_scan_code;
    };
    constexpr LetterRow letter_rows[] = {{"qwertyuiop", 16}, {"asdfghjkl", 30}, {"zxcvbnm", 44}};
    for (const LetterRow& row : letter_rows) {
        for (int i = 0; row.letters[i] != 0; ++i) {
            unsigned char lower = static_cast<unsigned char>(row.letters[i]);
            unsigned char upper = static_cast<unsigned char>(lower - 'a' + 'A');
            int scan_code = row.first_scan_code + i;
            set_character_key(table, lower, upper, scan_code, lower - 'a' + 1, extended(scan_code));
        }
    }

    // The digit row, "1" to "=": Alt gives 0+120 upwards; Ctrl only on "2", "6" and "-".
    constexpr char digit_row[] = "1234567890-=";
    constexpr char digit_row_shifted[] = "!@#$%^&*()_+";
    for (int i = 0; digit_row[i] != 0; ++i) {
        unsigned char key = static_cast<unsigned char>(digit_row[i]);
        int32_t ctrl = key == '2' ? extended(3) : key == '6' ? 30 : key == '-' ? 31 : 0;
        set_character_key(table, key, static_cast<unsigned char>(digit_row_shifted[i]), 2 + i, ctrl,
                          extended(120 + i));
    }

    // Punctuation keys: Alt gives the bare scan code; Ctrl only on the three bracket keys.
    struct PunctuationKey {
        unsigned char plain, shifted;
        int scan_code;
        int32_t ctrl;
    };
    constexpr PunctuationKey punctuation[] = {
        {'[', '{', 26, 27}, {']', '}', 27, 29}, {';', ':', 39, 0},
        {'\'', '"', 40, 0}, {'`', '~', 41, 0},  {'\\', '|', 43, 28},
        {',', '<', 51, 0},  {'.', '>', 52, 0},  {'/', '?', 53, 0},
    };
    for (const PunctuationKey& key : punctuation)
        set_character_key(table, key.plain, key.shifted, key.scan_code, key.ctrl,
                          extended(key.scan_code));

    // The control characters with keys of their own do not follow the rules above.
    set_row(table, 27, 1, 27, 27, 27, 0);                     // Esc
    set_row(table, 8, 14, 8, 8, 127, extended(14));           // Backspace
    set_row(table, 9, 15, 9, extended(15), extended(148), 0); // Tab
    set_row(table, 13, 28, 13, 13, 10, 0);                    // Enter
    set_row(table, ' ', 57, ' ', ' ', ' ', 0);                // space

    // F1-F10: Shift, Ctrl and Alt move to the blocks from 0+84, 0+94 and 0+104.
    for (int i = 0; i < 10; ++i) {
        int scan_code = 59 + i;
        set_row(table, KEY_ROW_EXTENDED + scan_code, scan_code, extended(scan_code),
                extended(84 + i), extended(94 + i), extended(104 + i));
    }
    // F11 and F12 ignore Shift.
    set_row(table, KEY_ROW_EXTENDED + 87, 87, extended(KEY_F11 >> 8), extended(KEY_F11 >> 8),
            extended(137), extended(139));
    set_row(table, KEY_ROW_EXTENDED + 88, 88, extended(KEY_F12 >> 8), extended(KEY_F12 >> 8),
            extended(138), extended(140));

    // The cursor block ignores Shift; Ctrl and Alt have codes of their own.
    struct CursorKey {
        int scan_code, ctrl, alt;
    };
    constexpr CursorKey cursor_keys[] = {
        {71, 119, 151}, {72, 141, 152}, {73, 132, 153}, {75, 115, 155}, {77, 116, 157},
        {79, 117, 159}, {80, 145, 160}, {81, 118, 161}, {82, 146, 162}, {83, 147, 163},
    };
    for (const CursorKey& key : cursor_keys)
        set_row(table, KEY_ROW_EXTENDED + key.scan_code, key.scan_code, extended(key.scan_code),
                extended(key.scan_code), extended(key.ctrl), extended(key.alt));

    // Keypad 0-9 and ".": cursor keys (the scan code of the cursor key they double as) unless
    // Num Lock or Shift picks the digit, and both together pick the cursor key again. Ctrl gives
    // the cursor key's Ctrl code; keypad 5, which has no cursor key, gives 0+143.
    constexpr int keypad_scan_codes[] = {82, 79, 80, 81, 75, 76, 77, 71, 72, 73, 83};
    constexpr char keypad_characters[] = "0123456789.";
    for (int n = 0; n < 11; ++n) {
        int scan_code = keypad_scan_codes[n];
        int32_t character = keypad_characters[n];
        int32_t ctrl =
            scan_code == 76 ? extended(143) : table[KEY_ROW_EXTENDED + scan_code].value[2];
        set_row(table, KEY_ROW_KEYPAD + n, scan_code, extended(scan_code), character, ctrl, 0,
                character, extended(scan_code));
    }
    set_row(table, KEY_ROW_KEYPAD + 11, 53, '/', '/', extended(149), extended(164), '/', '/');
    set_row(table, KEY_ROW_KEYPAD + 12, 55, '*', '*', extended(150), extended(55), '*', '*');
    set_row(table, KEY_ROW_KEYPAD + 13, 74, '-', '-', extended(142), extended(74), '-', '-');
    set_row(table, KEY_ROW_KEYPAD + 14, 78, '+', '+', extended(144), extended(78), '+', '+');
    set_row(table, KEY_ROW_KEYPAD + 15, 28, 13, 13, 10, extended(166), 13, 13);
    return table;
}

} // namespace

constexpr TranslationTable KEY_TRANSLATION_TABLE = build_translation_table();

// The rows the start-up examples of the keyboard depend on, checked while compiling.
static_assert(KEY_TRANSLATION_TABLE['a'].scan_code == 30 &&
              KEY_TRANSLATION_TABLE['a'].value[KEY_STATE_CTRL] == 1 &&
              KEY_TRANSLATION_TABLE['A'].value[KEY_STATE_ALT] == extended(30));
static_assert(KEY_TRANSLATION_TABLE[13].value[KEY_STATE_CTRL] == 10);
static_assert(KEY_TRANSLATION_TABLE[KEY_ROW_EXTENDED + 83].value[KEY_STATE_CTRL] == extended(147));
static_assert(KEY_TRANSLATION_TABLE[KEY_ROW_KEYPAD + 5].value[KEY_STATE_CTRL] == extended(143));
