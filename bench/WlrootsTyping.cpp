// How fast the injector types into a real Wayland application on sway (a headless sway of its own,
// as the tests run it), with every character checked to arrive: a foot window copies what it
// receives to a file, and the clock stops when the file holds all of it.
//   - characters the keymap lacks (CJK, each distinct, so every one takes a borrowed key);
//   - characters the keymap has, for comparison.
// Usage: bench_wlroots_typing [characters per run, default 1000]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "Backends/wlroots/WlrootsInputDevice.hpp"
#include "DeskKeyboard.hpp"
#include "Input/InputInjector.hpp"
#include "PrivateSway.hpp"
#include "TypingWindow.hpp"

namespace {

using namespace vantrel;

std::string utf8(char32_t c) {
    std::string out;
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
    return out;
}

// Lines of at most 50 characters, as a phone sends a paragraph in pieces; the terminal hands cat
// whole lines, so each ends with a line break.
std::vector<std::string> lines(int count, char32_t first, char32_t span) {
    std::vector<std::string> result;
    std::string line;
    for (int i = 0; i < count; ++i) {
        line += utf8(first + static_cast<char32_t>(i) % span);
        if ((i + 1) % 50 == 0 || i + 1 == count) {
            result.push_back(line + "\n");
            line.clear();
        }
    }
    return result;
}

// Types the lines into a fresh window; characters per second until the last one arrived, or a
// negative number when the file does not match.
double run(const testing::PrivateSway& sway, const char* name, const std::vector<std::string>& text, int count) {
    const testing::TypingWindow window(sway, name);
    if (!window.ok()) {
        std::fprintf(stderr, "no window\n");
        return -1;
    }
    const Rect display{0, 0, 1280, 720};
    auto device = WlrootsInputDevice::open();
    if (!device) {
        return -1;
    }
    InputInjector injector(device, [display] { return std::optional(display); });
    std::string expected;
    for (const auto& line : text) {
        expected += line;
    }
    const auto start = std::chrono::steady_clock::now();
    for (const auto& line : text) {
        injector.handle(input::Text{line});
    }
    const auto received = window.waitFor(expected, std::chrono::seconds(60));
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (received != expected) {
        const auto differ = std::mismatch(expected.begin(), expected.end(), received.begin(), received.end());
        const auto at = static_cast<std::size_t>(differ.first - expected.begin());
        std::fprintf(stderr, "%s: %zu of %zu bytes arrived; from byte %zu on, \"%s\" instead of \"%s\"\n", name,
                     received.size(), expected.size(), at, received.substr(at, 24).c_str(),
                     expected.substr(at, 24).c_str());
        // What the compositor said meanwhile (a client it dropped says so there).
        std::ifstream log(sway.directory() + "/sway.log");
        for (std::string line; std::getline(log, line);) {
            if (line.find("[ERROR]") != std::string::npos || line.find("rror") != std::string::npos) {
                std::fprintf(stderr, "  sway: %s\n", line.c_str());
            }
        }
        return -1;
    }
    return count / seconds;
}

}  // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 1000;
    testing::PrivateSway sway({{1280, 720}});
    if (!sway.ok()) {
        std::fprintf(stderr, "no sway: %s\n", sway.failure().c_str());
        return 1;
    }
    // A keyboard at the desk, as a real seat has: applications keep theirs between our devices.
    const testing::DeskKeyboard desk("us");
    // U+4E00 onwards: every character one the keymap lacks, and no two alike.
    const double missing = run(sway, "cjk", lines(count, U'\u4E00', 20000), count);
    // a to z, all on the keymap.
    const double present = run(sway, "ascii", lines(count, U'a', 26), count);
    std::printf("characters the keymap lacks: %d, %.0f per second, all arrived: %s\n", count, missing,
                missing > 0 ? "yes" : "no");
    std::printf("characters the keymap has:   %d, %.0f per second, all arrived: %s\n", count, present,
                present > 0 ? "yes" : "no");
    return missing > 0 && present > 0 ? 0 : 1;
}
