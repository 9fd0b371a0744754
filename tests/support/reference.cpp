#include "support/reference.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "support/png.h"

std::string reference_data_dir() {
    if (const char* dir = std::getenv("UNVEILO_TEST_DATA_DIR")) return std::string(dir) + "/";
    // The build names the folder: __FILE__ is no guide, since the compiler cache may make it
    // relative to the build folder, and the tests run from other folders.
    return std::string(UNVEILO_TEST_DATA_SOURCE) + "/";
}

void expect_matches_reference(const DisplayFrame& frame, const std::string& name) {
    PngImage actual;
    actual.width = frame.width;
    actual.height = frame.height;
    actual.pixels.assign(frame.pixels, frame.pixels + size_t(frame.width) * size_t(frame.height));
    std::string reference_path = reference_data_dir() + name + ".png";
    const char* update = std::getenv("UNVEILO_UPDATE_REFERENCES");
    if (update != nullptr && std::strcmp(update, "1") == 0) {
        ASSERT_TRUE(png_write(reference_path, actual)) << reference_path;
        std::fprintf(stderr, "[reference] wrote %s\n", reference_path.c_str());
        return;
    }
    PngImage expected;
    bool loaded = png_read(reference_path, expected);
    size_t differing = 0, first = 0;
    if (loaded && expected.width == actual.width && expected.height == actual.height) {
        for (size_t i = actual.pixels.size(); i-- > 0;)
            if (actual.pixels[i] != expected.pixels[i]) {
                ++differing;
                first = i;
            }
        if (differing == 0) return;
    }
    std::string actual_path = reference_data_dir() + name + ".actual.png";
    png_write(actual_path, actual);
    if (!loaded) {
        ADD_FAILURE() << "no readable reference " << reference_path << "; frame written to "
                      << actual_path << " (UNVEILO_UPDATE_REFERENCES=1 creates the reference)";
    } else if (expected.width != actual.width || expected.height != actual.height) {
        ADD_FAILURE() << name << ": reference is " << expected.width << "x" << expected.height
                      << ", frame " << actual.width << "x" << actual.height << "; see "
                      << actual_path;
    } else {
        ADD_FAILURE() << name << ": " << differing << " pixels differ, first at ("
                      << first % size_t(actual.width) << ", " << first / size_t(actual.width)
                      << "); see " << actual_path;
    }
}
