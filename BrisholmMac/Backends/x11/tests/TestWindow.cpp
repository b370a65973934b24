// A stand-in application for the window tests: it opens one ordinary top-level window whose
// WM_CLASS (and, when given, GTK application id) the arguments choose, sets _NET_WM_PID so the
// test can end it by its process id, and stays until its display goes away, it is killed, or two
// minutes pass (so that a failed test never leaves it behind for long). It refuses to start when
// told to draw offscreen.
//   vantrel_test_window CLASS [GTK_APPLICATION_ID]
#include <unistd.h>
#include <xcb/xcb.h>
#include <xcb/xcb_icccm.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

xcb_atom_t atom(xcb_connection_t* connection, const char* name) {
    auto* reply = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(std::strlen(name)), name), nullptr);
    const xcb_atom_t result = reply != nullptr ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    std::free(reply);
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        return 2;
    }
    // Like a Qt application, it would show nothing when told to draw offscreen: the host must not
    // hand its own offscreen setting to the applications it starts.
    if (const char* platform = std::getenv("QT_QPA_PLATFORM");
        platform != nullptr && std::strcmp(platform, "offscreen") == 0) {
        return 3;
    }
    alarm(120);
    int screenNumber = 0;
    xcb_connection_t* connection = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(connection) != 0) {
        return 1;
    }
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screenNumber; ++i) {
        xcb_screen_next(&screens);
    }
    const xcb_window_t window = xcb_generate_id(connection);
    xcb_create_window(connection, XCB_COPY_FROM_PARENT, window, screens.data->root, 100, 100, 320, 200, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screens.data->root_visual, 0, nullptr);

    const std::string className = argv[1];
    std::string wmClass = className + '\0' + className + '\0';
    xcb_icccm_set_wm_class(connection, window, static_cast<std::uint32_t>(wmClass.size()), wmClass.data());
    xcb_icccm_set_wm_name(connection, window, XCB_ATOM_STRING, 8, static_cast<std::uint32_t>(className.size()),
                          className.data());
    const auto pid = static_cast<std::uint32_t>(getpid());
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, atom(connection, "_NET_WM_PID"), XCB_ATOM_CARDINAL,
                        32, 1, &pid);
    if (argc > 2) {
        xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, atom(connection, "_GTK_APPLICATION_ID"),
                            atom(connection, "UTF8_STRING"), 8, static_cast<std::uint32_t>(std::strlen(argv[2])),
                            argv[2]);
    }
    xcb_map_window(connection, window);
    xcb_flush(connection);

    while (xcb_generic_event_t* event = xcb_wait_for_event(connection)) {
        std::free(event);
    }
    xcb_disconnect(connection);
    return 0;
}
