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
#include <numbers>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono;

constexpr auto frameInterval = microseconds(16'667);

struct XcbDisconnect {
    void operator()(xcb_connection_t* connection) const { xcb_disconnect(connection); }
};

// A deterministic 32-bit hash of two coordinates and a seed: the noise below is the same every run.
std::uint32_t hash(std::int32_t x, std::int32_t y, std::uint32_t seed) {
    std::uint32_t value =
        static_cast<std::uint32_t>(x) * 0x8da6b343u ^ static_cast<std::uint32_t>(y) * 0xd8163841u ^ seed * 0xcb1ab31fu;
    value ^= value >> 13;
    value *= 0x5bd1e995u;
    value ^= value >> 15;
    return value;
}

// Smooth value noise in 0..1 with cells of `cell` pixels.
double valueNoise(double x, double y, double cell, std::uint32_t seed) {
    const double fx = x / cell;
    const double fy = y / cell;
    const auto ix = static_cast<std::int32_t>(std::floor(fx));
    const auto iy = static_cast<std::int32_t>(std::floor(fy));
    const double tx = fx - ix;
    const double ty = fy - iy;
    const auto corner = [&](std::int32_t dx, std::int32_t dy) {
        return static_cast<double>(hash(ix + dx, iy + dy, seed) & 0xffff) / 65535.0;
    };
    const double sx = tx * tx * (3 - 2 * tx);
    const double sy = ty * ty * (3 - 2 * ty);
    const double top = corner(0, 0) + (corner(1, 0) - corner(0, 0)) * sx;
    const double bottom = corner(0, 1) + (corner(1, 1) - corner(0, 1)) * sx;
    return top + (bottom - top) * sy;
}

std::uint8_t channel(double value) {
    return static_cast<std::uint8_t>(std::clamp(value, 0.0, 255.0));
}

// A picture with what photographs and desktops have: soft colour fields, texture at several
// scales, hard edges (blocks like windows) and fine grain. No flat area, so a pan moves every pixel.
std::vector<std::uint8_t> photoLike(int width, int height) {
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * height * 4);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const double low = valueNoise(x, y, 300, 1);
            const double middle = valueNoise(x, y, 60, 2);
            const double high = valueNoise(x, y, 9, 3);
            const std::uint32_t grain = hash(x, y, 4);
            // Blocks of 160x96 with a light or dark cast and a sharp border, like windows and text.
            const std::uint32_t block = hash(x / 160, y / 96, 5);
            const bool border = x % 160 < 2 || y % 96 < 2;
            const bool textRow = (block & 1) != 0 && y % 96 > 12 && (y % 12) < 8 && hash(x / 7, y / 12, 6) % 5 != 0;
            double shade = 40 * (static_cast<double>(block >> 8 & 0xff) / 255.0 - 0.5);
            if (textRow) {
                shade -= 70 * ((x % 7) < 5 ? 1 : 0);
            }
            if (border) {
                shade = -90;
            }
            auto* pixel = &pixels[(static_cast<std::size_t>(y) * width + x) * 4];
            const double noise = static_cast<double>(grain & 0x0f) - 7.5;
            pixel[0] = channel(40 + 150 * low + 40 * high + shade + noise);                 // blue
            pixel[1] = channel(60 + 120 * middle + 50 * low + shade + noise);               // green
            pixel[2] = channel(50 + 140 * (1 - low) + 40 * middle * high + shade + noise);  // red
            pixel[3] = 0;
        }
    }
    return pixels;
}

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

    // Makes the grain: the low two bits of every channel, random, in a pixmap the size of the
    // picture, so that grain(dx, dy) varies it every frame.
    void makeGrain() {
        const int grainWidth = width_ + 2 * margin_;
        const int grainHeight = height_ + 2 * margin_;
        grain_ = xcb_generate_id(connection_.get());
        xcb_create_pixmap(connection_.get(), depth_, grain_, window_, static_cast<std::uint16_t>(grainWidth),
                          static_cast<std::uint16_t>(grainHeight));
        std::vector<std::uint8_t> noise(static_cast<std::size_t>(grainWidth) * grainHeight * 4);
        for (std::size_t index = 0; index < noise.size(); index += 4) {
            const std::uint32_t bits = hash(static_cast<std::int32_t>(index), 0, 9);
            noise[index] = static_cast<std::uint8_t>(bits & 3);
            noise[index + 1] = static_cast<std::uint8_t>(bits >> 2 & 3);
            noise[index + 2] = static_cast<std::uint8_t>(bits >> 4 & 3);
        }
        put(grain_, noise, grainWidth);
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

// The pan: the view circles through the margin on a curve whose speed and direction keep
// changing (2 to 6 pixels a frame), the way a hand-held camera or a dragged map moves.
constexpr int panMargin = 64;

int motion(int seconds, int width, int height) {
    const auto canvas = Canvas::open(panMargin, width, height);
    if (!canvas) {
        return 1;
    }
    canvas->upload(photoLike(canvas->width() + 2 * panMargin, canvas->height() + 2 * panMargin));
    canvas->makeGrain();
    return every60th(*canvas, seconds, [&](int frame) {
        const double t = frame / 60.0;
        const double x = panMargin + (panMargin - 2) * std::sin(2 * std::numbers::pi * t / 7.0);
        const double y = panMargin + (panMargin - 2) * std::sin(2 * std::numbers::pi * t / 5.0 + 1);
        canvas->show(static_cast<int>(std::lround(x)), static_cast<int>(std::lround(y)));
        const auto shake = hash(frame, 0, 11);
        canvas->grain(static_cast<int>(shake % (2 * panMargin)), static_cast<int>((shake >> 8) % (2 * panMargin)));
    });
}

int still(int seconds) {
    const auto canvas = Canvas::open(0);
    if (!canvas) {
        return 1;
    }
    canvas->upload(photoLike(canvas->width(), canvas->height()));
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
    std::string text;
    while (steady_clock::now() < end) {
        text.clear();
        for (int count = 0; count < 3; ++count, ++line) {
            char head[64];
            std::snprintf(head, sizeof head, "[%6u] src/module%02u/file%03u.cpp:%u:", line, hash(line, 0, 7) % 40,
                          hash(line, 1, 7) % 400, hash(line, 2, 7) % 900);
            text += head;
            const std::uint32_t length = 3 + hash(line, 3, 7) % 14;
            for (std::uint32_t word = 0; word < length; ++word) {
                text += ' ';
                text += words[hash(line, 10 + word, 7) % wordCount];
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
