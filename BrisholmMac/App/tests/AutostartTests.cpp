#include "App/Autostart.hpp"

#include <glib.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>

namespace vantrel {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;

// What a session manager makes of an entry's Exec line: the value unescaped as a desktop-entry
// string, "%%" back to "%", then split by the shell-like quoting rules GLib implements.
std::vector<std::string> execArguments(const std::string& entryText) {
    std::unique_ptr<GKeyFile, decltype(&g_key_file_free)> file(g_key_file_new(), &g_key_file_free);
    EXPECT_TRUE(g_key_file_load_from_data(file.get(), entryText.c_str(), entryText.size(), G_KEY_FILE_NONE, nullptr));
    std::unique_ptr<char, decltype(&g_free)> exec(g_key_file_get_string(file.get(), "Desktop Entry", "Exec", nullptr),
                                                  &g_free);
    if (!exec) {
        return {};
    }
    // Any other '%' is a field code, which would put something else than the path on the line.
    std::string line;
    for (const char* at = exec.get(); *at != '\0'; ++at) {
        if (*at == '%' && *++at != '%') {
            return {"<field code in: " + std::string(exec.get()) + ">"};
        }
        line += *at;
    }
    char** argv = nullptr;
    if (g_shell_parse_argv(line.c_str(), nullptr, &argv, nullptr) == FALSE) {
        return {"<unparsable: " + line + ">"};
    }
    std::vector<std::string> arguments(argv, argv + g_strv_length(argv));
    g_strfreev(argv);
    return arguments;
}

std::string tryExec(const std::string& entryText) {
    std::unique_ptr<GKeyFile, decltype(&g_key_file_free)> file(g_key_file_new(), &g_key_file_free);
    g_key_file_load_from_data(file.get(), entryText.c_str(), entryText.size(), G_KEY_FILE_NONE, nullptr);
    std::unique_ptr<char, decltype(&g_free)> value(
        g_key_file_get_string(file.get(), "Desktop Entry", "TryExec", nullptr), &g_free);
    return value ? value.get() : "";
}

TEST(AutostartRulesTest, UserEntryFollowsTheBaseDirectoryRules) {
    EXPECT_EQ(userAutostartEntry("/cfg", "/home/ana"), fs::path("/cfg/autostart/brisholm.desktop"));
    EXPECT_EQ(userAutostartEntry(nullptr, "/home/ana"), fs::path("/home/ana/.config/autostart/brisholm.desktop"));
    EXPECT_EQ(userAutostartEntry("", "/home/ana"), fs::path("/home/ana/.config/autostart/brisholm.desktop"));
    EXPECT_EQ(userAutostartEntry("relative/cfg", "/home/ana"), fs::path("/home/ana/.config/autostart/brisholm.desktop"))
        << "a relative XDG_CONFIG_HOME is ignored";
    EXPECT_EQ(userAutostartEntry(nullptr, nullptr), std::nullopt);
    EXPECT_EQ(userAutostartEntry("relative", ""), std::nullopt);

    EXPECT_THAT(systemAutostartEntries(nullptr), ElementsAre("/etc/xdg/autostart/brisholm.desktop"));
    EXPECT_THAT(systemAutostartEntries(""), ElementsAre("/etc/xdg/autostart/brisholm.desktop"));
    EXPECT_THAT(systemAutostartEntries("/a:rel:/b/"),
                ElementsAre("/a/autostart/brisholm.desktop", "/b/autostart/brisholm.desktop"));
}

TEST(AutostartRulesTest, ExecLineGivesBackTheProgramPathWhateverItHolds) {
    for (const std::string path : {"/usr/bin/brisholm", "/opt/Mein Programm/brisholm", "/tmp/50%/brisholm",
                                   "/tmp/a\"b/$HOME/`x`/back\\slash/brisholm", "/tmp/tab\there", "/tmp/ä;ö#(x)"}) {
        const auto entry = autostartEntryText(path);
        EXPECT_THAT(execArguments(entry), ElementsAre(path)) << entry;
        EXPECT_EQ(tryExec(entry), path) << entry;
    }
    EXPECT_EQ(execArgument("/usr/bin/brisholm"), "/usr/bin/brisholm") << "plain paths stay unquoted";
}

TEST(AutostartRulesTest, AnEntryStartsUnlessHiddenOrSwitchedOff) {
    EXPECT_TRUE(startsAtLogin(autostartEntryText("/usr/bin/brisholm")));
    EXPECT_FALSE(startsAtLogin(hiddenEntryText()));
    EXPECT_FALSE(startsAtLogin("[Desktop Entry]\nExec=brisholm\nX-GNOME-Autostart-enabled=false\n"));
    EXPECT_TRUE(startsAtLogin("# c\n[Desktop Entry]\nExec=brisholm\nHidden=false\nX-GNOME-Autostart-enabled=true\n"));
    EXPECT_FALSE(startsAtLogin("[Other]\nExec=brisholm\n"));
    EXPECT_FALSE(startsAtLogin("not an entry at all"));
    EXPECT_FALSE(startsAtLogin(""));
}

TEST(AutostartRulesTest, AReplacedBinaryIsNamedByItsPath) {
    EXPECT_EQ(runningExecutable("/usr/bin/brisholm (deleted)"), fs::path("/usr/bin/brisholm"));
    EXPECT_EQ(runningExecutable("/usr/bin/brisholm"), fs::path("/usr/bin/brisholm"));
}

// The switch on real files in a throw-away configuration directory.
class AutostartFilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "vantrel-autostart-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        root_ = pattern;
    }
    void TearDown() override { fs::remove_all(root_); }

    Autostart autostart() const {
        return Autostart({root_ / "config/autostart/brisholm.desktop", {systemEntry()}, "/usr/bin/brisholm"});
    }
    fs::path systemEntry() const { return root_ / "etc/xdg/autostart/brisholm.desktop"; }

    static std::string read(const fs::path& path) {
        std::ifstream file(path);
        std::ostringstream text;
        text << file.rdbuf();
        return text.str();
    }
    static void write(const fs::path& path, const std::string& text) {
        fs::create_directories(path.parent_path());
        std::ofstream(path) << text;
    }

    fs::path root_;
};

TEST_F(AutostartFilesTest, OnWritesTheUserEntryAndOffRemovesIt) {
    const auto switcher = autostart();
    EXPECT_FALSE(switcher.enabled()) << "off by default";

    ASSERT_EQ(switcher.setEnabled(true), "");
    ASSERT_TRUE(fs::exists(switcher.userEntry())) << "the directory is created as needed";
    EXPECT_EQ(read(switcher.userEntry()), autostartEntryText("/usr/bin/brisholm"));
    EXPECT_TRUE(switcher.enabled());
    ASSERT_EQ(switcher.setEnabled(true), "") << "switching on twice is fine";

    ASSERT_EQ(switcher.setEnabled(false), "");
    EXPECT_FALSE(fs::exists(switcher.userEntry()));
    EXPECT_FALSE(switcher.enabled());
    EXPECT_EQ(switcher.setEnabled(false), "") << "switching off twice is fine";
}

TEST_F(AutostartFilesTest, AnEntryLeftSystemWideIsHiddenForThisUserOnly) {
    write(systemEntry(), "[Desktop Entry]\nType=Application\nExec=brisholm\n");
    const auto switcher = autostart();
    EXPECT_TRUE(switcher.enabled()) << "the panel tells the truth about an old system-wide entry";

    ASSERT_EQ(switcher.setEnabled(false), "");
    EXPECT_FALSE(switcher.enabled());
    EXPECT_TRUE(startsAtLogin(read(systemEntry()))) << "other users keep theirs";
    EXPECT_EQ(read(switcher.userEntry()), hiddenEntryText());

    ASSERT_EQ(switcher.setEnabled(true), "");
    EXPECT_TRUE(switcher.enabled());
}

TEST_F(AutostartFilesTest, AUserEntrySwitchedOffElsewhereReadsAsOff) {
    write(autostart().userEntry(), "[Desktop Entry]\nExec=/usr/bin/brisholm\nX-GNOME-Autostart-enabled=false\n");
    EXPECT_FALSE(autostart().enabled());
}

TEST_F(AutostartFilesTest, AFailureIsReportedNotSwallowed) {
    // Something that is not a file where the entry belongs: neither written nor removed, even by root.
    fs::create_directories(autostart().userEntry() / "inside");
    EXPECT_THAT(autostart().setEnabled(true), ::testing::HasSubstr("brisholm.desktop"));
    EXPECT_THAT(autostart().setEnabled(false), ::testing::HasSubstr("brisholm.desktop"));
    EXPECT_FALSE(autostart().enabled());
}

TEST_F(AutostartFilesTest, ForThisUserHonoursXdgConfigHome) {
    const char* saved = std::getenv("XDG_CONFIG_HOME");
    const std::string previous = saved != nullptr ? saved : "";
    setenv("XDG_CONFIG_HOME", (root_ / "config").c_str(), 1);
    const auto switcher = Autostart::forThisUser();
    saved != nullptr ? setenv("XDG_CONFIG_HOME", previous.c_str(), 1) : unsetenv("XDG_CONFIG_HOME");
    ASSERT_TRUE(switcher);
    EXPECT_EQ(switcher->userEntry(), root_ / "config/autostart/brisholm.desktop");
    ASSERT_EQ(switcher->setEnabled(true), "");
    const auto arguments = execArguments(read(switcher->userEntry()));
    ASSERT_EQ(arguments.size(), 1U);
    EXPECT_TRUE(fs::equivalent(arguments[0], "/proc/self/exe")) << "the entry starts the program that wrote it";
}

}  // namespace
}  // namespace vantrel
