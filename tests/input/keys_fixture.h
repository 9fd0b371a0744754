#pragma once
// What the key-layer tests and the window-input tests share: a fixture that starts the key layer
// from a known state over a fake system keyboard, and short ways to type and to read back what
// the BIOS buffer, the flag bytes and the transition ring hold.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <utility>
#include <vector>

#include "runtime/base/run_state.h"
#include "runtime/display/window_input.h"
#include "runtime/input/detail.h"
#include "runtime/input/keys.h"
#include "runtime/memory/conv.h"
#include "runtime/strings/str.h"

namespace {

using Pair = std::pair<int, int>; // (character, scan code) as the BIOS buffer holds it
using Pairs = std::vector<Pair>;

// The keyboard state the fake operating system reports to start-up and the lock-key poll.
std::atomic<uint32_t> fake_keyboard{0};
uint32_t fake_keyboard_state() {
    return fake_keyboard.load();
}

class KeysTest : public ::testing::Test {
  protected:
    void SetUp() override {
        run_state_reset();
        conv_memory_init();
        str_engine_reset();
        keys_reset();
        fake_keyboard.store(0);
        keys_set_keyboard_state_source(fake_keyboard_state);
    }

    // Everything in the BIOS buffer, oldest first; empties it.
    static Pairs take_all() {
        Pairs pairs;
        uint8_t character = 0, scan_code = 0;
        while (bios_key_buffer_take(character, scan_code)) pairs.emplace_back(character, scan_code);
        return pairs;
    }
    // What one press (and release) of `code` buffers while `modifiers` are held.
    static Pairs typed(KeyCode code, std::vector<KeyCode> modifiers = {}) {
        for (KeyCode modifier : modifiers) key_down(modifier);
        key_down(code);
        key_up(code);
        for (KeyCode modifier : modifiers) key_up(modifier);
        return take_all();
    }
    static Pairs typed_char(unsigned char key, int glut_modifiers, std::vector<KeyCode> held = {}) {
        for (KeyCode modifier : held) key_down(modifier);
        window_key_char(key, glut_modifiers, true);
        window_key_char(key, glut_modifiers, false);
        for (KeyCode modifier : held) key_up(modifier);
        return take_all();
    }
    static uint8_t flags1() { return conv_load8(BIOS_KEYBOARD_FLAGS_1); }
    static uint8_t flags2() { return conv_load8(BIOS_KEYBOARD_FLAGS_2); }
    static uint8_t flags3() { return conv_load8(BIOS_KEYBOARD_FLAGS_3); }
    static std::vector<KeyHit> ring() {
        std::vector<KeyHit> hits;
        KeyHit hit;
        while (key_hit_next_entry(hit)) hits.push_back(hit);
        return hits;
    }
};

const std::vector<KeyCode> SHIFT = {KEY_LEFT_SHIFT};
const std::vector<KeyCode> CTRL = {KEY_LEFT_CTRL};
const std::vector<KeyCode> ALT = {KEY_LEFT_ALT};
const Pairs NOTHING = {};

Pair ext(int scan_code) {
    return {0, scan_code};
}

} // namespace
