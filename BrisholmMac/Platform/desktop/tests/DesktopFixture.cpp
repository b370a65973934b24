#include "DesktopFixture.hpp"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <QColor>
#include <QGuiApplication>
#include <QImage>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace vantrel::desktop::testing {

namespace {

DesktopFixture theFixture;

void write(const std::filesystem::path& path, const std::string& contents) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path) << contents;
}

std::string entry(const std::string& name, const std::string& extra) {
    return "[Desktop Entry]\nType=Application\nName=" + name + "\n" + extra;
}

void makeDesktop(const std::filesystem::path& root) {
    const auto data = root / "data";
    const auto apps = data / "applications";
    const std::string helper = VANTREL_TEST_WINDOW;
    write(apps / "org.vantrel.Png.desktop",
          entry("Png Viewer", "Name[de]=PNG-Betrachter\nIcon=vantrel-png\nExec=true\n"));
    write(apps / "org.vantrel.Svg.desktop", entry("Svg Studio", "Icon=vantrel-svg\nExec=true\n"));
    write(apps / "org.vantrel.FileIcon.desktop",
          entry("File Icon", "Icon=" + (root / "wide-icon.png").string() + "\nExec=true\n"));
    write(apps / "org.vantrel.NoIcon.desktop", entry("No Icon", "Exec=true\n"));
    write(apps / "org.vantrel.Hidden.desktop", entry("Hidden", "Hidden=true\nExec=true\n"));
    write(apps / "org.vantrel.NoDisplay.desktop", entry("Menu Hidden", "NoDisplay=true\nExec=true\n"));
    write(apps / "org.vantrel.Uninstalled.desktop",
          entry("Uninstalled", "TryExec=/nonexistent/vantrel-program\nExec=/nonexistent/vantrel-program\n"));
    write(apps / testWindowEntry, entry("Test Window", "Icon=vantrel-png\nExec=" + helper + " " + testWindowClass +
                                                           "\nStartupWMClass=" + testWindowClass + "\n"));
    write(apps / fileBrowserEntry, entry("Files", "Exec=true %U\nMimeType=inode/directory;\n"));
    write(apps / "mimeapps.list", std::string("[Default Applications]\ninode/directory=") + fileBrowserEntry + "\n");
    write(apps / "org.vantrel.GtkApp.desktop", entry("Gtk App", "Exec=true\n"));
    write(apps / "vantrel-byclass.desktop", entry("By Class", "Exec=true\n"));
    write(apps / "org.vantrel.Claimer.desktop", entry("Claimer", "Exec=true\nStartupWMClass=Vantrel-Claimed\n"));

    const auto theme = data / "icons" / "hicolor";
    write(theme / "index.theme",
          "[Icon Theme]\nName=Hicolor\nDirectories=16x16/apps,scalable/apps\n\n"
          "[16x16/apps]\nSize=16\nType=Fixed\n\n[scalable/apps]\nSize=48\nMinSize=8\nMaxSize=512\nType=Scalable\n");
    std::filesystem::create_directories(theme / "16x16" / "apps");
    QImage red(16, 16, QImage::Format_RGBA8888);
    red.fill(QColor(255, 0, 0));
    red.save(QString::fromStdString((theme / "16x16" / "apps" / "vantrel-png.png").string()), "PNG");
    write(theme / "scalable" / "apps" / "vantrel-svg.svg",
          "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"48\" height=\"48\" viewBox=\"0 0 48 48\">"
          "<rect width=\"48\" height=\"48\" fill=\"#0000ff\"/></svg>\n");
    QImage wide(64, 32, QImage::Format_RGBA8888);
    wide.fill(QColor(0, 255, 0));
    wide.save(QString::fromStdString((root / "wide-icon.png").string()), "PNG");

    const auto schemas = root / "schemas";
    write(schemas / "org.gnome.shell.gschema.xml",
          "<schemalist><schema id=\"org.gnome.shell\" path=\"/org/gnome/shell/\">"
          "<key name=\"favorite-apps\" type=\"as\">"
          "<default>['org.vantrel.Svg.desktop', 'gone.desktop', 'org.vantrel.Png.desktop']</default>"
          "</key></schema></schemalist>\n");
    const std::string compile = "glib-compile-schemas '" + schemas.string() + "'";
    if (std::system(compile.c_str()) != 0) {
        std::fprintf(stderr, "desktop fixture: glib-compile-schemas failed\n");
    }

    theFixture.root = root.string();
    theFixture.dataDir = data.string();
    theFixture.schemaDir = schemas.string();
}

}  // namespace

const DesktopFixture& fixture() {
    return theFixture;
}

}  // namespace vantrel::desktop::testing

int main(int argc, char** argv) {
    using vantrel::desktop::testing::theFixture;
    char pattern[] = "/tmp/vantrel-desktop-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::filesystem::path root = pattern;
    std::filesystem::create_directories(root / "home");
    std::filesystem::create_directories(root / "run");
    ::chmod((root / "run").c_str(), 0700);
    setenv("XDG_DATA_DIRS", (root / "data").c_str(), 1);
    setenv("XDG_DATA_HOME", (root / "home").c_str(), 1);
    // The user's own default applications (mimeapps.list) would override the test's.
    setenv("XDG_CONFIG_HOME", (root / "home").c_str(), 1);
    setenv("XDG_CONFIG_DIRS", (root / "home").c_str(), 1);
    setenv("GSETTINGS_BACKEND", "memory", 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    if (getenv("XDG_RUNTIME_DIR") == nullptr) {
        setenv("XDG_RUNTIME_DIR", (root / "run").c_str(), 1);
    }

    int status = 0;
    {
        QGuiApplication application(argc, argv);
        vantrel::desktop::testing::makeDesktop(root);
        ::testing::InitGoogleTest(&argc, argv);
        status = RUN_ALL_TESTS();
    }
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
    return status;
}
