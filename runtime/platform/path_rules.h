#pragma once
// Where the directory part of the executable's path ends. Both back ends cut their own path with
// it (the Windows one in UTF-16, so that no character is lost to the ANSI code page), and the
// tests check it on every platform.
#include <cstddef>
#include <string_view>

// The length of `path`'s directory part: up to its last '\' or '/', or up to and including its
// last ':', so that "X:" of a bare drive path stays; the whole length when there is none.
template <typename Char> size_t platform_directory_length(const Char* path, size_t length) {
    for (size_t i = length; i-- > 0;) {
        if (path[i] == Char('\\') || path[i] == Char('/')) return i;
        if (path[i] == Char(':')) return i + 1;
    }
    return length;
}

// Whether `name` matches `pattern`, where * stands for any run of bytes and ? for one, as
// FindFirstFile matches a long name; `same(a, b)` says whether two bytes match (a case-blind
// caller compares folded letters). Greedy with one back-tracking point: linear in practice,
// quadratic at worst. The star is tested first: a POSIX name may itself hold a "*", which must
// not pair with it.
template <typename Same>
bool platform_wildcard_match(std::string_view pattern, std::string_view name, Same same) {
    size_t p = 0, n = 0, star = std::string_view::npos, resume = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = n;
        } else if (p < pattern.size() && (pattern[p] == '?' || same(pattern[p], name[n]))) {
            ++p;
            ++n;
        } else if (star != std::string_view::npos) {
            p = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}
