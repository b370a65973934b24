#include "Platform/desktop/ProcessMatching.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <map>
#include <optional>
#include <set>
#include <string_view>

namespace vantrel::desktop {

namespace {

constexpr std::string_view desktopSuffix = ".desktop";

// The words of an Exec line: separated by blanks, a double-quoted word may hold blanks, and a
// backslash in it keeps the next character.
std::vector<std::string> execWords(const std::string& exec) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    bool quoted = false;
    for (std::size_t at = 0; at < exec.size(); ++at) {
        const char c = exec[at];
        if (quoted) {
            if (c == '\\' && at + 1 < exec.size()) {
                word += exec[++at];
            } else if (c == '"') {
                quoted = false;
            } else {
                word += c;
            }
        } else if (c == '"') {
            quoted = true;
            inWord = true;
        } else if (std::isspace(static_cast<unsigned char>(c)) != 0) {
            if (inWord) {
                words.push_back(std::move(word));
                word.clear();
                inWord = false;
            }
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord) {
        words.push_back(std::move(word));
    }
    return words;
}

std::string fileName(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool isInterpreter(const std::string& program) {
    static constexpr std::array<std::string_view, 8> names = {"sh",   "bash", "dash", "perl",
                                                              "ruby", "node", "gjs",  "python"};
    const auto name = fileName(program);
    return std::any_of(names.begin(), names.end(), [&name](std::string_view interpreter) {
        // python3, python3.11
        return name == interpreter || (interpreter == "python" && name.starts_with("python"));
    });
}

// The first argument after argv[0] that is no option: the script an interpreter runs.
std::optional<std::string> scriptOf(const std::vector<std::string>& argv) {
    for (std::size_t at = 1; at < argv.size(); ++at) {
        if (!argv[at].empty() && argv[at].front() != '-') {
            return argv[at];
        }
    }
    return std::nullopt;
}

std::string lowercase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// Whether the entry's id names the program: "meld.desktop" or "org.gnome.Meld.desktop" for meld.
bool idNames(std::string id, const std::string& program) {
    if (id.ends_with(desktopSuffix)) {
        id.erase(id.size() - desktopSuffix.size());
    }
    id = lowercase(id);
    const auto name = lowercase(fileName(program));
    return id == name || id.ends_with("." + name);
}

}  // namespace

std::string execProgram(const std::string& exec) {
    const auto words = execWords(exec);
    std::size_t at = 0;
    if (at < words.size() && fileName(words[at]) == "env") {
        ++at;
        while (at < words.size() && (words[at].starts_with('-') || words[at].find('=') != std::string::npos)) {
            // -u and --unset name the variable in the next word
            at += words[at] == "-u" || words[at] == "--unset" ? 2 : 1;
        }
    }
    if (at < words.size() && isInterpreter(words[at])) {
        ++at;
        while (at < words.size() && words[at].starts_with('-')) {
            ++at;
        }
    }
    if (at >= words.size() || fileName(words[at]) == "flatpak" || words[at].starts_with('%')) {
        return {};
    }
    return words[at];
}

std::vector<std::string> runningEntries(const std::vector<ProcessFacts>& processes,
                                        const std::vector<EntryCommand>& entries) {
    // Each program (a path, or a bare file name) with the entries that start it.
    std::map<std::string, std::vector<std::string>> byProgram;
    for (const auto& entry : entries) {
        if (auto program = execProgram(entry.exec); !program.empty()) {
            byProgram[program].push_back(entry.id);
        }
    }
    std::map<std::string, std::string> owner;  // program -> the one entry it marks
    for (auto& [program, ids] : byProgram) {
        if (ids.size() > 1) {
            std::erase_if(ids, [&program](const std::string& id) { return !idNames(id, program); });
        }
        if (ids.size() == 1) {
            owner.emplace(program, ids.front());
        }
    }

    std::vector<std::string> running;
    std::set<std::string> listed;
    const auto mark = [&](const std::string& ran) {
        if (ran.empty()) {
            return;
        }
        // An entry naming a path matches that path; one naming a file name matches any path's.
        for (const auto& key : {ran, fileName(ran)}) {
            if (const auto found = owner.find(key); found != owner.end()) {
                if (listed.insert(found->second).second) {
                    running.push_back(found->second);
                }
                return;
            }
        }
    };
    for (const auto& process : processes) {
        mark(process.executable);
        if (!process.argv.empty()) {
            mark(process.argv.front());
            if (isInterpreter(process.executable) || isInterpreter(process.argv.front())) {
                mark(scriptOf(process.argv).value_or(""));
            }
        }
    }
    return running;
}

}  // namespace vantrel::desktop
