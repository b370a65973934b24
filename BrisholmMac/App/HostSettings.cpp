#include "App/HostSettings.hpp"

#include <QSettings>
#include <QString>
#include <QVariant>

namespace vantrel::hostsettings {

namespace {

constexpr const char* followWindowsKey = "followWindows";

}  // namespace

std::optional<bool> storedBool(const QVariant& value) {
    if (value.typeId() == QMetaType::Bool) {
        return value.toBool();
    }
    if (value.typeId() == QMetaType::QString) {
        // Exactly what QSettings writes for a bool; anything else (a hand-edited "yes", a number)
        // is no answer, and the default applies.
        const QString text = value.toString();
        if (text == QLatin1String("true")) {
            return true;
        }
        if (text == QLatin1String("false")) {
            return false;
        }
    }
    return std::nullopt;
}

bool followWindows(const QSettings& settings) {
    return storedBool(settings.value(followWindowsKey)).value_or(true);
}

void setFollowWindows(QSettings& settings, bool follow) {
    settings.setValue(followWindowsKey, follow);
}

}  // namespace vantrel::hostsettings
