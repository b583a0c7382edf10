// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/TMainform.h"

#include "ui/Assets.h"
#include "ui/ListenerListModel.h"
#include "ui/TLogGraph.h"
#include "ui/TSlider.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>
#include <QTimer>
#include <QTreeView>

namespace {

constexpr int kClientWidth = 602;
constexpr int kClientHeight = 585;

template <class W>
W* place(W* w, int left, int top, int width, int height) {
    w->setGeometry(left, top, width, height);
    return w;
}

QLabel* makeLabel(QWidget* parent, const QString& text, int l, int t, int w, int h) {
    return place(new QLabel(text, parent), l, t, w, h);
}

// A value label: right-aligned number, fixed size.
QLabel* makeValue(QWidget* parent, int l, int t, int w, int h) {
    QLabel* label = makeLabel(parent, QStringLiteral("0"), l, t, w, h);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return label;
}

QPushButton* makeButton(QWidget* parent, const QString& text, int l, int t, int w, int h) {
    return place(new QPushButton(text, parent), l, t, w, h);
}

QLineEdit* makeEdit(QWidget* parent, const QString& text, int maxLength, int l, int t, int w, int h) {
    auto* edit = place(new QLineEdit(parent), l, t, w, h);
    if (maxLength > 0) {
        edit->setMaxLength(maxLength);
    }
    edit->setText(text);
    return edit;
}

QCheckBox* makeCheck(QWidget* parent, const QString& text, bool checked, int l, int t, int w, int h) {
    auto* box = place(new QCheckBox(text, parent), l, t, w, h);
    box->setChecked(checked);
    return box;
}

QGroupBox* makeGroup(QWidget* parent, const QString& title, int l, int t, int w, int h) {
    return place(new QGroupBox(title, parent), l, t, w, h);
}

}  // namespace

TMainform::TMainform(const StationEnvironment& env, QWidget* parent)
    : QWidget(parent), env_(env), station_(std::make_unique<Station>(env)) {
    setObjectName(QStringLiteral("Mainform"));
    setWindowTitle(QStringLiteral("Vandorixserver 6.0"));
    vx::initAssets();
    setWindowIcon(QIcon(QStringLiteral(":/assets/vandorix.xpm")));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    // The layout's sizes fit the classic 8-point bitmap sans. Liberation Sans (installed with the station)
    // and Arial share one set of metrics; at 10 pixels every caption fits its control. A wider fallback
    // such as DejaVu Sans cuts them off.
    QFont font;
    font.setFamilies(
        {QStringLiteral("Liberation Sans"), QStringLiteral("Arial"), QStringLiteral("Nimbus Sans")});
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(10);
    setFont(font);
    setFixedSize(kClientWidth, kClientHeight);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }

    buildLayout();
    bindStation();
    bindSettings();
    bindHandlers();
    buildMixer();
    buildRelays();
    Guarded(this, [this] { FormCreate(this); });
    station_->startupFinished();
}

// The station goes first: its worker may still post to it, never to a control.
TMainform::~TMainform() {
    station_.reset();
}

// The window's layout table: one entry per control, longer than a handler may grow.
void TMainform::buildLayout() {  // NOLINT(readability-function-size)
    // Left column.
    Connectrbtn = makeButton(this, QStringLiteral("Starte Server"), 8, 8, 113, 25);
    Disconnectrbtn = makeButton(this, QStringLiteral("Stoppe Server"), 136, 8, 113, 25);
    Disconnectrbtn->setEnabled(false);
    Mp3Aufz = makeCheck(this, QStringLiteral("Übertragung als MP3 aufzeichnen"), false, 8, 40, 185, 17);
    Label3 = makeLabel(this, QStringLiteral("Aktuelle Höreranzahl:"), 8, 64, 101, 13);
    Hoerer = makeValue(this, 144, 64, 105, 13);
    Clientslist = place(new QTreeView(this), 8, 88, 241, 209);
    ClientslistRows = new ListenerListModel(Clientslist);
    Clientslist->setModel(ClientslistRows);
    Clientslist->setRootIsDecorated(false);
    Clientslist->setUniformRowHeights(true);  // lays out only the rows in sight, however many there are
    ClientslistRows->setHeaderLabels(QStringLiteral("ClientIP"), QStringLiteral("Clientprogramm"));
    Clientslist->setColumnWidth(0, 90);
    Clientslist->setColumnWidth(1, 147);
    Label16 = makeLabel(this, QStringLiteral("Statistik:"), 8, 312, 40, 13);
    Stats = place(new TLogGraph(this), 8, 328, 242, 73);
    Stats->setBetweenSpace(3);
    Stats->setBevel(TLogGraph::bvLowered);
    Stats->setColorBg(Qt::white);  // the classic caption-text colour
    Stats->setColorFg(Qt::blue);
    Stats->setColorText(palette().color(QPalette::WindowText));
    Stats->setDispUpper(false);
    Stats->setDispAfter(true);
    Stats->setDivisor(1);
    Stats->setLinePos(0);
    Stats->setShowLine(false);
    Stats->setValueMax(100);
    Stats->setValueMin(0);
    Stats->setViewStyle(TLogGraph::vsGraph);
    Label8 = makeLabel(this, QStringLiteral("Refreshzeit [ms]:"), 8, 416, 78, 13);
    Refreshedit = makeValue(this, 144, 416, 105, 13);
    Label4 = makeLabel(this, QStringLiteral("Übertragungsrate [B/s]:"), 8, 432, 111, 13);
    Bytesvandorixclient = makeValue(this, 144, 432, 105, 13);
    Label5 = makeLabel(this, QStringLiteral("Übertragungsfehler:"), 8, 448, 93, 13);
    Errorsvandorixclient = makeValue(this, 144, 448, 105, 13);
    InpForm = makeButton(this, QStringLiteral("Input Format"), 8, 472, 113, 25);
    OutpForm = makeButton(this, QStringLiteral("Output Format"), 136, 472, 113, 25);

    // Right column.
    GroupBox1 = makeGroup(this, QStringLiteral("Port Einstellungen"), 264, 8, 329, 57);
    Label6 = makeLabel(GroupBox1, QStringLiteral("VandorixClientport:"), 16, 24, 93, 13);
    VandorixClientport = place(new QSpinBox(GroupBox1), 176, 20, 137, 22);
    VandorixClientport->setRange(1024, 65535);
    VandorixClientport->setValue(vx::kDefaultListenerPort);

    GroupBox4 = makeGroup(this, QStringLiteral("Daten-Allgemein"), 264, 72, 329, 73);
    Label9 = makeLabel(GroupBox4, QStringLiteral("Servername:"), 8, 24, 60, 13);
    ServerName = makeEdit(GroupBox4, QStringLiteral("KT-VandorixServer 6.0"), 0, 96, 16, 217, 21);
    ServerName->setEnabled(false);
    Label14 = makeLabel(GroupBox4, QStringLiteral("Radioname:"), 8, 48, 57, 13);
    RadioName = makeEdit(GroupBox4, QString(), 20, 96, 40, 73, 21);
    ExtRadioname = makeEdit(GroupBox4, QString(), 235, 176, 40, 137, 21);

    GroupBox7 = makeGroup(this, QStringLiteral("Info"), 264, 152, 329, 73);
    Label17 = makeLabel(GroupBox7, QStringLiteral("Aktuelles Info (Titel,usw.) :"), 16, 20, 124, 13);
    AktInfo = makeEdit(GroupBox7, QStringLiteral("Willkommen auf diesem Vandorix"), 255, 160, 16, 97, 21);
    Update = makeButton(GroupBox7, QStringLiteral("Update"), 264, 15, 49, 25);
    Label18 = makeLabel(GroupBox7, QStringLiteral("ACHTUNG: Wird nur ab Version 4.0 am Client angezeigt"), 16,
                        48, 265, 13);

    GroupBox5 = makeGroup(this, QStringLiteral("Daten - VandorixClient"), 264, 232, 329, 193);
    Label12 = makeLabel(GroupBox5, QStringLiteral("E-Mail:"), 16, 32, 32, 13);
    EMail = makeEdit(GroupBox5, QString(), 35, 96, 24, 217, 21);
    Label13 = makeLabel(GroupBox5, QStringLiteral("Passwort:"), 16, 56, 46, 13);
    Passwort1 = makeEdit(GroupBox5, QString(), 20, 96, 48, 105, 21);
    Passwort1->setEchoMode(QLineEdit::Password);
    Passwort2 = makeEdit(GroupBox5, QString(), 20, 208, 48, 105, 21);
    Passwort2->setEchoMode(QLineEdit::Password);
    AnmeldeBtn = makeButton(GroupBox5, QStringLiteral("Anmeldung"), 16, 80, 145, 25);
    AbmeldeBtn = makeButton(GroupBox5, QStringLiteral("Abmeldung"), 168, 80, 145, 25);
    Label1 =
        makeLabel(GroupBox5, QStringLiteral("Die Anmeldung ist nur dafür da das sie beim VandorixClient"), 16,
                  112, 297, 33);
    Label1->setWordWrap(true);
    Label1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Label2 = makeLabel(GroupBox5, QStringLiteral("in der Liste der Radiosender auftauchen (ab Version 3.0)"),
                       16, 128, 266, 13);
    Label2->setVisible(false);
    Label10 = makeLabel(GroupBox5, QStringLiteral("ACHTUNG: Diese Anmeldung muss nur EIN Mal erfolgen"), 16,
                        144, 269, 13);
    Label10->setStyleSheet(QStringLiteral("color: red;"));
    Label11 = makeLabel(GroupBox5, QStringLiteral("Server für Vandorix DB:"), 16, 168, 116, 13);
    ServerDB = makeEdit(GroupBox5, QStringLiteral("http://127.0.0.1/vandorixdb/"), 0, 144, 164, 169, 21);
    ServerDB->setEnabled(false);

    GroupBox6 = makeGroup(this, QStringLiteral("User Beschränkung"), 264, 432, 329, 65);
    Label15 = makeLabel(GroupBox6, QStringLiteral("Upload (kb/s):"), 16, 20, 68, 13);
    Upload = makeEdit(GroupBox6, QStringLiteral("64"), 0, 96, 16, 217, 21);
    Upload->setLayoutDirection(Qt::LeftToRight);
    Beschr =
        makeCheck(GroupBox6, QStringLiteral("Beschränkung auf 3 User aktivieren"), true, 16, 40, 297, 17);

    // Bottom rows; the recording row lies below the client area and is reached by Tab only.
    Label7 = makeLabel(this, QStringLiteral("Leitungsauslastung:"), 8, 505, 94, 13);
    Auslastung = place(new QProgressBar(this), 112, 504, 481, 16);
    Auslastung->setRange(0, 64);
    Auslastung->setValue(0);
    Auslastung->setTextVisible(false);
    Label19 = makeLabel(this, QStringLiteral("Musikquelle:"), 8, 536, 59, 13);
    AudioQuelle = place(new QComboBox(this), 80, 533, 145, 21);
    AudioQuelle->setEditable(false);
    Label20 = makeLabel(this, QStringLiteral("Lautstärke:"), 240, 536, 53, 13);
    AudioLautst = place(new TSlider(this), 304, 536, 201, 17);
    AudioLautst->setNumThumbStates(2);
    AudioLautst->setOptions(TSlider::soShowFocus | TSlider::soShowPoints | TSlider::soSmooth);
    AudioLautst->setIncrement(10);
    AudioLautst->setMinValue(0);
    AudioLautst->setMaxValue(100);
    AudioLautst->setValue(0);
    AutoDetectBtn = makeButton(this, QStringLiteral("AutoDetect"), 520, 532, 75, 25);
    LautstOptionsspeichern = makeCheck(
        this, QStringLiteral("Die aktuellen Einstellungen speichern und beim Programmstart wiederherstellen"),
        false, 8, 560, 393, 17);
    RecordtoFileBtn = makeButton(this, QStringLiteral("RecordtoFile"), 8, 592, 113, 25);
    Button1 = makeButton(this, QStringLiteral("Start"), 128, 592, 41, 25);
    Button2 = makeButton(this, QStringLiteral("Stop"), 168, 592, 41, 25);
    Loop = makeCheck(this, QStringLiteral("Loop"), false, 416, 596, 49, 17);
    Button3 = makeButton(this, QStringLiteral("PlayfromFile"), 480, 592, 113, 25);

    // Object names let tests and accessibility tools find the controls by the layout's names.
#define VX_NAME(w) w->setObjectName(QStringLiteral(#w))
    VX_NAME(Connectrbtn), VX_NAME(Disconnectrbtn), VX_NAME(Mp3Aufz), VX_NAME(Label3), VX_NAME(Hoerer);
    VX_NAME(Clientslist), VX_NAME(Label16), VX_NAME(Stats), VX_NAME(Label8), VX_NAME(Refreshedit);
    VX_NAME(Label4), VX_NAME(Bytesvandorixclient), VX_NAME(Label5), VX_NAME(Errorsvandorixclient);
    VX_NAME(InpForm), VX_NAME(OutpForm), VX_NAME(GroupBox1), VX_NAME(Label6), VX_NAME(VandorixClientport);
    VX_NAME(GroupBox4), VX_NAME(Label9), VX_NAME(ServerName), VX_NAME(Label14), VX_NAME(RadioName);
    VX_NAME(ExtRadioname), VX_NAME(GroupBox7), VX_NAME(Label17), VX_NAME(AktInfo), VX_NAME(Update);
    VX_NAME(Label18), VX_NAME(GroupBox5), VX_NAME(Label12), VX_NAME(EMail), VX_NAME(Label13);
    VX_NAME(Passwort1), VX_NAME(Passwort2), VX_NAME(AnmeldeBtn), VX_NAME(AbmeldeBtn), VX_NAME(Label1);
    VX_NAME(Label2), VX_NAME(Label10), VX_NAME(Label11), VX_NAME(ServerDB), VX_NAME(GroupBox6);
    VX_NAME(Label15), VX_NAME(Upload), VX_NAME(Beschr), VX_NAME(Label7), VX_NAME(Auslastung);
    VX_NAME(Label19), VX_NAME(AudioQuelle), VX_NAME(Label20), VX_NAME(AudioLautst), VX_NAME(AutoDetectBtn);
    VX_NAME(LautstOptionsspeichern), VX_NAME(RecordtoFileBtn), VX_NAME(Button1), VX_NAME(Button2);
    VX_NAME(Loop), VX_NAME(Button3);
#undef VX_NAME

    // Keyboard order: the window's children, each group box's children in their own order.
    QWidget* const tabOrder[] = {Connectrbtn,
                                 Disconnectrbtn,
                                 VandorixClientport,
                                 InpForm,
                                 OutpForm,
                                 EMail,
                                 Passwort1,
                                 Passwort2,
                                 AnmeldeBtn,
                                 ServerDB,
                                 AbmeldeBtn,
                                 ServerName,
                                 RadioName,
                                 ExtRadioname,
                                 Upload,
                                 Beschr,
                                 AktInfo,
                                 Update,
                                 RecordtoFileBtn,
                                 Button1,
                                 Button2,
                                 Button3,
                                 Loop,
                                 Mp3Aufz,
                                 Clientslist,
                                 AudioQuelle,
                                 AutoDetectBtn,
                                 AudioLautst,
                                 LautstOptionsspeichern};
    for (std::size_t i = 1; i < std::size(tabOrder); ++i) {
        QWidget::setTabOrder(tabOrder[i - 1], tabOrder[i]);
    }
}
