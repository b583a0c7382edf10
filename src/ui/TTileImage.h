// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QImage>
#include <QPixmap>
#include <QWidget>

class QPainter;

// A picture shown once at the top-left corner or repeated as tiles over the whole control. Other controls
// borrow its pattern (DrawTiles) so that it runs on seamlessly behind them.
// Thread contract: window thread only.
class TTileImage : public QWidget {
    Q_OBJECT

public:
    explicit TTileImage(QWidget* parent = nullptr);

    const QPixmap& Picture() const { return picture_; }
    void setPicture(const QPixmap& picture);  // copies it and asks for a repaint, unless it paints
    bool TileImage() const { return tileImage_; }
    void setTileImage(bool tile);

    // Paints the tile pattern into another surface, for the rectangle of that size whose top-left corner
    // lies at (left, top) in this control's parent's coordinates; the caller passes its own position and
    // size. The pattern is anchored at this control's corner and is not limited to its bounds. Tiles
    // whatever TileImage says.
    void DrawTiles(QPainter& surface, int left, int top, int width, int height) const;

    // The control's picture, composed by a paint pass as the screen gets it.
    QImage renderImage();

    // How often a change asked for a repaint.
    int repaintRequests() const { return repaintRequests_; }

protected:
    // Draws the picture once at the corner or as tiles. Runs with Drawing set: a change of the picture
    // made meanwhile (by an override drawing more, say) asks for no further repaint, so a paint never
    // leads to the next one.
    virtual void Paint(QPainter& canvas);
    void paintEvent(QPaintEvent* event) override;

private:
    void requestRepaint();

    QPixmap picture_;
    bool tileImage_ = false;
    bool Drawing = false;  // set while a paint pass runs: a new picture then asks for no repaint
    int repaintRequests_ = 0;
};
