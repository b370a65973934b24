#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "Backends/wlroots/WaylandOutputs.hpp"
#include "Capture/DamageTracker.hpp"
#include "Geometry/Geometry.hpp"

namespace vantrel::wayland {

// One shared-memory buffer the compositor can copy an output into: a wl_shm format, the output's
// size in pixels and the row stride in bytes.
struct ShmOffer {
    std::uint32_t format = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::uint32_t stride = 0;

    bool operator==(const ShmOffer&) const = default;
};

// How the four bytes of a 32-bit pixel lie in memory.
enum class ByteOrder {
    bgra,  // wl_shm XRGB8888 / ARGB8888 on little-endian: what pictures hold, used as they are
    rgba,  // XBGR8888 / ABGR8888: red and blue swapped on the way into a picture
};

// The byte order of a wl_shm format; none for formats we cannot read.
[[nodiscard]] std::optional<ByteOrder> byteOrder(std::uint32_t wlShmFormat);

// The offer to copy into: the first in the pictures' own byte order, else the first with red and
// blue swapped; none when no offer is a readable 32-bit format of a sane size.
[[nodiscard]] std::optional<ShmOffer> chooseOffer(const std::vector<ShmOffer>& offers);

// A damage rectangle as the compositor sends it (unsigned, possibly reaching past the buffer),
// clipped to a buffer of width x height pixels.
[[nodiscard]] PixelBox clippedDamage(std::uint32_t x, std::uint32_t y, std::uint32_t width, std::uint32_t height,
                                     std::int32_t bufferWidth, std::int32_t bufferHeight);

// The output that shows area (desktop points): the one placed exactly there, else the one
// covering most of it; none when no output touches it.
[[nodiscard]] std::optional<std::uint32_t> outputShowing(const std::vector<OutputFacts>& outputs, const Rect& area);

}  // namespace vantrel::wayland
