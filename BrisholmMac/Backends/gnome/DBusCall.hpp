#pragma once

#include <gio/gio.h>

#include <memory>
#include <string>

#include "Platform/desktop/GioHandles.hpp"
#include "Platform/desktop/PrivateMainContext.hpp"

namespace vantrel::gnome {

using desktop::GObjectPtr;
using GVariantPtr = std::unique_ptr<GVariant, desktop::GVariantUnref>;
using GDBusConnectionPtr = GObjectPtr<GDBusConnection>;

// GNOME's compositor's services on the session bus.
inline constexpr const char* screenCastService = "org.gnome.Mutter.ScreenCast";
inline constexpr const char* remoteDesktopService = "org.gnome.Mutter.RemoteDesktop";
inline constexpr const char* displayConfigService = "org.gnome.Mutter.DisplayConfig";

// A D-Bus method call that waits for its reply: the reply (of replyType, when given), or null with
// the bus's reason in error. args is floating or null and consumed.
[[nodiscard]] GVariantPtr callSync(GDBusConnection* connection, const char* service, const char* path,
                                   const char* interface, const char* method, GVariant* args, const char* replyType,
                                   std::string& error, int timeoutMillis = 5000,
                                   GDBusCallFlags flags = G_DBUS_CALL_FLAGS_NO_AUTO_START);

// A property of an object, or null with the reason in error.
[[nodiscard]] GVariantPtr property(GDBusConnection* connection, const char* service, const char* path,
                                   const char* interface, const char* name, std::string& error);

// A property of an object of a service the bus may start to answer (the desktop portal starts on
// demand), or null with the reason in error.
[[nodiscard]] GVariantPtr startedProperty(GDBusConnection* connection, const char* service, const char* path,
                                          const char* interface, const char* name, std::string& error);

// Whether someone owns name on the bus of connection.
[[nodiscard]] bool nameHasOwner(GDBusConnection* connection, const char* name);

// A connection to the session bus for a part of the backend, its own rather than GLib's shared
// one, which would outlive the bus it was made for (a test's private session); null (with a debug
// line) when there is none.
[[nodiscard]] GDBusConnectionPtr sessionBus();

// A connection of its own to the session bus, which nobody else uses: what is made over it ends
// when it closes. Null with the reason in error.
[[nodiscard]] GDBusConnectionPtr privateSessionBus(std::string& error);
// The same on the bus of type (the system bus for localed).
[[nodiscard]] GDBusConnectionPtr privateBus(GBusType type, std::string& error);

}  // namespace vantrel::gnome
