// Phone-to-screen latency of the desktop host, measured as a phone would feel it, on this machine:
//   input:  a pointer move sent by the phone → the X server's pointer at the new place;
//   screen: a small marker window (above everything, also above bench_capture_load's motion)
//           repainted in a new colour → the phone's decoded picture showing it. Pictures are
//           decoded as vantrel-probe decodes them (libavcodec with slice threads, no conversion to
//           RGB: the marker is told by its blue-difference chroma), standing in for a phone's
//           hardware decoder.
// Usage (inside scripts/test-session.sh, with the desktop host running): bench_desktop_latency LINK [SAMPLES]
// Prints one line per measure: "latency <what>: p50 A ms, p95 B ms, max C ms over N samples".
#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
}

#include "AnnexB.hpp"
#include "Phone.hpp"
#include "VideoDecoder.hpp"
#include "vantrel/InputEvent.hpp"
#include "vantrel/PairingInfo.hpp"
#include "vantrel/testing/Waiting.hpp"

namespace {

using namespace vantrel;
using Clock = std::chrono::steady_clock;

struct XcbDisconnect {
    void operator()(xcb_connection_t* connection) const { xcb_disconnect(connection); }
};

// The marker: a square at the top left of the primary monitor; the sampled pixel is its middle.
constexpr int markerPlace = 16;
constexpr int markerSide = 48;
constexpr int samplePixel = markerPlace + markerSide / 2;

// The blue-difference chroma (BT.601, limited range) of the marker in colour 0x3030xx.
int markerChroma(std::uint32_t blue) {
    constexpr int grey = 0x30;
    return ((-38 * grey - 74 * grey + 112 * static_cast<int>(blue) + 128) >> 8) + 128;
}

double millis(Clock::duration duration) {
    return std::chrono::duration<double, std::milli>(duration).count();
}

void report(const char* what, std::vector<double> samples) {
    if (samples.empty()) {
        std::printf("latency %s: no samples\n", what);
        return;
    }
    std::sort(samples.begin(), samples.end());
    // Nearest rank: the smallest sample with at least that share at or below it.
    const auto at = [&](std::size_t percent) {
        return samples[std::max<std::size_t>(1, (samples.size() * percent + 99) / 100) - 1];
    };
    std::printf("latency %s: p50 %.1f ms, p95 %.1f ms, max %.1f ms over %zu samples\n", what, at(50), at(95),
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
    const auto* setupScreen = xcb_setup_roots_iterator(xcb_get_setup(x.get())).data;
    const auto root = setupScreen->root;
    // Override-redirect and mapped last: it stays above whatever else is on the screen.
    const auto marker = xcb_generate_id(x.get());
    const std::uint32_t attributes[] = {0x303030, 1};  // grey; override-redirect
    xcb_create_window(x.get(), XCB_COPY_FROM_PARENT, marker, root, markerPlace, markerPlace, markerSide, markerSide, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, setupScreen->root_visual,
                      XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, attributes);
    xcb_map_window(x.get(), marker);
    xcb_flush(x.get());

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

    // Screen: the marker repainted in a colour of its own; every picture is decoded, as a phone
    // does, until one shows it.
    auto decoder = probe::VideoDecoder::create();
    if (!decoder) {
        std::fprintf(stderr, "bench_desktop_latency: no H.264 decoder\n");
        return 1;
    }
    int chroma = -1;  // the marker's in the last picture
    decoder->onPicture = [&chroma](const probe::Picture& picture) {
        const AVFrame& frame = picture.frame;
        if ((frame.format == AV_PIX_FMT_YUV420P || frame.format == AV_PIX_FMT_YUVJ420P) && frame.height > samplePixel) {
            chroma = frame.data[1][(samplePixel / 2) * frame.linesize[1] + samplePixel / 2];
        }
    };
    std::size_t seenMessages = 0;
    std::vector<double> screen;
    // The picture that showed the marker, taken apart on the one clock host and phone share here:
    // repaint to the grab that saw it (the frame's time stamp), grab to receipt, receipt to decoded.
    std::vector<double> toGrab;
    std::vector<double> toReceipt;
    std::vector<double> toDecoded;
    const auto hostTime = [](std::uint64_t micros) { return Clock::time_point(std::chrono::microseconds(micros)); };
    for (int sample = 0; sample < samples; ++sample) {
        const std::uint32_t blue = sample % 2 == 0 ? 0xE0 : 0x30;
        const std::uint32_t colour = 0x303000u | blue;
        xcb_change_window_attributes(x.get(), marker, XCB_CW_BACK_PIXEL, &colour);
        xcb_clear_area(x.get(), 0, marker, 0, 0, 0, 0);
        xcb_flush(x.get());
        const auto painted = Clock::now();
        bool seen = false;
        Clock::time_point grabbed;
        Clock::time_point received;
        while (!seen && Clock::now() - painted < std::chrono::seconds(2)) {
            const auto messages = phone->messagesFrom(seenMessages);
            const auto arrivals = phone->arrivals();
            std::size_t index = 0;
            for (; index < messages.size() && !seen; ++index) {
                const auto& [type, body] = messages[index];
                if (type == MessageType::videoConfig) {
                    if (const auto config = VideoConfig::decode(body)) {
                        decoder->configure(*config);
                    }
                } else if (type == MessageType::videoFrame) {
                    const auto frame = VideoFrame::decode(body);
                    const auto annexB = frame ? probe::annexBFromLengthPrefixed(frame->payload) : std::nullopt;
                    if (annexB && decoder->decode(*annexB, frame->isKeyframe, frame->timestampMicros) ==
                                      probe::DecodeOutcome::decoded) {
                        seen = std::abs(chroma - markerChroma(blue)) < 16;
                        grabbed = hostTime(frame->timestampMicros);
                        received = arrivals.at(seenMessages + index);
                    }
                }
            }
            seenMessages += index;  // the rest after the marker's picture is decoded with the next sample
            if (!seen) {
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
        }
        if (seen && sample > 0) {  // the first waits for the stream's start: warm-up
            const auto decoded = Clock::now();
            screen.push_back(millis(decoded - painted));
            toGrab.push_back(millis(grabbed - painted));
            toReceipt.push_back(millis(received - grabbed));
            toDecoded.push_back(millis(decoded - received));
        }
        // A pause that is no multiple of the frame interval, so repaints fall on every phase of it.
        std::this_thread::sleep_for(std::chrono::microseconds(53'000 + sample % 7 * 2'300));
    }
    report("input (phone move to X pointer)", input);
    report("screen (repaint to decoded picture)", screen);
    report("screen, repaint to the grab that saw it", toGrab);
    report("screen, that grab to received", toReceipt);
    report("screen, received to decoded", toDecoded);
    return 0;
}
