#include "Backends/gnome/GnomeInput.hpp"

#include <gio/gio.h>

#include <array>
#include <utility>

#include "Backends/gnome/RemoteClipboard.hpp"
#include "Input/XkbKeymap.hpp"
#include "Log/DiagnosticLog.hpp"
#include "Platform/desktop/GioHandles.hpp"

namespace vantrel::gnome {

namespace {

using desktop::GObjectPtr;
using GVariantPtr = std::unique_ptr<GVariant, desktop::GVariantUnref>;

constexpr std::int32_t buttonLeft = 0x110;
constexpr std::int32_t buttonRight = 0x111;
constexpr std::int32_t buttonMiddle = 0x112;
// evdev numbers keys eight below XKB.
constexpr Keycode evdevOffset = 8;

std::optional<XkbLayout> firstXkb(const std::vector<InputSource>& sources) {
    for (const auto& source : sources) {
        if (source.type != "xkb" || source.id.empty()) {
            continue;
        }
        const auto plus = source.id.find('+');
        if (plus == std::string::npos) {
            return XkbLayout{source.id, ""};
        }
        return XkbLayout{source.id.substr(0, plus), source.id.substr(plus + 1)};
    }
    return std::nullopt;
}

struct LayoutSettings {
    std::optional<XkbLayout> layout;
    std::string options;  // comma separated, as XKB wants them
    const char* source = "no layout set";
};

// The system's keyboard as systemd-localed keeps it (started on demand), read over the system
// bus; empty strings where it cannot be read.
std::array<std::string, 3> localedKeyboard() {
    std::array<std::string, 3> values;
    std::string error;
    const auto bus = privateBus(G_BUS_TYPE_SYSTEM, error);
    if (!bus) {
        diagnosticLog().debug("input: no system bus for the system's keyboard layout: {}", error);
        return values;
    }
    const std::array<const char*, 3> names{"X11Layout", "X11Variant", "X11Options"};
    for (std::size_t index = 0; index < names.size(); ++index) {
        const auto reply = callSync(
            bus.get(), "org.freedesktop.locale1", "/org/freedesktop/locale1", "org.freedesktop.DBus.Properties", "Get",
            g_variant_new("(ss)", "org.freedesktop.locale1", names[index]), "(v)", error, 2000, G_DBUS_CALL_FLAGS_NONE);
        if (!reply) {
            diagnosticLog().debug("input: the system's keyboard layout cannot be read: {}", error);
            return values;
        }
        const GVariantPtr boxed(g_variant_get_child_value(reply.get(), 0));
        const GVariantPtr value(g_variant_get_variant(boxed.get()));
        if (g_variant_is_of_type(value.get(), G_VARIANT_TYPE_STRING)) {
            values[index] = g_variant_get_string(value.get(), nullptr);
        }
    }
    return values;
}

std::vector<InputSource> sources(GSettings* settings, const char* key) {
    std::vector<InputSource> result;
    GVariant* value = g_settings_get_value(settings, key);
    GVariantIter iter;
    g_variant_iter_init(&iter, value);
    const char* type = nullptr;
    const char* id = nullptr;
    while (g_variant_iter_next(&iter, "(&s&s)", &type, &id)) {
        result.push_back({type, id});
    }
    g_variant_unref(value);
    return result;
}

// GNOME's input sources, when its settings schema is installed.
LayoutSettings readLayoutSettings() {
    constexpr const char* schemaId = "org.gnome.desktop.input-sources";
    GSettingsSchemaSource* source = g_settings_schema_source_get_default();
    const std::unique_ptr<GSettingsSchema, desktop::GSettingsSchemaUnref> schema(
        source != nullptr ? g_settings_schema_source_lookup(source, schemaId, TRUE) : nullptr);
    if (!schema) {
        return {};
    }
    const GObjectPtr<GSettings> settings(g_settings_new(schemaId));
    LayoutSettings result;
    if (g_settings_schema_has_key(schema.get(), "mru-sources")) {
        result.layout = activeLayout(sources(settings.get(), "mru-sources"), sources(settings.get(), "sources"));
    } else {
        result.layout = activeLayout({}, sources(settings.get(), "sources"));
    }
    if (result.layout) {
        result.source = "GNOME's input sources";
    }
    const std::unique_ptr<gchar*, desktop::GStrvFree> options(g_settings_get_strv(settings.get(), "xkb-options"));
    for (gchar** option = options.get(); option != nullptr && *option != nullptr; ++option) {
        result.options += (result.options.empty() ? "" : ",") + std::string(*option);
    }
    return result;
}

std::optional<XkbKeymap> compileKeymap() {
    auto settings = readLayoutSettings();
    if (!settings.layout) {
        // No input source: the compositor types with the system's keyboard, as localed keeps it.
        const auto [layout, variant, options] = localedKeyboard();
        settings.layout = systemLayout(layout, variant);
        if (settings.layout) {
            settings.source = "the system's keyboard (localed)";
            if (settings.options.empty()) {
                settings.options = options;
            }
        }
    }
    const XkbContextPtr context(xkb_context_new(XKB_CONTEXT_NO_FLAGS));
    if (!context) {
        return std::nullopt;
    }
    // Empty names take the XKB defaults (XKB_DEFAULT_LAYOUT ..., else us), as the compositor does.
    xkb_rule_names names{};
    if (settings.layout) {
        names.layout = settings.layout->layout.c_str();
        names.variant = settings.layout->variant.c_str();
    }
    if (!settings.options.empty()) {
        names.options = settings.options.c_str();
    }
    XkbKeymapPtr keymap(xkb_keymap_new_from_names(context.get(), &names, XKB_KEYMAP_COMPILE_NO_FLAGS));
    if (!keymap) {
        return std::nullopt;
    }
    diagnosticLog().info("input: typing with the XKB layout {} ({})",
                         settings.layout ? settings.layout->layout +
                                               (settings.layout->variant.empty() ? "" : "+" + settings.layout->variant)
                                         : "default",
                         settings.source);
    return XkbKeymap(std::move(keymap));
}

class GnomeInputDevice final : public InputDevice {
public:
    GnomeInputDevice(std::shared_ptr<SessionBroker> broker, XkbKeymap keymap)
        : broker_(std::move(broker)), keymap_(std::move(keymap)) {}

    // Wayland tells nobody where the pointer is: where we put it last is the best there is.
    std::optional<Point> pointerLocation() override { return placed_; }

    void movePointer(Point to) override {
        auto* session = current();
        if (session == nullptr) {
            return;
        }
        if (!session->movePointer(to)) {
            diagnosticLog().debug("input: no stream shows {},{}; the pointer stays", to.x, to.y);
            return;
        }
        placed_ = to;
    }

    void pressButton(int button, bool down) override {
        const auto action = pointerAction(button);
        auto* session = action ? current() : nullptr;
        if (session == nullptr) {
            return;
        }
        if (!action->wheel) {
            session->pressButton(action->evdevButton, down);
        } else if (down) {
            // A wheel click is a press and a release: one step for the pair.
            session->scrollSteps(action->axis, action->steps);
        }
    }

    void pressKey(Keycode keycode, bool down) override {
        if (keycode < evdevOffset) {
            return;
        }
        if (auto* session = current()) {
            session->pressKey(keycode - evdevOffset, down);
        }
    }

    std::optional<Keycode> keycodeForKeyName(std::string_view name) override { return keymap().keycodeForName(name); }
    std::optional<Keycode> modifierKeycode(ModifierKey key) override { return keymap().modifierKeycode(key); }
    std::optional<KeyStroke> strokeForCharacter(char32_t character) override {
        const xkb_keysym_t keysym = keysymForCharacter(character);
        if (keysym == 0) {
            return std::nullopt;
        }
        // The first layout with no lock held: what a desk keyboard types unless Caps Lock is on.
        return keymap().strokeFor(keysym, 0, 0);
    }

    bool pastesText() const override { return true; }
    bool pasteText(std::string_view utf8) override {
        auto* session = current();
        if (session == nullptr) {
            return false;
        }
        if (session->throughPortal()) {
            // Debian 12's portal offers a remote desktop session no clipboard.
            if (!portalPasteLogged_) {
                portalPasteLogged_ = true;
                diagnosticLog().warn("input: characters the layout lacks cannot be typed through the desktop portal");
            }
            return false;
        }
        if (!clipboard_) {
            std::string error;
            clipboard_ = RemoteClipboard::open(session->connection(), session->sessionPath(), error);
            if (!clipboard_) {
                diagnosticLog().warn("input: {}", error);
                return false;
            }
        }
        const auto chords = pasteChords(keymap());
        return clipboard_->paste(utf8, chords.size(), [&](std::size_t index) {
            const KeyStroke& chord = chords[index];
            for (const Keycode modifier : chord.modifiers) {
                pressKey(modifier, true);
            }
            pressKey(chord.keycode, true);
            pressKey(chord.keycode, false);
            for (auto modifier = chord.modifiers.rbegin(); modifier != chord.modifiers.rend(); ++modifier) {
                pressKey(*modifier, false);
            }
            session->flush();
        });
    }

    std::vector<Keycode> spareKeycodes() override { return {}; }
    bool bindKeycode(Keycode /*keycode*/, std::optional<char32_t> /*character*/) override { return false; }
    bool syncWithFocusedClient() override { return false; }
    std::uint64_t keymapGeneration() override {
        (void)keymap();
        return generation_;
    }

    void flush() override {
        if (session_) {
            session_->flush();
        }
    }

    void sessionOver() override {
        clipboard_.reset();
        session_.reset();
        placed_.reset();
        // The desk may choose another layout between phones: the next phone types with the one
        // chosen then. Read when it first types, not now: a phone leaving on the way to the host's
        // end needs none.
        keymapStale_ = true;
    }

private:
    // The layout, read again when a phone left since it was last read.
    const XkbKeymap& keymap() {
        if (std::exchange(keymapStale_, false)) {
            if (auto fresh = compileKeymap()) {
                keymap_ = std::move(*fresh);
                ++generation_;
            }
        }
        return keymap_;
    }

    // The phone's session, opened by the first event when its capturer has not opened it yet.
    RemoteSession* current() {
        if (session_ && session_->superseded()) {
            clipboard_.reset();
            session_.reset();
        }
        if (!session_) {
            std::string error;
            session_ = broker_->acquire(error, {}, SessionBroker::Asker::input);
            // Every event asks again while there is none (the portal's dialog may be up for a
            // minute): the reason goes to the log once, and again only when it changes.
            if (!session_ && error != lastSessionError_) {
                diagnosticLog().warn("input: no remote desktop session with the compositor: {}", error);
            }
            lastSessionError_ = session_ ? std::string{} : error;
        }
        return session_.get();
    }

    std::shared_ptr<SessionBroker> broker_;
    XkbKeymap keymap_;
    bool keymapStale_ = false;
    std::shared_ptr<RemoteSession> session_;
    // The session's clipboard, opened by the first paste; it goes before the session it uses.
    std::unique_ptr<RemoteClipboard> clipboard_;
    bool portalPasteLogged_ = false;
    std::string lastSessionError_;  // why the last event found no session; empty once one was there
    std::optional<Point> placed_;
    std::uint64_t generation_ = 0;
};

}  // namespace

std::optional<XkbLayout> activeLayout(const std::vector<InputSource>& mostRecentlyUsed,
                                      const std::vector<InputSource>& configured) {
    if (auto layout = firstXkb(mostRecentlyUsed)) {
        return layout;
    }
    return firstXkb(configured);
}

std::optional<XkbLayout> systemLayout(const std::string& layouts, const std::string& variants) {
    const auto first = [](const std::string& list) { return list.substr(0, list.find(',')); };
    if (first(layouts).empty()) {
        return std::nullopt;
    }
    return XkbLayout{first(layouts), first(variants)};
}

std::vector<KeyStroke> pasteChords(const XkbKeymap& keymap) {
    std::vector<KeyStroke> chords;
    const auto control = keymap.modifierKeycode(ModifierKey::control);
    const auto shift = keymap.modifierKeycode(ModifierKey::shift);
    if (!shift) {
        return chords;
    }
    const auto typesV = keymap.strokeFor(XKB_KEY_v, 0, 0);
    const auto v = typesV && typesV->modifiers.empty() ? std::optional(typesV->keycode) : keymap.keycodeForName("AB04");
    if (control && v) {
        chords.push_back({*v, {*control, *shift}});
    }
    if (const auto insert = keymap.keycodeForName("INS")) {
        chords.push_back({*insert, {*shift}});
    }
    return chords;
}

std::optional<PointerAction> pointerAction(int button) {
    switch (button) {
        case pointerButton::left: return PointerAction{false, buttonLeft, 0, 0};
        case pointerButton::middle: return PointerAction{false, buttonMiddle, 0, 0};
        case pointerButton::right: return PointerAction{false, buttonRight, 0, 0};
        case pointerButton::wheelUp: return PointerAction{true, 0, 0, -1};
        case pointerButton::wheelDown: return PointerAction{true, 0, 0, 1};
        case pointerButton::wheelLeft: return PointerAction{true, 0, 1, -1};
        case pointerButton::wheelRight: return PointerAction{true, 0, 1, 1};
        default: return std::nullopt;
    }
}

std::shared_ptr<InputDevice> openGnomeInputDevice(std::shared_ptr<SessionBroker> broker) {
    auto keymap = compileKeymap();
    if (!keymap) {
        diagnosticLog().warn("input: no XKB keymap compiles for GNOME's layout");
        return nullptr;
    }
    return std::make_shared<GnomeInputDevice>(std::move(broker), std::move(*keymap));
}

}  // namespace vantrel::gnome
