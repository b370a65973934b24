#include "App/QtMainQueue.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <QCoreApplication>
#include <array>
#include <chrono>

namespace vantrel {
namespace {

// The desktop host's pointer report rests on a descriptor through the panel's event loop: a wait
// that never fired would leave the phone's pointer a second behind the desk's.
TEST(QtMainQueueTest, AWaitForADescriptorRunsOnceWhenItTurnsReadableUnlessDropped) {
    int argc = 1;
    std::array<char, 6> name{"tests"};
    std::array<char*, 2> argv{name.data(), nullptr};
    QCoreApplication application(argc, argv.data());
    const auto main = qtMainQueue();
    std::array<int, 2> ends{};
    ASSERT_EQ(pipe2(ends.data(), O_NONBLOCK | O_CLOEXEC), 0);
    auto processFor = [](std::chrono::milliseconds duration) {
        const auto until = std::chrono::steady_clock::now() + duration;
        while (std::chrono::steady_clock::now() < until) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        }
    };

    int runs = 0;
    auto wait = main->whenReadable(ends[0], [&] { ++runs; });
    ASSERT_NE(wait, nullptr);
    processFor(std::chrono::milliseconds(100));
    EXPECT_EQ(runs, 0) << "nothing to read yet";
    ASSERT_EQ(write(ends[1], "!", 1), 1);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (runs == 0 && std::chrono::steady_clock::now() < deadline) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    EXPECT_EQ(runs, 1) << "readable: the work runs";
    processFor(std::chrono::milliseconds(100));
    EXPECT_EQ(runs, 1) << "once, though the descriptor is still readable";

    auto dropped = main->whenReadable(ends[0], [&] { ++runs; });
    dropped.reset();
    processFor(std::chrono::milliseconds(100));
    EXPECT_EQ(runs, 1) << "a dropped wait runs nothing";

    wait.reset();
    processFor(std::chrono::milliseconds(20));
    EXPECT_NE(fcntl(ends[0], F_GETFD), -1) << "the descriptor stays its owner's";
    close(ends[0]);
    close(ends[1]);
}

}  // namespace
}  // namespace vantrel
