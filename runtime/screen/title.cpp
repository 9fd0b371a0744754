#include "runtime/screen/title.h"

#include "runtime/base/control.h"
#include "runtime/base/error.h"
#include "runtime/base/run_state.h"

TitleState title_state;

namespace {

constexpr char UNTITLED[] = "Untitled";

// `target` becomes the bytes of `s` followed by a zero byte, so that its chars can be handed on
// as a zero-terminated text. A temporary `s` is consumed by str_add.
void store_terminated(BasicString*& target, BasicString* s) {
    TitleState& st = title_state;
    if (target == nullptr) target = str_new(0, false);
    if (st.title_terminator == nullptr) {
        st.title_terminator = str_new(1, false);
        st.title_terminator->chars[0] = 0;
    }
    str_set(target, str_add(s, st.title_terminator));
}

void request_visibility(bool hidden) {
    TitleState& st = title_state;
    window_hidden.store(hidden ? 1 : 0, std::memory_order_relaxed);
    // The request count makes every statement a new request, even one that repeats the state.
    uint32_t count = (st.visibility_request.load(std::memory_order_relaxed) >> 1) + 1;
    st.visibility_request.store(count << 1 | (hidden ? 1u : 0u), std::memory_order_relaxed);
}

} // namespace

void title_reset() {
    TitleState& st = title_state;
    st.window_title = nullptr;
    st.title_terminator = nullptr;
    st.console_title_text = nullptr;
    st.console_enabled = 0;
    st.console_shown = 1;
    st.console_owned = 0;
    st.console_image = -1;
    {
        std::lock_guard<std::mutex> guard(st.title_mutex);
        st.title_text.clear();
        st.title_generation.store(0, std::memory_order_relaxed);
    }
    st.title_taken = 0;
    st.visibility_request.store(0, std::memory_order_relaxed);
    st.visibility_taken = 0;
}

void set_window_title(BasicString* s) {
    if (error_pending()) return;
    TitleState& st = title_state;
    store_terminated(st.window_title, s);
    std::lock_guard<std::mutex> guard(st.title_mutex);
    st.title_text.assign(reinterpret_cast<const char*>(st.window_title->chars));
    st.title_generation.store(st.title_generation.load(std::memory_order_relaxed) + 1,
                              std::memory_order_relaxed);
}

std::string title_for_window_creation() {
    TitleState& st = title_state;
    std::lock_guard<std::mutex> guard(st.title_mutex);
    st.title_taken = st.title_generation.load(std::memory_order_relaxed);
    return st.title_taken == 0 ? std::string(UNTITLED) : st.title_text;
}

bool title_take_pending(std::string& title) {
    TitleState& st = title_state;
    if (st.title_generation.load(std::memory_order_relaxed) == st.title_taken) return false;
    std::lock_guard<std::mutex> guard(st.title_mutex);
    st.title_taken = st.title_generation.load(std::memory_order_relaxed);
    title = st.title_text;
    return true;
}

bool screen_visibility_take_pending(bool& hidden) {
    TitleState& st = title_state;
    uint32_t request = st.visibility_request.load(std::memory_order_relaxed);
    if (request == st.visibility_taken) return false;
    st.visibility_taken = request;
    hidden = (request & 1) != 0;
    return true;
}

int32_t console_handle() {
    return error_pending() ? -1 : title_state.console_image;
}

// Only a program with a console of its own has one to show or hide; the native calls live
// with such a console, which this run-time never creates.
void console_show(int32_t on) {
    TitleState& st = title_state;
    if (!st.console_enabled) return;
    if (on == 1 && !st.console_shown) st.console_shown = 1;
    if (on != 1 && st.console_shown) st.console_shown = 0;
}

void console_set_title(BasicString* s) {
    if (error_pending()) return;
    store_terminated(title_state.console_title_text, s);
}

void screen_show() {
    request_visibility(false);
}

void screen_hide() {
    request_visibility(true);
}
