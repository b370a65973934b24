#include "Displays.hpp"

#include <algorithm>
#include <cmath>

namespace vantrel {

StreamSize streamSizeFor(std::int64_t pixelWidth, std::int64_t pixelHeight) {
    constexpr double longestStreamed = 2560;
    const auto longest = static_cast<double>(std::max(pixelWidth, pixelHeight));
    const double scale = longest <= 1 ? 1.0 : std::min(longestStreamed / longest, 1.0);
    auto side = [scale](std::int64_t pixels) {
        // std::llround rounds halves away from zero.
        const std::int64_t scaled = std::llround(static_cast<double>(pixels) * scale);
        return (scaled <= 2 ? 2 : scaled) & ~std::int64_t{1};
    };
    return {side(pixelWidth), side(pixelHeight)};
}

std::string displayName(const MonitorFacts& monitor) {
    for (const auto* name : {&monitor.productName, &monitor.outputName, &monitor.monitorName}) {
        if (!name->empty()) {
            return *name;
        }
    }
    return "Display " + std::to_string(monitor.id);
}

std::vector<std::string> displayNames(const std::vector<MonitorFacts>& monitors) {
    std::vector<std::string> names;
    names.reserve(monitors.size());
    for (const auto& monitor : monitors) {
        names.push_back(displayName(monitor));
    }
    const auto shared = [&names](std::size_t index) {
        return std::count(names.begin(), names.end(), names[index]) > 1;
    };
    // Two monitors of one model are told apart by where they are plugged in; should even that
    // repeat (or be missing), by the id, which no two monitors share.
    std::vector<std::string> distinct = names;
    for (std::size_t index = 0; index < monitors.size(); ++index) {
        if (!shared(index)) {
            continue;
        }
        const auto& monitor = monitors[index];
        const std::string& connector = !monitor.outputName.empty() ? monitor.outputName : monitor.monitorName;
        distinct[index] = connector.empty() || connector == names[index]
                              ? names[index] + " (" + std::to_string(monitor.id) + ")"
                              : names[index] + " (" + connector + ")";
    }
    for (std::size_t index = 0; index < monitors.size(); ++index) {
        if (std::count(distinct.begin(), distinct.end(), distinct[index]) > 1) {
            distinct[index] = names[index] + " (" + std::to_string(monitors[index].id) + ")";
        }
    }
    return distinct;
}

std::optional<std::string> edidProductName(std::span<const std::uint8_t> edid) {
    constexpr std::uint8_t header[] = {0x00, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x00};
    constexpr std::size_t blockLength = 128;
    if (edid.size() < blockLength || !std::equal(std::begin(header), std::end(header), edid.begin())) {
        return std::nullopt;
    }
    // Four 18-byte descriptors from byte 54; a display descriptor starts with a zero pixel clock,
    // a zero byte, and its tag. Its text is 13 bytes, ended by a line feed and padded by spaces.
    constexpr std::size_t firstDescriptor = 54;
    constexpr std::size_t descriptorLength = 18;
    constexpr std::uint8_t productNameTag = 0xfc;
    for (std::size_t offset = firstDescriptor; offset + descriptorLength <= blockLength; offset += descriptorLength) {
        const auto descriptor = edid.subspan(offset, descriptorLength);
        if (descriptor[0] != 0 || descriptor[1] != 0 || descriptor[2] != 0 || descriptor[3] != productNameTag) {
            continue;
        }
        std::string name;
        for (const auto byte : descriptor.subspan(5)) {
            if (byte == '\n') {
                break;
            }
            if (byte >= 0x20 && byte < 0x7f) {
                name.push_back(static_cast<char>(byte));
            }
        }
        while (!name.empty() && name.back() == ' ') {
            name.pop_back();
        }
        if (!name.empty()) {
            return name;
        }
    }
    return std::nullopt;
}

std::vector<MonitorFacts> primaryFirst(std::vector<MonitorFacts> monitors) {
    std::stable_partition(monitors.begin(), monitors.end(),
                          [](const MonitorFacts& monitor) { return monitor.primary; });
    return monitors;
}

namespace {

StreamSize streamSizeOf(const MonitorFacts& monitor) {
    return streamSizeFor(std::llround(monitor.bounds.width), std::llround(monitor.bounds.height));
}

}  // namespace

std::vector<DisplayInfo> Displays::list() {
    const auto ordered = primaryFirst(monitors());
    const auto names = displayNames(ordered);
    std::vector<DisplayInfo> displays;
    for (std::size_t index = 0; index < ordered.size(); ++index) {
        const auto size = streamSizeOf(ordered[index]);
        displays.push_back(DisplayInfo{ordered[index].id, names[index], size.width, size.height});
    }
    return displays;
}

std::string Displays::name(std::uint32_t id) {
    const auto ordered = primaryFirst(monitors());
    const auto names = displayNames(ordered);
    for (std::size_t index = 0; index < ordered.size(); ++index) {
        if (ordered[index].id == id) {
            return names[index];
        }
    }
    MonitorFacts unknown;
    unknown.id = id;
    return displayName(unknown);
}

StreamSize Displays::streamSize(std::uint32_t id) {
    const auto monitor = find(id);
    return monitor ? streamSizeOf(*monitor) : streamSizeFor(0, 0);
}

std::vector<DisplayBounds> Displays::layout() {
    std::vector<DisplayBounds> bounds;
    for (const auto& monitor : primaryFirst(monitors())) {
        bounds.push_back(DisplayBounds{monitor.id, monitor.bounds});
    }
    return bounds;
}

std::optional<std::uint32_t> Displays::primary() {
    const auto ordered = primaryFirst(monitors());
    if (ordered.empty()) {
        return std::nullopt;
    }
    return ordered.front().id;
}

std::optional<MonitorFacts> Displays::find(std::uint32_t id) {
    for (auto& monitor : monitors()) {
        if (monitor.id == id) {
            return std::move(monitor);
        }
    }
    return std::nullopt;
}

}  // namespace vantrel
