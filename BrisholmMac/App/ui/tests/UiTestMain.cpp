// The panel's tests run on one QApplication on the session's X display. Listing the tests (as the
// build does to register them) needs no display, so the application is made only to run them.
#include <gtest/gtest.h>

#include <QApplication>

#include <memory>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    std::unique_ptr<QApplication> application;
    if (!GTEST_FLAG_GET(list_tests)) {
        application = std::make_unique<QApplication>(argc, argv);
    }
    return RUN_ALL_TESTS();
}
