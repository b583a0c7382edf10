// SPDX-License-Identifier: GPL-3.0-or-later
// Test programs run a StationApplication on Qt's offscreen platform, so window code and event-loop
// code behave as in the station.
#include "app/StationApplication.h"

#include <gtest/gtest.h>

#include <csignal>

// libshout 2.4.6 frees no handle that is not connected and loses the data still queued for a
// connection that went away: leaks of the library, which the relay keeps to one handle per target.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libshout.so\n";
}

int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    StationApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
