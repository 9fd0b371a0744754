#pragma once
// A field shared between the program thread (its only writer) and a reader on another thread that
// needs no ordering beyond the field itself.
#include <atomic>

// A relaxed atomic that converts to and from its value and copies by value, so that records can
// still be zeroed, copied and compared like plain data. Only one thread stores; a
// read-modify-write is therefore a load and a store.
template <typename T> class Relaxed {
  public:
    Relaxed() noexcept : value_(T{}) {}
    Relaxed(T value) noexcept : value_(value) {}
    Relaxed(const Relaxed& other) noexcept : value_(other.load()) {}
    Relaxed& operator=(const Relaxed& other) noexcept {
        store(other.load());
        return *this;
    }
    Relaxed& operator=(T value) noexcept {
        store(value);
        return *this;
    }
    operator T() const noexcept { return load(); }
    T load() const noexcept { return value_.load(std::memory_order_relaxed); }
    void store(T value) noexcept { value_.store(value, std::memory_order_relaxed); }

  private:
    std::atomic<T> value_;
};
