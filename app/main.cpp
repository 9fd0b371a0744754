// Placeholder entry until the window and the recovery program exist.
#include <cstdio>

int main() {
    std::fputs("unveilo: the text window is not built yet\n", stderr);
    return 0;
}
