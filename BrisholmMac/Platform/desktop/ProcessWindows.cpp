#include "Platform/desktop/ProcessWindows.hpp"

#include <gio/gdesktopappinfo.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <fstream>
#include <iterator>
#include <system_error>
#include <utility>

namespace vantrel::desktop {

namespace {

constexpr std::string_view deletedSuffix = " (deleted)";
constexpr std::string_view desktopSuffix = ".desktop";

std::vector<std::string> commandLine(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::vector<std::string> argv;
    std::size_t start = 0;
    while (start < text.size()) {
        auto end = text.find('\0', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        argv.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return argv;
}

// The entries shown in menus, with their Exec lines.
std::vector<EntryCommand> menuEntries() {
    std::vector<EntryCommand> entries;
    GList* all = g_app_info_get_all();
    for (GList* item = all; item != nullptr; item = item->next) {
        auto* info = static_cast<GAppInfo*>(item->data);
        const char* id = g_app_info_get_id(info);
        if (id == nullptr || !G_IS_DESKTOP_APP_INFO(info) || !g_app_info_should_show(info)) {
            continue;
        }
        if (char* exec = g_desktop_app_info_get_string(G_DESKTOP_APP_INFO(info), "Exec")) {
            entries.push_back({id, exec});
            g_free(exec);
        }
    }
    g_list_free_full(all, g_object_unref);
    return entries;
}

}  // namespace

UserProcesses::UserProcesses(std::filesystem::path root) : root_(std::move(root)) {}

std::vector<ProcessFacts> UserProcesses::list() const {
    std::vector<ProcessFacts> processes;
    std::error_code error;
    const uid_t user = getuid();
    for (const auto& entry : std::filesystem::directory_iterator(root_, error)) {
        const auto name = entry.path().filename().string();
        pid_t pid = 0;
        const auto [end, parsed] = std::from_chars(name.data(), name.data() + name.size(), pid);
        struct stat info {};
        if (parsed != std::errc() || end != name.data() + name.size() || stat(entry.path().c_str(), &info) != 0 ||
            info.st_uid != user) {
            continue;
        }
        std::error_code unreadable;
        auto executable = std::filesystem::read_symlink(entry.path() / "exe", unreadable).string();
        if (unreadable || executable.empty()) {
            continue;
        }
        if (executable.ends_with(deletedSuffix)) {  // replaced by an update since it started
            executable.erase(executable.size() - deletedSuffix.size());
        }
        processes.push_back({pid, std::move(executable), commandLine(entry.path() / "cmdline")});
    }
    std::sort(processes.begin(), processes.end(),
              [](const ProcessFacts& a, const ProcessFacts& b) { return a.pid < b.pid; });
    return processes;
}

ProcessWindows::ProcessWindows(UserProcesses processes) : processes_(std::move(processes)) {}

std::vector<WindowFacts> ProcessWindows::clientWindows() {
    std::vector<WindowFacts> windows;
    std::uint32_t number = 0;
    for (auto id : runningEntries(processes_.list(), menuEntries())) {
        if (id.ends_with(desktopSuffix)) {
            id.erase(id.size() - desktopSuffix.size());
        }
        WindowFacts window;
        window.window = ++number;
        window.type = WindowFacts::Type::normal;
        window.gtkApplicationId = std::move(id);
        windows.push_back(std::move(window));
    }
    return windows;
}

bool ProcessWindows::activateFrontmost(const std::unordered_set<std::uint32_t>& /*windows*/) {
    return false;
}

}  // namespace vantrel::desktop
