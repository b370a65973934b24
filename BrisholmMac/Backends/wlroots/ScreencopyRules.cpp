#include "Backends/wlroots/ScreencopyRules.hpp"

#include <wayland-client-protocol.h>

#include <algorithm>

#include "Capture/PixelBuffer.hpp"

namespace vantrel::wayland {

std::optional<ByteOrder> byteOrder(std::uint32_t wlShmFormat) {
    switch (wlShmFormat) {
        case WL_SHM_FORMAT_XRGB8888:
        case WL_SHM_FORMAT_ARGB8888: return ByteOrder::bgra;
        case WL_SHM_FORMAT_XBGR8888:
        case WL_SHM_FORMAT_ABGR8888: return ByteOrder::rgba;
        default: return std::nullopt;
    }
}

std::optional<ShmOffer> chooseOffer(const std::vector<ShmOffer>& offers) {
    const auto usable = [](const ShmOffer& offer, ByteOrder order) {
        return byteOrder(offer.format) == order && offer.width >= 1 && offer.height >= 1 &&
               offer.width <= PixelBuffer::maxDimension && offer.height <= PixelBuffer::maxDimension &&
               offer.stride >= static_cast<std::uint32_t>(offer.width) * 4;
    };
    for (const auto order : {ByteOrder::bgra, ByteOrder::rgba}) {
        const auto found =
            std::find_if(offers.begin(), offers.end(), [&](const ShmOffer& offer) { return usable(offer, order); });
        if (found != offers.end()) {
            return *found;
        }
    }
    return std::nullopt;
}

PixelBox clippedDamage(std::uint32_t x, std::uint32_t y, std::uint32_t width, std::uint32_t height,
                       std::int32_t bufferWidth, std::int32_t bufferHeight) {
    // In 64 bits: a compositor may send any unsigned values, and x + width must not wrap.
    const auto right = std::min<std::int64_t>(std::int64_t{x} + width, bufferWidth);
    const auto bottom = std::min<std::int64_t>(std::int64_t{y} + height, bufferHeight);
    if (right <= std::int64_t{x} || bottom <= std::int64_t{y}) {
        return {};
    }
    return {static_cast<std::int32_t>(x), static_cast<std::int32_t>(y), static_cast<std::int32_t>(right - x),
            static_cast<std::int32_t>(bottom - y)};
}

std::optional<std::uint32_t> outputShowing(const std::vector<OutputFacts>& outputs, const Rect& area) {
    std::optional<std::uint32_t> best;
    double bestOverlap = 0;
    for (const auto& output : outputs) {
        if (output.logical == area) {
            return output.id;
        }
        const auto overlap = output.logical.intersection(area);
        const double size = overlap.width * overlap.height;
        if (!overlap.isEmpty() && size > bestOverlap) {
            bestOverlap = size;
            best = output.id;
        }
    }
    return best;
}

}  // namespace vantrel::wayland
