#pragma once
// Hooks through which a family above the string engine takes part in the life of strings without
// the engine including it: a file-handle table binds string variables to a file's record buffer
// (BasicString::field_link) and must hear when such a string is freed, and it closes every open
// file when the program ends. Set once at start-up, before the program thread runs; null means
// nothing is bound and nothing is open. Program thread only.
#include <cstdint>

struct BasicString;

struct StrFileHooks {
    // A string with a non-null field_link is being freed: the table drops the binding before the
    // descriptor is reused.
    void (*field_release)(BasicString* s) = nullptr;
    // The program is ending (program_end): close every file and connection.
    void (*close_all)() = nullptr;
};

extern StrFileHooks str_file_hooks;

// Where the text of a printing statement goes: the screen now (screen_print_sink in
// runtime/screen/print.h), a file handle later, so that both share the statement frame's print
// forms. `put` prints the bytes of `s` (not freed) and ends the line when `end_line` is non-zero;
// `fit` starts a new line first when `s` would not fit on the current one; `zone` advances to the
// next print zone.
struct StrSink {
    void (*put)(void* context, BasicString* s, int32_t end_line) = nullptr;
    void (*fit)(void* context, BasicString* s) = nullptr;
    void (*zone)(void* context) = nullptr;
    void* context = nullptr;
};
