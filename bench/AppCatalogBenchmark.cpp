// The application list is rebuilt every few seconds while a phone is connected. With the icon
// cache warm a rebuild only resolves names and copies cached PNG bytes; with it cold (a new
// catalog, as after the host starts) each of the 40 icons is looked up in the icon theme, drawn
// at 96 pixels and encoded as PNG by the real renderer.
#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <cstdlib>
#include <string>
#include <vector>

#include "App/AppCatalog.hpp"
#include "Platform/desktop/IconRenderer.hpp"

namespace {

using namespace vantrel;

// Adwaita icons (the theme of the machine), used as the icons of 40 made-up applications.
const std::vector<std::string> iconNames = {
    "accessories-calculator",
    "accessories-character-map",
    "accessories-dictionary",
    "accessories-text-editor",
    "applets-screenshooter",
    "applications-accessories",
    "applications-development",
    "applications-engineering",
    "applications-games",
    "applications-graphics",
    "applications-internet",
    "applications-office",
    "applications-other",
    "applications-science",
    "applications-system",
    "applications-utilities",
    "address-book-new",
    "audio-card",
    "audio-speakers",
    "battery",
    "camera-photo",
    "call-start",
    "bookmark-new",
    "appointment-new",
};

// 20 pinned and 20 further running applications; every icon is drawn by the given renderer, or
// is a fixed 6 KB buffer when there is none.
class BenchWorkspace final : public Workspace {
public:
    explicit BenchWorkspace(std::shared_ptr<desktop::IconRenderer> renderer) : renderer_(std::move(renderer)) {
        for (int i = 0; i < 40; ++i) {
            const auto id = "org.example.App" + std::to_string(i) + ".desktop";
            if (i < 20) {
                pinned_.push_back(id);
            } else {
                running_.push_back({id, "/usr/share/applications/" + id, "Application " + std::to_string(i)});
            }
        }
    }

    std::vector<std::string> pinnedIds() override { return pinned_; }
    std::vector<RunningApplication> runningApplications() override { return running_; }
    std::optional<std::string> locate(const std::string& id) override { return "/usr/share/applications/" + id; }
    std::string displayName(const std::string& location) override { return location.substr(25) + ".app"; }
    std::optional<Bytes> iconPNG(const std::string& location) override {
        if (!renderer_) {
            return Bytes(6 * 1024, 0x42);
        }
        const auto number = std::stoul(location.substr(location.find("App") + 3));
        return renderer_->renderPNG({{iconNames[number % iconNames.size()]}, {}}, iconSize);
    }
    void openOrActivate(const std::string&) override {}

private:
    std::shared_ptr<desktop::IconRenderer> renderer_;
    std::vector<std::string> pinned_;
    std::vector<RunningApplication> running_;
};

void currentWithWarmCache(benchmark::State& state) {
    AppCatalog catalog(std::make_shared<BenchWorkspace>(nullptr));
    benchmark::DoNotOptimize(catalog.current());
    for (auto _ : state) {
        auto list = catalog.current();
        benchmark::DoNotOptimize(list);
    }
}
BENCHMARK(currentWithWarmCache)->Unit(benchmark::kMicrosecond);

void currentWithColdCacheAndRealIcons(benchmark::State& state) {
    auto workspace = std::make_shared<BenchWorkspace>(desktop::IconRenderer::createQt());
    std::size_t iconBytes = 0;
    for (auto _ : state) {
        AppCatalog catalog(workspace);
        auto list = catalog.current();
        state.PauseTiming();
        iconBytes = 0;
        for (const auto& entry : list.apps) {
            iconBytes += entry.icon ? entry.icon->size() : 0;
        }
        state.ResumeTiming();
    }
    state.counters["iconBytes"] = static_cast<double>(iconBytes);
}
BENCHMARK(currentWithColdCacheAndRealIcons)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QGuiApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
