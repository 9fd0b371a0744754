#pragma once
// A read position in a span of bytes from outside (a shortcut, a shell item), with every read
// checked against the end. The first read that does not fit sets a failure that stays set: later
// reads return zero or an empty span and do not move, so a reader may read a whole structure and
// check ok() once before it trusts any of the values. Integers are little-endian whatever the
// host's byte order, as every structure read through it stores them.
#include <cstddef>
#include <cstdint>
#include <span>

class ByteCursor {
  public:
    ByteCursor() = default;
    explicit ByteCursor(std::span<const uint8_t> bytes) : bytes_(bytes) {}

    bool ok() const { return !failed_; }
    size_t size() const { return bytes_.size(); }
    size_t position() const { return position_; }
    size_t remaining() const { return bytes_.size() - position_; }
    bool at_end() const { return position_ == bytes_.size(); }

    uint8_t u8() { return uint8_t(read_le(1)); }
    uint16_t u16() { return uint16_t(read_le(2)); }
    uint32_t u32() { return uint32_t(read_le(4)); }
    uint64_t u64() { return read_le(8); }
    int32_t i32() { return int32_t(u32()); }

    // The next `count` bytes, consumed.
    std::span<const uint8_t> take(size_t count) {
        if (!fits(count)) return {};
        const std::span<const uint8_t> taken = bytes_.subspan(position_, count);
        position_ += count;
        return taken;
    }
    void skip(size_t count) { take(count); }

    // Moves to an absolute offset; the end itself is a valid position.
    void seek(size_t offset) {
        if (failed_ || offset > bytes_.size()) {
            failed_ = true;
            return;
        }
        position_ = offset;
    }

    // A cursor of its own over `length` bytes from `offset` (absolute), failed from the start
    // when they are not all inside this one. This cursor does not move.
    ByteCursor window(size_t offset, size_t length) const {
        ByteCursor inner;
        if (failed_ || offset > bytes_.size() || length > bytes_.size() - offset) {
            inner.failed_ = true;
            return inner;
        }
        inner.bytes_ = bytes_.subspan(offset, length);
        return inner;
    }

    // Bytes up to a NUL byte, which is consumed but not returned. Fails when no NUL follows.
    std::span<const uint8_t> until_nul8() {
        if (failed_) return {};
        for (size_t i = position_; i < bytes_.size(); ++i) {
            if (bytes_[i] == 0) {
                const std::span<const uint8_t> text = bytes_.subspan(position_, i - position_);
                position_ = i + 1;
                return text;
            }
        }
        failed_ = true;
        return {};
    }

    // Whole 16-bit units up to a zero unit, which is consumed but not returned. Fails when no
    // zero unit follows.
    std::span<const uint8_t> until_nul16() {
        if (failed_) return {};
        for (size_t i = position_; bytes_.size() - i >= 2; i += 2) {
            if (bytes_[i] == 0 && bytes_[i + 1] == 0) {
                const std::span<const uint8_t> text = bytes_.subspan(position_, i - position_);
                position_ = i + 2;
                return text;
            }
        }
        failed_ = true;
        return {};
    }

  private:
    bool fits(size_t count) {
        if (failed_ || count > bytes_.size() - position_) {
            failed_ = true;
            return false;
        }
        return true;
    }

    uint64_t read_le(size_t count) {
        if (!fits(count)) return 0;
        uint64_t value = 0;
        for (size_t i = 0; i < count; ++i) value |= uint64_t(bytes_[position_ + i]) << (8 * i);
        position_ += count;
        return value;
    }

    std::span<const uint8_t> bytes_;
    size_t position_ = 0;
    bool failed_ = false;
};
