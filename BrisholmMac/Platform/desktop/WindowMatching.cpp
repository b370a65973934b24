#include "Platform/desktop/WindowMatching.hpp"

#include <algorithm>
#include <array>
#include <cctype>

namespace vantrel::desktop {

namespace {

constexpr std::string_view desktopSuffix = ".desktop";

std::string lowercase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

bool usable(const std::optional<std::string>& text) {
    return text && !text->empty();
}

}  // namespace

bool isRegularApplicationWindow(const WindowFacts& window) {
    const bool normal =
        window.type == WindowFacts::Type::normal || (window.type == WindowFacts::Type::unset && !window.transient);
    return normal && !window.skipTaskbar;
}

std::optional<std::string> matchDesktopEntry(const WindowFacts& window, const EntryLookup& entries) {
    if (usable(window.gtkApplicationId)) {
        auto id = *window.gtkApplicationId + std::string(desktopSuffix);
        if (entries.exists(id)) {
            return id;
        }
    }
    const std::array<const std::optional<std::string>*, 2> names = {&window.wmClass, &window.wmInstance};
    for (const auto* name : names) {
        if (usable(*name)) {
            if (auto id = entries.byStartupWMClass(**name)) {
                return id;
            }
        }
    }
    for (const bool lower : {false, true}) {
        for (const auto* name : names) {
            if (!usable(*name)) {
                continue;
            }
            auto id = (lower ? lowercase(**name) : **name) + std::string(desktopSuffix);
            if (entries.exists(id)) {
                return id;
            }
        }
    }
    return std::nullopt;
}

}  // namespace vantrel::desktop
