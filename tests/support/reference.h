#pragma once
// Whole-frame reference images of the composer tests, stored as PNG under tests/data/.
#include <string>

#include "runtime/display/compose.h"

// The folder of the reference images, with a trailing separator: UNVEILO_TEST_DATA_DIR when set,
// else tests/data/ of the source tree.
std::string reference_data_dir();
// Compares `frame` with tests/data/<name>.png exactly (a gtest failure otherwise). On a mismatch
// the frame is written beside the reference as <name>.actual.png. UNVEILO_UPDATE_REFERENCES=1
// rewrites the reference instead.
void expect_matches_reference(const DisplayFrame& frame, const std::string& name);
