#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel {

// Starting the desktop host at log-in is each user's own choice: an entry in the user's autostart
// directory (~/.config/autostart/brisholm.desktop, under XDG_CONFIG_HOME when that is set), never
// one for every account. The pure rules below (where the entries live, what an entry says, whether
// an entry starts anything) take plain values; Autostart applies them to the files.

// The user's autostart entry: $XDG_CONFIG_HOME/autostart/brisholm.desktop, or
// $HOME/.config/autostart/brisholm.desktop when XDG_CONFIG_HOME is unset, empty or relative (the
// base-directory rules ignore relative values). None without either.
[[nodiscard]] std::optional<std::filesystem::path> userAutostartEntry(const char* xdgConfigHome, const char* home);

// The entries a session manager reads for every user, most important first: autostart/brisholm.desktop
// under each absolute directory of XDG_CONFIG_DIRS, or under /etc/xdg when it names none.
[[nodiscard]] std::vector<std::filesystem::path> systemAutostartEntries(const char* xdgConfigDirs);

// A program path as one argument of a desktop entry's Exec line: quoted when it holds anything
// but plain path characters, '%' doubled, and escaped as a desktop-entry string value.
[[nodiscard]] std::string execArgument(std::string_view path);

// The entry that starts this program (at executable) in the desktop host at log-in. TryExec makes
// an entry left behind by a removed program start nothing.
[[nodiscard]] std::string autostartEntryText(const std::filesystem::path& executable);

// The entry that keeps a system-wide entry of the same name from starting for this user.
[[nodiscard]] std::string hiddenEntryText();

// Whether a session manager starts what entryText describes: a readable desktop entry that is
// neither Hidden nor switched off with X-GNOME-Autostart-enabled=false.
[[nodiscard]] bool startsAtLogin(std::string_view entryText);

// The program a /proc/self/exe link names; a binary replaced on disk while it runs (a package
// upgrade) reads back with " (deleted)" appended, and the entry must name the file, not that.
[[nodiscard]] std::filesystem::path runningExecutable(std::string_view procSelfExeTarget);

// The user's switch, over the files. Cheap to copy; reads the files afresh on each call, so a
// change made elsewhere (the command line, a session's settings) shows at the next look.
class Autostart {
public:
    struct Locations {
        std::filesystem::path userEntry;
        std::vector<std::filesystem::path> systemEntries;
        std::filesystem::path executable;  // what the entry starts
    };

    explicit Autostart(Locations locations) : locations_(std::move(locations)) {}

    // This user's entry from the environment, for the program that is running now. None when
    // neither XDG_CONFIG_HOME nor HOME says where the user's configuration lives.
    [[nodiscard]] static std::optional<Autostart> forThisUser();

    // Whether the desktop host starts at this user's next log-in: the user's own entry decides
    // when there is one, else a system-wide one.
    [[nodiscard]] bool enabled() const;

    // On writes the user's entry (atomically, creating the directory). Off removes it, and where a
    // system-wide entry would still start the host (an older installation left one behind), puts
    // a Hidden entry in its place. Empty on success, else what went wrong, for the user.
    [[nodiscard]] std::string setEnabled(bool on) const;

    [[nodiscard]] const std::filesystem::path& userEntry() const { return locations_.userEntry; }

private:
    Locations locations_;
};

// `brisholm --autostart on|off`: switches and says so on standard output, or what went wrong on
// standard error. Returns the exit status.
int runAutostartCommand(bool on);

}  // namespace vantrel
