// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/TLogGraph.h"

#include "ui/TTileImage.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {

// Nearest integer, halves to the even neighbour; kept far inside int so that a far-off reference line
// cannot overflow.
int nearest(double x) {
    return int(std::nearbyint(std::clamp(x, -1.0e6, 1.0e6)));
}

// A line from a up to but not including b; only horizontal and vertical lines occur.
void lineTo(QPainter& p, QPoint a, QPoint b, const QColor& color) {
    if (a == b) {
        return;
    }
    if (a.x() == b.x()) {
        const int step = b.y() > a.y() ? 1 : -1;
        const int last = b.y() - step;
        p.fillRect(QRect(QPoint(a.x(), std::min(a.y(), last)), QPoint(a.x(), std::max(a.y(), last))), color);
    } else {
        const int step = b.x() > a.x() ? 1 : -1;
        const int last = b.x() - step;
        p.fillRect(QRect(QPoint(std::min(a.x(), last), a.y()), QPoint(std::max(a.x(), last), a.y())), color);
    }
}

void writeText(QPainter& p, const QFontMetrics& fm, int x, int y, const QString& text) {
    p.drawText(x, y + fm.ascent(), text);
}

}  // namespace

TLogGraph::TLogGraph(QWidget* parent) : QWidget(parent) {
    colorBg_ = palette().color(QPalette::Button);
    colorText_ = palette().color(QPalette::WindowText);
    resize(88, 65);
    computeLayout();
}

// --- Property setters
// ---------------------------------------------------------------------------------------

void TLogGraph::setAfterString(const QString& text) {
    const QString stored = text.left(255);
    if (stored != afterString_) {
        afterString_ = stored;
        update();
    }
}

void TLogGraph::setBetweenSpace(uint8_t space) {
    if (space == 0 || space == betweenSpace_) {
        return;
    }
    betweenSpace_ = space;
    computeLayout();
    drawNow();
}

void TLogGraph::setBevel(TBevelCut bevel) {
    if (bevel != bevel_) {
        bevel_ = bevel;
        computeLayout();
        update();
    }
}

void TLogGraph::setColorBg(const QColor& color) {
    if (color != colorBg_) {
        colorBg_ = color;
        update();
    }
}

void TLogGraph::setColorFg(const QColor& color) {
    if (color != colorFg_) {
        colorFg_ = color;
        update();
    }
}

void TLogGraph::setColorText(const QColor& color) {
    colorText_ = color;
    drawNow();
}

void TLogGraph::setDescString(const QString& text) {
    descString_ = text;
    if (viewStyle_ == vsLabels) {
        update();
    }
}

void TLogGraph::setDispUpper(bool show) {
    if (show != dispUpper_) {
        dispUpper_ = show;
        update();
    }
}

void TLogGraph::setDispAfter(bool show) {
    if (show != dispAfter_) {
        dispAfter_ = show;
        update();
    }
}

void TLogGraph::setDivisor(int32_t divisor) {
    if (divisor != divisor_) {
        divisor_ = divisor;
        update();
    }
}

void TLogGraph::setImage(QLabel* image) {
    if (image != image_) {
        image_ = image;
        update();
    }
}

void TLogGraph::setLinePen(const QPen& pen) {
    linePen_ = pen;
    drawNow();
}

void TLogGraph::setLinePos(int32_t value) {
    linePos_ = value;
    drawNow();
}

void TLogGraph::setShowLine(bool show) {
    showLine_ = show;
    drawNow();
}

void TLogGraph::setTileImage(TTileImage* tiles) {
    if (tiles != tileImage_) {
        tileImage_ = tiles;
        update();
    }
}

void TLogGraph::setValueMax(int32_t value) {
    if (value != valueMax_) {
        valueMax_ = value;
        computeLayout();
        update();
    }
}

void TLogGraph::setValueMin(int32_t value) {
    if (value != valueMin_) {
        valueMin_ = value;
        computeLayout();
        update();
    }
}

void TLogGraph::setViewStyle(TViewStyle style) {
    if (style != viewStyle_) {
        viewStyle_ = style;
        update();
    }
}

void TLogGraph::drawNow() {
    if (isVisible()) {
        repaint();
    }
}

// --- Layout
// -------------------------------------------------------------------------------------------------

int32_t TLogGraph::ValuesCount() {
    ensureLayout();
    return valuesCount_;
}

double TLogGraph::Scale() {
    ensureLayout();
    return scale_;
}

int TLogGraph::ZeroLine() {
    ensureLayout();
    return zeroLine_;
}

QRect TLogGraph::DrawRect() {
    ensureLayout();
    return drawRect_;
}

// The layout follows the size the control really has, also before its first paint, so that values
// pushed early land where the picture shows them.
void TLogGraph::ensureLayout() {
    if (width() != layoutWidth_ || height() != layoutHeight_) {
        computeLayout();
    }
}

void TLogGraph::computeLayout() {
    layoutWidth_ = width();
    layoutHeight_ = height();
    const int w = std::min(width(), kHistory * int(betweenSpace_));
    const int h = height();
    const double range = double(valueMax_) - double(valueMin_) + 1.0;
    const bool framed = bevel_ != bvNone;
    const int inner = framed ? h - 2 : h;
    scale_ = range == 0.0 ? 0.0 : inner / range;
    zeroLine_ = range == 0.0 ? 0 : nearest((double(valueMax_) + 1.0) * scale_ - (framed ? 0.0 : 1.0));
    drawRect_ = framed ? QRect(QPoint(1, 1), QPoint(w - 2, h - 2)) : QRect(0, 0, w, h);
    valuesCount_ = std::min((framed ? w - 2 : w) / int(betweenSpace_), kHistory);
}

bool TLogGraph::degenerate() const {
    return valuesCount_ <= 0 || double(valueMax_) - double(valueMin_) + 1.0 <= 0.0;
}

int TLogGraph::rowOf(int64_t value) const {
    const double row = (double(valueMax_) - double(value)) * scale_;
    return bevel_ != bvNone ? nearest(row) : nearest(row) - 1;
}

// --- Values
// -------------------------------------------------------------------------------------------------

void TLogGraph::AddValue(int64_t value) {
    ensureLayout();
    const int count = std::min(valuesCount_, kHistory);
    if (count > 0) {
        std::move(values_.begin() + 1, values_.begin() + count, values_.begin());
        values_[std::size_t(count - 1)] = value;
    }
    drawNow();
}

QString TLogGraph::ValueText(int64_t n, int32_t divisor, bool graphStyle) {
    if (graphStyle && divisor == 1) {
        return QString::number(n);
    }
    const double tenths = std::nearbyint(double(n) / double(divisor) * 10.0);
    QString text = QString::number(int64_t(std::clamp(tenths, -9.0e18, 9.0e18)));
    text.insert(text.size() - 1, QLatin1Char('.'));
    if (text.size() == 2 || (text.size() == 3 && text.startsWith(QLatin1Char('-')))) {
        text.insert(text.indexOf(QLatin1Char('.')), QLatin1Char('0'));
    }
    return text;
}

QString TLogGraph::ShortenCaption(const QString& text, const QFontMetrics& metrics, int maxWidth) {
    QString s = text + QLatin1Char('.');
    while (metrics.horizontalAdvance(s) > maxWidth && s != QLatin1String(".")) {
        s.chop(std::min<qsizetype>(2, s.size()));
        s.append(QLatin1Char('.'));
    }
    while (s.size() >= 2 && s.at(s.size() - 2) == QLatin1Char(' ')) {
        s.remove(s.size() - 2, 1);
    }
    return s;
}

// --- Drawing
// ------------------------------------------------------------------------------------------------

void TLogGraph::drawPass(QPainter& screen) {
    ensureLayout();
    const int w = width();
    const int h = height();

    QImage bitmap(w, h, QImage::Format_ARGB32_Premultiplied);
    bitmap.fill(colorBg_);
    QPainter p(&bitmap);
    p.setFont(QGuiApplication::font());
    p.setPen(colorText_);
    drawBackground(p);

    const int64_t newest = values_[std::size_t(std::clamp(valuesCount_ - 1, 0, kHistory - 1))];
    if (viewStyle_ != vsGraph) {
        // vsLabels: everything goes into the off-screen image.
        drawLabels(p, newest);
        p.end();
        screen.drawImage(0, 0, bitmap);
        return;
    }
    if (!degenerate()) {
        drawBars(p);
    }
    const QString text = graphText(newest);
    p.end();
    screen.drawImage(0, 0, bitmap);
    if (!text.isEmpty()) {
        // The value text goes straight onto the screen in the control's (its parent's) font.
        const QFontMetrics fm(font());
        screen.setFont(font());
        screen.setPen(colorText_);
        writeText(screen, fm, w / 2 - fm.horizontalAdvance(text) / 2, bevel_ != bvNone ? 1 : 0, text);
    }
}

void TLogGraph::drawBackground(QPainter& p) {
    const int w = width();
    const int h = height();
    if (tileImage_ != nullptr && !tileImage_->Picture().isNull()) {
        tileImage_->DrawTiles(p, x(), y(), w, h);
    } else if (image_ != nullptr && !image_->pixmap().isNull()) {
        p.drawPixmap(image_->x() - x(), image_->y() - y(), image_->pixmap());
    } else {
        p.fillRect(drawRect_, colorBg_);
    }
    if (bevel_ == bvNone) {
        return;
    }
    const QColor light = palette().color(QPalette::Light);
    const QColor shadow = palette().color(QPalette::Dark);
    const QColor topLeft = bevel_ == bvRaised ? light : shadow;
    const QColor bottomRight = bevel_ == bvRaised ? shadow : light;
    lineTo(p, QPoint(0, h - 1), QPoint(0, 0), topLeft);
    lineTo(p, QPoint(0, 0), QPoint(w - 1, 0), topLeft);
    lineTo(p, QPoint(1, h - 1), QPoint(w - 1, h - 1), bottomRight);
    lineTo(p, QPoint(w - 1, h - 1), QPoint(w - 1, 0), bottomRight);
}

void TLogGraph::drawBars(QPainter& p) {
    int x = bevel_ != bvNone ? 1 : 0;
    for (int i = 0; i < valuesCount_; ++i) {
        const int64_t v = values_[std::size_t(i)];
        const int row = v == 0 ? zeroLine_ : rowOf(std::clamp<int64_t>(v, valueMin_, valueMax_));
        if (row != zeroLine_) {
            lineTo(p, QPoint(x, zeroLine_), QPoint(x, row), colorFg_);
        } else {
            p.fillRect(x, zeroLine_, 1, 1, colorFg_);
        }
        x += betweenSpace_;
    }
    if (showLine_) {
        const int row = rowOf(linePos_);
        p.setPen(linePen_);
        p.drawLine(0, row, width() - 1, row);  // up to but not including (Width, row)
    }
}

QString TLogGraph::graphText(int64_t newest) const {
    if (divisor_ == 0 || !dispUpper_) {
        return {};
    }
    QString text = ValueText(newest, divisor_, true);
    if (dispAfter_ && !afterString_.isEmpty()) {
        text += afterString_.startsWith(QLatin1Char(' ')) ? afterString_ : QLatin1Char(' ') + afterString_;
    }
    return text;
}

void TLogGraph::drawLabels(QPainter& p, int64_t newest) {
    const int w = width();
    const int h = height();
    const bool framed = bevel_ != bvNone;
    const QFontMetrics fm(QGuiApplication::font());
    const int lineHeight = fm.height();
    if (dispUpper_) {
        QString caption = descString_;
        if (fm.horizontalAdvance(caption) > drawRect_.width() - 1) {
            caption = ShortenCaption(caption, fm, drawRect_.width() - 1);
        }
        writeText(p, fm, w / 2 - fm.horizontalAdvance(caption) / 2, framed ? 1 : 0, caption);
    }
    if (divisor_ != 0) {
        const QString text = ValueText(newest, divisor_, false);
        writeText(p, fm, w / 2 - fm.horizontalAdvance(text) / 2, h / 2 - lineHeight / 2, text);
    }
    if (dispAfter_) {
        writeText(p, fm, w / 2 - fm.horizontalAdvance(afterString_) / 2,
                  framed ? h - lineHeight - 1 : h - lineHeight, afterString_);
    }
}

QImage TLogGraph::renderImage() {
    QImage image(size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    drawPass(painter);
    return image;
}

void TLogGraph::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    drawPass(painter);
}
