// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QFlags>
#include <QImage>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QTimer>
#include <QWidget>

#include <array>
#include <cstdint>
#include <functional>

class QPainter;
class TSliderThumb;

// A track bar drawn from bitmaps: a ruler whose middle part is repeated to the control's length, a thumb
// (a child control) that is dragged along it, optional tick marks below or beside it and a focus rectangle.
// It keeps an integer value between MinValue and MaxValue, with MinValue < MaxValue at all times (the
// setters refuse what would break it), and calls OnChange once for every change of the value.
// Thread contract: window thread only.
class TSlider : public QWidget {
    Q_OBJECT

public:
    enum TSliderOrientation { soHorizontal, soVertical };
    enum TSliderOption { soShowFocus = 0x1, soShowPoints = 0x2, soSmooth = 0x4 };
    Q_DECLARE_FLAGS(TSliderOptions, TSliderOption)
    // The image slots, in the order of the image properties.
    enum TSliderImage { siHThumb, siHRuler, siVThumb, siVRuler, siVThumbPressed, siHThumbPressed, siCount };
    enum TStepCode { scFirst, scLast, scUp, scDown, scNone };
    using TNotifyEvent = std::function<void(TSlider* Sender)>;
    using TDrawPointsEvent = std::function<void(TSlider* Sender, QPainter& Canvas)>;

    static constexpr int Indent = 1;            // margin between the control's edge and the ruler
    static constexpr int RepeatInterval = 400;  // ms between the steps of a held click beside the thumb

    explicit TSlider(QWidget* parent = nullptr);

    // --- Properties ---------------------------------------------------------------------------------------
    // Images. A null image puts the program's own picture back into the slot.
    QImage Image(TSliderImage index) const { return images_.at(index); }
    void setImage(TSliderImage index, const QImage& image);
    QImage ImageHThumb() const { return Image(siHThumb); }
    void setImageHThumb(const QImage& image) { setImage(siHThumb, image); }
    QImage ImageHRuler() const { return Image(siHRuler); }
    void setImageHRuler(const QImage& image) { setImage(siHRuler, image); }
    QImage ImageVThumb() const { return Image(siVThumb); }
    void setImageVThumb(const QImage& image) { setImage(siVThumb, image); }
    QImage ImageVRuler() const { return Image(siVRuler); }
    void setImageVRuler(const QImage& image) { setImage(siVRuler, image); }
    QImage ImageVThumbPressed() const { return Image(siVThumbPressed); }
    void setImageVThumbPressed(const QImage& image) { setImage(siVThumbPressed, image); }
    QImage ImageHThumbPressed() const { return Image(siHThumbPressed); }
    void setImageHThumbPressed(const QImage& image) { setImage(siHThumbPressed, image); }
    // Bit i is set while image i is one the user assigned.
    uint8_t UserImages() const { return userImages_; }

    int32_t EdgeSize() const { return edgeSize_; }
    void setEdgeSize(int32_t size);  // 0 or more, and twice it shorter than the ruler image
    int NumThumbStates() const;
    void setNumThumbStates(int states);  // 1 or 2
    bool CurrentlySeeking() const { return seeking_; }
    TSliderOrientation Orientation() const { return orientation_; }
    void setOrientation(TSliderOrientation orientation);
    TSliderOptions Options() const { return options_; }
    void setOptions(TSliderOptions options);
    int32_t Increment() const { return increment_; }
    void setIncrement(int32_t increment);  // refused unless greater than 0
    int32_t MinValue() const { return minValue_; }
    // Neither setter adjusts the value or the thumb; the next assignment of the value does.
    void setMinValue(int32_t value);  // refused above MaxValue - Increment
    int32_t MaxValue() const { return maxValue_; }
    void setMaxValue(int32_t value);  // refused below MinValue + Increment
    int32_t Value() const { return value_; }
    void setValue(int32_t value);  // clipped to the range; ignored while the user drags the thumb

    TNotifyEvent OnChange;
    TNotifyEvent OnStopTracking;
    TDrawPointsEvent OnDrawPoints;  // replaces the built-in tick marks when set

    void Step(TStepCode code);

    // --- Inspection ---------------------------------------------------------------------------------------
    TSliderThumb* Thumb();
    const QImage& Ruler();  // olive already made transparent
    QSize RulerSize();      // also when the ruler has no width and the image is null
    QPoint RulerOrg();
    QRect PointsRect();
    int SliderLength();  // the thumb's travel in pixels
    int32_t OffsetByValue(int64_t value);
    int64_t ValueByOffset(int offset);
    QTimer* RepeatTimer() const { return repeatTimer_; }  // runs while a held click beside the thumb repeats
    // The control exactly as the screen shows it, the thumb included.
    QImage renderImage();

protected:
    virtual void DrawPoints(QPainter& canvas, int32_t step, int tickLength, int extremeLength);
    virtual void ThumbMouseDown(QObject* Sender, Qt::MouseButton Button, Qt::KeyboardModifiers Shift, int X,
                                int Y);
    virtual void ThumbMouseMove(QObject* Sender, Qt::MouseButtons Buttons, Qt::KeyboardModifiers Shift, int X,
                                int Y);
    virtual void ThumbMouseUp(QObject* Sender, Qt::MouseButton Button, Qt::KeyboardModifiers Shift, int X,
                              int Y);
    virtual void Change();

    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    static QImage defaultImage(TSliderImage index);
    bool horizontal() const { return orientation_ == soHorizontal; }
    QImage normalThumbImage() const;
    QImage pressedThumbImage() const;
    void ensureLayout();
    void Sized();
    void AdjustElements();
    void BuildRuler();
    void ThumbOffset(int offset);
    void TimerTrack();
    TStepCode directionAt(QPoint position) const;
    void endDrag();
    void stopTracking();
    void compose(QImage& image);

    std::array<QImage, siCount> images_;
    uint8_t userImages_ = 0;
    int32_t edgeSize_ = 2;
    TSliderOrientation orientation_ = soHorizontal;
    TSliderOptions options_ = TSliderOptions(soShowFocus | soShowPoints | soSmooth);
    int32_t increment_ = 10;
    int32_t minValue_ = 0;
    int32_t maxValue_ = 100;
    int32_t value_ = 0;

    TSliderThumb* thumb_ = nullptr;
    QImage ruler_;
    QSize rulerSize_;
    QPoint rulerOrg_;
    QRect pointsRect_;
    QSize laidOutFor_{-1, -1};  // the control size the elements were last arranged for

    // Tracking: a thumb drag, or a held button beside the thumb.
    bool seeking_ = false;     // also the flag that a thumb drag sets the value
    bool endingDrag_ = false;  // OnStopTracking of the drag runs
    int grabOffset_ = 0;
    bool pressed_ = false;
    QPoint lastPosition_;
    TStepCode firstDirection_ = scNone;
    QTimer* repeatTimer_ = nullptr;
};

Q_DECLARE_OPERATORS_FOR_FLAGS(TSlider::TSliderOptions)
