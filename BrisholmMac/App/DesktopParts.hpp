#pragma once

#include <memory>
#include <optional>
#include <string>

#include "Host/Applications.hpp"
#include "Host/FrameSource.hpp"
#include "Host/InputSink.hpp"

namespace vantrel {

class AppCatalog;
class InputInjector;
class ScreenStreamer;

// The desktop host's parts of the host session: the screen capture as frame source, the input
// injector as input sink, the application catalog as application list.

class StreamerFrames final : public FrameSource, public std::enable_shared_from_this<StreamerFrames> {
public:
    // unsupported: when set, every start fails with this text (a session that cannot be captured).
    // Takes the streamer's onStopped (it holds the source weakly).
    [[nodiscard]] static std::shared_ptr<StreamerFrames> create(std::shared_ptr<ScreenStreamer> streamer,
                                                                std::optional<std::string> unsupported);

    void start(const DisplayInfo& display, std::function<void(Failure)> started) override;
    void stop(std::function<void()> stopped) override;
    void sendKeyframeNow() override;
    void setHoldingBack(bool holding) override;

private:
    StreamerFrames(std::shared_ptr<ScreenStreamer> streamer, std::optional<std::string> unsupported)
        : streamer_(std::move(streamer)), unsupported_(std::move(unsupported)) {}

    std::shared_ptr<ScreenStreamer> streamer_;
    std::optional<std::string> unsupported_;
};

class InjectorInput final : public InputSink {
public:
    // Without an injector the input is dropped: the phone can watch, not control.
    InjectorInput() = default;
    explicit InjectorInput(std::shared_ptr<InputInjector> injector) : injector_(std::move(injector)) {}

    // The injector made later (the desktop could not be operated at start).
    void setInjector(std::shared_ptr<InputInjector> injector) { injector_ = std::move(injector); }

    void handle(const InputEvent& event) override;
    void releaseAll() override;

private:
    std::shared_ptr<InputInjector> injector_;
};

class CatalogApplications final : public Applications {
public:
    explicit CatalogApplications(std::shared_ptr<AppCatalog> catalog) : catalog_(std::move(catalog)) {}

    AppList current() override;
    void open(const std::string& id, const std::optional<AppList>& offered) override;

private:
    std::shared_ptr<AppCatalog> catalog_;
};

}  // namespace vantrel
