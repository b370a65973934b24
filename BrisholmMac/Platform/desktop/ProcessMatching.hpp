#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace vantrel::desktop {

// One process of the user, as /proc tells it.
struct ProcessFacts {
    pid_t pid = 0;
    std::string executable;         // the target of /proc/<pid>/exe, without " (deleted)"
    std::vector<std::string> argv;  // /proc/<pid>/cmdline, split at its NULs
};

// One desktop entry shown in menus, with its Exec line as written.
struct EntryCommand {
    std::string id;    // "org.gnome.Calculator.desktop"
    std::string exec;  // "gnome-calculator %U"
};

// The program an Exec line starts, for matching: its first word, past `env` and its VAR=value
// assignments and past an interpreter (sh, bash, python3, perl, ...) to the script it runs. Empty
// when there is none (a blank line) or it is launched by a wrapper that hides it (flatpak).
[[nodiscard]] std::string execProgram(const std::string& exec);

// The entries whose programs run, in the order of the processes (oldest first), each once. A
// process runs an entry's program when its executable, its argv[0], or the script its interpreter
// runs (the first argument not starting with '-') is that program: the same path where the entry
// names a path, else the same file name. Several entries starting the same program (a suite's
// parts) are told apart only by their ids: one whose id ends in the program's name takes it, and
// where none does, none of them is marked, rather than all.
[[nodiscard]] std::vector<std::string> runningEntries(const std::vector<ProcessFacts>& processes,
                                                      const std::vector<EntryCommand>& entries);

}  // namespace vantrel::desktop
