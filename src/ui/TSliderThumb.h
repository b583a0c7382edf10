// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QImage>
#include <QWidget>

#include <functional>

// The part of a TSlider that the user drags: one picture of an image that holds NumStates pictures side by
// side (normal, pressed). Its own mouse events go to whoever set the On* members (the slider).
// Thread contract: window thread only.
class TSliderThumb : public QWidget {
    Q_OBJECT

public:
    using TMouseEvent = std::function<void(QObject* Sender, Qt::MouseButton Button,
                                           Qt::KeyboardModifiers Shift, int X, int Y)>;
    using TMouseMoveEvent = std::function<void(QObject* Sender, Qt::MouseButtons Buttons,
                                               Qt::KeyboardModifiers Shift, int X, int Y)>;

    explicit TSliderThumb(QWidget* parent = nullptr);

    const QImage& Image() const { return image_; }
    void setImage(const QImage& image);  // copies it; the thumb takes the size of one picture
    int NumStates() const { return numStates_; }
    void setNumStates(int states);  // 1 or 2; anything else is ignored
    bool Down() const { return down_; }
    void setDown(bool down);

    // The thumb as a paint pass draws it: its background, then the picture of the current state with the
    // image's key colour (its bottom-left pixel) left out.
    QImage renderImage() const;

    TMouseEvent OnMouseDown;
    TMouseMoveEvent OnMouseMove;
    TMouseEvent OnMouseUp;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void fitToImage();

    QImage image_;
    QImage keyed_;  // image_ with the key colour transparent
    int numStates_ = 2;
    bool down_ = false;
};
