#include "App/Autostart.hpp"

#include <glib.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <system_error>

namespace vantrel {

namespace {

namespace fs = std::filesystem;

const char* const entryName = "autostart/brisholm.desktop";

struct KeyFileFree {
    void operator()(GKeyFile* file) const { g_key_file_free(file); }
};
struct ErrorFree {
    void operator()(GError* error) const { g_error_free(error); }
};

// The characters that make an Exec argument need quotes, and those that must be escaped inside them.
constexpr std::string_view reservedInExec = " \t\n\"'\\><~|&;$*?#()`";
constexpr std::string_view escapedInQuotes = "\"`$\\";

// A desktop-entry string value: backslash and control characters escaped, a leading space kept.
std::string stringValue(std::string_view text) {
    std::string value;
    for (std::size_t index = 0; index < text.size(); ++index) {
        const char character = text[index];
        switch (character) {
            case '\\': value += "\\\\"; break;
            case '\n': value += "\\n"; break;
            case '\t': value += "\\t"; break;
            case '\r': value += "\\r"; break;
            case ' ': value += index == 0 ? "\\s" : " "; break;
            default: value += character;
        }
    }
    return value;
}

std::optional<std::string> readFile(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return std::nullopt;
    }
    std::ostringstream contents;
    contents << file.rdbuf();
    return contents.str();
}

std::string writeFile(const fs::path& path, const std::string& text) {
    std::error_code error;
    fs::create_directories(path.parent_path(), error);
    if (error) {
        return "cannot create " + path.parent_path().string() + ": " + error.message();
    }
    // Written beside the target and renamed over it: a session manager never reads half an entry.
    GError* raw = nullptr;
    if (g_file_set_contents(path.c_str(), text.data(), static_cast<gssize>(text.size()), &raw) == FALSE) {
        const std::unique_ptr<GError, ErrorFree> failure(raw);
        return "cannot write " + path.string() + ": " + failure->message;
    }
    return {};
}

}  // namespace

std::optional<fs::path> userAutostartEntry(const char* xdgConfigHome, const char* home) {
    if (xdgConfigHome != nullptr && fs::path(xdgConfigHome).is_absolute()) {
        return fs::path(xdgConfigHome) / entryName;
    }
    if (home != nullptr && *home != '\0') {
        return fs::path(home) / ".config" / entryName;
    }
    return std::nullopt;
}

std::vector<fs::path> systemAutostartEntries(const char* xdgConfigDirs) {
    std::vector<fs::path> entries;
    std::string_view remaining = xdgConfigDirs != nullptr ? xdgConfigDirs : "";
    while (!remaining.empty()) {
        const auto colon = remaining.find(':');
        const fs::path directory(remaining.substr(0, colon));
        if (directory.is_absolute()) {
            entries.push_back(directory / entryName);
        }
        remaining = colon == std::string_view::npos ? std::string_view() : remaining.substr(colon + 1);
    }
    if (entries.empty()) {
        entries.push_back(fs::path("/etc/xdg") / entryName);
    }
    return entries;
}

std::string execArgument(std::string_view path) {
    std::string argument;
    const bool quoted = path.find_first_of(reservedInExec) != std::string_view::npos;
    for (const char character : path) {
        if (quoted && escapedInQuotes.find(character) != std::string_view::npos) {
            argument += '\\';
        }
        argument += character;
        if (character == '%') {
            argument += '%';
        }
    }
    return stringValue(quoted ? '"' + argument + '"' : argument);
}

std::string autostartEntryText(const fs::path& executable) {
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Vantrel\n"
           "Comment=Lets a paired phone watch and operate this computer\n"
           "Exec=" +
           execArgument(executable.string()) +
           "\n"
           "TryExec=" +
           stringValue(executable.string()) +
           "\n"
           "Icon=brisholm\n"
           "NoDisplay=true\n"
           "X-GNOME-Autostart-enabled=true\n";
}

std::string hiddenEntryText() {
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Vantrel\n"
           "Hidden=true\n";
}

bool startsAtLogin(std::string_view entryText) {
    const std::unique_ptr<GKeyFile, KeyFileFree> file(g_key_file_new());
    if (g_key_file_load_from_data(file.get(), entryText.data(), entryText.size(), G_KEY_FILE_NONE, nullptr) == FALSE ||
        g_key_file_has_group(file.get(), "Desktop Entry") == FALSE) {
        return false;
    }
    // A missing or unreadable key reads as false, which is what both keys default to.
    const auto flag = [&](const char* key) {
        return g_key_file_get_boolean(file.get(), "Desktop Entry", key, nullptr) == TRUE;
    };
    const bool switchedOff = g_key_file_has_key(file.get(), "Desktop Entry", "X-GNOME-Autostart-enabled", nullptr) &&
                             !flag("X-GNOME-Autostart-enabled");
    return !flag("Hidden") && !switchedOff;
}

fs::path runningExecutable(std::string_view procSelfExeTarget) {
    constexpr std::string_view deleted = " (deleted)";
    if (procSelfExeTarget.ends_with(deleted)) {
        procSelfExeTarget.remove_suffix(deleted.size());
    }
    return fs::path(procSelfExeTarget);
}

std::optional<Autostart> Autostart::forThisUser() {
    auto userEntry = userAutostartEntry(std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME"));
    if (!userEntry) {
        return std::nullopt;
    }
    std::error_code error;
    const auto link = fs::read_symlink("/proc/self/exe", error);
    // Without /proc the session's search path finds the program by name.
    fs::path executable = error ? fs::path("brisholm") : runningExecutable(link.string());
    return Autostart(Locations{std::move(*userEntry), systemAutostartEntries(std::getenv("XDG_CONFIG_DIRS")),
                               std::move(executable)});
}

bool Autostart::enabled() const {
    // The first entry of the name found, the user's before the system's, is the one that counts.
    std::error_code error;
    if (fs::exists(locations_.userEntry, error)) {
        const auto text = readFile(locations_.userEntry);
        return text && startsAtLogin(*text);
    }
    for (const auto& entry : locations_.systemEntries) {
        if (fs::exists(entry, error)) {
            const auto text = readFile(entry);
            return text && startsAtLogin(*text);
        }
    }
    return false;
}

std::string Autostart::setEnabled(bool on) const {
    if (on) {
        return writeFile(locations_.userEntry, autostartEntryText(locations_.executable));
    }
    std::error_code error;
    fs::remove(locations_.userEntry, error);
    if (error) {
        return "cannot remove " + locations_.userEntry.string() + ": " + error.message();
    }
    if (enabled()) {
        return writeFile(locations_.userEntry, hiddenEntryText());
    }
    return {};
}

int runAutostartCommand(bool on) {
    const auto autostart = Autostart::forThisUser();
    if (!autostart) {
        std::fputs("brisholm: neither XDG_CONFIG_HOME nor HOME is set, so there is no autostart directory\n", stderr);
        return 1;
    }
    if (const auto problem = autostart->setEnabled(on); !problem.empty()) {
        std::fprintf(stderr, "brisholm: %s\n", problem.c_str());
        return 1;
    }
    const std::string entry = autostart->userEntry().string();
    if (on) {
        std::printf("Vantrel starts at your next log-in (%s).\n", entry.c_str());
    } else {
        std::printf("Vantrel no longer starts at log-in.\n");
    }
    return 0;
}

}  // namespace vantrel
