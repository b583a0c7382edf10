// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QColor>
#include <QImage>
#include <QPen>
#include <QRect>
#include <QString>
#include <QWidget>

#include <array>
#include <cstdint>

class QFontMetrics;
class QLabel;
class QPainter;
class TTileImage;

// A small display of a fixed-length history of integer values: thin vertical bars, newest at the right
// (vsGraph), or a text panel with the newest value (vsLabels). Every pass composes the picture in an
// off-screen image first. The owner only pushes values and sets the scale.
// Thread contract: window thread only.
class TLogGraph : public QWidget {
    Q_OBJECT

public:
    enum TBevelCut { bvNone, bvLowered, bvRaised, bvSpace };
    enum TViewStyle { vsGraph, vsLabels };
    static constexpr int kHistory = 1000;

    explicit TLogGraph(QWidget* parent = nullptr);

    // --- Properties ---------------------------------------------------------------------------------------
    QString AfterString() const { return afterString_; }
    void setAfterString(const QString& text);  // at most 255 characters
    uint8_t BetweenSpace() const { return betweenSpace_; }
    void setBetweenSpace(uint8_t space);  // 0 is ignored
    TBevelCut Bevel() const { return bevel_; }
    void setBevel(TBevelCut bevel);
    QColor ColorBg() const { return colorBg_; }
    void setColorBg(const QColor& color);
    QColor ColorFg() const { return colorFg_; }
    void setColorFg(const QColor& color);
    QColor ColorText() const { return colorText_; }
    void setColorText(const QColor& color);
    QString DescString() const { return descString_; }
    void setDescString(const QString& text);
    bool DispUpper() const { return dispUpper_; }
    void setDispUpper(bool show);
    bool DispAfter() const { return dispAfter_; }
    void setDispAfter(bool show);
    int32_t Divisor() const { return divisor_; }
    void setDivisor(int32_t divisor);  // 0 hides the value text
    QLabel* Image() const { return image_; }
    void setImage(QLabel* image);  // not owned
    QPen LinePen() const { return linePen_; }
    void setLinePen(const QPen& pen);
    int32_t LinePos() const { return linePos_; }
    void setLinePos(int32_t value);
    bool ShowLine() const { return showLine_; }
    void setShowLine(bool show);
    TTileImage* TileImage() const { return tileImage_; }
    void setTileImage(TTileImage* tiles);  // not owned
    int32_t ValuesCount();
    int32_t ValueMax() const { return valueMax_; }
    void setValueMax(int32_t value);
    int32_t ValueMin() const { return valueMin_; }
    void setValueMin(int32_t value);
    TViewStyle ViewStyle() const { return viewStyle_; }
    void setViewStyle(TViewStyle style);

    // Drops the oldest shown value and puts this one at the right; draws at once when visible.
    void AddValue(int64_t value);

    // --- Inspection ---------------------------------------------------------------------------------------
    double Scale();
    int ZeroLine();
    QRect DrawRect();
    int64_t Value(int index) const { return values_.at(std::size_t(index)); }
    // The picture exactly as the screen shows it (off-screen image plus the value text written on top).
    QImage renderImage();

    // The text of value n: with graphStyle and divisor 1 plain decimal, otherwise n / divisor rounded to
    // one decimal ("0.5", "-0.5", "12.3", "0.0").
    static QString ValueText(int64_t n, int32_t divisor, bool graphStyle);
    // A caption too wide for maxWidth, cut down to end in a single "." with no blank before it.
    static QString ShortenCaption(const QString& text, const QFontMetrics& metrics, int maxWidth);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void ensureLayout();
    void computeLayout();
    bool degenerate() const;  // no bar fits, or the value range is empty
    int rowOf(int64_t value) const;
    void drawPass(QPainter& screen);
    // The parts of a pass, drawn into the off-screen image.
    void drawBackground(QPainter& p);  // tiles, picture or colour, and the bevel
    void drawBars(QPainter& p);        // one bar per value, and the reference line
    void drawLabels(QPainter& p, int64_t newest);
    QString graphText(int64_t newest) const;  // the value text over the bars; empty for none
    void drawNow();

    std::array<int64_t, kHistory> values_{};
    QString afterString_;
    uint8_t betweenSpace_ = 3;
    TBevelCut bevel_ = bvRaised;
    QColor colorBg_;
    QColor colorFg_ = Qt::red;
    QColor colorText_;
    QString descString_;
    bool dispUpper_ = true;
    bool dispAfter_ = true;
    int32_t divisor_ = 1;
    QLabel* image_ = nullptr;
    QPen linePen_{Qt::black, 1, Qt::SolidLine};
    int32_t linePos_ = 0;
    bool showLine_ = false;
    TTileImage* tileImage_ = nullptr;
    int32_t valueMax_ = 100;
    int32_t valueMin_ = -20;
    TViewStyle viewStyle_ = vsGraph;

    double scale_ = 0.0;
    int zeroLine_ = 0;
    QRect drawRect_;
    int32_t valuesCount_ = 0;
    int layoutWidth_ = 0;
    int layoutHeight_ = 0;
};
