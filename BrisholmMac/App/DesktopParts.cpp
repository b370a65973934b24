#include "App/DesktopParts.hpp"

#include "App/AppCatalog.hpp"
#include "Capture/ScreenStreamer.hpp"
#include "Input/InputInjector.hpp"

namespace vantrel {

std::shared_ptr<StreamerFrames> StreamerFrames::create(std::shared_ptr<ScreenStreamer> streamer,
                                                       std::optional<std::string> unsupported) {
    std::shared_ptr<StreamerFrames> frames(new StreamerFrames(std::move(streamer), std::move(unsupported)));
    frames->streamer_->onStopped = [weakFrames =
                                        std::weak_ptr<StreamerFrames>(frames)](std::optional<CaptureError> error) {
        const auto frames = weakFrames.lock();
        if (!frames) {
            return;
        }
        if (error && error->kind == CaptureError::Kind::displayGone && frames->onDisplayGone) {
            frames->onDisplayGone();
        } else if (frames->onStopped) {
            frames->onStopped(error ? std::optional<std::string>(error->description) : std::nullopt);
        }
    };
    return frames;
}

void StreamerFrames::start(const DisplayInfo& display, std::function<void(Failure)> started) {
    if (unsupported_) {
        started(unsupported_);
        return;
    }
    streamer_->start(display.id, [started = std::move(started)](std::optional<CaptureError> error) {
        started(error ? std::optional<std::string>(error->description) : std::nullopt);
    });
}

void StreamerFrames::stop(std::function<void()> stopped) {
    streamer_->stop(std::move(stopped));
}

void StreamerFrames::sendKeyframeNow() {
    streamer_->sendKeyframeNow();
}

void StreamerFrames::setHoldingBack(bool holding) {
    streamer_->setCongested(holding);
}

void InjectorInput::handle(const InputEvent& event) {
    if (injector_) {
        injector_->handle(event);
    }
}

void InjectorInput::releaseAll() {
    if (injector_) {
        injector_->releaseAll();
    }
}

AppList CatalogApplications::current() {
    return catalog_->current();
}

void CatalogApplications::open(const std::string& id, const std::optional<AppList>& offered) {
    catalog_->open(id, offered);
}

}  // namespace vantrel
