// Phone-to-screen latency of the desktop host, measured as a phone would feel it, on this machine:
//   input:  a pointer move sent by the phone → the X server's pointer at the new place;
//   screen: the root window repainted in a new colour → the phone's decoded picture showing it.
// Usage (inside scripts/test-session.sh, with the desktop host running): bench_desktop_latency LINK [SAMPLES]
// Prints one line per measure: "latency <what>: p50 A ms, p99 B ms, max C ms over N samples".
#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Capture/PixelBuffer.hpp"
#include "Phone.hpp"
#include "StreamDecoder.hpp"
#include "vantrel/InputEvent.hpp"
#include "vantrel/PairingInfo.hpp"
#include "vantrel/testing/Waiting.hpp"

namespace {

using namespace vantrel;
using Clock = std::chrono::steady_clock;

struct XcbDisconnect {
    void operator()(xcb_connection_t* connection) const { xcb_disconnect(connection); }
};

double millis(Clock::duration duration) {
    return std::chrono::duration<double, std::milli>(duration).count();
}

void report(const char* what, std::vector<double> samples) {
    if (samples.empty()) {
        std::printf("latency %s: no samples\n", what);
        return;
    }
    std::sort(samples.begin(), samples.end());
    const auto at = [&](double quantile) {
        return samples[std::min(samples.size() - 1, static_cast<std::size_t>(quantile * samples.size()))];
    };
    std::printf("latency %s: p50 %.1f ms, p99 %.1f ms, max %.1f ms over %zu samples\n", what, at(0.5), at(0.99),
                samples.back(), samples.size());
}

std::pair<int, int> pointerOf(xcb_connection_t* x, xcb_window_t root) {
    std::unique_ptr<xcb_query_pointer_reply_t, decltype(&std::free)> reply(
        xcb_query_pointer_reply(x, xcb_query_pointer(x, root), nullptr), &std::free);
    return reply ? std::make_pair(int{reply->root_x}, int{reply->root_y}) : std::make_pair(-1, -1);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_desktop_latency LINK [SAMPLES]\n");
        return 2;
    }
    const auto pairing = PairingInfo::fromURL(argv[1]);
    const int samples = argc > 2 ? std::atoi(argv[2]) : 60;
    if (!pairing) {
        std::fprintf(stderr, "bench_desktop_latency: not a pairing link\n");
        return 2;
    }
    std::unique_ptr<xcb_connection_t, XcbDisconnect> x(xcb_connect(nullptr, nullptr));
    if (xcb_connection_has_error(x.get()) != 0) {
        std::fprintf(stderr, "bench_desktop_latency: no X display\n");
        return 2;
    }
    const auto root = xcb_setup_roots_iterator(xcb_get_setup(x.get())).data->root;

    // The host listens on every interface; loopback is as good as the link's address here.
    auto phone = testing::Phone::overTls(pairing->port, pairing->key);
    if (!phone->greet("latency bench")) {
        std::fprintf(stderr, "bench_desktop_latency: the host did not greet\n");
        return 1;
    }

    // Input: relative moves of alternating sign; the pointer is polled until it has moved.
    std::vector<double> input;
    for (int sample = 0; sample < samples; ++sample) {
        const auto before = pointerOf(x.get(), root);
        const double step = sample % 2 == 0 ? 7 : -7;
        const auto sent = Clock::now();
        phone->sendJSON(MessageType::input, InputEvent{input::PointerMove{step, step}});
        while (pointerOf(x.get(), root) == before && Clock::now() - sent < std::chrono::seconds(1)) {
        }
        input.push_back(millis(Clock::now() - sent));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }

    // Screen: the root repainted in a colour of its own; the pictures decoded until one shows it.
    testing::StreamDecoder decoder;
    std::size_t configsSeen = 0;
    std::size_t framesSeen = 0;
    std::vector<double> screen;
    for (int sample = 0; sample < samples; ++sample) {
        const std::uint32_t blue = sample % 2 == 0 ? 0xE0 : 0x30;
        const std::uint32_t colour = 0x300000u | blue;
        xcb_change_window_attributes(x.get(), root, XCB_CW_BACK_PIXEL, &colour);
        xcb_clear_area(x.get(), 0, root, 0, 0, 0, 0);
        xcb_flush(x.get());
        const auto painted = Clock::now();
        bool seen = false;
        while (!seen && Clock::now() - painted < std::chrono::seconds(2)) {
            const auto messages = phone->messages();
            for (; framesSeen + configsSeen < messages.size();) {
                const auto& [type, body] = messages[framesSeen + configsSeen];
                if (type == MessageType::videoConfig) {
                    ++configsSeen;
                    if (const auto config = VideoConfig::decode(body)) {
                        decoder.configure(*config);
                    }
                    continue;
                }
                if (type != MessageType::videoFrame) {
                    ++configsSeen;  // welcome, apps, pointer: skipped
                    continue;
                }
                ++framesSeen;
                const auto frame = VideoFrame::decode(body);
                const auto picture = frame ? decoder.decode(*frame) : nullptr;
                if (picture) {
                    const auto* pixel = picture->row(40).data() + 40 * 4;
                    seen = seen || std::abs(static_cast<int>(pixel[0]) - static_cast<int>(blue)) < 24;
                }
            }
            if (!seen) {
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
        }
        if (seen && sample > 0) {  // the first waits for the stream's start: warm-up
            screen.push_back(millis(Clock::now() - painted));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    report("input (phone move to X pointer)", input);
    report("screen (repaint to decoded picture)", screen);
    return 0;
}
