#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace vantrel {

// The headless host's command line. Every option is looked up in the whole argument list (the
// program path included); arguments that are not options are ignored, and an unusable value
// falls back to the default without a message, so a typo never stops the host from starting.
struct HeadlessOptions {
    static constexpr std::string_view defaultName = "headless";
    // The host name is cut to this many user-perceived characters before it reaches the phone.
    static constexpr std::size_t maxNameCharacters = 64;

    std::uint16_t preferredPort = 0;  // 0: no preference, the system picks the port
    std::string name{defaultName};
    bool twoDisplays = false;

    bool operator==(const HeadlessOptions&) const = default;
};

[[nodiscard]] HeadlessOptions parseHeadlessOptions(std::span<const std::string_view> arguments);

// The entry point's choice: true when any argument, the program path included, is exactly
// "--headless".
[[nodiscard]] bool wantsHeadlessHost(std::span<const std::string_view> arguments);

// The value of a "--port" argument: an optional "+" or "-" and one or more ASCII digits, at most
// 65535, a "-" only in front of zero. No value for anything else.
[[nodiscard]] std::optional<std::uint16_t> parsePortValue(std::string_view text);

}  // namespace vantrel
