#include "Backends/gnome/PortalRules.hpp"

#include <utility>

#include "Log/DiagnosticLog.hpp"

namespace vantrel::gnome {

namespace {

// Where the restore token is filed, beside the pairing key.
const CredentialName tokenName{"Vantrel", "screencast-restore-token"};
constexpr const char* tokenLabel = "Vantrel: Bildschirmfreigabe";

// An integer pair of a stream's properties ("position", "size"), when present with that type.
std::optional<std::pair<std::int32_t, std::int32_t>> pairOf(GVariant* properties, const char* key) {
    std::int32_t first = 0;
    std::int32_t second = 0;
    if (g_variant_lookup(properties, key, "(ii)", &first, &second) == FALSE) {
        return std::nullopt;
    }
    return std::pair{first, second};
}

}  // namespace

PortalAnswer portalAnswer(std::optional<std::uint32_t> responseCode) {
    if (!responseCode) {
        return PortalAnswer::unanswered;
    }
    switch (*responseCode) {
        case 0: return PortalAnswer::granted;
        case 1: return PortalAnswer::refused;
        default: return PortalAnswer::failed;
    }
}

const char* describe(PortalAnswer answer) {
    switch (answer) {
        case PortalAnswer::granted: return "granted";
        case PortalAnswer::refused: return "the user refused the dialog at the computer";
        case PortalAnswer::failed: return "the portal failed";
        case PortalAnswer::unanswered: return "nobody answered the dialog at the computer in time";
    }
    return "unknown";
}

std::vector<PortalStream> streamsFromResults(GVariant* streams) {
    std::vector<PortalStream> result;
    if (streams == nullptr || !g_variant_is_of_type(streams, G_VARIANT_TYPE("a(ua{sv})"))) {
        return result;
    }
    GVariantIter iter;
    g_variant_iter_init(&iter, streams);
    std::uint32_t node = 0;
    GVariant* properties = nullptr;
    while (g_variant_iter_next(&iter, "(u@a{sv})", &node, &properties)) {
        PortalStream stream{node, std::nullopt};
        const auto position = pairOf(properties, "position");
        const auto size = pairOf(properties, "size");
        if (size && size->first > 0 && size->second > 0) {
            const auto at = position.value_or(std::pair{0, 0});
            stream.area = Rect{static_cast<double>(at.first), static_cast<double>(at.second),
                               static_cast<double>(size->first), static_cast<double>(size->second)};
        }
        g_variant_unref(properties);
        result.push_back(stream);
    }
    return result;
}

std::map<std::string, PortalStream> streamsByConnector(const std::vector<PortalStream>& streams,
                                                       const std::vector<MonitorFacts>& monitors) {
    std::map<std::string, PortalStream> shown;
    if (streams.size() == 1 && monitors.size() == 1 && !streams.front().area) {
        shown[monitors.front().outputName] = streams.front();
        return shown;
    }
    for (const auto& monitor : monitors) {
        for (const auto& stream : streams) {
            if (stream.area && stream.area->x == monitor.bounds.x && stream.area->y == monitor.bounds.y) {
                shown[monitor.outputName] = stream;
                break;
            }
        }
    }
    return shown;
}

bool mutterRefuses(const std::string& error) {
    // GLib spells a D-Bus error name into the message of the error it makes of it.
    for (const char* name : {"org.freedesktop.DBus.Error.AccessDenied", "org.freedesktop.DBus.Error.ServiceUnknown",
                             "org.freedesktop.DBus.Error.NameHasNoOwner", "org.freedesktop.DBus.Error.UnknownMethod",
                             "org.freedesktop.DBus.Error.UnknownObject"}) {
        if (error.find(name) != std::string::npos) {
            return true;
        }
    }
    return false;
}

RestoreTokens::RestoreTokens(std::shared_ptr<CredentialStore> store) : store_(std::move(store)) {}

std::optional<std::string> RestoreTokens::load() {
    if (!store_) {
        return std::nullopt;
    }
    const auto read = store_->read(tokenName);
    if (read.status != CredentialStatus::ok) {
        diagnosticLog().info("portal: no stored screen sharing approval ({}); the dialog asks", read.reason);
        return std::nullopt;
    }
    if (read.secrets.empty() || read.secrets.front().empty()) {
        return std::nullopt;
    }
    const auto& secret = read.secrets.front();
    return std::string(secret.begin(), secret.end());
}

void RestoreTokens::keep(const std::string& token) {
    if (!store_) {
        return;
    }
    const auto written = store_->replace(tokenName, tokenLabel, Bytes(token.begin(), token.end()));
    if (written.status != CredentialStatus::ok) {
        diagnosticLog().warn("portal: cannot keep the screen sharing approval ({}); the next phone asks again",
                             written.reason);
    }
}

void RestoreTokens::drop() {
    if (!store_) {
        return;
    }
    // The store has no removal of its own: an empty secret stands for none.
    (void)store_->replace(tokenName, tokenLabel, Bytes{});
}

PortalStart startRemembering(RestoreTokens& tokens,
                             const std::function<PortalStart(const std::optional<std::string>&)>& start) {
    auto shown = tokens.load();
    auto started = start(shown);
    if (shown && started.answer == PortalAnswer::failed) {
        diagnosticLog().info("portal: the stored screen sharing approval is refused; asking again");
        tokens.drop();
        shown.reset();
        started = start(shown);
    }
    if (started.answer == PortalAnswer::granted && started.restoreToken) {
        tokens.keep(*started.restoreToken);
    } else if (shown) {
        // Used up by this start, or refused: keeping it would only bring up the dialog again.
        tokens.drop();
    }
    return started;
}

}  // namespace vantrel::gnome
