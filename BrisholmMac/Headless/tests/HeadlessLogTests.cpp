#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>
#include <string>
#include <thread>
#include <vector>

#include "Headless/HeadlessLog.hpp"

namespace vantrel {
namespace {

using namespace std::chrono_literals;

struct Pipe {
    Pipe() { EXPECT_EQ(::pipe(fds), 0); }
    ~Pipe() {
        closeWriter();
        closeReader();
    }
    void closeReader() {
        if (fds[0] >= 0) {
            ::close(fds[0]);
            fds[0] = -1;
        }
    }
    void closeWriter() {
        if (fds[1] >= 0) {
            ::close(fds[1]);
            fds[1] = -1;
        }
    }
    std::string readAll() {
        std::string text;
        char buffer[65536];
        ssize_t count = 0;
        while ((count = ::read(fds[0], buffer, sizeof buffer)) > 0) {
            text.append(buffer, static_cast<std::size_t>(count));
        }
        return text;
    }
    int fds[2] = {-1, -1};
};

TEST(HeadlessLog, WritesEachLineWithItsLineFeed) {
    Pipe pipe;
    writeLine(pipe.fds[1], "apps: 3");
    writeLine(pipe.fds[1], "");
    writeLine(pipe.fds[1],
              "client: Tel\xC3\xA9"
              "fon");
    pipe.closeWriter();
    EXPECT_EQ(pipe.readAll(),
              "apps: 3\n\nclient: Tel\xC3\xA9"
              "fon\n");
}

// Lines from several queues at once must arrive whole: each goes out in one write.
TEST(HeadlessLog, LinesFromManyThreadsNeverInterleave) {
    Pipe pipe;
    std::string received;
    std::thread reader([&] { received = pipe.readAll(); });
    std::vector<std::thread> writers;
    for (int writer = 0; writer < 4; ++writer) {
        writers.emplace_back([&, writer] {
            const std::string line(200, static_cast<char>('a' + writer));
            for (int i = 0; i < 500; ++i) {
                writeLine(pipe.fds[1], line);
            }
        });
    }
    for (auto& writer : writers) {
        writer.join();
    }
    pipe.closeWriter();
    reader.join();

    std::size_t lines = 0;
    std::size_t start = 0;
    while (start < received.size()) {
        const auto end = received.find('\n', start);
        ASSERT_NE(end, std::string::npos);
        const std::string line = received.substr(start, end - start);
        ASSERT_EQ(line.size(), 200u);
        ASSERT_EQ(line.find_first_not_of(line.front()), std::string::npos) << "a line was split";
        ++lines;
        start = end + 1;
    }
    EXPECT_EQ(lines, 4u * 500);
}

// A line longer than the pipe holds is written in parts as the reader drains it; nothing is lost.
TEST(HeadlessLog, LongLinesArriveWhole) {
    Pipe pipe;
    const std::string line(1 << 20, 'x');
    std::string received;
    std::thread reader([&] { received = pipe.readAll(); });
    writeLine(pipe.fds[1], line);
    pipe.closeWriter();
    reader.join();
    EXPECT_EQ(received.size(), line.size() + 1);
    EXPECT_EQ(received.back(), '\n');
}

TEST(HeadlessLog, AClosedOutputDoesNotStopTheHost) {
    EXPECT_FALSE(writeLine(-1, "nobody reads this"));
}

// Standard output that nobody drains (a stopped pager, a full pipe) must not stall the queue that
// logs: the calls return at once, what does not fit is dropped as whole lines, and what was
// buffered arrives whole once the reader drains again.
TEST(HeadlessLog, TheBackgroundSinkNeverBlocksOnAFullPipeAndDropsWholeLines) {
    Pipe pipe;
    const std::string line(99, 'x');
    constexpr int sent = 5000;  // 500 kB into a pipe of 64 kB
    std::string received;
    {
        auto sink = backgroundLog(pipe.fds[1], 4096, 10s);
        for (int i = 0; i < sent; ++i) {
            sink(line);
        }
        std::thread reader([&] { received = pipe.readAll(); });
        sink = nullptr;  // waits until the buffer is drained
        pipe.closeWriter();
        reader.join();
    }
    ASSERT_FALSE(received.empty());
    EXPECT_EQ(received.size() % (line.size() + 1), 0u);
    EXPECT_EQ(received.find_first_not_of("x\n"), std::string::npos);
    const auto lines = received.size() / (line.size() + 1);
    EXPECT_GE(lines, 4096 / (line.size() + 1));  // at least what the buffer held
    EXPECT_LT(lines, static_cast<std::size_t>(sent));
}

// `brisholm --headless | head -n 2`: the reader goes away; the host lives on, writing nothing.
TEST(HeadlessLog, AReaderThatWentAwayEndsTheWritingNotTheProcess) {
    Pipe pipe;
    pipe.closeReader();
    auto sink = backgroundLog(pipe.fds[1], 4096, 10s);
    for (int i = 0; i < 100; ++i) {
        sink("client: Telefon");
    }
    sink = nullptr;  // returns once the writer has given up
    SUCCEED();
}

}  // namespace
}  // namespace vantrel
