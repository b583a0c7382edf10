// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/MainformFixture.h"
#include "ui/TSlider.h"
#include "ui/TSliderThumb.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTimerEvent>

#include <gtest/gtest.h>

#include <limits>

namespace {

const QColor kBlack(Qt::black);
const QColor kFace(0xC0, 0xC0, 0xC0);     // the normal thumb's face
const QColor kPressed(0x80, 0x80, 0x80);  // the pressed thumb's face

QColor pixel(const QImage& image, int x, int y) {
    return QColor(image.pixel(x, y));
}

void mouse(QWidget* target, QEvent::Type type, QPoint at, Qt::MouseButton button = Qt::LeftButton) {
    const Qt::MouseButtons held =
        type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(Qt::LeftButton);
    QMouseEvent event(type, QPointF(at), QPointF(target->mapToGlobal(at)), button, held, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &event);
}

// A drag of the thumb by dx pixels (dy for a vertical slider), ending with the button still held.
void pressAndDrag(TSlider& slider, int dx, int dy) {
    TSliderThumb* thumb = slider.Thumb();
    mouse(thumb, QEvent::MouseButtonPress, {1, 8});
    mouse(thumb, QEvent::MouseMove, QPoint(1 + dx, 8 + dy), Qt::NoButton);
}

bool key(TSlider& slider, int code, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QKeyEvent event(QEvent::KeyPress, code, modifiers);
    QCoreApplication::sendEvent(&slider, &event);
    return event.isAccepted();
}

void tick(TSlider& slider) {
    QTimerEvent event(slider.RepeatTimer()->timerId());
    QCoreApplication::sendEvent(slider.RepeatTimer(), &event);
}

struct Changes {
    explicit Changes(TSlider& slider) {
        slider.OnChange = [this](TSlider* sender) { values.push_back(sender->Value()); };
    }
    std::vector<int> values;
};

TEST(Slider, MainWindowSliderHasItsRulerThumbAndTicksOnRenderedPixels) {
    vxtest::MainformFixture f;
    TSlider& slider = *f.create().AudioLautst;
    ASSERT_EQ(slider.geometry(), QRect(304, 536, 201, 17));
    EXPECT_EQ(slider.RulerSize(), QSize(199, 10));
    EXPECT_EQ(slider.RulerOrg(), QPoint(1, 1));
    EXPECT_EQ(slider.Thumb()->geometry(), QRect(1, -5, 4, 17));
    EXPECT_EQ(slider.SliderLength(), 195);
    EXPECT_EQ(slider.Value(), 0);

    QImage image = slider.renderImage();
    const QColor background = pixel(image, 100, 0);
    // Ticks every 10 units at nearest(195 v / 100) + 3, halves to even: 3 rows long, 4 at the ends.
    const int columns[] = {3, 23, 42, 61, 81, 101, 120, 139, 159, 179, 198};
    int black = 0;
    for (int y = 11; y < 17; ++y) {
        for (int x = 0; x < 201; ++x) {
            black += pixel(image, x, y) == kBlack ? 1 : 0;
        }
    }
    EXPECT_EQ(black, 9 * 3 + 2 * 4);
    for (int i = 0; i <= 10; ++i) {
        const int x = columns[i];
        for (int y = 12; y < 15; ++y) {
            EXPECT_EQ(pixel(image, x, y), kBlack) << x << "," << y;
        }
        EXPECT_EQ(pixel(image, x, 15) == kBlack, i == 0 || i == 10) << x;
    }
    // The thumb's visible part is its picture's rows 5 to 16; the groove of the ruler runs past it.
    EXPECT_EQ(pixel(image, 2, 3), kFace);
    EXPECT_EQ(pixel(image, 4, 3), kBlack);
    EXPECT_EQ(pixel(image, 100, 4), QColor(0x80, 0x80, 0x80));
    EXPECT_EQ(pixel(image, 100, 5), kBlack);
    EXPECT_EQ(pixel(image, 100, 2), background);  // olive in the ruler is left out

    slider.setValue(50);
    EXPECT_EQ(slider.Thumb()->x(), 99);  // nearest(97.5) + 1
    image = slider.renderImage();
    EXPECT_EQ(pixel(image, 100, 3), kFace);
    EXPECT_NE(pixel(image, 2, 3), kFace);

    // A ruler picture with a colour per column shows which column each pixel of the ruler came from:
    // pieces of 8, 6 (31 times) and 5 pixels.
    QImage coded(10, 10, QImage::Format_RGB32);
    for (int x = 0; x < 10; ++x) {
        for (int y = 0; y < 10; ++y) {
            coded.setPixelColor(x, y, y == 0 ? QColor(128, 128, 0) : QColor(20 * x, 40, 200));
        }
    }
    slider.setImageHRuler(coded);
    EXPECT_EQ(slider.UserImages(), 1 << TSlider::siHRuler);
    image = slider.renderImage();
    const QImage& ruler = slider.Ruler();
    ASSERT_EQ(ruler.size(), QSize(199, 10));
    for (int x = 0; x < 199; ++x) {
        const int source = x < 8 ? x : x < 194 ? 2 + (x - 8) % 6 : 5 + (x - 194);
        ASSERT_EQ(QColor(ruler.pixel(x, 5)), QColor(20 * source, 40, 200)) << x;
        if (x + 1 < 99 || x + 1 > 102) {  // beside the thumb
            ASSERT_EQ(pixel(image, x + 1, 6), QColor(20 * source, 40, 200)) << x;
            ASSERT_EQ(pixel(image, x + 1, 1), background) << x;
        }
    }
    slider.setImageHRuler(QImage());
    EXPECT_EQ(slider.UserImages(), 0);
    EXPECT_EQ(QColor(slider.Ruler().pixel(50, 4)), kBlack);
}

TEST(Slider, FocusRectangleInvertsEveryOtherPixelInsideTheEdge) {
    TSlider slider;
    slider.resize(201, 17);
    slider.setOptions(TSlider::soShowFocus);
    slider.setValue(50);  // the thumb away from the corners
    const QImage before = slider.renderImage();
    slider.show();
    QApplication::setActiveWindow(&slider);
    slider.setFocus();
    ASSERT_TRUE(vxtest::waitUntil([&] { return slider.hasFocus(); }));
    const QImage focused = slider.renderImage();
    const auto inverted = [&](int x, int y) {
        return (before.pixel(x, y) ^ focused.pixel(x, y)) == 0x00FFFFFFu;
    };
    EXPECT_TRUE(inverted(2, 2));
    EXPECT_FALSE(inverted(3, 2));
    EXPECT_TRUE(inverted(2, 4));
    EXPECT_FALSE(inverted(2, 5));
    EXPECT_TRUE(inverted(198, 14));
    EXPECT_TRUE(inverted(2, 14));
    EXPECT_FALSE(inverted(1, 1));
    EXPECT_FALSE(inverted(199, 15));
    EXPECT_FALSE(inverted(100, 8));
    slider.setOptions({});
    EXPECT_EQ(slider.renderImage(), before);
}

TEST(Slider, KeysStepByIncrementAndJumpToTheEnds) {
    TSlider slider;
    slider.resize(201, 17);
    Changes changes(slider);
    slider.setValue(15);
    EXPECT_TRUE(key(slider, Qt::Key_Right));
    EXPECT_EQ(slider.Value(), 20);
    slider.setValue(15);
    EXPECT_TRUE(key(slider, Qt::Key_Left));
    EXPECT_EQ(slider.Value(), 0);
    EXPECT_TRUE(key(slider, Qt::Key_Left));  // clipped: no change
    EXPECT_TRUE(key(slider, Qt::Key_End));
    EXPECT_EQ(slider.Value(), 100);
    EXPECT_TRUE(key(slider, Qt::Key_Right));
    EXPECT_TRUE(key(slider, Qt::Key_Home));
    EXPECT_EQ(slider.Value(), 0);
    EXPECT_EQ(changes.values, (std::vector<int>{15, 20, 15, 0, 100, 0}));
    // Modified keys and the other direction's arrows are left to the window.
    EXPECT_FALSE(key(slider, Qt::Key_Right, Qt::ShiftModifier));
    EXPECT_FALSE(key(slider, Qt::Key_Up));
    EXPECT_EQ(slider.Value(), 0);

    slider.setOrientation(TSlider::soVertical);
    slider.resize(40, 140);
    // The vertical ruler is narrower than its thumb; the lowest value sits at the bottom.
    EXPECT_EQ(slider.Thumb()->geometry(), QRect(1, 130, 9, 9));
    EXPECT_EQ(slider.RulerOrg(), QPoint(1, 1));
    EXPECT_TRUE(key(slider, Qt::Key_Up));
    EXPECT_EQ(slider.Value(), 10);
    EXPECT_EQ(slider.Thumb()->y(), 117);  // 140 - nearest(12.9) - 1 - 9
    EXPECT_FALSE(key(slider, Qt::Key_Right));
    EXPECT_TRUE(key(slider, Qt::Key_Down));
    EXPECT_EQ(slider.Value(), 0);
    pressAndDrag(slider, 0, -43);  // a third of the travel up
    EXPECT_EQ(slider.Value(), 33);
}

TEST(Slider, DraggingTheThumbSetsTheValueAndKeepsItAgainstAssignments) {
    TSlider slider;
    slider.resize(201, 17);
    Changes changes(slider);
    int stops = 0;
    bool stillDragging = false;
    bool disableOnStop = false;
    slider.OnStopTracking = [&](TSlider* sender) {
        ++stops;
        stillDragging = sender->CurrentlySeeking() && sender->Thumb()->Down();
        if (disableOnStop) {
            sender->setEnabled(false);  // ends nothing a second time
        }
    };
    pressAndDrag(slider, 30, 0);
    EXPECT_TRUE(slider.CurrentlySeeking());
    EXPECT_TRUE(slider.Thumb()->Down());
    EXPECT_EQ(slider.Thumb()->x(), 31);
    EXPECT_EQ(slider.Value(), 15);  // nearest(30 * 100 / 195)
    EXPECT_EQ(pixel(slider.renderImage(), 32, 3), kPressed);
    slider.setValue(80);  // the user's hand wins
    EXPECT_EQ(slider.Value(), 15);
    // Arranged afresh during the drag, the thumb starts at the ruler's beginning; the value stays, and
    // the next movement brings the thumb back under the pointer.
    slider.resize(201, 20);
    EXPECT_EQ(slider.Thumb()->x(), 1);
    EXPECT_EQ(slider.Value(), 15);
    mouse(slider.Thumb(), QEvent::MouseMove, {31, 8}, Qt::NoButton);
    EXPECT_EQ(slider.Thumb()->x(), 31);
    mouse(slider.Thumb(), QEvent::MouseMove, {1, 8}, Qt::NoButton);  // no movement, no change
    mouse(slider.Thumb(), QEvent::MouseMove, {500, 8}, Qt::NoButton);
    EXPECT_EQ(slider.Value(), 100);
    EXPECT_EQ(slider.Thumb()->x(), 196);
    disableOnStop = true;
    mouse(slider.Thumb(), QEvent::MouseButtonRelease, {1, 8});
    EXPECT_TRUE(stillDragging) << "the drag's last event";
    EXPECT_FALSE(slider.CurrentlySeeking());
    EXPECT_FALSE(slider.Thumb()->Down());
    EXPECT_EQ(pixel(slider.renderImage(), 197, 3), kFace);
    EXPECT_EQ(stops, 1);
    disableOnStop = false;
    slider.setEnabled(true);
    EXPECT_EQ(changes.values, (std::vector<int>{15, 100}));
    slider.setValue(80);
    EXPECT_EQ(slider.Value(), 80);

    // Stepped positioning: the thumb snaps to multiples of the increment, dragged or assigned.
    slider.setOptions(TSlider::soShowPoints);
    slider.setValue(15);
    EXPECT_EQ(slider.Thumb()->x(), 21);  // where 10 stands
    pressAndDrag(slider, 18, 0);         // to x = 39: 19.5 units
    EXPECT_EQ(slider.Value(), 10);
    EXPECT_EQ(slider.Thumb()->x(), 21);
    // A slider disabled in mid-drag gets no release; the drag ends all the same.
    slider.setEnabled(false);
    EXPECT_FALSE(slider.CurrentlySeeking());
    EXPECT_EQ(stops, 2);
    slider.setValue(70);
    EXPECT_EQ(slider.Value(), 70);
}

// The volume's drag lands on the nearest value, so one pixel short of the right end still gives the
// maximum where a pixel spans more than half a unit; offsets beyond the travel mean the ends.
TEST(Slider, DragRoundsToTheNearestValueAndOffsetsBeyondTheTravelMeanTheEnds) {
    struct Row {
        int32_t maxValue;
        int dx;
        int32_t value;
    };
    for (const Row& row : {Row{10, 194, 10}, Row{100, 193, 99}, Row{65535, 194, 65199}}) {
        TSlider slider;
        slider.resize(201, 17);
        slider.setMaxValue(row.maxValue);
        pressAndDrag(slider, row.dx, 0);
        EXPECT_EQ(slider.Value(), row.value) << row.maxValue;
        EXPECT_EQ(slider.ValueByOffset(-1000), 0) << row.maxValue;
        EXPECT_EQ(slider.ValueByOffset(std::numeric_limits<int>::min()), 0) << row.maxValue;
        EXPECT_EQ(slider.ValueByOffset(std::numeric_limits<int>::max()), row.maxValue) << row.maxValue;
    }
}

TEST(Slider, RangeAndThumbStateChangesMoveTheThumbOnlyWithTheNextValue) {
    TSlider slider;
    slider.resize(201, 17);
    slider.setValue(50);
    ASSERT_EQ(slider.Thumb()->x(), 99);
    slider.setMaxValue(200);
    slider.setMinValue(-100);
    slider.setNumThumbStates(1);
    EXPECT_EQ(slider.Value(), 50);
    EXPECT_EQ(slider.Thumb()->geometry(), QRect(99, -5, 9, 17));
    slider.setValue(50);                 // no change of the value, yet the thumb shows it on the new scale
    EXPECT_EQ(slider.Thumb()->x(), 96);  // nearest(190 * 150 / 300) + 1
}

TEST(Slider, HeldClickBesideTheThumbRepeatsUntilTheThumbPassesThePointer) {
    TSlider slider;
    slider.resize(201, 17);
    Changes changes(slider);
    mouse(&slider, QEvent::MouseButtonPress, {30, 14});
    EXPECT_EQ(slider.Value(), 10);
    ASSERT_TRUE(slider.RepeatTimer()->isActive());
    EXPECT_EQ(slider.RepeatTimer()->interval(), 400);
    tick(slider);
    EXPECT_EQ(slider.Value(), 20);  // the thumb (x 40) has passed the pointer
    tick(slider);
    EXPECT_EQ(slider.Value(), 20);
    EXPECT_TRUE(slider.RepeatTimer()->isActive());
    mouse(&slider, QEvent::MouseMove, {150, 14}, Qt::NoButton);
    tick(slider);
    EXPECT_EQ(slider.Value(), 30);
    mouse(&slider, QEvent::MouseButtonRelease, {150, 14});
    EXPECT_FALSE(slider.RepeatTimer()->isActive());
    mouse(&slider, QEvent::MouseButtonDblClick, {150, 14});
    mouse(&slider, QEvent::MouseButtonPress, {5, 14});
    EXPECT_EQ(slider.Value(), 20);
    mouse(&slider, QEvent::MouseButtonRelease, {5, 14});
    EXPECT_EQ(changes.values, (std::vector<int>{10, 20, 30, 20}));
}

TEST(Slider, RefusedPropertiesLeaveTheSliderAsItWas) {
    TSlider slider;
    slider.resize(201, 17);
    Changes changes(slider);
    slider.setMaxValue(0);
    slider.setMinValue(95);
    slider.setIncrement(0);
    slider.setIncrement(-5);
    slider.setEdgeSize(5);  // twice it is the ruler picture's length
    slider.setEdgeSize(-1);
    slider.setNumThumbStates(3);
    EXPECT_EQ(slider.MinValue(), 0);
    EXPECT_EQ(slider.MaxValue(), 100);
    EXPECT_EQ(slider.Increment(), 10);
    EXPECT_EQ(slider.EdgeSize(), 2);
    EXPECT_EQ(slider.NumThumbStates(), 2);
    slider.setMinValue(90);
    EXPECT_EQ(slider.MinValue(), 90);
    EXPECT_EQ(slider.Value(), 0);  // not adjusted until the next assignment
    slider.setValue(0);
    EXPECT_EQ(slider.Value(), 90);
    slider.setValue(90);
    slider.setValue(120);
    EXPECT_EQ(slider.Value(), 100);
    slider.setMaxValue(65535);
    slider.setValue(65535);
    EXPECT_EQ(slider.Thumb()->x(), 196);
    slider.setNumThumbStates(1);
    EXPECT_EQ(slider.Thumb()->width(), 9);
    EXPECT_EQ(slider.SliderLength(), 190);
    EXPECT_EQ(changes.values, (std::vector<int>{90, 100, 65535}));
}

}  // namespace
