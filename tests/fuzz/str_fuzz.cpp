// libFuzzer entry: the fuzzer's bytes steer the differential interpreter; any difference from
// the model or any broken invariant aborts with the description.
#include <cstdio>
#include <cstdlib>

#include "runtime/base/run_state.h"
#include "runtime/memory/conv.h"
#include "strings/str_model.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    run_state_reset();
    conv_memory_init();
    str_engine_reset(str_model::tiny_limits());
    str_model::ByteSource source{data, size, 0};
    str_model::Interpreter interpreter(source);
    std::string failure = interpreter.run(1000);
    if (!failure.empty()) {
        std::fprintf(stderr, "model difference: %s\n", failure.c_str());
        std::abort();
    }
    return 0;
}
