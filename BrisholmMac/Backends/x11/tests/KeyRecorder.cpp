#include "Backends/x11/tests/KeyRecorder.hpp"

#include <xkbcommon/xkbcommon-x11.h>

#include <array>
#include <mutex>
#include <thread>

#include "Backends/x11/KeymapEvents.hpp"
#include "Backends/x11/XcbHandles.hpp"
#include "Input/XkbKeymap.hpp"
#include "vantrel/testing/Waiting.hpp"

namespace vantrel::testing {

using x11::internAtom;
using x11::XcbReply;

struct KeyRecorder::State {
    x11::XcbConnection connection;
    xcb_connection_t* c = nullptr;
    xcb_window_t root = XCB_NONE;
    xcb_window_t window = XCB_NONE;
    xcb_atom_t stopAtom = XCB_NONE;
    xcb_atom_t wmProtocols = XCB_NONE;
    xcb_atom_t netWmPing = XCB_NONE;
    std::uint8_t xkbEventBase = 0;
    std::int32_t keyboard = -1;
    std::thread reader;

    // The reader thread's alone, as an application's keymap is its own.
    XkbContextPtr context{xkb_context_new(XKB_CONTEXT_NO_FLAGS)};
    XkbKeymapPtr keymap;
    XkbStatePtr keyState;

    mutable std::mutex mutex;
    std::vector<Seen> events;

    void fetchKeymap() {
        keymap.reset(xkb_x11_keymap_new_from_device(context.get(), c, keyboard, XKB_KEYMAP_COMPILE_NO_FLAGS));
        keyState.reset(keymap ? xkb_state_new(keymap.get()) : nullptr);
    }

    std::string typed(xcb_keycode_t keycode, std::uint16_t state) {
        std::array<char, 64> buffer{};
        if (keyState) {
            xkb_state_update_mask(keyState.get(), state & 0xFFU, 0, 0, 0, 0, (state >> 13U) & 3U);
            xkb_state_key_get_utf8(keyState.get(), keycode, buffer.data(), buffer.size());
        }
        return buffer.data();
    }

    void read() {
        while (XcbReply<xcb_generic_event_t> event{xcb_wait_for_event(c)}) {
            const std::uint8_t type = event->response_type & 0x7FU;
            auto* message = reinterpret_cast<xcb_client_message_event_t*>(event.get());
            if (type == XCB_CLIENT_MESSAGE && message->type == stopAtom) {
                return;
            }
            if (type == XCB_CLIENT_MESSAGE && message->type == wmProtocols && message->data.data32[0] == netWmPing) {
                message->window = root;  // answered as toolkits do: the same message, to the root window
                xcb_send_event(c, 0, root, XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                               reinterpret_cast<const char*>(message));
            } else if (type == XCB_FOCUS_OUT) {
                // Other tests' windows come and go; the window typed into keeps the focus.
                xcb_set_input_focus(c, XCB_INPUT_FOCUS_POINTER_ROOT, window, XCB_CURRENT_TIME);
            } else if (type == XCB_MAPPING_NOTIFY || type == xkbEventBase) {
                fetchKeymap();
            } else if (type >= XCB_KEY_PRESS && type <= XCB_MOTION_NOTIFY) {
                // Key, button and motion events share one layout.
                const auto* input = reinterpret_cast<xcb_key_press_event_t*>(event.get());
                Seen seen{type, input->detail,
                          Point{static_cast<double>(input->root_x), static_cast<double>(input->root_y)}, input->state,
                          type == XCB_KEY_PRESS ? typed(input->detail, input->state) : ""};
                const std::lock_guard lock(mutex);
                events.push_back(std::move(seen));
            }
            xcb_flush(c);
        }
    }
};

KeyRecorder::KeyRecorder(std::unique_ptr<State> state) : state_(std::move(state)) {}

KeyRecorder::~KeyRecorder() {
    State& s = *state_;
    xcb_client_message_event_t stop{};
    stop.response_type = XCB_CLIENT_MESSAGE;
    stop.format = 32;
    stop.window = s.window;
    stop.type = s.stopAtom;
    xcb_send_event(s.c, 0, s.window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&stop));
    xcb_flush(s.c);
    s.reader.join();
}

std::unique_ptr<KeyRecorder> KeyRecorder::open(Rect area) {
    auto state = std::make_unique<State>();
    State& s = *state;
    int screenNumber = 0;
    s.connection.reset(xcb_connect(nullptr, &screenNumber));
    s.c = s.connection.get();
    std::uint8_t firstError = 0;
    if (xcb_connection_has_error(s.c) != 0 ||
        xkb_x11_setup_xkb_extension(s.c, XKB_X11_MIN_MAJOR_XKB_VERSION, XKB_X11_MIN_MINOR_XKB_VERSION,
                                    XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr, &s.xkbEventBase,
                                    &firstError) == 0) {
        return nullptr;
    }
    auto screens = xcb_setup_roots_iterator(xcb_get_setup(s.c));
    for (int i = 0; i < screenNumber; ++i) {
        xcb_screen_next(&screens);
    }
    s.root = screens.data->root;
    s.keyboard = xkb_x11_get_core_keyboard_device_id(s.c);
    xcb_discard_reply(s.c, x11::selectKeymapEvents(s.c, s.keyboard).sequence);
    s.fetchKeymap();
    s.stopAtom = internAtom(s.c, "VANTREL_RECORDER_STOP");
    s.wmProtocols = internAtom(s.c, "WM_PROTOCOLS");
    s.netWmPing = internAtom(s.c, "_NET_WM_PING");

    // Override-redirect: no window manager places it or moves the focus away from it.
    s.window = xcb_generate_id(s.c);
    const std::array<std::uint32_t, 2> values{1, XCB_EVENT_MASK_KEY_PRESS | XCB_EVENT_MASK_KEY_RELEASE |
                                                     XCB_EVENT_MASK_BUTTON_PRESS | XCB_EVENT_MASK_BUTTON_RELEASE |
                                                     XCB_EVENT_MASK_POINTER_MOTION | XCB_EVENT_MASK_FOCUS_CHANGE};
    xcb_create_window(s.c, XCB_COPY_FROM_PARENT, s.window, s.root, static_cast<std::int16_t>(area.x),
                      static_cast<std::int16_t>(area.y), static_cast<std::uint16_t>(area.width),
                      static_cast<std::uint16_t>(area.height), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT,
                      XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK, values.data());
    xcb_change_property(s.c, XCB_PROP_MODE_REPLACE, s.window, s.wmProtocols, XCB_ATOM_ATOM, 32, 1, &s.netWmPing);
    xcb_map_window(s.c, s.window);
    xcb_flush(s.c);
    s.reader = std::thread([&s] { s.read(); });
    auto recorder = std::unique_ptr<KeyRecorder>(new KeyRecorder(std::move(state)));

    const bool focused = waitUntil([&s] {
        xcb_set_input_focus(s.c, XCB_INPUT_FOCUS_POINTER_ROOT, s.window, XCB_CURRENT_TIME);
        const XcbReply<xcb_get_input_focus_reply_t> focus(
            xcb_get_input_focus_reply(s.c, xcb_get_input_focus(s.c), nullptr));
        return focus && focus->focus == s.window;
    });
    return focused ? std::move(recorder) : nullptr;
}

std::vector<Seen> KeyRecorder::seen(std::uint8_t type) const {
    const std::lock_guard lock(state_->mutex);
    std::vector<Seen> result;
    std::ranges::copy_if(state_->events, std::back_inserter(result), [type](const Seen& e) { return e.type == type; });
    return result;
}

std::string KeyRecorder::text() const {
    std::string result;
    for (const auto& key : seen(XCB_KEY_PRESS)) {
        result += key.text;
    }
    return result;
}

void KeyRecorder::clear() {
    const std::lock_guard lock(state_->mutex);
    state_->events.clear();
}

std::vector<Keycode> KeyRecorder::keysHeld() const {
    xcb_connection_t* c = state_->c;
    const XcbReply<xcb_query_keymap_reply_t> keymap(xcb_query_keymap_reply(c, xcb_query_keymap(c), nullptr));
    std::vector<Keycode> held;
    for (Keycode keycode = 8; keymap && keycode < 256; ++keycode) {
        if ((keymap->keys[keycode / 8] & (1U << (keycode % 8))) != 0) {
            held.push_back(keycode);
        }
    }
    return held;
}

std::uint16_t KeyRecorder::buttonsHeld() const {
    xcb_connection_t* c = state_->c;
    const XcbReply<xcb_query_pointer_reply_t> pointer(
        xcb_query_pointer_reply(c, xcb_query_pointer(c, state_->root), nullptr));
    return pointer ? (pointer->mask & 0x1F00U) : 0xFFFF;  // buttons 1 to 5
}

LayoutGuard::LayoutGuard(const std::string& layout) {
    ok_ = std::system(("setxkbmap " + layout).c_str()) == 0;
}

LayoutGuard::~LayoutGuard() {
    (void)std::system("setxkbmap us");
}

}  // namespace vantrel::testing
