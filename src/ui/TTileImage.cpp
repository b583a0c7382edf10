// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/TTileImage.h"

#include "platform/ScopeGuard.h"

#include <QPainter>

#include <utility>

TTileImage::TTileImage(QWidget* parent) : QWidget(parent) {
    resize(105, 105);
}

void TTileImage::requestRepaint() {
    ++repaintRequests_;
    update();
}

void TTileImage::setPicture(const QPixmap& picture) {
    picture_ = picture;
    if (!Drawing) {
        requestRepaint();
    }
}

void TTileImage::setTileImage(bool tile) {
    if (tile == tileImage_) {
        return;
    }
    tileImage_ = tile;
    requestRepaint();
}

void TTileImage::Paint(QPainter& painter) {
    if (picture_.isNull()) {
        return;
    }
    const int w = picture_.width();
    const int h = picture_.height();
    if (!tileImage_) {
        painter.drawPixmap(0, 0, picture_);
        return;
    }
    if (w <= 0 || h <= 0) {
        return;  // the loops would not move
    }
    for (int y = 0; y < height(); y += h) {
        for (int x = 0; x < width(); x += w) {
            painter.drawPixmap(x, y, picture_);
        }
    }
}

void TTileImage::DrawTiles(QPainter& surface, int left, int top, int width, int height) const {
    const int w = picture_.width();
    const int h = picture_.height();
    if (picture_.isNull() || w <= 0 || h <= 0 || width <= 0 || height <= 0) {
        return;
    }
    surface.save();
    surface.setClipRect(0, 0, width, height);
    for (int y = geometry().top() - top; y < height; y += h) {
        if (y + h < 0) {
            continue;
        }
        for (int x = geometry().left() - left; x < width; x += w) {
            if (x + w < 0) {
                continue;
            }
            surface.drawPixmap(x, y, picture_);
        }
    }
    surface.restore();
}

QImage TTileImage::renderImage() {
    const bool wasDrawing = std::exchange(Drawing, true);
    const vx::ScopeGuard restore([this, wasDrawing] { Drawing = wasDrawing; });
    QImage image(size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    Paint(painter);
    return image;
}

void TTileImage::paintEvent(QPaintEvent* /*event*/) {
    const QImage picture = renderImage();
    QPainter painter(this);
    painter.drawImage(0, 0, picture);
}
