#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "vantrel/Bytes.hpp"

namespace vantrel::desktop {

// Where an application's icon comes from: names in the desktop's icon theme, tried in order, or
// an image file named by its absolute path (a desktop entry may give either).
struct IconSource {
    std::vector<std::string> themedNames;
    std::string file;
};

// Draws an icon as a square of side pixels with 8-bit RGBA samples and encodes it as PNG.
// Icons smaller than the square are scaled up, keeping their proportions, centred on transparency.
//
// Lives on the main thread (the GUI toolkit draws there only).
class IconRenderer {
public:
    virtual ~IconRenderer() = default;

    // Absent when no image is found for the source or it cannot be drawn or encoded.
    [[nodiscard]] virtual std::optional<Bytes> renderPNG(const IconSource& source, int side) = 0;

    // The renderer of the GUI toolkit, with the icon theme set up for this desktop session (the
    // XDG data directories' icon themes, the desktop's theme or Adwaita, then hicolor). Needs the
    // toolkit's application object to exist whenever renderPNG runs.
    [[nodiscard]] static std::shared_ptr<IconRenderer> createQt();
};

}  // namespace vantrel::desktop
