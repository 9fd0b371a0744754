#pragma once
// Where the directory part of the executable's path ends. Both back ends cut their own path with
// it (the Windows one in UTF-16, so that no character is lost to the ANSI code page), and the
// tests check it on every platform.
#include <cstddef>

// The length of `path`'s directory part: up to its last '\' or '/', or up to and including its
// last ':', so that "X:" of a bare drive path stays; the whole length when there is none.
template <typename Char> size_t platform_directory_length(const Char* path, size_t length) {
    for (size_t i = length; i-- > 0;) {
        if (path[i] == Char('\\') || path[i] == Char('/')) return i;
        if (path[i] == Char(':')) return i + 1;
    }
    return length;
}
