// The window library's keyboard and mouse callbacks, translated into the key layer's codes: the
// character rule of the keyboard callback, the special-key numbers and the mouse queue.
#include "input/keys_fixture.h"

namespace {

// --- Translation: the character rule of the keyboard callback ----------------------------------

using CharacterRule = KeysTest;

TEST_F(CharacterRule, ctrl_letters_become_letters_again) {
    window_key_char(1, WINDOW_MODIFIER_CTRL, true);
    EXPECT_EQ(key_is_held('a'), 1);
    EXPECT_EQ(key_is_held(1), 0);
    window_key_char(1, WINDOW_MODIFIER_CTRL, false);
    EXPECT_EQ(key_is_held('a'), 0);
    // With Shift too it is the upper-case letter; both buffer the control code.
    window_key_char(26, WINDOW_MODIFIER_CTRL | WINDOW_MODIFIER_SHIFT, true);
    EXPECT_EQ(key_is_held('Z'), 1);
    window_key_char(26, WINDOW_MODIFIER_CTRL | WINDOW_MODIFIER_SHIFT, false);
    take_all();
    EXPECT_EQ(typed_char(1, WINDOW_MODIFIER_CTRL, CTRL), (Pairs{{1, 30}}));
    // The modifier bits alone decide the adjustment; the table column follows the held keys.
    EXPECT_EQ(typed_char(1, WINDOW_MODIFIER_CTRL), (Pairs{{'a', 30}}));
}

TEST_F(CharacterRule, ctrl_enter_arrives_as_line_feed) {
    EXPECT_EQ(typed_char(10, WINDOW_MODIFIER_CTRL, CTRL), (Pairs{{10, 28}}));
    // Without Ctrl a line feed stays a keyless character.
    EXPECT_EQ(typed_char(10, 0), (Pairs{{10, 0}}));
    // Alt is not part of the rule: Ctrl+Alt+J is still the Enter key with Alt held.
    EXPECT_EQ(typed_char(10, WINDOW_MODIFIER_CTRL | WINDOW_MODIFIER_ALT, ALT), NOTHING);
}

TEST_F(CharacterRule, delete_arrives_as_del) {
    window_key_char(127, 0, true);
    EXPECT_EQ(key_is_held(KEY_DELETE), 1);
    window_key_char(127, 0, false);
    EXPECT_EQ(take_all(), (Pairs{ext(83)}));
    EXPECT_EQ(typed_char(127, WINDOW_MODIFIER_CTRL, CTRL), (Pairs{ext(147)}));
    EXPECT_EQ(typed_char(127, WINDOW_MODIFIER_ALT, ALT), (Pairs{ext(163)}));
}

TEST_F(CharacterRule, other_characters_pass_unchanged) {
    EXPECT_EQ(typed_char('a', 0), (Pairs{{'a', 30}}));
    EXPECT_EQ(typed_char(27, WINDOW_MODIFIER_CTRL, CTRL), (Pairs{{27, 1}}));
    EXPECT_EQ(typed_char(200, WINDOW_MODIFIER_CTRL), (Pairs{{200, 0}}));
}

// --- Translation: extended keys through the special-key callback --------------------------

using SpecialKeyCallback = KeysTest;

TEST_F(SpecialKeyCallback, maps_freeglut_numbers) {
    const std::vector<std::pair<int, KeyCode>> mapping = {
        {1, KEY_F1},          {5, KEY_F1 + 0x400},   {10, KEY_F10},         {11, KEY_F11},
        {12, KEY_F12},        {100, KEY_LEFT},       {101, KEY_UP},         {102, KEY_RIGHT},
        {103, KEY_DOWN},      {104, KEY_PAGE_UP},    {105, KEY_PAGE_DOWN},  {106, KEY_HOME},
        {107, KEY_END},       {108, KEY_INSERT},     {112, KEY_LEFT_SHIFT}, {113, KEY_RIGHT_SHIFT},
        {114, KEY_LEFT_CTRL}, {115, KEY_RIGHT_CTRL}, {116, KEY_LEFT_ALT},   {117, KEY_RIGHT_ALT},
    };
    for (auto [glut, code] : mapping) {
        SCOPED_TRACE(glut);
        window_key_special(glut, true);
        EXPECT_EQ(key_is_held(code), 1);
        EXPECT_EQ(key_hit_next(), code);
        window_key_special(glut, false);
        EXPECT_EQ(key_is_held(code), 0);
        EXPECT_EQ(key_hit_next(), -code);
    }
    keys_reset(); // Insert left insert mode on
    // Num Lock (109), Begin (110), Delete (111) and unknown numbers are ignored.
    for (int glut : {0, 13, 99, 109, 110, 111, 118, 200}) {
        window_key_special(glut, true);
        EXPECT_TRUE(held_keys_snapshot().empty()) << glut;
        window_key_special(glut, false);
    }
    EXPECT_EQ(take_all(), NOTHING);
    EXPECT_EQ(key_hit_next(), 0);
}

TEST_F(SpecialKeyCallback, shift_f1) {
    window_key_special(112, true);
    window_key_special(1, true);
    window_key_special(1, false);
    window_key_special(112, false);
    EXPECT_EQ(take_all(), (Pairs{ext(84)}));
}

using MouseQueue = KeysTest;

std::vector<MouseMessage> take_mouse() {
    std::vector<MouseMessage> messages;
    MouseMessage message;
    while (mouse_message_next(message)) messages.push_back(message);
    return messages;
}

TEST_F(MouseQueue, buttons_accumulate_and_release) {
    window_mouse_button(0, 0, 10, 20); // left down
    window_mouse_button(2, 0, 11, 21); // right down
    window_mouse_motion(15, 25);       // drag
    window_mouse_button(0, 1, 16, 26); // left up
    window_mouse_motion(17, 27);       // passive motion keeps the right button
    window_mouse_button(2, 1, 18, 28);
    std::vector<MouseMessage> m = take_mouse();
    ASSERT_EQ(m.size(), 6u);
    EXPECT_EQ(m[0].x, 10);
    EXPECT_EQ(m[0].y, 20);
    EXPECT_EQ(m[0].buttons, 1u);
    EXPECT_EQ(m[1].buttons, 5u);
    EXPECT_EQ(m[2].buttons, 5u);
    EXPECT_EQ(m[2].x, 15);
    EXPECT_EQ(m[3].buttons, 4u);
    EXPECT_EQ(m[4].buttons, 4u);
    EXPECT_EQ(m[5].buttons, 0u);
    for (const MouseMessage& message : m) EXPECT_EQ(message.move_x | message.move_y, 0);
}

TEST_F(MouseQueue, wheel_is_a_press_and_release_of_button_4_or_5) {
    window_mouse_button(1, 0, 3, 4); // middle held
    window_mouse_wheel(0, 1, 5, 6);
    window_mouse_wheel(0, -2, 7, 8);
    window_mouse_wheel(0, 0, 9, 9); // no direction: nothing
    std::vector<MouseMessage> m = take_mouse();
    ASSERT_EQ(m.size(), 5u);
    EXPECT_EQ(m[1].buttons, 2u | 8u);
    EXPECT_EQ(m[2].buttons, 2u);
    EXPECT_EQ(m[3].buttons, 2u | 16u);
    EXPECT_EQ(m[3].x, 7);
    EXPECT_EQ(m[4].buttons, 2u);
}

TEST_F(MouseQueue, raw_packets_add_two_entries_at_the_newest_position) {
    window_mouse_button(0, 0, 100, 50);
    take_mouse();
    EXPECT_EQ(window_event_hook(3, 0, 0), 0); // no movement: nothing
    EXPECT_TRUE(take_mouse().empty());
    EXPECT_EQ(window_event_hook(3, 5, -3), 0);
    window_event_hook(3, 70000, -70000); // stored as 16-bit values
    std::vector<MouseMessage> m = take_mouse();
    ASSERT_EQ(m.size(), 4u);
    for (const MouseMessage& message : m) {
        EXPECT_EQ(message.x, 100);
        EXPECT_EQ(message.y, 50);
        EXPECT_EQ(message.buttons, 1u);
    }
    EXPECT_EQ(m[0].move_x, 5);
    EXPECT_EQ(m[0].move_y, -3);
    EXPECT_EQ(m[1].move_x, 0);
    EXPECT_EQ(m[1].move_y, 0);
    EXPECT_EQ(m[2].move_x, int16_t(70000 - 65536));
    EXPECT_EQ(m[2].move_y, int16_t(-70000 + 65536));
}

TEST_F(MouseQueue, a_full_queue_drops_its_oldest_entry) {
    const int total = int(MOUSE_QUEUE_ENTRIES) + 10;
    for (int i = 0; i < total; ++i) window_mouse_motion(i & 0x7FFF, i >> 15);
    std::vector<MouseMessage> m = take_mouse();
    ASSERT_EQ(m.size(), MOUSE_QUEUE_ENTRIES - 1);
    int first = total - int(MOUSE_QUEUE_ENTRIES - 1);
    EXPECT_EQ(m.front().x, first & 0x7FFF);
    EXPECT_EQ(m.front().y, first >> 15);
    EXPECT_EQ(m.back().x, (total - 1) & 0x7FFF);
    EXPECT_EQ(m.back().y, (total - 1) >> 15);
}

TEST_F(MouseQueue, buttons_outside_the_bit_set_are_ignored) {
    window_mouse_button(-1, 0, 1, 1);
    window_mouse_button(32, 0, 1, 1);
    EXPECT_TRUE(take_mouse().empty());
}

} // namespace
