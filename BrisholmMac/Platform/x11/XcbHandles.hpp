#pragma once

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

namespace vantrel::x11 {

// xcb hands out replies, events and errors as malloc'd memory.
struct FreeDeleter {
    void operator()(void* memory) const { std::free(memory); }
};
template <typename T>
using XcbReply = std::unique_ptr<T, FreeDeleter>;
using XcbError = XcbReply<xcb_generic_error_t>;

struct ConnectionDeleter {
    void operator()(xcb_connection_t* connection) const { xcb_disconnect(connection); }
};
using XcbConnection = std::unique_ptr<xcb_connection_t, ConnectionDeleter>;

// Connects to DISPLAY; null (with a log line naming who asked) when it is unset or refuses.
[[nodiscard]] XcbConnection connectToDisplay(const char* purpose, xcb_screen_t** screen);

}  // namespace vantrel::x11
