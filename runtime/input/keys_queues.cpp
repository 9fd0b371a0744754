// The transition ring (8192 raw presses and releases; a full ring loses its oldest), the
// scan-code queue (256 bytes; a repeat of the newest byte is kept once) and the releases that a
// consumed press suppresses. All under key_lock.
#include <algorithm>

#include "runtime/input/key_layer.h"

namespace key_layer_internal {

void ring_put(int32_t value, int32_t keypad) {
    uint32_t next = (keys.ring_write + 1) & KEY_HIT_MASK;
    if (next == keys.ring_read) keys.ring_read = (keys.ring_read + 1) & KEY_HIT_MASK;
    keys.ring[keys.ring_write] = {value, keypad};
    keys.ring_write = next;
}

void scan_code_put(uint8_t byte) {
    // A key that repeats sends its make code again; the queue keeps one.
    if (keys.scan_count > 0 && keys.scan_queue[size_t(keys.scan_count - 1)] == byte) return;
    if (keys.scan_count == SCAN_CODE_QUEUE_BYTES) {
        std::copy(keys.scan_queue.begin() + 1, keys.scan_queue.end(), keys.scan_queue.begin());
        --keys.scan_count;
    }
    keys.scan_queue[size_t(keys.scan_count++)] = byte;
}

void suppress_release(KeyCode code) {
    for (int32_t i = 0; i <= keys.suppress_top; ++i) {
        if (keys.suppress[size_t(i)] == 0) {
            keys.suppress[size_t(i)] = code;
            return;
        }
    }
    if (keys.suppress_top < RELEASE_SUPPRESS_ENTRIES - 1)
        keys.suppress[size_t(++keys.suppress_top)] = code;
}

bool take_suppressed(KeyCode code) {
    for (int32_t i = 0; i <= keys.suppress_top; ++i) {
        if (keys.suppress[size_t(i)] == code) {
            keys.suppress[size_t(i)] = 0;
            return true;
        }
    }
    return false;
}

} // namespace key_layer_internal

using namespace key_layer_internal;

int32_t key_hit_next() {
    KeyHit hit;
    return key_hit_next_entry(hit) ? hit.value : 0;
}

bool key_hit_next_entry(KeyHit& hit) {
    std::lock_guard<std::mutex> guard(key_lock);
    if (keys.ring_read == keys.ring_write) return false;
    hit = keys.ring[keys.ring_read];
    keys.ring_read = (keys.ring_read + 1) & KEY_HIT_MASK;
    return true;
}

int32_t scan_code_next() {
    std::lock_guard<std::mutex> guard(key_lock);
    if (keys.scan_count == 0) return -1;
    int32_t oldest = keys.scan_queue[0];
    std::copy(keys.scan_queue.begin() + 1, keys.scan_queue.begin() + keys.scan_count,
              keys.scan_queue.begin());
    --keys.scan_count;
    return oldest;
}

std::vector<uint8_t> scan_code_queue_snapshot() {
    std::lock_guard<std::mutex> guard(key_lock);
    return {keys.scan_queue.begin(), keys.scan_queue.begin() + keys.scan_count};
}

std::vector<KeyCode> release_suppress_snapshot() {
    std::lock_guard<std::mutex> guard(key_lock);
    return {keys.suppress.begin(), keys.suppress.begin() + (keys.suppress_top + 1)};
}
