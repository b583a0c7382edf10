// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/TSliderThumb.h"

#include <QMouseEvent>
#include <QPainter>

TSliderThumb::TSliderThumb(QWidget* parent) : QWidget(parent) {
    setCursor(Qt::ArrowCursor);
    // The slider owns the keyboard focus; a click on the thumb must not take it away.
    setFocusPolicy(Qt::NoFocus);
}

void TSliderThumb::setImage(const QImage& image) {
    image_ = image;
    keyed_ = image.convertToFormat(QImage::Format_ARGB32);
    if (!keyed_.isNull()) {
        const QRgb key = keyed_.pixel(0, keyed_.height() - 1);
        for (int y = 0; y < keyed_.height(); ++y) {
            auto* line = reinterpret_cast<QRgb*>(keyed_.scanLine(y));
            for (int x = 0; x < keyed_.width(); ++x) {
                if (line[x] == key) {
                    line[x] = 0;
                }
            }
        }
    }
    fitToImage();
    update();
}

void TSliderThumb::setNumStates(int states) {
    if ((states != 1 && states != 2) || states == numStates_) {
        return;
    }
    numStates_ = states;
    fitToImage();
    update();
}

void TSliderThumb::setDown(bool down) {
    if (down != down_) {
        down_ = down;
        update();
    }
}

void TSliderThumb::fitToImage() {
    resize(image_.width() / numStates_, image_.height());
}

QImage TSliderThumb::renderImage() const {
    QImage picture(size(), QImage::Format_ARGB32_Premultiplied);
    if (picture.isNull()) {
        return picture;
    }
    picture.fill(palette().color(backgroundRole()));
    QPainter painter(&picture);
    const int sourceLeft = numStates_ == 2 && down_ ? image_.width() / 2 : 0;
    painter.drawImage(QPoint(0, 0), keyed_, QRect(sourceLeft, 0, width(), height()));
    return picture;
}

void TSliderThumb::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.drawImage(0, 0, renderImage());
}

void TSliderThumb::mousePressEvent(QMouseEvent* event) {
    if (OnMouseDown) {
        const QPoint p = event->position().toPoint();
        OnMouseDown(this, event->button(), event->modifiers(), p.x(), p.y());
    }
}

void TSliderThumb::mouseMoveEvent(QMouseEvent* event) {
    if (OnMouseMove) {
        const QPoint p = event->position().toPoint();
        OnMouseMove(this, event->buttons(), event->modifiers(), p.x(), p.y());
    }
}

void TSliderThumb::mouseReleaseEvent(QMouseEvent* event) {
    if (OnMouseUp) {
        const QPoint p = event->position().toPoint();
        OnMouseUp(this, event->button(), event->modifiers(), p.x(), p.y());
    }
}
