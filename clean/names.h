#pragma once
// What a name on the stick says by itself: its extension, whether it shows as nothing (the
// virus's hiding folder), and how to show it to a person without letting it fool them.
#include <string>
#include <string_view>

// The extension as Windows takes it: from the last dot on, lower-case ASCII (".lnk"); empty
// when the name has no dot after its first character.
std::string name_extension(std::string_view name);
// The name without that extension ("Photos.lnk" -> "Photos", "CV.docx.lnk" -> "CV.docx").
std::string_view name_stem(std::string_view name);

// True for a name made only of characters that draw as nothing: spaces of every width, the
// no-break space, zero-width and direction marks, fillers (U+3164, U+FFA0, U+115F, U+1160),
// the Braille blank and their kind. Such a folder in the root is where a shortcut virus hides
// what it took away.
bool name_is_blank(std::string_view name);

// Scripts that Windows Script Host runs on a double-click.
bool name_is_script(std::string_view name);
// Programs Windows starts on a double-click.
bool name_is_program(std::string_view name);
// Anything that runs code when opened or handed to a host: programs, scripts, HTML
// applications, installer packages, libraries and control-panel items.
bool name_is_runnable(std::string_view name);

// The name as a message shows it: characters that draw as nothing, control characters and the
// direction overrides that can make "photo<U+202E>gpj.exe" read as a picture are written as
// [U+XXXX]; bytes that are not UTF-8 as [XX].
std::string name_shown(std::string_view name);
