// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/language/LanguageChoice.h"
#include "support/MainformFixture.h"
#include "ui/ListenerListModel.h"
#include "ui/TLogGraph.h"
#include "ui/TSlider.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QFontInfo>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>
#include <QStyleOptionButton>
#include <QTreeView>

using vxtest::MainformFixture;

namespace {

class Layout : public ::testing::Test {
protected:
    void SetUp() override { form = &f.create(); }
    MainformFixture f;
    TMainform* form = nullptr;
};

TEST_F(Layout, WindowHasItsFixedSizeAndCaption) {
    EXPECT_EQ(form->size(), QSize(602, 585));
    EXPECT_EQ(form->minimumSize(), form->maximumSize());
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Vandorixserver 6.0"));
    // X11 and Wayland show "title — display name" once one is set.
    EXPECT_EQ(QGuiApplication::applicationDisplayName(), QGuiApplication::applicationName());
    // The window opens in the middle of the screen's free area.
    const QRect free = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_LE((form->geometry().center() - free.center()).manhattanLength(), 2);
    EXPECT_FALSE(form->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_FALSE(form->windowIcon().pixmap(32, 32).isNull());  // the picture is really there
}

TEST_F(Layout, EditsKeepTheirLimitsAndMasks) {
    const std::pair<QLineEdit*, int> limits[] = {{form->RadioName, 20}, {form->ExtRadioname, 235},
                                                 {form->AktInfo, 255},  {form->EMail, 35},
                                                 {form->Passwort1, 20}, {form->Passwort2, 20}};
    for (const auto& [edit, max] : limits) {
        edit->setText(QString(300, QLatin1Char('a')));
        EXPECT_EQ(edit->text().size(), max) << edit->objectName().toStdString();
    }
    EXPECT_EQ(form->Passwort1->echoMode(), QLineEdit::Password);
    EXPECT_EQ(form->Passwort2->echoMode(), QLineEdit::Password);
    form->VandorixClientport->setValue(80);
    EXPECT_EQ(form->VandorixClientport->value(), 1024);
    form->VandorixClientport->setValue(70000);
    EXPECT_EQ(form->VandorixClientport->value(), 65535);
    EXPECT_FALSE(form->ServerName->isEnabled());
    EXPECT_FALSE(form->ServerDB->isEnabled());
    EXPECT_FALSE(form->Disconnectrbtn->isEnabled());
    EXPECT_TRUE(form->Label2->isHidden());
    EXPECT_EQ(form->Auslastung->maximum(), 64);
}

TEST_F(Layout, TabOrderRunsThroughEveryGroupAndReachesTheHiddenRow) {
    const QStringList expected = {"Connectrbtn",
                                  "Disconnectrbtn",
                                  "VandorixClientport",
                                  "InpForm",
                                  "OutpForm",
                                  "EMail",
                                  "Passwort1",
                                  "Passwort2",
                                  "AnmeldeBtn",
                                  "ServerDB",
                                  "AbmeldeBtn",
                                  "ServerName",
                                  "RadioName",
                                  "ExtRadioname",
                                  "Upload",
                                  "Beschr",
                                  "AktInfo",
                                  "Update",
                                  "RecordtoFileBtn",
                                  "Button1",
                                  "Button2",
                                  "Button3",
                                  "Loop",
                                  "Mp3Aufz",
                                  "Clientslist",
                                  "AudioQuelle",
                                  "AutoDetectBtn",
                                  "AudioLautst",
                                  "LautstOptionsspeichern"};
    QStringList seen;
    QWidget* w = form->Connectrbtn;
    for (int guard = 0; guard < 500 && seen.size() < expected.size(); ++guard) {
        if (expected.contains(w->objectName()) && !seen.contains(w->objectName())) {
            seen.append(w->objectName());
        }
        w = w->nextInFocusChain();
    }
    EXPECT_EQ(seen, expected);
    EXPECT_GT(form->RecordtoFileBtn->y(), form->height());
    EXPECT_TRUE(form->RecordtoFileBtn->isEnabled());
    EXPECT_NE(form->RecordtoFileBtn->focusPolicy() & Qt::TabFocus, 0);
}

// The layout's sizes leave no room to spare: a wider font cuts captions off ("... aufzeich...") or runs
// a label into its edit. Measured with each control's own font, in the room its style leaves the text,
// for each language, since all of them share the one geometry.
class LayoutInLanguage : public ::testing::TestWithParam<int> {};

TEST_P(LayoutInLanguage, EveryCaptionFitsItsControl) {
    MainformFixture f;
    f.env.language = GetParam();
    TMainform* form = &f.create();
    ASSERT_EQ(form->Msg(0), GetParam() == vx::language::kEnglish ? QStringLiteral("Start Server")
                                                                 : QStringLiteral("Starte Server"))
        << "the language's file was not loaded";
    QStringList cut;
    auto check = [&](QWidget* w, const QString& text, const QRect& room, int flags = Qt::TextSingleLine) {
        const QRect needed =
            QFontMetrics(w->font()).boundingRect(QRect(0, 0, room.width(), 1000), flags, text);
        if (needed.width() > room.width() || needed.height() > room.height()) {
            cut.append(QStringLiteral("%1 \"%2\": %3x%4 in %5x%6")
                           .arg(w->objectName(), text)
                           .arg(needed.width())
                           .arg(needed.height())
                           .arg(room.width())
                           .arg(room.height()));
        }
    };
    for (QWidget* w : form->findChildren<QWidget*>()) {
        QStyleOptionButton option;
        option.initFrom(w);
        if (auto* label = qobject_cast<QLabel*>(w)) {
            check(label, label->text(), label->contentsRect(),
                  label->wordWrap() ? int(Qt::TextWordWrap) : int(Qt::TextSingleLine));
        } else if (auto* box = qobject_cast<QCheckBox*>(w)) {
            option.text = box->text();
            check(box, box->text(), box->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, box));
        } else if (auto* button = qobject_cast<QPushButton*>(w)) {
            option.text = button->text();
            check(button, button->text(),
                  button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button));
        } else if (auto* group = qobject_cast<QGroupBox*>(w)) {
            check(group, group->title(), group->rect().adjusted(8, 0, -8, 0));
        }
    }
    const QHeaderView* header = form->Clientslist->header();
    for (int column = 0; column < 2; ++column) {
        const QString title = form->ClientslistRows->headerLabel(column);
        check(form->Clientslist, title, QRect(0, 0, header->sectionSize(column) - 8, header->height()));
    }
    EXPECT_TRUE(cut.isEmpty()) << "in " << QFontInfo(form->font()).family().toStdString() << ": "
                               << cut.join(QStringLiteral("; ")).toStdString();
}

INSTANTIATE_TEST_SUITE_P(Languages, LayoutInLanguage,
                         ::testing::Values(vx::language::kGerman, vx::language::kEnglish),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return info.param == vx::language::kEnglish ? "English" : "German";
                         });

TEST_F(Layout, CaptionsComeFromTheLanguageTexts) {
    EXPECT_EQ(form->Connectrbtn->text(), form->Msg(0));
    EXPECT_EQ(form->GroupBox6->title(), form->Msg(19));
    EXPECT_EQ(form->ClientslistRows->headerLabel(0), form->Msg(41));
    EXPECT_EQ(form->ClientslistRows->headerLabel(1), form->Msg(42));
    EXPECT_EQ(form->LautstOptionsspeichern->text(), form->Msg(47));
    EXPECT_EQ(form->Beschr->text(), QStringLiteral("Beschränkung auf 3 User aktivieren"));
    EXPECT_EQ(form->AktInfo->text(), QStringLiteral("Willkommen auf diesem Vandorix"));
}

}  // namespace
