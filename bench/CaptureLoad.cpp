// Screen content for bench/capture-vs-ffmpeg.sh and bench/desktop-latency.sh, drawn on the X
// display named by DISPLAY for SECONDS:
//   bench_capture_load motion SECONDS [WIDTHxHEIGHT]
//                                      full-screen motion: a photo-like picture panned along a
//                                      curve with fresh grain, 60 times a second, so every pixel
//                                      changes every frame, the encoder has to search for the motion
//                                      and finds a residual everywhere, as in camera video
//                                      (optionally only WIDTHxHEIGHT at the top left: one monitor)
//   bench_capture_load bar SECONDS     a 40-pixel bar moving over colour ramps, 60 times a second:
//                                      a small part of the screen changes
//   bench_capture_load still SECONDS   the photo-like picture, drawn once and left alone
//   bench_capture_load text SECONDS    writes three lines of log-like text to standard output 60
//                                      times a second, for a terminal to scroll
// The pictures go into a full-screen override-redirect window mapped above everything else, so a
// panel or window of the host under test stays out of them.
#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "TestPictures.hpp"

namespace {

using vantrel::testing::MotionPicture;

using namespace std::chrono;

constexpr auto frameInterval = microseconds(16'667);

struct XcbDisconnect {
    void operator()(xcb_connection_t* connection) const { xcb_disconnect(connection); }
};

// Colour ramps across and down the screen.
std::vector<std::uint8_t> ramps(int width, int height) {
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * height * 4);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            auto* pixel = &pixels[(static_cast<std::size_t>(y) * width + x) * 4];
            pixel[0] = static_cast<std::uint8_t>(x * 255 / width);
            pixel[1] = static_cast<std::uint8_t>(y * 255 / height);
            pixel[2] = 60;
            pixel[3] = 0;
        }
    }
    return pixels;
}

class Canvas {
public:
    // A window above everything, the screen's size unless given one, and a pixmap a margin larger
    // on every side.
    static std::unique_ptr<Canvas> open(int margin, int width = 0, int height = 0) {
        std::unique_ptr<xcb_connection_t, XcbDisconnect> connection(xcb_connect(nullptr, nullptr));
        if (xcb_connection_has_error(connection.get()) != 0) {
            std::fprintf(stderr, "bench_capture_load: cannot open the display\n");
            return nullptr;
        }
        return std::unique_ptr<Canvas>(new Canvas(std::move(connection), margin, width, height));
    }

    [[nodiscard]] int width() const { return width_; }
    [[nodiscard]] int height() const { return height_; }
    [[nodiscard]] bool healthy() const { return xcb_connection_has_error(connection_.get()) == 0; }

    // Uploads pixels (BGRX, pictureWidth wide) into the pixmap.
    void upload(const std::vector<std::uint8_t>& pixels) { put(picture_, pixels, width_ + 2 * margin_); }

    // Makes the grain (MotionPicture's) in a pixmap the size of the picture, so that grain(x, y)
    // varies it every frame.
    void makeGrain() {
        const int grainWidth = width_ + 2 * margin_;
        const int grainHeight = height_ + 2 * margin_;
        grain_ = xcb_generate_id(connection_.get());
        xcb_create_pixmap(connection_.get(), depth_, grain_, window_, static_cast<std::uint16_t>(grainWidth),
                          static_cast<std::uint16_t>(grainHeight));
        put(grain_, MotionPicture::grainPixels(grainWidth, grainHeight), grainWidth);
        xorGc_ = xcb_generate_id(connection_.get());
        const std::uint32_t function = XCB_GX_XOR;
        xcb_create_gc(connection_.get(), xorGc_, window_, XCB_GC_FUNCTION, &function);
    }

    // Lays the grain from (x, y) of its pixmap over the whole window.
    void grain(int x, int y) {
        xcb_copy_area(connection_.get(), grain_, window_, xorGc_, static_cast<std::int16_t>(x),
                      static_cast<std::int16_t>(y), 0, 0, static_cast<std::uint16_t>(width_),
                      static_cast<std::uint16_t>(height_));
    }

    // Shows the part of the pixmap at (x, y) of the picture.
    void show(int x, int y, int fromX = 0, int width = -1) {
        xcb_copy_area(connection_.get(), picture_, window_, gc_, static_cast<std::int16_t>(x + fromX),
                      static_cast<std::int16_t>(y), static_cast<std::int16_t>(fromX), 0,
                      static_cast<std::uint16_t>(width < 0 ? width_ : width), static_cast<std::uint16_t>(height_));
    }

    void fill(int x, int width) {
        const xcb_rectangle_t rectangle{static_cast<std::int16_t>(x), 0, static_cast<std::uint16_t>(width),
                                        static_cast<std::uint16_t>(height_)};
        xcb_poly_fill_rectangle(connection_.get(), window_, gc_, 1, &rectangle);
    }

    // Waits until the server has done everything asked so far, so drawing never queues up ahead
    // of it.
    void sync() {
        std::free(xcb_get_input_focus_reply(connection_.get(), xcb_get_input_focus(connection_.get()), nullptr));
    }

private:
    Canvas(std::unique_ptr<xcb_connection_t, XcbDisconnect> connection, int margin, int width, int height)
        : connection_(std::move(connection)), margin_(margin) {
        auto* c = connection_.get();
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
        width_ = width > 0 ? std::min<int>(width, screen->width_in_pixels) : screen->width_in_pixels;
        height_ = height > 0 ? std::min<int>(height, screen->height_in_pixels) : screen->height_in_pixels;
        depth_ = screen->root_depth;
        window_ = xcb_generate_id(c);
        const std::uint32_t values[] = {0, 1};  // black background, override-redirect
        xcb_create_window(c, XCB_COPY_FROM_PARENT, window_, screen->root, 0, 0, static_cast<std::uint16_t>(width_),
                          static_cast<std::uint16_t>(height_), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                          XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, values);
        xcb_map_window(c, window_);
        picture_ = xcb_generate_id(c);
        xcb_create_pixmap(c, depth_, picture_, window_, static_cast<std::uint16_t>(width_ + 2 * margin_),
                          static_cast<std::uint16_t>(height_ + 2 * margin_));
        gc_ = xcb_generate_id(c);
        const std::uint32_t white = 0xffffff;
        xcb_create_gc(c, gc_, window_, XCB_GC_FOREGROUND, &white);
    }

    // Puts pixels (BGRX, rows width apart) into pixmap, in bands that fit a request.
    void put(xcb_pixmap_t pixmap, const std::vector<std::uint8_t>& pixels, int width) {
        constexpr int band = 32;
        const auto height = static_cast<int>(pixels.size() / 4 / static_cast<std::size_t>(width));
        for (int top = 0; top < height; top += band) {
            const int count = std::min(band, height - top);
            xcb_put_image(connection_.get(), XCB_IMAGE_FORMAT_Z_PIXMAP, pixmap, gc_, static_cast<std::uint16_t>(width),
                          static_cast<std::uint16_t>(count), 0, static_cast<std::int16_t>(top), 0, depth_,
                          static_cast<std::uint32_t>(static_cast<std::size_t>(width) * count * 4),
                          pixels.data() + static_cast<std::size_t>(top) * width * 4);
        }
    }

    std::unique_ptr<xcb_connection_t, XcbDisconnect> connection_;
    int margin_;
    int width_ = 0;
    int height_ = 0;
    std::uint8_t depth_ = 24;
    xcb_window_t window_ = 0;
    xcb_pixmap_t picture_ = 0;
    xcb_gcontext_t gc_ = 0;
    xcb_pixmap_t grain_ = 0;
    xcb_gcontext_t xorGc_ = 0;
};

// Runs frame(n) every 1/60 s for seconds.
template <typename Frame>
int every60th(Canvas& canvas, int seconds, Frame frame) {
    const auto end = steady_clock::now() + seconds * 1s;
    auto next = steady_clock::now();
    for (int count = 0; steady_clock::now() < end && canvas.healthy(); ++count) {
        frame(count);
        canvas.sync();
        next += frameInterval;
        std::this_thread::sleep_until(next);
    }
    return canvas.healthy() ? 0 : 1;
}

// The pictures of MotionPicture: the pan along its curve and the grain over it.
int motion(int seconds, int width, int height) {
    constexpr int margin = MotionPicture::margin;
    const auto canvas = Canvas::open(margin, width, height);
    if (!canvas) {
        return 1;
    }
    canvas->upload(vantrel::testing::photoLikePixels(canvas->width() + 2 * margin, canvas->height() + 2 * margin));
    canvas->makeGrain();
    return every60th(*canvas, seconds, [&](int frame) {
        const auto [panX, panY] = MotionPicture::panAt(frame);
        canvas->show(panX, panY);
        const auto [grainX, grainY] = MotionPicture::grainAt(frame);
        canvas->grain(grainX, grainY);
    });
}

int still(int seconds) {
    const auto canvas = Canvas::open(0);
    if (!canvas) {
        return 1;
    }
    canvas->upload(vantrel::testing::photoLikePixels(canvas->width(), canvas->height()));
    canvas->show(0, 0);
    canvas->sync();
    std::this_thread::sleep_for(seconds * 1s);
    return canvas->healthy() ? 0 : 1;
}

int bar(int seconds) {
    const auto canvas = Canvas::open(0);
    if (!canvas) {
        return 1;
    }
    canvas->upload(ramps(canvas->width(), canvas->height()));
    canvas->show(0, 0);
    constexpr int barWidth = 40;
    int place = 0;
    return every60th(*canvas, seconds, [&](int) {
        canvas->show(0, 0, place, barWidth);  // the ramps back where the bar was
        place = (place + 8) % (canvas->width() - barWidth);
        canvas->fill(place, barWidth);
    });
}

// Lines like a build log: a path, a counter and a message of varying length.
int text(int seconds) {
    static constexpr const char* words[] = {"compiling", "linking",   "capture", "encoder", "frame",  "buffer",
                                            "display",   "queue",     "server",  "socket",  "damage", "pointer",
                                            "warning:",  "note:",     "->",      "ok",      "x264",   "libyuv",
                                            "scaling",   "converted", "sent",    "stride",  "bytes",  "slices"};
    constexpr std::size_t wordCount = std::size(words);
    const auto end = steady_clock::now() + seconds * 1s;
    auto next = steady_clock::now();
    std::uint32_t line = 0;
    std::minstd_rand random(7);  // the same text on every run
    std::string text;
    while (steady_clock::now() < end) {
        text.clear();
        for (int count = 0; count < 3; ++count, ++line) {
            char head[64];
            std::snprintf(head, sizeof head, "[%6u] src/module%02u/file%03u.cpp:%u:", line,
                          static_cast<unsigned>(random() % 40), static_cast<unsigned>(random() % 400),
                          static_cast<unsigned>(random() % 900));
            text += head;
            const auto length = 3 + random() % 14;
            for (std::uint32_t word = 0; word < length; ++word) {
                text += ' ';
                text += words[random() % wordCount];
            }
            text += '\n';
        }
        if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0) {
            return 1;
        }
        next += frameInterval;
        std::this_thread::sleep_until(next);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "motion") {
        int width = 0;
        int height = 0;
        if (std::sscanf(argv[3], "%dx%d", &width, &height) == 2 && width > 0 && height > 0) {
            return motion(std::atoi(argv[2]), width, height);
        }
    }
    if (argc == 3) {
        const int seconds = std::atoi(argv[2]);
        const std::string mode = argv[1];
        if (mode == "motion") {
            return motion(seconds, 0, 0);
        }
        if (mode == "bar") {
            return bar(seconds);
        }
        if (mode == "still") {
            return still(seconds);
        }
        if (mode == "text") {
            return text(seconds);
        }
    }
    std::fprintf(stderr, "usage: %s motion SECONDS [WIDTHxHEIGHT] | bar|still|text SECONDS\n", argv[0]);
    return 2;
}
