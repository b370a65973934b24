#include "Backends/gnome/DBusCall.hpp"

#include "Log/DiagnosticLog.hpp"

namespace vantrel::gnome {

namespace {

using GErrorPtr = std::unique_ptr<GError, desktop::GErrorFree>;
using GCharPtr = std::unique_ptr<gchar, desktop::GFree>;

}  // namespace

GVariantPtr callSync(GDBusConnection* connection, const char* service, const char* path, const char* interface,
                     const char* method, GVariant* args, const char* replyType, std::string& error, int timeoutMillis,
                     GDBusCallFlags flags) {
    GError* raw = nullptr;
    GVariantPtr reply(g_dbus_connection_call_sync(connection, service, path, interface, method, args,
                                                  replyType != nullptr ? G_VARIANT_TYPE(replyType) : nullptr, flags,
                                                  timeoutMillis, nullptr, &raw));
    if (!reply) {
        const GErrorPtr failure(raw);
        error = std::string(interface) + "." + method + ": " + (failure ? failure->message : "no reply");
    }
    return reply;
}

GVariantPtr property(GDBusConnection* connection, const char* service, const char* path, const char* interface,
                     const char* name, std::string& error) {
    auto reply = callSync(connection, service, path, "org.freedesktop.DBus.Properties", "Get",
                          g_variant_new("(ss)", interface, name), "(v)", error);
    if (!reply) {
        return nullptr;
    }
    const GVariantPtr boxed(g_variant_get_child_value(reply.get(), 0));
    return GVariantPtr(g_variant_get_variant(boxed.get()));
}

GVariantPtr startedProperty(GDBusConnection* connection, const char* service, const char* path, const char* interface,
                            const char* name, std::string& error) {
    auto reply = callSync(connection, service, path, "org.freedesktop.DBus.Properties", "Get",
                          g_variant_new("(ss)", interface, name), "(v)", error, 5000, G_DBUS_CALL_FLAGS_NONE);
    if (!reply) {
        return nullptr;
    }
    const GVariantPtr boxed(g_variant_get_child_value(reply.get(), 0));
    return GVariantPtr(g_variant_get_variant(boxed.get()));
}

bool nameHasOwner(GDBusConnection* connection, const char* name) {
    std::string error;
    const auto reply = callSync(connection, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                "NameHasOwner", g_variant_new("(s)", name), "(b)", error, 2000);
    if (!reply) {
        diagnosticLog().debug("gnome: cannot ask the session bus for {}: {}", name, error);
        return false;
    }
    gboolean owned = FALSE;
    g_variant_get(reply.get(), "(b)", &owned);
    return owned != FALSE;
}

GDBusConnectionPtr sessionBus() {
    std::string error;
    auto bus = privateSessionBus(error);
    if (!bus) {
        diagnosticLog().debug("gnome: {}", error);
    }
    return bus;
}

GDBusConnectionPtr privateSessionBus(std::string& error) {
    return privateBus(G_BUS_TYPE_SESSION, error);
}

GDBusConnectionPtr privateBus(GBusType type, std::string& error) {
    const std::string name = type == G_BUS_TYPE_SYSTEM ? "system bus" : "session bus";
    GError* raw = nullptr;
    const GCharPtr address(g_dbus_address_get_for_bus_sync(type, nullptr, &raw));
    if (!address) {
        const GErrorPtr failure(raw);
        error = "no " + name + ": " + (failure ? failure->message : "unknown");
        return nullptr;
    }
    GDBusConnectionPtr connection(g_dbus_connection_new_for_address_sync(
        address.get(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, &raw));
    if (!connection) {
        const GErrorPtr failure(raw);
        error = "cannot connect to the " + name + ": " + (failure ? failure->message : "unknown");
        return nullptr;
    }
    // The process must not exit when the bus goes away under us (the compositor's, a test's).
    g_dbus_connection_set_exit_on_close(connection.get(), FALSE);
    return connection;
}

}  // namespace vantrel::gnome
