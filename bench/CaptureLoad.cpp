// The two halves of bench/capture-vs-ffmpeg.sh:
//   bench_capture_load draw SECONDS    moves a bar over colour ramps on the root window of
//                                      DISPLAY, 60 times a second (the screen content both
//                                      capture pipelines are measured on)
//   bench_capture_load stream SECONDS  streams the primary display through the host's own
//                                      pipeline (ScreenStreamer, libyuv, libx264 at 8 Mbit/s) and
//                                      prints "frames N" four times a second, so the script can
//                                      count the frames of the interval it measures
// CPU time is measured from outside, by the script.
#include <xcb/xcb.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "Backends/x11/X11ScreenCapturer.hpp"
#include "Capture/ScreenStreamer.hpp"

namespace {

using namespace std::chrono;

int draw(int seconds) {
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection) != 0) {
        std::fprintf(stderr, "draw: cannot open the display\n");
        return 1;
    }
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    const int width = screen->width_in_pixels;
    const int height = screen->height_in_pixels;
    const xcb_window_t root = screen->root;

    // The ramps go into a pixmap once; each frame restores the bar's old place from it.
    const xcb_pixmap_t background = xcb_generate_id(connection);
    xcb_create_pixmap(connection, screen->root_depth, background, root, static_cast<std::uint16_t>(width),
                      static_cast<std::uint16_t>(height));
    const xcb_gcontext_t gc = xcb_generate_id(connection);
    const std::uint32_t white = 0xffffff;
    xcb_create_gc(connection, gc, root, XCB_GC_FOREGROUND, &white);
    constexpr int band = 32;
    std::vector<std::uint8_t> rows(static_cast<std::size_t>(width) * band * 4);
    for (int top = 0; top < height; top += band) {
        const int count = std::min(band, height - top);
        for (int y = 0; y < count; ++y) {
            for (int x = 0; x < width; ++x) {
                auto* pixel = &rows[(static_cast<std::size_t>(y) * width + x) * 4];
                pixel[0] = static_cast<std::uint8_t>(x * 255 / width);
                pixel[1] = static_cast<std::uint8_t>((top + y) * 255 / height);
                pixel[2] = 60;
                pixel[3] = 0;
            }
        }
        xcb_put_image(connection, XCB_IMAGE_FORMAT_Z_PIXMAP, background, gc, static_cast<std::uint16_t>(width),
                      static_cast<std::uint16_t>(count), 0, static_cast<std::int16_t>(top), 0, screen->root_depth,
                      static_cast<std::uint32_t>(static_cast<std::size_t>(width) * count * 4), rows.data());
    }
    xcb_copy_area(connection, background, root, gc, 0, 0, 0, 0, static_cast<std::uint16_t>(width),
                  static_cast<std::uint16_t>(height));
    xcb_flush(connection);

    constexpr int barWidth = 40;
    int bar = 0;
    const auto end = steady_clock::now() + seconds * 1s;
    auto next = steady_clock::now();
    while (steady_clock::now() < end && xcb_connection_has_error(connection) == 0) {
        xcb_copy_area(connection, background, root, gc, static_cast<std::int16_t>(bar), 0,
                      static_cast<std::int16_t>(bar), 0, barWidth, static_cast<std::uint16_t>(height));
        bar = (bar + 8) % (width - barWidth);
        const xcb_rectangle_t rectangle{static_cast<std::int16_t>(bar), 0, barWidth,
                                        static_cast<std::uint16_t>(height)};
        xcb_poly_fill_rectangle(connection, root, gc, 1, &rectangle);
        // Wait for the server, so the drawing never queues up ahead of it.
        std::free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
        next += microseconds(16'667);
        std::this_thread::sleep_until(next);
    }
    xcb_disconnect(connection);
    return 0;
}

int stream(int seconds) {
    auto encoder = std::make_shared<vantrel::VideoEncoder>();
    std::atomic<std::int64_t> frames{0};
    encoder->onFrame = [&](const vantrel::VideoFrame&) { ++frames; };
    auto streamer = vantrel::ScreenStreamer::create(encoder, [] { return vantrel::x11::makeX11Capturer(); });
    std::promise<std::optional<vantrel::CaptureError>> started;
    streamer->start(0, [&](std::optional<vantrel::CaptureError> error) { started.set_value(std::move(error)); });
    if (const auto error = started.get_future().get()) {
        std::fprintf(stderr, "stream: %s\n", error->description.c_str());
        return 1;
    }
    const auto end = steady_clock::now() + seconds * 1s;
    while (steady_clock::now() < end) {
        std::this_thread::sleep_for(250ms);
        std::printf("frames %lld\n", static_cast<long long>(frames.load()));
        std::fflush(stdout);
    }
    std::promise<void> stopped;
    streamer->stop([&] { stopped.set_value(); });
    stopped.get_future().get();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "draw") == 0) {
        return draw(std::atoi(argv[2]));
    }
    if (argc == 3 && std::strcmp(argv[1], "stream") == 0) {
        return stream(std::atoi(argv[2]));
    }
    std::fprintf(stderr, "usage: %s draw SECONDS | stream SECONDS\n", argv[0]);
    return 2;
}
