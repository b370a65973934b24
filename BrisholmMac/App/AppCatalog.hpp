#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "Platform/Workspace.hpp"
#include "vantrel/Bytes.hpp"
#include "vantrel/ControlMessages.hpp"

namespace vantrel {

// The desktop-entry id the host installs itself under (App/brisholm.desktop). The phone is never
// offered the host itself: opening it from the phone would only start a second host.
inline constexpr std::string_view hostDesktopId = "brisholm.desktop";

// Decides which applications the phone is offered and opens the one it asks for.
//
// The list holds first the pinned applications in pinned order (running or not, each installed
// one once), then every other running application in the workspace's order; the host itself is
// never listed and no application twice. It is cut after AppList::maxCount entries; the entries
// past the cut are still resolved and their icons drawn and cached, but neither offered nor
// openable.
//
// Icons are drawn and encoded once per application identifier for the life of the catalog; a
// changed icon shows after a restart of the host. The list is rebuilt every few seconds while a
// phone is connected, so this cache is what keeps a rebuild cheap.
//
// Lives on the main thread, like the workspace it asks.
class AppCatalog {
public:
    explicit AppCatalog(std::shared_ptr<Workspace> workspace,
                        std::optional<std::string> ownId = std::string(hostDesktopId));

    // The offered applications, in offer order.
    [[nodiscard]] AppList current();

    // Opens or brings forward the application id when allowed (the last list offered to the
    // phone) holds it; does nothing before a list was offered, for an identifier the list does
    // not hold, or for an application that can no longer be located. Reports nothing.
    void open(const std::string& id, const std::optional<AppList>& allowed);

private:
    [[nodiscard]] std::optional<Bytes> icon(const std::string& id, const std::string& location);

    std::shared_ptr<Workspace> workspace_;
    std::optional<std::string> ownId_;
    std::unordered_map<std::string, Bytes> iconCache_;
};

}  // namespace vantrel
