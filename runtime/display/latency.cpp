#include "runtime/display/latency.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "runtime/platform/platform.h"

namespace {

// One measurement in flight at a time: each stage is entered by the thread named and moves the
// state on with a compare-exchange, so a key that arrives mid-measurement is simply not measured.
enum Stage : int32_t { IDLE, KEY_SEEN, ECHOED, CLAIMED, PUBLISHED };

struct LatencyProbe {
    std::FILE* log = nullptr;
    std::atomic<int32_t> stage{IDLE};
    std::atomic<int64_t> key_ms{0};
    std::atomic<int32_t> slot{0};
};

LatencyProbe* probe() {
    // Opened once, on whichever thread asks first; the function-local static makes that safe.
    static LatencyProbe* instance = [] {
        const char* path = std::getenv("UNVEILO_LATENCY_LOG");
        if (!path || !*path) return static_cast<LatencyProbe*>(nullptr);
        auto* p = new LatencyProbe;
        p->log = std::fopen(path, "a");
        return p->log ? p : nullptr;
    }();
    return instance;
}

bool advance(LatencyProbe* p, int32_t from, int32_t to) {
    int32_t expected = from;
    return p->stage.compare_exchange_strong(expected, to);
}

} // namespace

void latency_key_event() {
    LatencyProbe* p = probe();
    if (!p || p->stage.load() != IDLE) return;
    p->key_ms.store(platform_clock_ms());
    advance(p, IDLE, KEY_SEEN);
}

void latency_echo_done() {
    if (LatencyProbe* p = probe()) advance(p, KEY_SEEN, ECHOED);
}

void latency_compose_begin() {
    if (LatencyProbe* p = probe()) advance(p, ECHOED, CLAIMED);
}

void latency_frame_published(int32_t slot) {
    LatencyProbe* p = probe();
    if (!p || p->stage.load() != CLAIMED) return;
    p->slot.store(slot);
    advance(p, CLAIMED, PUBLISHED);
}

void latency_frame_presented(int32_t slot) {
    LatencyProbe* p = probe();
    if (!p || p->stage.load() != PUBLISHED || p->slot.load() != slot) return;
    std::fprintf(p->log, "%lld\n", static_cast<long long>(platform_clock_ms() - p->key_ms.load()));
    std::fflush(p->log);
    p->stage.store(IDLE);
}
