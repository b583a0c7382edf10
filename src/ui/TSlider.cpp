// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/TSlider.h"

#include "platform/ScopeGuard.h"
#include "ui/Assets.h"
#include "ui/TSliderThumb.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

const char* const kDefaultImages[TSlider::siCount] = {
    ":/assets/slider-hthumb.xpm", ":/assets/slider-hruler.xpm",         ":/assets/slider-vthumb.xpm",
    ":/assets/slider-vruler.xpm", ":/assets/slider-vthumb-pressed.xpm", ":/assets/slider-hthumb-pressed.xpm",
};

// Ruler pixels of this colour are not drawn.
constexpr QRgb kRulerKey = qRgb(128, 128, 0);

// The integer nearest to x, halves going to the even neighbour (the default rounding mode).
int64_t nearest(double x) {
    if (std::isnan(x)) {
        return 0;
    }
    return static_cast<int64_t>(std::nearbyint(std::clamp(x, -9.0e18, 9.0e18)));
}

int32_t clip(int64_t value, int32_t low, int32_t high) {
    return static_cast<int32_t>(std::clamp<int64_t>(value, low, high));
}

int toInt(int64_t value) {
    return static_cast<int>(
        std::clamp<int64_t>(value, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

}  // namespace

TSlider::TSlider(QWidget* parent) : QWidget(parent) {
    vx::initAssets();
    resize(140, 40);
    setFocusPolicy(Qt::StrongFocus);
    repeatTimer_ = new QTimer(this);
    repeatTimer_->setInterval(RepeatInterval);
    connect(repeatTimer_, &QTimer::timeout, this, [this] { TimerTrack(); });

    thumb_ = new TSliderThumb(this);
    thumb_->OnMouseDown = [this](QObject* sender, Qt::MouseButton button, Qt::KeyboardModifiers shift, int x,
                                 int y) { ThumbMouseDown(sender, button, shift, x, y); };
    thumb_->OnMouseMove = [this](QObject* sender, Qt::MouseButtons buttons, Qt::KeyboardModifiers shift,
                                 int x, int y) { ThumbMouseMove(sender, buttons, shift, x, y); };
    thumb_->OnMouseUp = [this](QObject* sender, Qt::MouseButton button, Qt::KeyboardModifiers shift, int x,
                               int y) { ThumbMouseUp(sender, button, shift, x, y); };
    for (int i = 0; i < siCount; ++i) {
        images_[i] = defaultImage(TSliderImage(i));
    }
    thumb_->setImage(normalThumbImage());
    AdjustElements();
}

QImage TSlider::defaultImage(TSliderImage index) {
    return QImage(QString::fromLatin1(kDefaultImages[index]));
}

QImage TSlider::normalThumbImage() const {
    return images_[horizontal() ? siHThumb : siVThumb];
}

QImage TSlider::pressedThumbImage() const {
    return images_[horizontal() ? siHThumbPressed : siVThumbPressed];
}

// --- Properties ------------------------------------------------------------------------------------------

void TSlider::setImage(TSliderImage index, const QImage& image) {
    if (index < 0 || index >= siCount) {
        return;
    }
    if (image.isNull()) {
        images_[index] = defaultImage(index);
        userImages_ &= uint8_t(~(1u << index));
    } else {
        images_[index] = image;
        userImages_ |= uint8_t(1u << index);
    }
    if (index == (horizontal() ? siHThumb : siVThumb)) {
        thumb_->setImage(images_[index]);
    }
    Sized();
}

void TSlider::setEdgeSize(int32_t size) {
    const QImage& ruler = images_[horizontal() ? siHRuler : siVRuler];
    const int length = horizontal() ? ruler.width() : ruler.height();
    // A negative edge would copy from outside the ruler image.
    if (size < 0 || 2 * int64_t(size) >= length || size == edgeSize_) {
        return;
    }
    edgeSize_ = size;
    Sized();
}

int TSlider::NumThumbStates() const {
    return thumb_->NumStates();
}

void TSlider::setNumThumbStates(int states) {
    if ((states != 1 && states != 2) || states == thumb_->NumStates()) {
        return;
    }
    thumb_->setNumStates(states);  // only the thumb's size; its place follows the next value
}

void TSlider::setOrientation(TSliderOrientation orientation) {
    if (orientation == orientation_) {
        return;
    }
    orientation_ = orientation;
    thumb_->setImage(normalThumbImage());
    Sized();
}

void TSlider::setOptions(TSliderOptions options) {
    if (options != options_) {
        options_ = options;
        update();
    }
}

void TSlider::setIncrement(int32_t increment) {
    if (increment <= 0 || increment == increment_) {
        return;
    }
    increment_ = increment;
    setValue(value_);
    update();
}

void TSlider::setMinValue(int32_t value) {
    ensureLayout();  // a size change still pending is arranged for the old range
    if (value == minValue_ || int64_t(value) > int64_t(maxValue_) - increment_) {
        return;
    }
    minValue_ = value;  // the value and the thumb stay until the next assignment of the value
    if (options_ & soShowPoints) {
        update();
    }
}

void TSlider::setMaxValue(int32_t value) {
    ensureLayout();  // a size change still pending is arranged for the old range
    if (value == maxValue_ || int64_t(value) < int64_t(minValue_) + increment_) {
        return;
    }
    maxValue_ = value;
    if (options_ & soShowPoints) {
        update();
    }
}

void TSlider::setValue(int32_t value) {
    if (seeking_) {
        return;  // the user's drag wins
    }
    ensureLayout();
    const int32_t clipped = clip(value, minValue_, maxValue_);
    const bool changed = clipped != value_;
    value_ = clipped;
    ThumbOffset(OffsetByValue(value_));
    if (changed) {
        Change();
    }
}

void TSlider::Change() {
    if (OnChange) {
        OnChange(this);
    }
}

void TSlider::Step(TStepCode code) {
    const int64_t steps = value_ / increment_;  // truncated towards zero
    switch (code) {
        case scFirst:
            setValue(minValue_);
            break;
        case scLast:
            setValue(maxValue_);
            break;
        case scUp:
            setValue(clip(increment_ * (steps + 1), minValue_, maxValue_));
            break;
        case scDown:
            setValue(clip(increment_ * (steps - 1), minValue_, maxValue_));
            break;
        case scNone:
            break;
    }
}

// --- Layout ----------------------------------------------------------------------------------------------

TSliderThumb* TSlider::Thumb() {
    ensureLayout();
    return thumb_;
}

const QImage& TSlider::Ruler() {
    ensureLayout();
    return ruler_;
}

QSize TSlider::RulerSize() {
    ensureLayout();
    return rulerSize_;
}

QPoint TSlider::RulerOrg() {
    ensureLayout();
    return rulerOrg_;
}

QRect TSlider::PointsRect() {
    ensureLayout();
    return pointsRect_;
}

int TSlider::SliderLength() {
    ensureLayout();
    return horizontal() ? rulerSize_.width() - thumb_->width() : rulerSize_.height() - thumb_->height();
}

// A hidden control gets its resize event only when it is shown, so everything that depends on the size
// checks that the elements were arranged for the current one.
void TSlider::ensureLayout() {
    if (size() != laidOutFor_) {
        AdjustElements();
    }
}

void TSlider::Sized() {
    AdjustElements();
    update();
}

void TSlider::BuildRuler() {
    const QImage& image = images_[horizontal() ? siHRuler : siVRuler];
    const int imageLength = horizontal() ? image.width() : image.height();
    const int cross = horizontal() ? image.height() : image.width();
    const int length = horizontal() ? std::max(width(), 0) - 2 * Indent : height() - 2 * Indent;
    rulerSize_ = horizontal() ? QSize(std::max(length, 0), cross) : QSize(cross, std::max(length, 0));
    ruler_ = QImage();
    if (length <= 0 || image.isNull()) {
        return;
    }
    QImage built(rulerSize_, QImage::Format_ARGB32);
    built.fill(0);
    const QImage source = image.convertToFormat(QImage::Format_ARGB32);
    QPainter painter(&built);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    const auto copy = [&](int target, int pieceLength, int from) {
        if (horizontal()) {
            painter.drawImage(QRect(target, 0, pieceLength, cross), source,
                              QRect(from, 0, pieceLength, cross));
        } else {
            painter.drawImage(QRect(0, target, cross, pieceLength), source,
                              QRect(0, from, cross, pieceLength));
        }
    };
    // The two ends of the image stay; its middle repeats, the last copy cut so that the far end fits.
    const int edge = edgeSize_;
    const int middle = imageLength - 2 * edge;
    copy(0, imageLength - edge, 0);
    if (middle > 0) {
        const int inner = length - 2 * edge;
        const int pieces = inner / middle;
        const int rest = inner % middle;
        for (int i = 1; i < pieces; ++i) {
            copy(edge + i * middle, middle, edge);
        }
        if (pieces > 0) {
            copy(edge + pieces * middle, edge + rest, edge + middle - rest);
        }
    }
    painter.end();
    for (int y = 0; y < built.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(built.scanLine(y));
        for (int x = 0; x < built.width(); ++x) {
            if (line[x] == kRulerKey) {
                line[x] = 0;
            }
        }
    }
    ruler_ = built;
}

void TSlider::AdjustElements() {
    laidOutFor_ = size();
    BuildRuler();
    const int rulerWidth = rulerSize_.width();
    const int rulerHeight = rulerSize_.height();
    const QSize thumb = thumb_->size();
    // The thumb starts at the ruler's beginning; the value (below) then places it along the axis, except
    // during a drag, where the next movement of the pointer brings it back under the pointer.
    if (horizontal()) {
        thumb_->move(Indent, rulerHeight + Indent + 1 - thumb.height());
        rulerOrg_ = QPoint(Indent, Indent);
        const int top = rulerHeight + Indent + 1;
        pointsRect_ = QRect(rulerOrg_.x(), top, rulerWidth, height() - 1 - top);
    } else {
        int left = 0;
        if (rulerWidth < thumb.width()) {
            thumb_->move(Indent, Indent);
            rulerOrg_ = QPoint((thumb.width() - rulerWidth) / 2 + Indent, Indent);
            left = thumb.width() + Indent + 1;
        } else {
            thumb_->move((rulerWidth - thumb.width()) / 2 + Indent, Indent);
            rulerOrg_ = QPoint(Indent, Indent);
            left = rulerWidth + Indent + 1;
        }
        pointsRect_ = QRect(left, rulerOrg_.y(), width() - 1 - left, rulerHeight);
    }
    setValue(value_);  // dropped during a drag
}

// --- Positions -------------------------------------------------------------------------------------------

int32_t TSlider::OffsetByValue(int64_t value) {
    const int length = SliderLength();
    const double x =
        length > 0 ? double(int64_t(length) * (value - minValue_)) / double(int64_t(maxValue_) - minValue_)
                   : 0.0;
    if (horizontal()) {
        return toInt(nearest(x) + Indent);
    }
    return toInt(height() - nearest(x) - Indent - thumb_->height());
}

int64_t TSlider::ValueByOffset(int offset) {
    const int length = SliderLength();
    if (length <= 0) {
        return minValue_;  // no travel: every offset means the lowest value
    }
    if (!horizontal()) {
        offset = height() - offset - thumb_->height();
    }
    // Beyond the travel the ends hold, so the answer is always a value the slider can take; this also
    // keeps the product below from overflowing.
    offset = std::clamp(offset, Indent, Indent + length);
    const double x = double(int64_t(offset - Indent) * (int64_t(maxValue_) - minValue_)) / length;
    if (options_ & soSmooth) {
        return nearest(x) + minValue_;
    }
    return increment_ * (nearest(x) / increment_) + minValue_;
}

void TSlider::ThumbOffset(int offset) {
    const int length = SliderLength();
    offset = std::clamp(offset, Indent, Indent + std::max(length, 0));
    if (!(options_ & soSmooth) && length > 0) {
        offset = OffsetByValue(ValueByOffset(offset));
    }
    if (horizontal()) {
        thumb_->move(offset, thumb_->y());
    } else {
        thumb_->move(thumb_->x(), offset);
    }
    if (seeking_ && length > 0) {
        const int32_t value = clip(ValueByOffset(offset), minValue_, maxValue_);
        if (value != value_) {
            value_ = value;
            Change();
        }
    }
}

// --- Painting --------------------------------------------------------------------------------------------

void TSlider::compose(QImage& image) {
    ensureLayout();
    image.fill(palette().color(backgroundRole()));
    if (!ruler_.isNull()) {
        QPainter painter(&image);
        painter.drawImage(rulerOrg_, ruler_);
    }
    if ((options_ & soShowFocus) && hasFocus()) {
        // A dotted rectangle that inverts what lies below it, so that it shows on any colour.
        const QRect frame = rect().adjusted(2, 2, -2, -2);
        const auto flip = [&image](int x, int y) {
            if ((x + y) % 2 == 0) {
                reinterpret_cast<QRgb*>(image.scanLine(y))[x] ^= 0x00FFFFFFu;
            }
        };
        if (frame.width() > 0 && frame.height() > 0) {
            for (int x = frame.left(); x <= frame.right(); ++x) {
                flip(x, frame.top());
                if (frame.bottom() != frame.top()) {
                    flip(x, frame.bottom());
                }
            }
            for (int y = frame.top() + 1; y < frame.bottom(); ++y) {
                flip(frame.left(), y);
                if (frame.right() != frame.left()) {
                    flip(frame.right(), y);
                }
            }
        }
    }
    if (options_ & soShowPoints) {
        QPainter painter(&image);
        painter.setPen(Qt::black);
        if (OnDrawPoints) {
            OnDrawPoints(this, painter);
        } else {
            DrawPoints(painter, increment_, 3, 4);
        }
    }
}

void TSlider::DrawPoints(QPainter& canvas, int32_t step, int tickLength, int extremeLength) {
    const int length = SliderLength();
    if (length <= 0 || step <= 0) {
        return;
    }
    // Ticks stand every m steps for the smallest m that leaves them at least 3 pixels apart. n ticks are
    // (length - n) div (n - 1) apart, which is 3 or more exactly when n <= (length + 3) div 4, so m follows
    // directly rather than by trying m = 1, 2, ... (a wide range would take millions of tries).
    const int64_t range = int64_t(maxValue_) - minValue_;
    const int64_t mostTicks = (int64_t(length) + 3) / 4;
    const int64_t stride = (range / (mostTicks * step) + 1) * step;
    const QColor ink = canvas.pen().color();
    for (int64_t v = minValue_; v <= maxValue_; v += stride) {
        const int tick = (v == minValue_ || v == maxValue_) ? extremeLength : tickLength;
        if (horizontal()) {
            canvas.fillRect(OffsetByValue(v) + thumb_->width() / 2, pointsRect_.top(), 1, tick, ink);
        } else {
            canvas.fillRect(pointsRect_.left(), OffsetByValue(v) + thumb_->height() / 2, tick, 1, ink);
        }
    }
}

QImage TSlider::renderImage() {
    QImage image(size(), QImage::Format_ARGB32_Premultiplied);
    if (image.isNull()) {
        return image;
    }
    compose(image);
    if (!thumb_->isHidden()) {
        QPainter painter(&image);
        painter.drawImage(thumb_->pos(), thumb_->renderImage());
    }
    return image;
}

void TSlider::paintEvent(QPaintEvent* /*event*/) {
    QImage image(size(), QImage::Format_ARGB32_Premultiplied);
    if (image.isNull()) {
        return;
    }
    compose(image);  // the thumb is a child control and paints itself
    QPainter painter(this);
    painter.drawImage(0, 0, image);
}

void TSlider::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    Sized();
}

// --- Keyboard and mouse ----------------------------------------------------------------------------------

void TSlider::keyPressEvent(QKeyEvent* event) {
    TStepCode code = scNone;
    if (!(event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier))) {
        switch (event->key()) {
            case Qt::Key_Home:
                code = scFirst;
                break;
            case Qt::Key_End:
                code = scLast;
                break;
            case Qt::Key_Left:
                code = horizontal() ? scDown : scNone;
                break;
            case Qt::Key_Right:
                code = horizontal() ? scUp : scNone;
                break;
            case Qt::Key_Up:
                code = horizontal() ? scNone : scUp;
                break;
            case Qt::Key_Down:
                code = horizontal() ? scNone : scDown;
                break;
            default:
                break;
        }
    }
    if (code == scNone) {
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
    Step(code);
}

void TSlider::focusInEvent(QFocusEvent* event) {
    QWidget::focusInEvent(event);
    if (options_ & soShowFocus) {
        update();
    }
}

void TSlider::focusOutEvent(QFocusEvent* event) {
    QWidget::focusOutEvent(event);
    if (options_ & soShowFocus) {
        update();
    }
}

TSlider::TStepCode TSlider::directionAt(QPoint position) const {
    const QRect thumb = thumb_->geometry();
    if (horizontal()) {
        if (position.x() < thumb.left()) {
            return scDown;
        }
        return position.x() > thumb.right() ? scUp : scNone;
    }
    if (position.y() < thumb.top()) {
        return scUp;
    }
    return position.y() > thumb.bottom() ? scDown : scNone;
}

void TSlider::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    ensureLayout();
    setFocus(Qt::MouseFocusReason);
    pressed_ = true;
    lastPosition_ = event->position().toPoint();
    firstDirection_ = directionAt(lastPosition_);
    TimerTrack();
}

void TSlider::mouseDoubleClickEvent(QMouseEvent* event) {
    event->accept();  // the second press of a double click does not step
}

void TSlider::mouseMoveEvent(QMouseEvent* event) {
    if (pressed_) {
        lastPosition_ = event->position().toPoint();
    }
}

void TSlider::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    repeatTimer_->stop();
    pressed_ = false;
}

// Steps while the pointer stays on the side of the thumb where the button went down; once the thumb has
// passed the pointer the timer ticks on without effect until the button is released.
void TSlider::TimerTrack() {
    if (firstDirection_ == scNone || directionAt(lastPosition_) != firstDirection_) {
        return;
    }
    Step(firstDirection_);
    if (!repeatTimer_->isActive()) {
        repeatTimer_->start();
    }
}

void TSlider::ThumbMouseDown(QObject* /*Sender*/, Qt::MouseButton Button, Qt::KeyboardModifiers /*Shift*/,
                             int X, int Y) {
    if (Button != Qt::LeftButton) {
        return;
    }
    ensureLayout();
    setFocus(Qt::MouseFocusReason);
    grabOffset_ = horizontal() ? X : Y;
    thumb_->setImage(pressedThumbImage());
    Sized();
    seeking_ = true;
    thumb_->setDown(true);
}

void TSlider::ThumbMouseMove(QObject* /*Sender*/, Qt::MouseButtons Buttons, Qt::KeyboardModifiers /*Shift*/,
                             int X, int Y) {
    if (!seeking_ || !(Buttons & Qt::LeftButton)) {
        return;
    }
    const QPoint pointer = thumb_->pos() + QPoint(X, Y);
    ThumbOffset((horizontal() ? pointer.x() : pointer.y()) - grabOffset_);
}

void TSlider::ThumbMouseUp(QObject* /*Sender*/, Qt::MouseButton Button, Qt::KeyboardModifiers /*Shift*/,
                           int /*X*/, int /*Y*/) {
    if (Button == Qt::LeftButton && seeking_) {
        endDrag();
    }
}

// OnStopTracking is the drag's last event: it still sees CurrentlySeeking and the thumb down. The drag
// ends however the handler ends, and a handler that disables or hides the slider ends it only once.
void TSlider::endDrag() {
    thumb_->setImage(normalThumbImage());
    endingDrag_ = true;
    const vx::ScopeGuard over([this] {
        endingDrag_ = false;
        seeking_ = false;
        thumb_->setDown(false);
    });
    if (OnStopTracking) {
        OnStopTracking(this);
    }
}

// A disabled or hidden control gets no button release: end what the button started, or CurrentlySeeking
// would stay set and every later assignment of the value would be dropped.
void TSlider::stopTracking() {
    repeatTimer_->stop();
    pressed_ = false;
    if (seeking_ && !endingDrag_) {
        endDrag();
    }
}

void TSlider::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::EnabledChange && !isEnabled()) {
        stopTracking();
    }
}

void TSlider::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    stopTracking();
}
