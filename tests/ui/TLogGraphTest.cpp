// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/TLogGraph.h"

#include <QFontMetrics>
#include <QGuiApplication>

#include <gtest/gtest.h>

namespace {

QColor pixel(const QImage& image, int x, int y) {
    return QColor(image.pixel(x, y));
}

int countColour(const QImage& image, const QColor& colour) {
    int n = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            n += pixel(image, x, y) == colour ? 1 : 0;
        }
    }
    return n;
}

// The main window's statistics graph.
void configureAsStats(TLogGraph& g) {
    g.resize(242, 73);
    g.setBetweenSpace(3);
    g.setBevel(TLogGraph::bvLowered);
    g.setColorBg(Qt::white);
    g.setColorFg(Qt::blue);
    g.setDispUpper(false);
    g.setDispAfter(true);
    g.setDivisor(1);
    g.setValueMax(100);
    g.setValueMin(0);
}

TEST(LogGraph, NewControlShowsOneDotPerValueOnTheZeroRow) {
    TLogGraph g;
    ASSERT_EQ(g.ValuesCount(), 28);
    const QImage image = g.renderImage();
    ASSERT_EQ(image.size(), QSize(88, 65));
    const int zero = g.ZeroLine();
    EXPECT_EQ(zero, 53);  // nearest(101 * 63 / 121)
    for (int i = 0; i < 28; ++i) {
        EXPECT_EQ(pixel(image, 1 + 3 * i, zero), QColor(Qt::red)) << i;
    }
    EXPECT_EQ(countColour(image, Qt::red), 28);
}

TEST(LogGraph, MainWindowGraphRowsMatchTheScaleOnRenderedPixels) {
    TLogGraph g;
    configureAsStats(g);
    g.setValueMax(3);
    ASSERT_EQ(g.ValuesCount(), 80);
    EXPECT_DOUBLE_EQ(g.Scale(), 17.75);
    EXPECT_EQ(g.ZeroLine(), 71);

    for (int64_t v : {1, 2, 3, 7, 0}) {
        g.AddValue(v);
    }
    const QImage image = g.renderImage();
    const QColor fg(Qt::blue);
    const QColor bg(Qt::white);
    struct Column {
        int64_t value;
        int firstBarRow;  // topmost bar pixel; the row above it is not part of the bar
    };
    const Column columns[] = {{1, 37}, {2, 19}, {3, 1}, {7, 1}, {0, 71}};
    for (int c = 0; c < 5; ++c) {
        SCOPED_TRACE(columns[c].value);
        const int x = 1 + 3 * (75 + c);
        for (int y = columns[c].firstBarRow; y <= 71; ++y) {
            EXPECT_EQ(pixel(image, x, y), fg) << y;
        }
        if (columns[c].firstBarRow > 1) {
            EXPECT_EQ(pixel(image, x, columns[c].firstBarRow - 1), bg);
        }
        EXPECT_EQ(pixel(image, x + 1, 71), bg);  // the space between bars
        EXPECT_EQ(pixel(image, x + 2, 71), bg);
    }
    // Every older value is 0: a single dot on the zero row.
    int dots = 0;
    for (int x = 1; x < 241; ++x) {
        dots += pixel(image, x, 71) == fg ? 1 : 0;
    }
    EXPECT_EQ(dots, 80);
    EXPECT_EQ(pixel(image, 1, 70), bg);

    // Lowered frame: shadow at left and top, highlight at right and bottom.
    const QColor shadow(g.palette().color(QPalette::Dark).rgb());
    const QColor light(g.palette().color(QPalette::Light).rgb());
    EXPECT_EQ(pixel(image, 0, 0), shadow);
    EXPECT_EQ(pixel(image, 0, 72), shadow);
    EXPECT_EQ(pixel(image, 120, 0), shadow);
    EXPECT_EQ(pixel(image, 241, 40), light);
    EXPECT_EQ(pixel(image, 120, 72), light);
    EXPECT_EQ(pixel(image, 241, 72), light);
}

TEST(LogGraph, NewestValueIsAlwaysAtTheRightAndTheOldestDrops) {
    TLogGraph g;
    configureAsStats(g);
    for (int v = 1; v <= 85; ++v) {
        g.AddValue(v);
    }
    EXPECT_EQ(g.Value(0), 6);
    EXPECT_EQ(g.Value(79), 85);
    EXPECT_EQ(g.Value(80), 0);  // beyond the shown values nothing moves
}

TEST(LogGraph, ValuesPushedBeforeTheFirstPaintFollowTheRealSize) {
    TLogGraph g;  // created 88 x 65: 28 values
    configureAsStats(g);
    g.AddValue(2);
    EXPECT_EQ(g.Value(79), 2);
}

TEST(LogGraph, ChangingValueMaxRescalesTheWholeHistory) {
    TLogGraph g;
    configureAsStats(g);
    g.setValueMax(3);
    g.AddValue(1);
    EXPECT_EQ(QColor(g.renderImage().pixel(238, 36)), QColor(Qt::white));
    g.setValueMax(1);  // scale 35.5: the value 1 now reaches the top
    const QImage image = g.renderImage();
    EXPECT_EQ(pixel(image, 238, 36), QColor(Qt::blue));
    EXPECT_EQ(pixel(image, 238, 1), QColor(Qt::blue));
}

TEST(LogGraph, ValuesOutsideTheRangeAreClipped) {
    TLogGraph g;  // ValueMin -20, ValueMax 100, raised frame, 88 x 65
    g.AddValue(-500);
    g.AddValue(500);
    const QImage image = g.renderImage();
    const int zero = g.ZeroLine();
    const int xLow = 1 + 3 * 26;
    const int xHigh = 1 + 3 * 27;
    // Above the range: from the zero row up to row 0 (not included: the frame).
    EXPECT_EQ(pixel(image, xHigh, 1), QColor(Qt::red));
    EXPECT_EQ(pixel(image, xHigh, zero), QColor(Qt::red));
    // Below the range: from the zero row down to the row of ValueMin, exclusive.
    const int minRow = int(std::nearbyint(120 * g.Scale()));
    EXPECT_EQ(minRow, 62);
    EXPECT_EQ(pixel(image, xLow, minRow - 1), QColor(Qt::red));
    EXPECT_NE(pixel(image, xLow, minRow), QColor(Qt::red));
}

TEST(LogGraph, WithoutFrameRowsMoveUpByOne) {
    TLogGraph g;
    g.resize(30, 20);
    g.setBevel(TLogGraph::bvNone);
    g.setValueMin(0);
    g.setValueMax(9);
    g.setDispUpper(false);
    ASSERT_EQ(g.ValuesCount(), 10);
    EXPECT_EQ(g.ZeroLine(), 19);
    g.AddValue(5);  // row nearest(4 * 2) - 1 = 7
    const QImage image = g.renderImage();
    EXPECT_EQ(pixel(image, 27, 8), QColor(Qt::red));
    EXPECT_EQ(pixel(image, 27, 19), QColor(Qt::red));
    EXPECT_NE(pixel(image, 27, 7), QColor(Qt::red));
    EXPECT_EQ(pixel(image, 0, 19), QColor(Qt::red));  // first dot at x 0
}

TEST(LogGraph, ReferenceLineSpansTheWidthAtItsRow) {
    TLogGraph g;
    configureAsStats(g);
    g.setValueMax(3);
    g.setLinePen(QPen(Qt::green, 1));
    g.setLinePos(2);
    g.setShowLine(true);
    const QImage image = g.renderImage();
    for (int x = 0; x < 242; ++x) {
        EXPECT_EQ(pixel(image, x, 18), QColor(Qt::green)) << x;
    }
}

// A control narrower than one bar and an empty value range draw the frame and nothing else.
TEST(LogGraph, DegenerateLayoutsDrawAnEmptyFrame) {
    {
        TLogGraph g;
        g.resize(4, 30);  // (4 - 2) div 3 = 0 values
        g.AddValue(5);
        EXPECT_EQ(g.ValuesCount(), 0);
        EXPECT_EQ(countColour(g.renderImage(), Qt::red), 0);
    }
    {
        TLogGraph g;
        g.setValueMin(10);
        g.setValueMax(9);
        g.setShowLine(true);
        g.setDispUpper(false);
        g.AddValue(5);
        const QImage image = g.renderImage();
        EXPECT_EQ(countColour(image, Qt::red), 0);
        EXPECT_EQ(countColour(image, Qt::black), 0);
        EXPECT_EQ(pixel(image, 0, 0), QColor(g.palette().color(QPalette::Light).rgb()));
    }
}

TEST(LogGraph, ValueTextRoundsToOneDecimalHalfToEven) {
    struct Case {
        int64_t n;
        int32_t divisor;
        bool graph;
        const char* text;
    };
    const Case cases[] = {
        {5, 10, false, "0.5"},     {-5, 10, false, "-0.5"}, {123, 10, false, "12.3"}, {0, 10, false, "0.0"},
        {-123, 10, true, "-12.3"}, {7, 1, true, "7"},       {-7, 1, true, "-7"},      {7, 1, false, "7.0"},
        {1, 4, false, "0.2"},      {3, 4, false, "0.8"},    {2, -1, false, "-2.0"},   {5, 100, true, "0.0"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(TLogGraph::ValueText(c.n, c.divisor, c.graph), QString::fromLatin1(c.text))
            << c.n << "/" << c.divisor;
    }
}

TEST(LogGraph, DivisorZeroHidesTheValueTextInBothStyles) {
    for (TLogGraph::TViewStyle style : {TLogGraph::vsGraph, TLogGraph::vsLabels}) {
        TLogGraph g;
        g.resize(120, 65);
        g.setViewStyle(style);
        g.setDispAfter(false);
        g.setDescString(QString());
        g.AddValue(42);
        g.setDivisor(1);
        const QImage withText = g.renderImage();
        g.setDivisor(0);
        const QImage hidden = g.renderImage();
        g.setDispUpper(false);
        g.setDivisor(1);
        const QImage plain = g.renderImage();
        EXPECT_NE(withText, hidden) << style;
        if (style == TLogGraph::vsGraph) {
            EXPECT_EQ(hidden, plain);
        }
    }
}

TEST(LogGraph, ShortenedCaptionEndsInOneDotWithNoBlankBeforeIt) {
    const QFontMetrics fm(QGuiApplication::font());
    const QString caption = QStringLiteral("ab  cd Hörer im  Netz");
    const int full = fm.horizontalAdvance(caption);
    for (int width = 0; width <= full + 1; ++width) {
        const QString s = TLogGraph::ShortenCaption(caption, fm, width);
        SCOPED_TRACE(s.toStdString());
        ASSERT_TRUE(s.endsWith(QLatin1Char('.')));
        EXPECT_FALSE(s.endsWith(QLatin1String(" .")));
        EXPECT_FALSE(s.endsWith(QLatin1String("..")));
        EXPECT_TRUE(caption.startsWith(s.chopped(1)));
    }
    // The candidate "ab  ." fits exactly; its blanks go.
    EXPECT_EQ(TLogGraph::ShortenCaption(caption, fm, fm.horizontalAdvance(QStringLiteral("ab  ."))),
              QStringLiteral("ab."));
    EXPECT_EQ(TLogGraph::ShortenCaption(caption, fm, 0), QStringLiteral("."));
}

}  // namespace
