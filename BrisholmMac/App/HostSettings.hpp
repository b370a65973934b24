#pragma once

#include <optional>

class QSettings;
class QVariant;

// The desktop host's one setting that survives a restart, "followWindows", in QSettings.
namespace vantrel::hostsettings {

// On when never set, or when what is stored is no yes-or-no answer.
[[nodiscard]] bool followWindows(const QSettings& settings);
void setFollowWindows(QSettings& settings, bool follow);

// A stored yes-or-no answer. QSettings hands back a bool only while the value it wrote is still in
// its memory; read from the file again (every start, since Linux keeps settings as text) the same
// value is the string "true" or "false".
[[nodiscard]] std::optional<bool> storedBool(const QVariant& value);

}  // namespace vantrel::hostsettings
