// Thousands of random statements checked against a std::string model, with every engine
// invariant audited after each statement. Seeds are fixed so that a failure reproduces.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "runtime/base/run_state.h"
#include "runtime/memory/conv.h"
#include "strings/str_model.h"

namespace {

std::string run_seed(uint32_t seed, const StrLimits& limits, int statements) {
    run_state_reset();
    conv_memory_init();
    str_engine_reset(limits);
    std::mt19937 random(seed);
    std::vector<uint8_t> bytes(size_t(statements) * 64);
    for (uint8_t& b : bytes) b = uint8_t(random());
    str_model::ByteSource source{bytes.data(), bytes.size(), 0};
    str_model::Interpreter interpreter(source);
    std::string failure = interpreter.run(statements);
    EXPECT_GE(interpreter.statements(), statements / 2) << "the byte source ran dry too early";
    return failure;
}

TEST(str_property, engine_matches_model_with_default_limits) {
    for (uint32_t seed = 1; seed <= 20; ++seed)
        ASSERT_EQ(run_seed(seed, StrLimits{}, 400), "") << "seed " << seed;
}

TEST(str_property, engine_matches_model_with_tiny_limits) {
    for (uint32_t seed = 100; seed < 120; ++seed)
        ASSERT_EQ(run_seed(seed, str_model::tiny_limits(), 400), "") << "seed " << seed;
}

TEST(str_property, heap_stays_bounded_over_a_long_run) {
    // Abandoned data must be reclaimed: a long run over a small heap may grow it, but never
    // without bound.
    ASSERT_EQ(run_seed(7, str_model::tiny_limits(), 3000), "");
    EXPECT_LT(str_engine.heap_size, 4u * 1024 * 1024);
}

} // namespace
