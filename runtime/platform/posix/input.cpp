// POSIX back end of the keyboard-state query, answered by the X server's keyboard extension on a
// connection of our own. libX11 is loaded when first needed rather than linked, so that the
// run-time and its tests start on machines without X libraries; without a display every lock is
// off and no key is down.
#include "runtime/platform/platform.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>
#include <dlfcn.h>

#include <mutex>

namespace {

struct XKeyboard {
    bool tried = false;
    Display* display = nullptr;
    Bool (*get_named_indicator)(Display*, Atom, int*, Bool*, XkbIndicatorMapPtr, Bool*) = nullptr;
    Status (*get_indicator_state)(Display*, unsigned, unsigned*) = nullptr;
    int (*query_keymap)(Display*, char*) = nullptr;
    Bool (*select_events)(Display*, unsigned, unsigned long, unsigned long) = nullptr;
    Bool (*query_extension)(Display*, int*, int*, int*, int*, int*) = nullptr;
    int (*pending)(Display*) = nullptr;
    int (*next_event)(Display*, XEvent*) = nullptr;
    // The indicator state as the server last announced it. Asking for it on every poll would be a
    // round trip, and the wait for the answer a wake-up of the polling thread each time; the
    // server sends an event when it changes instead. -1 until the first answer.
    int xkb_event_base = -1;
    long indicators = -1;
    Atom scroll_lock = 0, caps_lock = 0, num_lock = 0;
    unsigned scroll_lock_bit = 0, caps_lock_bit = 0, num_lock_bit = 0;
    // Key codes of the keys reported as down; 0 when the keymap has no such key.
    ::KeyCode scroll_lock_key = 0, left_shift = 0, right_shift = 0, left_ctrl = 0, right_ctrl = 0,
              left_alt = 0, right_alt = 0;
};

// Start-up and the display thread both ask; one connection is used by one caller at a time.
std::mutex keyboard_mutex;
XKeyboard keyboard;

template <typename Function> bool load(void* library, const char* name, Function& function) {
    function = reinterpret_cast<Function>(dlsym(library, name));
    return function != nullptr;
}

// The indicator's bit in the XKB indicator state, 0 when the keymap has no such indicator.
unsigned indicator_bit(Display* display, Atom name) {
    int index = -1;
    if (!keyboard.get_named_indicator(display, name, &index, nullptr, nullptr, nullptr) ||
        index < 0 || index > 31)
        return 0;
    return 1u << index;
}

void connect() {
    keyboard.tried = true;
    void* library = dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
    if (!library) return;
    Display* (*open_display)(const char*) = nullptr;
    Atom (*intern_atom)(Display*, const char*, Bool) = nullptr;
    ::KeyCode (*keysym_to_keycode)(Display*, KeySym) = nullptr;
    if (!load(library, "XOpenDisplay", open_display) ||
        !load(library, "XInternAtom", intern_atom) ||
        !load(library, "XKeysymToKeycode", keysym_to_keycode) ||
        !load(library, "XkbGetNamedIndicator", keyboard.get_named_indicator) ||
        !load(library, "XkbGetIndicatorState", keyboard.get_indicator_state) ||
        !load(library, "XQueryKeymap", keyboard.query_keymap) ||
        !load(library, "XkbSelectEvents", keyboard.select_events) ||
        !load(library, "XkbQueryExtension", keyboard.query_extension) ||
        !load(library, "XPending", keyboard.pending) ||
        !load(library, "XNextEvent", keyboard.next_event)) {
        return;
    }
    Display* display = open_display(nullptr);
    if (!display) return;
    int opcode = 0, event_base = 0, error_base = 0, major = XkbMajorVersion,
        minor = XkbMinorVersion;
    if (keyboard.query_extension(display, &opcode, &event_base, &error_base, &major, &minor) &&
        keyboard.select_events(display, XkbUseCoreKbd, XkbIndicatorStateNotifyMask,
                               XkbIndicatorStateNotifyMask))
        keyboard.xkb_event_base = event_base;
    // The indicators are looked up by the names every XKB keymap gives them, since their
    // numbers differ between keymaps.
    keyboard.scroll_lock = intern_atom(display, "Scroll Lock", False);
    keyboard.caps_lock = intern_atom(display, "Caps Lock", False);
    keyboard.num_lock = intern_atom(display, "Num Lock", False);
    // Their bit numbers are looked up once; the poll then reads all indicators in one request.
    keyboard.scroll_lock_bit = indicator_bit(display, keyboard.scroll_lock);
    keyboard.caps_lock_bit = indicator_bit(display, keyboard.caps_lock);
    keyboard.num_lock_bit = indicator_bit(display, keyboard.num_lock);
    keyboard.scroll_lock_key = keysym_to_keycode(display, XK_Scroll_Lock);
    keyboard.left_shift = keysym_to_keycode(display, XK_Shift_L);
    keyboard.right_shift = keysym_to_keycode(display, XK_Shift_R);
    keyboard.left_ctrl = keysym_to_keycode(display, XK_Control_L);
    keyboard.right_ctrl = keysym_to_keycode(display, XK_Control_R);
    keyboard.left_alt = keysym_to_keycode(display, XK_Alt_L);
    keyboard.right_alt = keysym_to_keycode(display, XK_Alt_R);
    keyboard.display = display;
}

bool is_down(const char keys[32], ::KeyCode key) {
    return key != 0 && (keys[key / 8] & (1 << (key % 8))) != 0;
}

} // namespace

uint32_t platform_lock_key_state(bool with_held_keys) {
    std::lock_guard<std::mutex> lock(keyboard_mutex);
    if (!keyboard.tried) connect();
    if (!keyboard.display) return 0;

    uint32_t state = 0;
    unsigned indicators = 0;
    if (keyboard.xkb_event_base >= 0 && keyboard.indicators >= 0) {
        // Only what has arrived already: XPending reads without blocking.
        while (keyboard.pending(keyboard.display) > 0) {
            XEvent event{};
            keyboard.next_event(keyboard.display, &event);
            const auto& xkb = reinterpret_cast<const XkbEvent&>(event);
            if (event.type == keyboard.xkb_event_base &&
                xkb.any.xkb_type == XkbIndicatorStateNotify)
                keyboard.indicators = long(xkb.indicators.state);
        }
        indicators = unsigned(keyboard.indicators);
    } else if (keyboard.get_indicator_state(keyboard.display, XkbUseCoreKbd, &indicators) ==
               Success) {
        // Asked once; from here on the events keep it current (selected before this answer,
        // so no change falls between the two).
        if (keyboard.xkb_event_base >= 0) keyboard.indicators = long(indicators);
    } else {
        indicators = 0;
    }
    if (indicators & keyboard.scroll_lock_bit) state |= KEYBOARD_SCROLL_LOCK_ON;
    if (indicators & keyboard.caps_lock_bit) state |= KEYBOARD_CAPS_LOCK_ON;
    if (indicators & keyboard.num_lock_bit) state |= KEYBOARD_NUM_LOCK_ON;
    if (!with_held_keys) return state;

    char keys[32] = {};
    keyboard.query_keymap(keyboard.display, keys);
    const struct {
        ::KeyCode key;
        uint32_t bit;
    } held[] = {
        {keyboard.scroll_lock_key, KEYBOARD_SCROLL_LOCK_DOWN},
        {keyboard.left_shift, KEYBOARD_LEFT_SHIFT_DOWN},
        {keyboard.right_shift, KEYBOARD_RIGHT_SHIFT_DOWN},
        {keyboard.left_ctrl, KEYBOARD_LEFT_CTRL_DOWN},
        {keyboard.right_ctrl, KEYBOARD_RIGHT_CTRL_DOWN},
        {keyboard.left_alt, KEYBOARD_LEFT_ALT_DOWN},
        {keyboard.right_alt, KEYBOARD_RIGHT_ALT_DOWN},
    };
    for (const auto& key : held) {
        if (is_down(keys, key.key)) state |= key.bit;
    }
    return state;
}
