// Running applications found through processes (where the session shows no windows): the pure
// matching of processes to entries with plain values, and the reading of a /proc tree.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "DesktopFixture.hpp"
#include "Platform/desktop/ProcessMatching.hpp"
#include "Platform/desktop/ProcessWindows.hpp"

namespace vantrel::desktop {
namespace {

using Strings = std::vector<std::string>;

TEST(ExecProgramTest, TheProgramAnEntryStarts) {
    EXPECT_EQ(execProgram("gnome-calculator"), "gnome-calculator");
    EXPECT_EQ(execProgram("  /usr/bin/gedit --new-window %U"), "/usr/bin/gedit");
    EXPECT_EQ(execProgram("\"/opt/My App/app\" %F"), "/opt/My App/app");
    EXPECT_EQ(execProgram("\"/opt/a \\\"b\\\"/run\""), "/opt/a \"b\"/run");
    EXPECT_EQ(execProgram("env GDK_BACKEND=x11 -u FOO LANG=C /usr/bin/tool --x"), "/usr/bin/tool");
    EXPECT_EQ(execProgram("python3 -u /usr/share/app/main.py"), "/usr/share/app/main.py");
    EXPECT_EQ(execProgram("sh -c"), "") << "an interpreter with nothing to run names nothing";
    EXPECT_EQ(execProgram("/usr/bin/flatpak run org.example.App"), "") << "the sandbox hides the program";
    EXPECT_EQ(execProgram(""), "");
    EXPECT_EQ(execProgram("%U"), "");
}

class RunningEntriesTest : public ::testing::Test {
protected:
    std::vector<EntryCommand> entries{
        {"org.gnome.Calculator.desktop", "gnome-calculator"},
        {"gedit.desktop", "/usr/bin/gedit %U"},
        {"meld.desktop", "meld %F"},
        {"libreoffice-writer.desktop", "libreoffice --writer %U"},
        {"libreoffice-calc.desktop", "libreoffice --calc %U"},
        {"org.example.Editor.desktop", "editor %F"},
        {"editor-new-window.desktop", "editor --new-window"},
        {"org.example.Sandboxed.desktop", "flatpak run org.example.Sandboxed"},
    };
};

TEST_F(RunningEntriesTest, ProcessesMarkTheirEntriesOnceInProcessOrder) {
    const std::vector<ProcessFacts> processes{
        {100, "/usr/bin/gedit", {"gedit"}},
        {120, "/usr/bin/gnome-calculator", {"gnome-calculator", "--gapplication-service"}},
        // A script: the kernel runs the interpreter with the script's path after it.
        {130, "/usr/bin/python3.11", {"/usr/bin/python3", "/usr/bin/meld"}},
        {140, "/usr/bin/gnome-calculator", {"gnome-calculator"}},
        {150, "/usr/bin/bash", {"bash", "-l"}},
    };
    EXPECT_EQ(runningEntries(processes, entries),
              (Strings{"gedit.desktop", "org.gnome.Calculator.desktop", "meld.desktop"}));
}

TEST_F(RunningEntriesTest, PathsAndNamesMatchAsTheEntryWritesThem) {
    // The entry names /usr/bin/gedit: a gedit elsewhere is another program.
    EXPECT_TRUE(runningEntries({{1, "/opt/gedit/gedit", {"/opt/gedit/gedit"}}}, entries).empty());
    // A bare name matches wherever the program lies, also by argv[0] when exe differs (a wrapper).
    EXPECT_EQ(runningEntries({{1, "/usr/lib/x/calc-bin", {"/usr/local/bin/gnome-calculator"}}}, entries),
              Strings{"org.gnome.Calculator.desktop"});
    // An argument that merely looks like a program counts only after an interpreter.
    EXPECT_TRUE(runningEntries({{1, "/usr/bin/less", {"less", "meld"}}}, entries).empty());
}

TEST_F(RunningEntriesTest, ASharedProgramMarksOnlyTheEntryNamedAfterIt) {
    // The editor and its new-window action both start editor: only the entry whose id ends in
    // the program's name is marked. Writer and Calc share libreoffice and neither is named after
    // it: neither is marked rather than both.
    const std::vector<ProcessFacts> processes{
        {1, "/usr/bin/editor", {"editor"}},
        {2, "/usr/lib/libreoffice/program/soffice.bin", {"libreoffice", "--writer"}},
    };
    EXPECT_EQ(runningEntries(processes, entries), Strings{"org.example.Editor.desktop"});
}

// A /proc tree of our own: numbered directories with exe links and command lines.
class UserProcessesTest : public ::testing::Test {
protected:
    void SetUp() override {
        root = std::filesystem::temp_directory_path() / ("vantrel-proc-" + std::to_string(getpid()));
        std::filesystem::remove_all(root);
        std::filesystem::create_directories(root);
    }
    void TearDown() override { std::filesystem::remove_all(root); }

    void process(const std::string& pid, const std::string& exe, const std::string& cmdline) const {
        std::filesystem::create_directories(root / pid);
        if (!exe.empty()) {
            std::filesystem::create_symlink(exe, root / pid / "exe");
        }
        std::ofstream(root / pid / "cmdline", std::ios::binary) << cmdline;
    }

    std::filesystem::path root;
};

TEST_F(UserProcessesTest, ReadsNumberedProcessesWithAnExecutable) {
    process("200", "/usr/bin/gedit (deleted)", std::string("gedit\0--new-window\0", 19));
    process("31", "/usr/bin/meld", std::string("meld", 4));
    process("2", "", "");  // a kernel thread: no executable
    process("self", "/usr/bin/bash", std::string("bash\0", 5));
    const auto processes = UserProcesses(root).list();
    ASSERT_EQ(processes.size(), 2u);
    EXPECT_EQ(processes[0].pid, 31);
    EXPECT_EQ(processes[0].argv, Strings{"meld"});
    EXPECT_EQ(processes[1].executable, "/usr/bin/gedit") << "an updated executable is still the program";
    EXPECT_EQ(processes[1].argv, (Strings{"gedit", "--new-window"}));
}

// The workspace over processes, with the test entries installed: the stand-in application's
// process marks its entry, with its file and name; a program that many entries start marks none.
TEST_F(UserProcessesTest, TheWorkspaceListsTheEntriesWhoseProgramsRun) {
    process("40", "/usr/bin/true", std::string("true", 4));
    process("41", VANTREL_TEST_WINDOW, std::string(VANTREL_TEST_WINDOW) + '\0' + testing::testWindowClass);
    DesktopWorkspace workspace(nullptr, std::make_shared<ProcessWindows>(UserProcesses(root)));
    const auto running = workspace.runningApplications();
    ASSERT_EQ(running.size(), 1u);
    EXPECT_EQ(running[0].id, testing::testWindowEntry);
    EXPECT_EQ(running[0].location, testing::fixture().entry(testing::testWindowEntry));
    EXPECT_EQ(running[0].localizedName, "Test Window");
}

TEST(UserProcessesRealTest, FindsThisTestItself) {
    const auto processes = UserProcesses().list();
    const auto self = std::find_if(processes.begin(), processes.end(),
                                   [](const ProcessFacts& facts) { return facts.pid == getpid(); });
    ASSERT_NE(self, processes.end());
    EXPECT_EQ(self->executable, std::filesystem::read_symlink("/proc/self/exe").string());
    EXPECT_FALSE(self->argv.empty());
}

}  // namespace
}  // namespace vantrel::desktop
