#include <gtest/gtest.h>

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QVariant>

#include <optional>

#include "App/HostSettings.hpp"

namespace vantrel {
namespace {

// What a restart sees: the file as written, parsed afresh. Within one process Qt shares what it
// parsed among the settings objects of one path, so the next start reads a copy.
TEST(HostSettingsTest, FollowWindowsSurvivesARestartEitherWay) {
    QTemporaryDir directory;
    const QString file = directory.filePath("brisholm.conf");
    int start = 0;
    for (const bool follow : {false, true, false}) {
        {
            QSettings before(file, QSettings::NativeFormat);
            hostsettings::setFollowWindows(before, follow);
        }
        const QString restarted = directory.filePath(QStringLiteral("start-%1.conf").arg(++start));
        ASSERT_TRUE(QFile::copy(file, restarted));
        const QSettings after(restarted, QSettings::NativeFormat);
        EXPECT_EQ(hostsettings::followWindows(after), follow);
    }
}

TEST(HostSettingsTest, OnlyAYesOrNoCounts) {
    QTemporaryDir directory;
    const QSettings empty(directory.filePath("empty.conf"), QSettings::NativeFormat);
    EXPECT_TRUE(hostsettings::followWindows(empty)) << "on when never set";

    EXPECT_EQ(hostsettings::storedBool(QVariant(false)), false);
    EXPECT_EQ(hostsettings::storedBool(QVariant(QStringLiteral("false"))), false);
    EXPECT_EQ(hostsettings::storedBool(QVariant(QStringLiteral("true"))), true);
    for (const QVariant& other : {QVariant(), QVariant(0), QVariant(QStringLiteral("no")), QVariant(QStringLiteral("")),
                                  QVariant(QStringLiteral("FALSE "))}) {
        EXPECT_EQ(hostsettings::storedBool(other), std::nullopt) << other.toString().toStdString();
    }
}

}  // namespace
}  // namespace vantrel
