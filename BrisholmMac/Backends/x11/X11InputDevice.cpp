#include "Backends/x11/X11InputDevice.hpp"

#include <xcb/xtest.h>
#include <xkbcommon/xkbcommon-x11.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <functional>
#include <limits>
#include <set>
#include <vector>

#include "Backends/x11/KeymapEvents.hpp"
#include "Backends/x11/X11Connection.hpp"
#include "Input/XkbKeymap.hpp"
#include "Log/DiagnosticLog.hpp"

namespace vantrel {

namespace {

using x11::X11Connection;
using x11::XcbReply;

// The XKB events share their first bytes; the kind is in the second.
union XkbEvent {
    struct {
        std::uint8_t responseType;
        std::uint8_t xkbType;
    } any;
    xcb_xkb_new_keyboard_notify_event_t newKeyboard;
    xcb_xkb_map_notify_event_t map;
};

// The longest wait for the server's word on a new mapping. It answers within a round trip; this
// only bounds the wait should a notification never come.
constexpr auto mappingNotifyTimeout = std::chrono::seconds(1);
// The longest wait for the focused application's answer to a ping. A responsive one answers
// within milliseconds; a stuck one costs this much once per round through the spare keys.
constexpr auto pingTimeout = std::chrono::milliseconds(250);

}  // namespace

struct X11InputDevice::State {
    std::shared_ptr<X11Connection> connection;
    std::vector<X11Connection::Subscription> subscriptions;
    xcb_window_t root = XCB_NONE;
    std::uint8_t xkbEventBase = 0;
    std::int32_t keyboard = -1;
    XkbContextPtr context;
    std::optional<XkbKeymap> keymap;
    std::uint64_t generation = 0;
    // Keys this device has bound: notifications about them are our own.
    std::set<Keycode> boundByUs;
    bool brokenLogged = false;
    bool notifyTimeoutLogged = false;
    bool pingTimeoutLogged = false;
    xcb_atom_t wmProtocols = XCB_ATOM_NONE;
    xcb_atom_t netWmPing = XCB_ATOM_NONE;
    std::uint32_t pingSerial = 0;
    // The last focused window asked, and the window of its application that answers pings.
    xcb_window_t pingFocus = XCB_NONE;
    std::optional<xcb_window_t> pingTarget;
    // The serial of the last ping the focused application answered.
    std::uint32_t pingAnswered = 0;
    // The key whose new mapping is awaited, and whether the server has announced it.
    std::optional<Keycode> awaitedMapping;
    bool mappingAnnounced = false;

    xcb_connection_t* c() const { return connection->get(); }

    bool usable() {
        if (!connection->broken()) {
            return true;
        }
        if (!brokenLogged) {
            brokenLogged = true;
            diagnosticLog().warn("input: the connection to the X display is lost; input is dropped");
        }
        return false;
    }

    bool ours(Keycode first, unsigned count) const {
        for (unsigned i = 0; i < count; ++i) {
            if (!boundByUs.contains(first + i)) {
                return false;
            }
        }
        return count > 0;
    }

    // Takes the news of one event: a mapping of the awaited key, a keymap changed by someone else
    // (dropped, so that the next question reads the new one), or the answer to a ping.
    void handle(const xcb_generic_event_t* event) {
        const std::uint8_t type = event->response_type & 0x7FU;
        if (type == XCB_CLIENT_MESSAGE) {
            const auto* message = reinterpret_cast<const xcb_client_message_event_t*>(event);
            if (message->type == wmProtocols && message->data.data32[0] == netWmPing) {
                pingAnswered = message->data.data32[1];
            }
            return;
        }
        Keycode first = 0;
        unsigned count = 0;
        bool replaced = false;
        if (type == XCB_MAPPING_NOTIFY) {
            const auto* notify = reinterpret_cast<const xcb_mapping_notify_event_t*>(event);
            if (notify->request == XCB_MAPPING_KEYBOARD) {
                first = notify->first_keycode;
                count = notify->count;
            } else {
                replaced = notify->request == XCB_MAPPING_MODIFIER;
            }
        } else if (type == xkbEventBase) {
            const auto* xkb = reinterpret_cast<const XkbEvent*>(event);
            if (xkb->any.xkbType == XCB_XKB_MAP_NOTIFY) {
                first = xkb->map.firstKeySym;
                count = xkb->map.nKeySyms;
                replaced = count == 0;
            } else if (xkb->any.xkbType == XCB_XKB_NEW_KEYBOARD_NOTIFY) {
                replaced = true;
            }
        }
        if (awaitedMapping && count > 0 && *awaitedMapping >= first && *awaitedMapping < first + count) {
            mappingAnnounced = true;
        }
        if (replaced || (count > 0 && !ours(first, count))) {
            if (keymap) {
                keymap.reset();
                ++generation;
                boundByUs.clear();
            }
        }
    }

    void drainEvents() { connection->dispatchPending(); }

    XkbKeymap* currentKeymap() {
        drainEvents();
        if (!keymap && usable()) {
            XkbKeymapPtr fresh(
                xkb_x11_keymap_new_from_device(context.get(), c(), keyboard, XKB_KEYMAP_COMPILE_NO_FLAGS));
            if (!fresh) {
                diagnosticLog().warn("input: cannot read the keyboard's keymap");
                return nullptr;
            }
            keymap.emplace(std::move(fresh));
        }
        return keymap ? &*keymap : nullptr;
    }

    // Reads events until seen() holds or the timeout passes; says which.
    bool waitFor(std::chrono::milliseconds timeout, const std::function<bool()>& seen) {
        return usable() && connection->dispatchUntil(timeout, seen);
    }

    // Waits until the server has told its clients about the new mapping of keycode.
    bool waitForMapping(Keycode keycode) {
        awaitedMapping = keycode;
        mappingAnnounced = false;
        const bool announced = waitFor(mappingNotifyTimeout, [&] { return mappingAnnounced; });
        awaitedMapping.reset();
        if (announced) {
            drainEvents();  // the XKB and the core notification come together
            return true;
        }
        if (!notifyTimeoutLogged) {
            notifyTimeoutLogged = true;
            diagnosticLog().warn("input: the X server did not announce a key mapping change in time");
        }
        return false;
    }

    bool answersPings(xcb_window_t window) {
        const XcbReply<xcb_get_property_reply_t> reply(
            xcb_get_property_reply(c(), xcb_get_property(c(), 0, window, wmProtocols, XCB_ATOM_ATOM, 0, 32), nullptr));
        if (!reply || reply->format != 32) {
            return false;
        }
        const auto* atoms = static_cast<const xcb_atom_t*>(xcb_get_property_value(reply.get()));
        const int count = xcb_get_property_value_length(reply.get()) / 4;
        return std::find(atoms, atoms + count, netWmPing) != atoms + count;
    }

    // The window that answers pings for the application owning window: it or one of its ancestors
    // below the root (the focus is often on a child of the application's top-level window).
    std::optional<xcb_window_t> pingWindowFor(xcb_window_t window) {
        for (int depth = 0; depth < 16 && window != XCB_NONE && window != root; ++depth) {
            if (answersPings(window)) {
                return window;
            }
            const XcbReply<xcb_query_tree_reply_t> tree(
                xcb_query_tree_reply(c(), xcb_query_tree(c(), window), nullptr));
            if (!tree) {
                break;
            }
            window = tree->parent;
        }
        return std::nullopt;
    }

    bool syncWithFocus() {
        if (!usable() || netWmPing == XCB_ATOM_NONE) {
            return false;
        }
        const XcbReply<xcb_get_input_focus_reply_t> focus(
            xcb_get_input_focus_reply(c(), xcb_get_input_focus(c()), nullptr));
        if (!focus || focus->focus == XCB_NONE || focus->focus == XCB_INPUT_FOCUS_POINTER_ROOT) {
            return false;
        }
        if (focus->focus != pingFocus) {
            pingFocus = focus->focus;
            pingTarget = pingWindowFor(focus->focus);
        }
        if (!pingTarget) {
            return false;
        }
        // The ping of the window-manager conventions: the application echoes it to the root window,
        // and does so after reading every event sent to it before, as X delivers a client's events
        // in order.
        xcb_client_message_event_t ping{};
        ping.response_type = XCB_CLIENT_MESSAGE;
        ping.format = 32;
        ping.window = *pingTarget;
        ping.type = wmProtocols;
        const std::uint32_t serial = ++pingSerial;
        ping.data.data32[0] = netWmPing;
        ping.data.data32[1] = serial;
        ping.data.data32[2] = *pingTarget;
        xcb_send_event(c(), 0, *pingTarget, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&ping));
        xcb_flush(c());
        const bool answered = waitFor(pingTimeout, [&] { return pingAnswered == serial; });
        if (!answered && !pingTimeoutLogged) {
            pingTimeoutLogged = true;
            diagnosticLog().warn(
                "input: the focused application did not answer a ping in time; characters typed through "
                "borrowed keys may arrive wrong");
        }
        return answered;
    }
};

X11InputDevice::X11InputDevice(std::unique_ptr<State> state) : state_(std::move(state)) {}

X11InputDevice::~X11InputDevice() = default;

std::shared_ptr<X11InputDevice> X11InputDevice::open(std::shared_ptr<X11Connection> connection) {
    if (!connection || connection->broken()) {
        return nullptr;  // the shared connection said why
    }
    auto state = std::make_unique<State>();
    state->connection = std::move(connection);
    X11Connection& shared = *state->connection;
    xcb_connection_t* c = state->c();
    if (!shared.extension(xcb_test_id)) {
        diagnosticLog().warn("input: the X display has no XTEST extension; the phone cannot operate it");
        return nullptr;
    }
    state->root = shared.root();

    std::uint8_t firstError = 0;
    if (xkb_x11_setup_xkb_extension(c, XKB_X11_MIN_MAJOR_XKB_VERSION, XKB_X11_MIN_MINOR_XKB_VERSION,
                                    XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr, &state->xkbEventBase,
                                    &firstError) == 0) {
        diagnosticLog().warn("input: the X display has no usable XKB extension");
        return nullptr;
    }
    state->keyboard = xkb_x11_get_core_keyboard_device_id(c);
    state->context.reset(xkb_context_new(XKB_CONTEXT_NO_FLAGS));
    if (state->keyboard < 0 || !state->context) {
        diagnosticLog().warn("input: cannot find the X display's keyboard");
        return nullptr;
    }
    // Hear of new layouts and of key mapping changes, ours (the wait for them) and others'.
    State* const s = state.get();
    for (const std::uint8_t type :
         {std::uint8_t{XCB_MAPPING_NOTIFY}, state->xkbEventBase, std::uint8_t{XCB_CLIENT_MESSAGE}}) {
        state->subscriptions.push_back(
            shared.subscribe(type, [s](const xcb_generic_event_t& event) { s->handle(&event); }));
    }
    if (!shared.check(x11::selectKeymapEvents(c, state->keyboard), "input: cannot follow keymap changes")) {
        return nullptr;
    }
    // The focused application's answer to a ping goes to the root window.
    state->wmProtocols = shared.atom("WM_PROTOCOLS");
    state->netWmPing = shared.atom("_NET_WM_PING");
    shared.selectRootEvents(XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY);
    auto device = std::shared_ptr<X11InputDevice>(new X11InputDevice(std::move(state)));
    if (device->state_->currentKeymap() == nullptr) {
        return nullptr;
    }
    return device;
}

std::optional<Point> X11InputDevice::pointerLocation() {
    State& s = *state_;
    if (!s.usable()) {
        return std::nullopt;
    }
    const XcbReply<xcb_query_pointer_reply_t> reply(
        xcb_query_pointer_reply(s.c(), xcb_query_pointer(s.c(), s.root), nullptr));
    if (!reply) {
        return std::nullopt;
    }
    return Point{static_cast<double>(reply->root_x), static_cast<double>(reply->root_y)};
}

void X11InputDevice::movePointer(Point to) {
    State& s = *state_;
    if (!s.usable()) {
        return;
    }
    // Absolute motion on the root window, in XTest's 16-bit coordinates. The server keeps the
    // pointer on its screen itself, and knows the screen's size now: a monitor plugged in after
    // start grows the root, and a size read at start would keep the pointer off it.
    constexpr long largest = std::numeric_limits<std::int16_t>::max();
    const auto x = static_cast<std::int16_t>(std::clamp(std::lround(to.x), 0L, largest));
    const auto y = static_cast<std::int16_t>(std::clamp(std::lround(to.y), 0L, largest));
    xcb_test_fake_input(s.c(), XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, s.root, x, y, 0);
}

void X11InputDevice::pressButton(int button, bool down) {
    State& s = *state_;
    if (s.usable()) {
        xcb_test_fake_input(s.c(), down ? XCB_BUTTON_PRESS : XCB_BUTTON_RELEASE, static_cast<std::uint8_t>(button),
                            XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    }
}

void X11InputDevice::pressKey(Keycode keycode, bool down) {
    State& s = *state_;
    if (s.usable() && keycode <= 255) {
        xcb_test_fake_input(s.c(), down ? XCB_KEY_PRESS : XCB_KEY_RELEASE, static_cast<std::uint8_t>(keycode),
                            XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    }
}

std::optional<Keycode> X11InputDevice::keycodeForKeyName(std::string_view name) {
    const XkbKeymap* keymap = state_->currentKeymap();
    return keymap != nullptr ? keymap->keycodeForName(name) : std::nullopt;
}

std::optional<Keycode> X11InputDevice::modifierKeycode(ModifierKey key) {
    const XkbKeymap* keymap = state_->currentKeymap();
    return keymap != nullptr ? keymap->modifierKeycode(key) : std::nullopt;
}

std::optional<KeyStroke> X11InputDevice::strokeForCharacter(char32_t character) {
    State& s = *state_;
    const XkbKeymap* keymap = s.currentKeymap();
    const xkb_keysym_t keysym = keysymForCharacter(character);
    if (keymap == nullptr || keysym == XKB_KEY_NoSymbol) {
        return std::nullopt;
    }
    // The active group and the locks decide which level of a key types what.
    const XkbStatePtr live(xkb_x11_state_new_from_device(keymap->get(), s.c(), s.keyboard));
    if (!live) {
        return keymap->strokeFor(keysym, 0, 0);
    }
    return keymap->strokeFor(keysym, xkb_state_serialize_layout(live.get(), XKB_STATE_LAYOUT_EFFECTIVE),
                             xkb_state_serialize_mods(live.get(), XKB_STATE_MODS_LOCKED));
}

std::vector<Keycode> X11InputDevice::spareKeycodes() {
    const XkbKeymap* keymap = state_->currentKeymap();
    return keymap != nullptr ? keymap->spareKeycodes() : std::vector<Keycode>{};
}

bool X11InputDevice::bindKeycode(Keycode keycode, std::optional<char32_t> character) {
    State& s = *state_;
    const xkb_keysym_t keysym = character ? keysymForCharacter(*character) : XKB_KEY_NoSymbol;
    if ((character && keysym == XKB_KEY_NoSymbol) || keycode < 8 || keycode > 255 || s.currentKeymap() == nullptr) {
        return false;
    }
    // The same symbol on both levels: Shift or Caps Lock held at the desk cannot change it.
    const std::array<xcb_keysym_t, 2> keysyms{keysym, keysym};
    s.boundByUs.insert(keycode);
    xcb_change_keyboard_mapping(s.c(), 1, static_cast<xcb_keycode_t>(keycode), 2, keysyms.data());
    xcb_flush(s.c());
    return s.waitForMapping(keycode);
}

bool X11InputDevice::syncWithFocusedClient() {
    return state_->syncWithFocus();
}

std::uint64_t X11InputDevice::keymapGeneration() {
    state_->drainEvents();
    return state_->generation;
}

void X11InputDevice::flush() {
    // Events for this connection (keymap news, the root window's changes) queue up in memory until
    // read: read them here too, so that a phone that only moves the pointer does not pile them up.
    state_->drainEvents();
    xcb_flush(state_->c());
}

}  // namespace vantrel
