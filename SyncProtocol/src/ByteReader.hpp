#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "vantrel/Bytes.hpp"

namespace vantrel {

// A big-endian cursor over one received body, used by one reader at a time. Every read checks
// first that enough bytes remain; a read that cannot be satisfied gives no value and leaves the
// cursor where it was, so a body that is too short can never be read past its end.
class ByteReader {
public:
    explicit ByteReader(ByteView data) : data_(data) {}

    [[nodiscard]] std::size_t offset() const { return offset_; }
    [[nodiscard]] std::size_t remaining() const { return data_.size() - offset_; }

    [[nodiscard]] std::optional<std::uint8_t> u8() {
        if (remaining() < 1) {
            return std::nullopt;
        }
        return data_[offset_++];
    }

    [[nodiscard]] std::optional<std::uint16_t> u16() {
        if (remaining() < 2) {
            return std::nullopt;
        }
        const auto value = static_cast<std::uint16_t>((data_[offset_] << 8) | data_[offset_ + 1]);
        offset_ += 2;
        return value;
    }

    [[nodiscard]] std::optional<std::uint64_t> u64() {
        if (remaining() < 8) {
            return std::nullopt;
        }
        std::uint64_t value = 0;
        for (std::size_t i = 0; i < 8; ++i) {
            value = (value << 8) | data_[offset_ + i];
        }
        offset_ += 8;
        return value;
    }

    // A copy of the next count bytes.
    [[nodiscard]] std::optional<Bytes> bytes(std::size_t count) {
        if (remaining() < count) {
            return std::nullopt;
        }
        const auto first = data_.begin() + static_cast<std::ptrdiff_t>(offset_);
        Bytes copy(first, first + static_cast<std::ptrdiff_t>(count));
        offset_ += count;
        return copy;
    }

    // A copy of everything not yet read, possibly nothing; the cursor moves to the end.
    [[nodiscard]] Bytes rest() {
        Bytes copy(data_.begin() + static_cast<std::ptrdiff_t>(offset_), data_.end());
        offset_ = data_.size();
        return copy;
    }

private:
    ByteView data_;
    std::size_t offset_ = 0;
};

}  // namespace vantrel
