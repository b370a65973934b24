#pragma once

// What the X11 input device and the tests' recording client share: the XKB events that announce
// keymap changes.
#include <xcb/xcb.h>
// xcb's XKB header names a field "explicit", a C++ keyword; the usual rename keeps it compiling.
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit

#include <cstdint>

namespace vantrel::x11 {

// Asks for the XKB events that say the keymap changed: a new keyboard (another layout) and a
// changed key mapping. Returns the request's cookie for callers that check it.
inline xcb_void_cookie_t selectKeymapEvents(xcb_connection_t* connection, std::int32_t keyboard) {
    constexpr std::uint16_t events = XCB_XKB_EVENT_TYPE_NEW_KEYBOARD_NOTIFY | XCB_XKB_EVENT_TYPE_MAP_NOTIFY;
    constexpr std::uint16_t mapParts = XCB_XKB_MAP_PART_KEY_TYPES | XCB_XKB_MAP_PART_KEY_SYMS |
                                       XCB_XKB_MAP_PART_MODIFIER_MAP | XCB_XKB_MAP_PART_KEY_ACTIONS |
                                       XCB_XKB_MAP_PART_VIRTUAL_MODS | XCB_XKB_MAP_PART_VIRTUAL_MOD_MAP;
    xcb_xkb_select_events_details_t details{};
    details.affectNewKeyboard = XCB_XKB_NKN_DETAIL_KEYCODES;
    details.newKeyboardDetails = XCB_XKB_NKN_DETAIL_KEYCODES;
    return xcb_xkb_select_events_aux_checked(connection, static_cast<xcb_xkb_device_spec_t>(keyboard), events, 0, 0,
                                             mapParts, mapParts, &details);
}

}  // namespace vantrel::x11
