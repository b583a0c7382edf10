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
    void setPicture(const QPixmap& picture);  // copies it and asks for a repaint
    bool TileImage() const { return tileImage_; }
    void setTileImage(bool tile);

    // Paints the tile pattern into another surface, for the rectangle of that size whose top-left corner
    // lies at (left, top) in this control's parent's coordinates; the caller passes its own position and
    // size. The pattern is anchored at this control's corner and is not limited to its bounds. Tiles
    // whatever TileImage says.
    void DrawTiles(QPainter& surface, int left, int top, int width, int height) const;

    // The control's picture as a paint pass composes it.
    QImage renderImage() const;

    int repaintRequests() const { return repaintRequests_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void compose(QPainter& painter) const;
    void requestRepaint();

    QPixmap picture_;
    bool tileImage_ = false;
    bool Drawing = false;  // set while a paint pass runs: picture changes then ask for no repaint
    int repaintRequests_ = 0;
};
