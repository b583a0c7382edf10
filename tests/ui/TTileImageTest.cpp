// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/TLogGraph.h"
#include "ui/TTileImage.h"

#include <QPainter>
#include <QWidget>

#include <utility>

#include <gtest/gtest.h>

namespace {

// Every pixel of the 8 x 8 tile has its own colour, so a shifted pattern cannot pass for the right one.
QColor tileColour(int x, int y) {
    return QColor(20 + 25 * x, 20 + 25 * y, 128);
}

QPixmap tile() {
    QImage image(8, 8, QImage::Format_RGB32);
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) {
            image.setPixelColor(x, y, tileColour(x, y));
        }
    }
    return QPixmap::fromImage(image);
}

int mod8(int v) {
    return ((v % 8) + 8) % 8;
}

TEST(TileImage, TiledControlRepeatsThePictureFromItsCorner) {
    TTileImage tiles;
    tiles.resize(20, 19);
    tiles.setPicture(tile());
    tiles.setTileImage(true);
    const QImage image = tiles.renderImage();
    for (int y = 0; y < 19; ++y) {
        for (int x = 0; x < 20; ++x) {
            ASSERT_EQ(QColor(image.pixel(x, y)), tileColour(x % 8, y % 8)) << x << "," << y;
        }
    }
    tiles.setTileImage(false);
    const QImage once = tiles.renderImage();
    EXPECT_EQ(QColor(once.pixel(7, 7)), tileColour(7, 7));
    EXPECT_EQ(qAlpha(once.pixel(8, 0)), 0);
}

// A target 10 pixels right of and 5 below the tiled image's corner continues its pattern.
TEST(TileImage, DrawTilesKeepsThePatternAnchoredAtTheTiledImage) {
    QWidget parent;
    TTileImage tiles(&parent);
    tiles.setGeometry(3, 2, 105, 105);
    tiles.setPicture(tile());
    QImage target(21, 13, QImage::Format_ARGB32_Premultiplied);
    target.fill(Qt::transparent);
    {
        QPainter p(&target);
        tiles.DrawTiles(p, 13, 7, 21, 13);
    }
    for (int y = 0; y < 13; ++y) {
        for (int x = 0; x < 21; ++x) {
            ASSERT_EQ(QColor(target.pixel(x, y)), tileColour(mod8(x + 10), mod8(y + 5))) << x << "," << y;
        }
    }
    // The pattern reaches beyond the tiled image's own bounds, but starts at its corner.
    QImage outside(8, 8, QImage::Format_ARGB32_Premultiplied);
    outside.fill(Qt::transparent);
    {
        QPainter p(&outside);
        tiles.DrawTiles(p, 0, 200, 8, 8);
    }
    EXPECT_EQ(qAlpha(outside.pixel(2, 0)), 0);
    EXPECT_EQ(QColor(outside.pixel(3, 0)), tileColour(0, 198 % 8));
}

// A control whose paint pass brings in the next picture, as one drawn from a source that changes.
class ChangingTiles : public TTileImage {
public:
    QPixmap next;

protected:
    void Paint(QPainter& canvas) override {
        if (!next.isNull()) {
            setPicture(std::exchange(next, QPixmap()));
        }
        TTileImage::Paint(canvas);
    }
};

TEST(TileImage, EachNewPictureAsksForOneRepaintButNoneWhileItPaints) {
    ChangingTiles tiles;
    tiles.resize(16, 16);
    tiles.setTileImage(true);
    const int before = tiles.repaintRequests();
    tiles.setPicture(tile());
    tiles.setPicture(tile());
    EXPECT_EQ(tiles.repaintRequests(), before + 2);

    QImage red(8, 8, QImage::Format_RGB32);
    red.fill(Qt::red);
    tiles.next = QPixmap::fromImage(red);
    const QImage shown = tiles.grab().toImage();  // a paint event, delivered at once
    EXPECT_EQ(QColor(shown.pixel(12, 12)), QColor(Qt::red));
    EXPECT_EQ(tiles.repaintRequests(), before + 2);
    tiles.setPicture(tile());  // the paint is over
    EXPECT_EQ(tiles.repaintRequests(), before + 3);
}

TEST(TileImage, EmptyPictureDrawsNothing) {
    TTileImage tiles;
    tiles.setTileImage(true);
    tiles.setPicture(QPixmap());
    QImage target(10, 10, QImage::Format_ARGB32_Premultiplied);
    target.fill(Qt::transparent);
    {
        QPainter p(&target);
        tiles.DrawTiles(p, 0, 0, 10, 10);
    }
    EXPECT_EQ(qAlpha(target.pixel(5, 5)), 0);
    EXPECT_EQ(qAlpha(tiles.renderImage().pixel(5, 5)), 0);
}

TEST(TileImage, GraphOverATiledImageShowsTheSamePattern) {
    QWidget parent;
    TTileImage tiles(&parent);
    tiles.setGeometry(0, 0, 200, 100);
    tiles.setPicture(tile());
    tiles.setTileImage(true);
    TLogGraph graph(&parent);
    graph.setGeometry(10, 5, 60, 40);
    graph.setBevel(TLogGraph::bvNone);
    graph.setDispUpper(false);
    graph.setTileImage(&tiles);
    const QImage image = graph.renderImage();
    const int zero = graph.ZeroLine();
    for (int y = 0; y < 40; ++y) {
        if (y == zero) {
            continue;  // the dots of the zero values
        }
        for (int x = 0; x < 60; ++x) {
            ASSERT_EQ(QColor(image.pixel(x, y)), tileColour(mod8(x + 10), mod8(y + 5))) << x << "," << y;
        }
    }
}

}  // namespace
