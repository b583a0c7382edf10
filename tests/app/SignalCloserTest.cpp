// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/SignalCloser.h"
#include "support/StationFixture.h"

#include "../integration/StationHarness.h"

#include <gtest/gtest.h>

namespace {

// One rule for the window and the headless station: the first signal closes, and a signal during that
// close (or after it) closes nothing a second time.
TEST(SignalCloser, TheFirstSignalClosesOnceAndLaterOnesChangeNothing) {
    vxtest::StationFixture f;
    auto station = vxtest::startStation(f);
    int closes = 0;
    int signalled = 0;
    SignalCloser* self = nullptr;
    SignalCloser closer(*station, [&] {
        ++closes;
        self->closeOnSignal();  // a second signal while the close runs
        return true;
    });
    self = &closer;
    closer.OnSignal = [&] { ++signalled; };
    EXPECT_FALSE(closer.signalled());
    closer.closeOnSignal();
    closer.closeOnSignal();
    EXPECT_TRUE(closer.signalled());
    EXPECT_EQ(closes, 1);
    EXPECT_EQ(signalled, 1);
}

}  // namespace
