#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "vantrel/Bytes.hpp"
#include "vantrel/MessageType.hpp"

namespace vantrel {

// The JSON bodies of the greeting, the display choice, the pointer report and the application
// list. Each type's JSON form is one object whose keys are exactly the field names below; see
// JSONMessage for the encoding and the strict decoding rules.

// Body of `hello`, phone to host.
struct Hello {
    std::int64_t version = SyncProtocolVersion::current;
    std::string deviceName;

    bool operator==(const Hello&) const = default;
};

// Element of Welcome::displays. width and height are the size of the stream the host produces.
struct DisplayInfo {
    std::uint32_t id = 0;
    std::string name;
    std::int64_t width = 0;
    std::int64_t height = 0;

    bool operator==(const DisplayInfo&) const = default;
};

// Body of `welcome`, host to phone.
struct Welcome {
    std::int64_t version = SyncProtocolVersion::current;
    std::string hostName;
    std::vector<DisplayInfo> displays;
    std::uint32_t activeDisplay = 0;
    bool canControl = false;

    bool operator==(const Welcome&) const = default;
};

// Body of `pointer`, host to phone: fractions of the active display's size, from its top left.
struct PointerPosition {
    double x = 0;
    double y = 0;

    bool operator==(const PointerPosition&) const = default;
};

// Body of `selectDisplay`, phone to host.
struct SelectDisplay {
    std::uint32_t id = 0;

    bool operator==(const SelectDisplay&) const = default;
};

// Element of AppList::apps. icon holds PNG bytes; absent icons are left out of the JSON.
struct AppEntry {
    std::string id;
    std::string name;
    bool running = false;
    std::optional<Bytes> icon;

    bool operator==(const AppEntry&) const = default;
};

// Body of `apps`, host to phone.
struct AppList {
    static constexpr std::size_t maxCount = 40;

    AppList() = default;
    // Keeps only the first maxCount entries. Decoding does not cut: a peer's longer list stays whole.
    explicit AppList(std::vector<AppEntry> entries);

    std::vector<AppEntry> apps;

    bool operator==(const AppList&) const = default;
};

// Body of `openApp`, phone to host.
struct OpenApp {
    std::string id;

    bool operator==(const OpenApp&) const = default;
};

}  // namespace vantrel
