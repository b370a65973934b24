#include "Host/HostSession.hpp"

#include <algorithm>
#include <cassert>
#include <future>
#include <utility>

#include "Capture/HostClock.hpp"
#include "Capture/VideoEncoder.hpp"
#include "CongestionController.hpp"
#include "Host/FrameStages.hpp"
#include "Log/DiagnosticLog.hpp"
#include "SyncServer.hpp"
#include "vantrel/SerialQueue.hpp"

namespace vantrel {

std::shared_ptr<HostSession> HostSession::create(Parts parts, Description description) {
    std::shared_ptr<HostSession> session(new HostSession(std::move(parts), std::move(description)));
    session->wire();
    return session;
}

HostSession::HostSession(Parts parts, Description description)
    : parts_(std::move(parts)), description_(std::move(description)) {}

HostSession::~HostSession() = default;

void HostSession::onMain(std::function<void(HostSession&)> work) {
    parts_.main->post([weakSelf = weak_from_this(), work = std::move(work)] {
        if (auto self = weakSelf.lock()) {
            work(*self);
        }
    });
}

void HostSession::wire() {
    // The encoder's output goes straight to the server, which queues it itself; the server is
    // held weakly so that a stopped session's encoder sends nowhere.
    const std::weak_ptr<SyncServer> weakServer = parts_.server;
    parts_.encoder->onConfig = [weakServer](VideoConfig config) {
        if (const auto server = weakServer.lock()) {
            server->send(config);
        }
    };
    parts_.encoder->onFrame = [weakServer](VideoFrame frame) {
        if (const auto server = weakServer.lock()) {
            server->send(std::move(frame));
        }
    };

    auto& server = *parts_.server;
    // On the server's queue, at once: the next picture is encoded at the new rate.
    server.onBitrateChange = [weakEncoder = std::weak_ptr<VideoEncoder>(parts_.encoder),
                              weakSelf = weak_from_this()](std::int64_t requested) {
        if (const auto encoder = weakEncoder.lock()) {
            encoder->setBitrate(
                std::clamp(requested, CongestionController::minimumBitrate, CongestionController::maximumBitrate));
        }
        if (const auto self = weakSelf.lock()) {
            self->onMain([requested](HostSession& session) {
                if (session.onBitrateChange) {
                    session.onBitrateChange(requested);
                }
            });
        }
    };
    // Straight through as well: the source only notes it (an atomic flag), and the next picture
    // should already know.
    server.onHoldingFrames = [weakFrames = std::weak_ptr<FrameSource>(parts_.frames)](bool holding) {
        if (const auto frames = weakFrames.lock()) {
            frames->setHoldingBack(holding);
        }
    };
    // Everything else hops to the main queue, in the order the server reported it.
    server.onListening = [weakSelf = weak_from_this()](std::optional<std::uint16_t> port) {
        if (const auto self = weakSelf.lock()) {
            self->onMain([port](HostSession& session) {
                if (session.onListening) {
                    session.onListening(port);
                }
            });
        }
    };
    server.onClientChanged = [weakSelf = weak_from_this()](std::optional<std::string> client) {
        if (const auto self = weakSelf.lock()) {
            self->onMain([client = std::move(client)](HostSession& session) { session.clientChanged(client); });
        }
    };
    server.onInput = [weakSelf = weak_from_this()](const InputEvent& event) {
        if (const auto self = weakSelf.lock()) {
            self->onMain([event](HostSession& session) {
                if (session.client_ && !session.stopping_) {
                    session.parts_.input->handle(event);
                }
            });
        }
    };
    server.onKeyframeRequest = [weakSelf = weak_from_this()] {
        if (const auto self = weakSelf.lock()) {
            self->onMain([](HostSession& session) { session.parts_.frames->sendKeyframeNow(); });
        }
    };
    server.onSelectDisplay = [weakSelf = weak_from_this()](std::uint32_t display) {
        if (const auto self = weakSelf.lock()) {
            self->onMain([display](HostSession& session) {
                if (session.onDisplayRequested) {
                    session.onDisplayRequested(display);
                }
            });
        }
    };
    server.onOpenApp = [weakSelf = weak_from_this()](const std::string& id) {
        if (const auto self = weakSelf.lock()) {
            self->onMain([id](HostSession& session) { session.parts_.applications->open(id, session.offered_); });
        }
    };

    parts_.frames->onStopped = [weakSelf = weak_from_this()](FrameSource::Failure failure) {
        if (const auto self = weakSelf.lock()) {
            self->onMain([failure = std::move(failure)](HostSession& session) {
                diagnosticLog().warn("the picture source stopped by itself: {}", failure.value_or("no reason given"));
                if (session.onCaptureStatus) {
                    session.onCaptureStatus(failure);
                }
                // A phone that can no longer be shown anything is let go; its departure then
                // runs the usual way back.
                session.parts_.server->disconnectClient();
            });
        }
    };
    parts_.frames->onDisplayGone = [weakSelf = weak_from_this()] {
        if (const auto self = weakSelf.lock()) {
            self->onMain([](HostSession& session) { session.displayGone(); });
        }
    };
}

void HostSession::measureStages(std::shared_ptr<FrameStages> stages) {
    parts_.encoder->onStamps = [stages](const EncoderStamps& stamps) {
        stages->encoded(stamps.timestampMicros, stamps.convertedMicros, stamps.encodedMicros);
    };
    // On the server's queue, right after the hand-over.
    parts_.server->onFrameSent = [stages](std::uint64_t timestamp) {
        const auto frame = stages->sent(timestamp, hostClockMicros(std::chrono::steady_clock::now()));
        if (frame && diagnosticLog().should_log(spdlog::level::debug)) {
            diagnosticLog().debug("frame {}: converted {} encoded {} sent {} (host clock, us)", frame->grabbed,
                                  frame->converted, frame->encoded, frame->sent);
        }
    };
}

void HostSession::checkThread() const {
    assert(parts_.main->isCurrent() && "the host session lives on the main queue");
}

void HostSession::displayGone() {
    checkThread();
    const auto gone = description_.activeDisplay;
    if (!client_ || stopping_) {
        return;  // nothing is shown; the next start picks a display that exists
    }
    if (!onDisplayGone) {
        diagnosticLog().warn("display {} went away while a phone watched it; letting the phone go", gone);
        parts_.server->disconnectClient();
        return;
    }
    diagnosticLog().info("display {} went away while a phone watched it; showing another", gone);
    onDisplayGone(gone);
}

void HostSession::start(Bytes key, std::uint16_t preferredPort) {
    checkThread();
    stopping_ = false;
    parts_.server->start(std::move(key), preferredPort);
}

void HostSession::stopListening(std::function<void()> stopped) {
    checkThread();
    parts_.server->stop(std::move(stopped));
}

void HostSession::disconnectClient() {
    checkThread();
    parts_.server->disconnectClient();
}

std::optional<DisplayInfo> HostSession::activeDisplayInfo() const {
    const auto& displays = description_.displays;
    const auto found = std::find_if(displays.begin(), displays.end(), [this](const DisplayInfo& display) {
        return display.id == description_.activeDisplay;
    });
    if (found == displays.end()) {
        return std::nullopt;
    }
    return *found;
}

void HostSession::publishWelcome() {
    checkThread();
    parts_.server->setWelcome(Welcome{SyncProtocolVersion::current, description_.hostName, description_.displays,
                                      description_.activeDisplay, description_.canControl});
}

void HostSession::setDisplays(std::vector<DisplayInfo> displays) {
    checkThread();
    description_.displays = std::move(displays);
}

void HostSession::setCanControl(bool canControl) {
    checkThread();
    description_.canControl = canControl;
}

void HostSession::setHostName(std::string hostName) {
    checkThread();
    description_.hostName = std::move(hostName);
}

bool HostSession::selectDisplay(std::uint32_t id) {
    checkThread();
    const auto& displays = description_.displays;
    if (std::none_of(displays.begin(), displays.end(), [id](const DisplayInfo& display) { return display.id == id; })) {
        diagnosticLog().debug("display {} was asked for, but there is no such display", id);
        return false;
    }
    description_.activeDisplay = id;
    publishWelcome();
    if (client_) {
        startFrames();
    }
    return true;
}

void HostSession::offerApplications() {
    checkThread();
    offered_ = parts_.applications->current();
    parts_.server->send(*offered_);
}

void HostSession::clientChanged(const std::optional<std::string>& client) {
    checkThread();
    if (client_) {
        // The phone that held buttons and keys is gone, also when another one (often the same
        // phone after a Wi-Fi blip) took its place without a departure in between: released
        // here, or every move of the new one would be a drag.
        parts_.input->releaseAll();
    }
    client_ = client;
    if (client) {
        if (!stopping_) {
            startFrames();
            offerApplications();
        }
    } else {
        parts_.frames->stop({});
    }
    if (onClientChanged) {
        onClientChanged(client);
    }
}

void HostSession::startFrames() {
    const auto display = activeDisplayInfo();
    if (!display) {
        captureStarted(std::string("no display to show"));
        return;
    }
    parts_.frames->start(*display, [weakSelf = weak_from_this()](FrameSource::Failure failure) {
        if (const auto self = weakSelf.lock()) {
            self->onMain([failure = std::move(failure)](HostSession& session) { session.captureStarted(failure); });
        }
    });
}

void HostSession::captureStarted(const FrameSource::Failure& failure) {
    checkThread();
    if (failure) {
        // The phone stays connected: the user sees why, and can choose another display.
        diagnosticLog().warn("cannot show the display: {}", *failure);
    } else {
        parts_.frames->sendKeyframeNow();
    }
    if (onCaptureStatus) {
        onCaptureStatus(failure);
    }
}

void HostSession::beginStop() {
    stopping_ = true;
    parts_.input->releaseAll();
}

void HostSession::stop(std::function<void()> stopped) {
    checkThread();
    beginStop();
    // The pictures first, so that nothing is encoded or sent while the server goes down.
    parts_.frames->stop(
        [server = parts_.server, stopped = std::move(stopped)]() mutable { server->stop(std::move(stopped)); });
}

void HostSession::stopAndWait() {
    checkThread();
    beginStop();
    std::promise<void> framesStopped;
    auto done = framesStopped.get_future();
    parts_.frames->stop([&framesStopped] { framesStopped.set_value(); });
    done.wait();
    parts_.server->stopAndWait();
}

}  // namespace vantrel
