// Test programs run a StationApplication on Qt's offscreen platform, so window code and event-loop
// code behave as in the station.
#include "app/StationApplication.h"

#include <gtest/gtest.h>

#include <csignal>

int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    StationApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
