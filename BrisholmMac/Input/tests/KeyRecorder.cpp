#include "Input/tests/KeyRecorder.hpp"

#include <xkbcommon/xkbcommon-x11.h>

#include <array>
#include <cstdlib>
#include <mutex>
#include <string_view>
#include <thread>

#include "Input/x11/XcbHandles.hpp"
#include "Input/x11/XkbKeymap.hpp"
#include "vantrel/testing/Waiting.hpp"

namespace vantrel::testing {

using x11::internAtom;
template <typename T>
using Reply = x11::XcbReply<T>;

struct KeyRecorder::State {
    xcb_connection_t* connection = nullptr;
    xcb_window_t root = XCB_NONE;
    xcb_window_t window = XCB_NONE;
    xcb_atom_t stopAtom = XCB_NONE;
    xcb_atom_t wmProtocols = XCB_NONE;
    xcb_atom_t netWmPing = XCB_NONE;
    std::uint8_t xkbEventBase = 0;
    std::int32_t keyboard = -1;
    XkbContextPtr context{xkb_context_new(XKB_CONTEXT_NO_FLAGS)};
    std::thread reader;

    // The reader's own, as an application's keymap is its own.
    XkbKeymapPtr keymap;
    XkbStatePtr keyState;

    mutable std::mutex mutex;
    std::vector<SeenKey> keys;
    std::vector<SeenButton> buttons;
    std::vector<SeenMotion> motions;

    ~State() {
        if (connection != nullptr) {
            xcb_disconnect(connection);
        }
    }

    void fetchKeymap() {
        keymap.reset(xkb_x11_keymap_new_from_device(context.get(), connection, keyboard, XKB_KEYMAP_COMPILE_NO_FLAGS));
        keyState.reset(keymap ? xkb_state_new(keymap.get()) : nullptr);
    }

    std::string typed(xcb_keycode_t keycode, std::uint16_t state) {
        if (!keyState) {
            return {};
        }
        xkb_state_update_mask(keyState.get(), state & 0xFFU, 0, 0, 0, 0, (state >> 13U) & 3U);
        std::array<char, 64> buffer{};
        xkb_state_key_get_utf8(keyState.get(), keycode, buffer.data(), buffer.size());
        return buffer.data();
    }

    void read() {
        while (Reply<xcb_generic_event_t> event{xcb_wait_for_event(connection)}) {
            const std::uint8_t type = event->response_type & 0x7FU;
            if (type == XCB_CLIENT_MESSAGE) {
                auto* message = reinterpret_cast<xcb_client_message_event_t*>(event.get());
                if (message->type == stopAtom) {
                    return;
                }
                if (message->type == wmProtocols && message->data.data32[0] == netWmPing) {
                    // Answer as toolkits do: the same message, to the root window.
                    message->window = root;
                    xcb_send_event(connection, 0, root,
                                   XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                                   reinterpret_cast<const char*>(message));
                    xcb_flush(connection);
                }
                continue;
            }
            if (type == XCB_FOCUS_OUT) {
                // Other tests' windows come and go; an application being typed into keeps the focus.
                xcb_set_input_focus(connection, XCB_INPUT_FOCUS_POINTER_ROOT, window, XCB_CURRENT_TIME);
                xcb_flush(connection);
                continue;
            }
            if (type == XCB_MAPPING_NOTIFY || type == xkbEventBase) {
                fetchKeymap();  // as toolkits do: read the whole keymap again
                continue;
            }
            const std::lock_guard lock(mutex);
            if (type == XCB_KEY_PRESS || type == XCB_KEY_RELEASE) {
                const auto* key = reinterpret_cast<xcb_key_press_event_t*>(event.get());
                const bool down = type == XCB_KEY_PRESS;
                keys.push_back({key->detail, down, key->state, down ? typed(key->detail, key->state) : ""});
            } else if (type == XCB_BUTTON_PRESS || type == XCB_BUTTON_RELEASE) {
                const auto* button = reinterpret_cast<xcb_button_press_event_t*>(event.get());
                buttons.push_back({button->detail, type == XCB_BUTTON_PRESS,
                                   Point{static_cast<double>(button->root_x), static_cast<double>(button->root_y)},
                                   button->state});
            } else if (type == XCB_MOTION_NOTIFY) {
                const auto* motion = reinterpret_cast<xcb_motion_notify_event_t*>(event.get());
                motions.push_back(
                    {Point{static_cast<double>(motion->root_x), static_cast<double>(motion->root_y)}, motion->state});
            }
        }
    }
};

KeyRecorder::KeyRecorder(std::unique_ptr<State> state) : state_(std::move(state)) {}

KeyRecorder::~KeyRecorder() {
    State& s = *state_;
    if (s.reader.joinable()) {
        xcb_client_message_event_t stop{};
        stop.response_type = XCB_CLIENT_MESSAGE;
        stop.format = 32;
        stop.window = s.window;
        stop.type = s.stopAtom;
        xcb_send_event(s.connection, 0, s.window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&stop));
        xcb_flush(s.connection);
        s.reader.join();
    }
}

std::unique_ptr<KeyRecorder> KeyRecorder::open(Rect area) {
    auto state = std::make_unique<State>();
    State& s = *state;
    int screenNumber = 0;
    s.connection = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(s.connection) != 0) {
        return nullptr;
    }
    auto screens = xcb_setup_roots_iterator(xcb_get_setup(s.connection));
    for (int i = 0; i < screenNumber; ++i) {
        xcb_screen_next(&screens);
    }
    s.root = screens.data->root;
    std::uint8_t firstError = 0;
    if (xkb_x11_setup_xkb_extension(s.connection, XKB_X11_MIN_MAJOR_XKB_VERSION, XKB_X11_MIN_MINOR_XKB_VERSION,
                                    XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr, &s.xkbEventBase,
                                    &firstError) == 0) {
        return nullptr;
    }
    s.keyboard = xkb_x11_get_core_keyboard_device_id(s.connection);
    xcb_discard_reply(s.connection, x11::selectKeymapEvents(s.connection, s.keyboard).sequence);
    s.fetchKeymap();

    s.stopAtom = internAtom(s.connection, "VANTREL_RECORDER_STOP");
    s.wmProtocols = internAtom(s.connection, "WM_PROTOCOLS");
    s.netWmPing = internAtom(s.connection, "_NET_WM_PING");

    // Override-redirect: no window manager places it or moves the focus away from it.
    s.window = xcb_generate_id(s.connection);
    const std::array<std::uint32_t, 2> values{1, XCB_EVENT_MASK_KEY_PRESS | XCB_EVENT_MASK_KEY_RELEASE |
                                                     XCB_EVENT_MASK_BUTTON_PRESS | XCB_EVENT_MASK_BUTTON_RELEASE |
                                                     XCB_EVENT_MASK_POINTER_MOTION | XCB_EVENT_MASK_FOCUS_CHANGE};
    xcb_create_window(s.connection, XCB_COPY_FROM_PARENT, s.window, s.root, static_cast<std::int16_t>(area.x),
                      static_cast<std::int16_t>(area.y), static_cast<std::uint16_t>(area.width),
                      static_cast<std::uint16_t>(area.height), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT,
                      XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK, values.data());
    xcb_change_property(s.connection, XCB_PROP_MODE_REPLACE, s.window, s.wmProtocols, XCB_ATOM_ATOM, 32, 1,
                        &s.netWmPing);
    xcb_map_window(s.connection, s.window);
    xcb_flush(s.connection);
    s.reader = std::thread([&s] { s.read(); });
    auto recorder = std::unique_ptr<KeyRecorder>(new KeyRecorder(std::move(state)));

    const bool focused = waitUntil([&recorder] {
        State& r = *recorder->state_;
        xcb_set_input_focus(r.connection, XCB_INPUT_FOCUS_POINTER_ROOT, r.window, XCB_CURRENT_TIME);
        Reply<xcb_get_input_focus_reply_t> focus(
            xcb_get_input_focus_reply(r.connection, xcb_get_input_focus(r.connection), nullptr));
        return focus && focus->focus == r.window;
    });
    return focused ? std::move(recorder) : nullptr;
}

std::string KeyRecorder::text() const {
    const std::lock_guard lock(state_->mutex);
    std::string result;
    for (const auto& key : state_->keys) {
        result += key.text;
    }
    return result;
}

std::vector<SeenKey> KeyRecorder::keys() const {
    const std::lock_guard lock(state_->mutex);
    return state_->keys;
}

std::vector<SeenButton> KeyRecorder::buttons() const {
    const std::lock_guard lock(state_->mutex);
    return state_->buttons;
}

std::vector<SeenMotion> KeyRecorder::motions() const {
    const std::lock_guard lock(state_->mutex);
    return state_->motions;
}

void KeyRecorder::clear() {
    const std::lock_guard lock(state_->mutex);
    state_->keys.clear();
    state_->buttons.clear();
    state_->motions.clear();
}

std::vector<Keycode> KeyRecorder::keysHeld() const {
    xcb_connection_t* c = state_->connection;
    std::vector<Keycode> held;
    Reply<xcb_query_keymap_reply_t> keymap(xcb_query_keymap_reply(c, xcb_query_keymap(c), nullptr));
    for (Keycode keycode = 8; keymap && keycode < 256; ++keycode) {
        if ((keymap->keys[keycode / 8] & (1U << (keycode % 8))) != 0) {
            held.push_back(keycode);
        }
    }
    return held;
}

std::uint16_t KeyRecorder::buttonsHeld() const {
    xcb_connection_t* c = state_->connection;
    Reply<xcb_query_pointer_reply_t> pointer(xcb_query_pointer_reply(c, xcb_query_pointer(c, state_->root), nullptr));
    constexpr std::uint16_t anyButton =
        XCB_BUTTON_MASK_1 | XCB_BUTTON_MASK_2 | XCB_BUTTON_MASK_3 | XCB_BUTTON_MASK_4 | XCB_BUTTON_MASK_5;
    return pointer ? (pointer->mask & anyButton) : 0xFFFF;
}

std::vector<Keycode> KeyRecorder::emptyKeys() const {
    // A context of its own: xkbcommon contexts are not shared between threads, and the reader's is
    // in use on its thread.
    const XkbContextPtr context(xkb_context_new(XKB_CONTEXT_NO_FLAGS));
    XkbKeymapPtr keymap(xkb_x11_keymap_new_from_device(context.get(), state_->connection, state_->keyboard,
                                                       XKB_KEYMAP_COMPILE_NO_FLAGS));
    return keymap ? XkbKeymap(std::move(keymap)).spareKeycodes() : std::vector<Keycode>{};
}

LayoutGuard::LayoutGuard(const std::string& layout) {
    ok_ = std::system(("setxkbmap " + layout).c_str()) == 0;
}

LayoutGuard::~LayoutGuard() {
    (void)std::system("setxkbmap us");
}

}  // namespace vantrel::testing
