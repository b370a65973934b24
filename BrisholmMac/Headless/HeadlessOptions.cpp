#include "Headless/HeadlessOptions.hpp"

#include <algorithm>

#include "Headless/HostText.hpp"

namespace vantrel {

namespace {

// The argument after the first occurrence of option, if there is one.
std::optional<std::string_view> valueAfter(std::span<const std::string_view> arguments, std::string_view option) {
    const auto found = std::find(arguments.begin(), arguments.end(), option);
    if (found == arguments.end() || std::next(found) == arguments.end()) {
        return std::nullopt;
    }
    return *std::next(found);
}

bool contains(std::span<const std::string_view> arguments, std::string_view option) {
    return std::find(arguments.begin(), arguments.end(), option) != arguments.end();
}

}  // namespace

std::optional<std::uint16_t> parsePortValue(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) {
        return std::nullopt;
    }
    std::uint32_t value = 0;
    for (const char digit : text) {
        if (digit < '0' || digit > '9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<std::uint32_t>(digit - '0');
        // Checked at every digit, so an argument of any length cannot wrap around.
        if (value > 65535) {
            return std::nullopt;
        }
    }
    if (negative && value != 0) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(value);
}

HeadlessOptions parseHeadlessOptions(std::span<const std::string_view> arguments) {
    HeadlessOptions options;
    if (const auto port = valueAfter(arguments, "--port")) {
        options.preferredPort = parsePortValue(*port).value_or(0);
    }
    if (const auto name = valueAfter(arguments, "--name")) {
        options.name = hostNameFromArgument(*name, HeadlessOptions::maxNameCharacters);
    }
    options.twoDisplays = contains(arguments, "--two-displays");
    return options;
}

bool wantsHeadlessHost(std::span<const std::string_view> arguments) {
    return contains(arguments, "--headless");
}

}  // namespace vantrel
