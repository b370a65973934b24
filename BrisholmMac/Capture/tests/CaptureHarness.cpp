#include "CaptureHarness.hpp"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include "StreamDecoder.hpp"

#include <cmath>
#include <cstring>
#include <future>
#include <utility>

namespace vantrel::testing {

StreamRecord::StreamRecord(VideoEncoder& encoder) {
    encoder.onConfig = [this](VideoConfig config) {
        std::lock_guard guard(lock_);
        outputs_.emplace_back(std::move(config));
    };
    encoder.onFrame = [this](VideoFrame frame) {
        std::lock_guard guard(lock_);
        outputs_.emplace_back(std::move(frame));
    };
}

std::string StreamRecord::shape() const {
    std::string result;
    for (const auto& output : outputs()) {
        if (std::holds_alternative<VideoConfig>(output)) {
            result += 'C';
        } else {
            result += std::get<VideoFrame>(output).isKeyframe ? 'K' : 'P';
        }
    }
    return result;
}

std::vector<StreamRecord::Output> StreamRecord::outputs() const {
    std::lock_guard guard(lock_);
    return outputs_;
}

std::vector<VideoFrame> StreamRecord::frames() const {
    std::vector<VideoFrame> result;
    for (const auto& output : outputs()) {
        if (const auto* frame = std::get_if<VideoFrame>(&output)) {
            result.push_back(*frame);
        }
    }
    return result;
}

std::vector<std::shared_ptr<const PixelBuffer>> StreamRecord::decoded() const {
    StreamDecoder decoder;
    std::vector<std::shared_ptr<const PixelBuffer>> pictures;
    for (const auto& output : outputs()) {
        if (const auto* config = std::get_if<VideoConfig>(&output)) {
            decoder.configure(*config);
        } else {
            pictures.push_back(decoder.decode(std::get<VideoFrame>(output)));
        }
    }
    return pictures;
}

void FakeScreen::update(const std::function<void(FakeScreen&)>& change) {
    std::lock_guard guard(lock);
    change(*this);
}

FakeScreen::~FakeScreen() {
    for (const int descriptor : {newsRead, newsWrite}) {
        if (descriptor >= 0) {
            ::close(descriptor);
        }
    }
}

void FakeScreen::enableNews() {
    int ends[2] = {-1, -1};
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) == 0) {
        newsRead = ends[0];
        newsWrite = ends[1];
    }
}

void FakeScreen::drawn() {
    resting = false;
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(newsWrite, &byte, 1);
}

namespace {

class FakeCapturer final : public ScreenCapturer {
public:
    explicit FakeCapturer(std::shared_ptr<FakeScreen> screen) : screen_(std::move(screen)) {}

    std::vector<MonitorFacts> monitors() override {
        std::lock_guard guard(screen_->lock);
        return screen_->broken ? std::vector<MonitorFacts>{} : screen_->monitors;
    }

    CaptureStatus watch(const Rect& area, StreamSize size) override {
        std::lock_guard guard(screen_->lock);
        if (screen_->broken) {
            return CaptureStatus::permanentError;
        }
        screen_->watched.emplace_back(area, size);
        size_ = size;
        fresh_ = true;
        return CaptureStatus::ok;
    }

    ScreenChanges changes() override {
        std::lock_guard guard(screen_->lock);
        ++screen_->looks;
        if (screen_->resting) {
            ++screen_->looksWhileResting;
        }
        ScreenChanges changes;
        if (screen_->broken) {
            changes.status = CaptureStatus::permanentError;
            changes.reason = "fake connection broke";
            return changes;
        }
        changes.picture = screen_->changing || std::exchange(fresh_, false) || readNews();
        changes.monitors = screen_->monitors != seenMonitors_;
        seenMonitors_ = screen_->monitors;
        return changes;
    }

    CaptureResult grab() override {
        std::lock_guard guard(screen_->lock);
        if (screen_->broken) {
            return {CaptureStatus::permanentError, nullptr, "fake connection broke"};
        }
        const int value = ++screen_->grabs;
        auto frame = PixelBuffer::make(static_cast<std::int32_t>(size_.width), static_cast<std::int32_t>(size_.height),
                                       [value](const PixelBuffer::Pixels& pixels) {
                                           for (std::int32_t y = 0; y < pixels.height; ++y) {
                                               std::memset(pixels.row(y), value * 16 % 256,
                                                           static_cast<std::size_t>(pixels.width) * 4);
                                           }
                                       });
        return {CaptureStatus::ok, std::move(frame), {}};
    }

    std::optional<NewsSource> news() override {
        if (screen_->newsRead < 0) {
            return std::nullopt;
        }
        // Only news wakes it in a test's time.
        return NewsSource{screen_->newsRead, std::chrono::hours(1)};
    }

    bool newsPending() override {
        pollfd descriptor{screen_->newsRead, POLLIN, 0};
        const bool pending = ::poll(&descriptor, 1, 0) == 1;
        if (!pending) {
            screen_->resting = true;
            ++screen_->rests;
        }
        return pending;
    }

private:
    // Takes what drawn() wrote: true when there was any.
    bool readNews() {
        if (screen_->newsRead < 0) {
            return false;
        }
        char bytes[16];
        bool any = false;
        while (::read(screen_->newsRead, bytes, sizeof bytes) > 0) {
            any = true;
        }
        return any;
    }

    std::shared_ptr<FakeScreen> screen_;
    StreamSize size_;
    bool fresh_ = true;
    std::vector<MonitorFacts> seenMonitors_;
};

}  // namespace

std::function<std::unique_ptr<ScreenCapturer>()> fakeCapturers(std::shared_ptr<FakeScreen> screen) {
    return [screen = std::move(screen)]() -> std::unique_ptr<ScreenCapturer> {
        std::lock_guard guard(screen->lock);
        if (screen->refuseCapturers) {
            return nullptr;
        }
        ++screen->capturersMade;
        return std::make_unique<FakeCapturer>(screen);
    };
}

StreamEnd::StreamEnd(ScreenStreamer& streamer) {
    streamer.onStopped = [this](std::optional<CaptureError> error) {
        const std::lock_guard guard(lock_);
        if (!error_) {
            error_ = std::move(error);
        }
        ended_.notify_all();
    };
}

std::optional<CaptureError::Kind> StreamEnd::kind(std::chrono::milliseconds timeout) {
    std::unique_lock guard(lock_);
    if (!ended_.wait_for(guard, timeout, [&] { return error_.has_value(); }) || !error_->has_value()) {
        return std::nullopt;
    }
    return (*error_)->kind;
}

std::optional<CaptureError> startAndWait(ScreenStreamer& streamer, std::uint32_t display) {
    std::promise<std::optional<CaptureError>> done;
    streamer.start(display, [&](std::optional<CaptureError> error) { done.set_value(std::move(error)); });
    return done.get_future().get();
}

void stopAndWait(ScreenStreamer& streamer) {
    std::promise<void> done;
    streamer.stop([&] { done.set_value(); });
    done.get_future().get();
}

MonitorFacts fakeMonitor(std::uint32_t id, bool primary, Rect bounds) {
    MonitorFacts monitor;
    monitor.id = id;
    monitor.primary = primary;
    monitor.bounds = bounds;
    return monitor;
}

}  // namespace vantrel::testing
