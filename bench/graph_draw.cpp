// SPDX-License-Identifier: GPL-3.0-or-later
// The statistics graph: cost of pushing one value (no drawing) against one full drawing pass of the
// main window's graph (242 x 73, 80 bars), and of a pass over the widest history (1000 bars).
#include "ui/TLogGraph.h"

#include <QApplication>
#include <QElapsedTimer>

#include <cstdio>
#include <functional>

namespace {

double nsPer(int n, const std::function<void(int)>& body) {
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < n; ++i) {
        body(i);
    }
    return double(timer.nsecsElapsed()) / n;
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    TLogGraph stats;
    stats.resize(242, 73);
    stats.setBevel(TLogGraph::bvLowered);
    stats.setValueMin(0);
    stats.setValueMax(3);
    stats.setDispUpper(false);

    TLogGraph wide;
    wide.resize(3002, 73);
    wide.setValueMin(0);
    wide.setValueMax(50);

    volatile int sink = 0;
    const double push = nsPer(1000000, [&](int i) { stats.AddValue(i % 4); });
    const double pushWide = nsPer(200000, [&](int i) { wide.AddValue(i % 50); });
    const double draw = nsPer(2000, [&](int) { sink = sink + stats.renderImage().width(); });
    const double drawWide = nsPer(200, [&](int) { sink = sink + wide.renderImage().width(); });

    std::printf("AddValue, 80 values shown:        %10.1f ns\n", push);
    std::printf("AddValue, 999 values shown:       %10.1f ns\n", pushWide);
    std::printf("drawing pass 242 x 73 (80 bars):  %10.1f ns\n", draw);
    std::printf("drawing pass 3002 x 73 (999 bars):%10.1f ns\n", drawWide);
    std::printf("drawing pass / AddValue (80):     %10.1f x\n", draw / push);
    return 0;
}
