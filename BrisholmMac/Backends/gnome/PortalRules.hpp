#pragma once

#include <gio/gio.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Capture/Displays.hpp"
#include "Platform/CredentialStore.hpp"

// The rules of the desktop portal route, pure over plain values: what an answer of the portal
// means, which stream shows which monitor, when Mutter's own services are not to be used, and how
// the screen cast's restore token is kept.
namespace vantrel::gnome {

// How the portal answered a request: the code of its Response signal (0 granted, 1 the user
// cancelled the dialog, 2 anything else), or no answer before the host stopped waiting.
enum class PortalAnswer { granted, refused, failed, unanswered };
[[nodiscard]] PortalAnswer portalAnswer(std::optional<std::uint32_t> responseCode);
// The answer in the log's words.
[[nodiscard]] const char* describe(PortalAnswer answer);

// A stream a portal session started: its PipeWire node and, where the portal says, where it sits
// on the desktop and how large it is (logical pixels).
struct PortalStream {
    std::uint32_t node = 0;
    std::optional<Rect> area;

    bool operator==(const PortalStream&) const = default;
};

// The streams of a Start answer ("streams", a(ua{sv})); none for a value of another shape.
[[nodiscard]] std::vector<PortalStream> streamsFromResults(GVariant* streams);

// Which stream shows which monitor, by connector: the stream placed where the monitor is; a lone
// stream without a place shows a lone monitor. Monitors no stream shows are left out.
[[nodiscard]] std::map<std::string, PortalStream> streamsByConnector(const std::vector<PortalStream>& streams,
                                                                     const std::vector<MonitorFacts>& monitors);

// Whether an error of Mutter's remote desktop service means it will not serve this program at all
// (the service is missing, or refuses the caller), so the portal is asked instead.
[[nodiscard]] bool mutterRefuses(const std::string& error);

// The screen cast's restore token in the session's credential store: the portal hands it out with
// the user's approval, and a later session that shows it starts with no dialog. Every start hands
// out a new one and takes the old one back, so each must replace the last.
class RestoreTokens {
public:
    explicit RestoreTokens(std::shared_ptr<CredentialStore> store);

    [[nodiscard]] std::optional<std::string> load();
    void keep(const std::string& token);
    void drop();

private:
    std::shared_ptr<CredentialStore> store_;
};

// One start of a portal session: the answer and the token it handed out, if any.
struct PortalStart {
    PortalAnswer answer = PortalAnswer::failed;
    std::optional<std::string> restoreToken;
};

// Starts a session with the stored token (start is given the token to show, or none for the
// dialog) and keeps the token the start hands out in its place. A stored token that fails the
// start is dropped and the start asked again without it; one that brought up the dialog anyway
// (the user refused, or did not answer) is dropped too, as the portal no longer knows it.
[[nodiscard]] PortalStart startRemembering(RestoreTokens& tokens,
                                           const std::function<PortalStart(const std::optional<std::string>&)>& start);

}  // namespace vantrel::gnome
