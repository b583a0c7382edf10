// Start-up and closing of the window, the settings files and the error report.
#include "app/EInOutError.h"
#include "app/TMainform.h"
#include "audio/TACMConvertor.h"
#include "platform/language/Language.h"
#include "settings/SettingsStore.h"
#include "ui/ListenerListModel.h"
#include "ui/UserDialogs.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

#include <algorithm>
#include <string>

namespace {

const QString kApplicationTitle = QString::fromLatin1(vx::kStationTitle);
const char* const kKeptAsBad =
    ". \"Optionen.ini\" is kept as \"Optionen.ini.bad\" when the settings are saved.";

int32_t parseDecimal(const QString& text) {
    bool ok = false;
    const int32_t value = text.toInt(&ok, 10);
    if (!ok) {
        throw EConvertError("'" + text.toStdString() + "' is not a valid integer value");
    }
    return value;
}

}  // namespace

void TMainform::trace(const char* name) {
    DebugStr = QString::fromLatin1(name);
    DebugNum = 1;
}

QString TMainform::Msg(int n) const {
    return LanguageMessage(Languagelist, n);
}

QString TMainform::ReplaceStr(const QString& Search, const QString& Replace, const QString& Source) {
    trace("ReplaceStr");
    step(2);
    const qsizetype p = Source.indexOf(Search);
    if (p < 0) {
        return Source;  // a text without its placeholder stays as it is
    }
    step(3);
    return Source.left(p) + Replace + Source.mid(p + Search.size());
}

void TMainform::FormCreate(QObject* /*Sender*/) {
    trace("FormCreate");
    step(18);
    language_.InitLanguage(env_.language);
    step(19);
    Languagelist = language_.GetLanguagelist();

    RestoreRecordingSource();

    step(17);
    OfflineMode = env_.arguments.size() > 1 && env_.arguments.at(1) == QStringLiteral("/WO");
    step(20);
    applyLanguageTexts();
    step(21);
    MaxUser = 3;

    if (!loadServerFile()) {
        step(29);
        env_.dialogs->showMessage(kApplicationTitle, Msg(31));
        step(30);
        startupAborted_ = true;
        return;
    }
    loadOptionsFile();
    step(38);
    Beschr->setText(ReplaceStr(QStringLiteral("{User}"), QString::number(MaxUser), Msg(21)));
}

bool TMainform::loadServerFile() {
    step(22);
    const SettingsRead<QString> server = SettingsStore(ProgramDir()).loadServerUrl();
    if (server.result == SettingsRead<QString>::Result::Missing) {
        return false;
    }
    step(25);
    if (server.result == SettingsRead<QString>::Result::CannotOpen) {
        throw EInOutError(server.problem);
    }
    step(27);
    ServerDB->setText(server.value);
    return true;
}

void TMainform::loadOptionsFile() {
    using Result = SettingsRead<TOptionsRecord>::Result;
    step(31);
    const SettingsRead<TOptionsRecord> options = SettingsStore(ProgramDir()).loadOptions();
    if (options.result == Result::Missing) {
        return;
    }
    // An unreadable file may hold settings worth rescuing: the close must not write over it.
    step(34);
    if (options.result == Result::CannotOpen) {
        keepBadOptions_ = true;
        throw EInOutError(options.problem + kKeptAsBad);
    }
    step(35);
    if (options.result == Result::TooShort) {
        keepBadOptions_ = true;
        throw EInOutError(std::string("Read beyond end of file") + kKeptAsBad);
    }
    step(37);
    applyOptions(options.value);
}

void TMainform::applyOptions(const TOptionsRecord& record) {
    VandorixClientport->setValue(std::clamp<int32_t>(record.Port, 1024, 65535));
    RadioName->setText(record.Radioname);
    ExtRadioname->setText(record.ExtRadioname);
    EMail->setText(record.EMail);
    Passwort1->setText(record.Passwort);
    Passwort2->setText(Passwort1->text());
    ACMC->FormatIn = record.FormatIn;
    ACMC->FormatOut = record.FormatOut;
    Upload->setText(QString::number(record.Upload));
    const int32_t kbits = int32_t(ACMC->FormatOut.avgBytesPerSec() / 125);
    MaxUser = kbits == 0 ? 0 : record.Upload / kbits;
    Beschr->setChecked(record.Beschr);
}

void TMainform::applyLanguageTexts() {
    Connectrbtn->setText(Msg(0));
    Disconnectrbtn->setText(Msg(1));
    Label3->setText(Msg(2));
    GroupBox1->setTitle(Msg(3));
    Label6->setText(Msg(4));
    GroupBox4->setTitle(Msg(5));
    Label9->setText(Msg(6));
    Label14->setText(Msg(7));
    GroupBox7->setTitle(Msg(8));
    Label17->setText(Msg(9));
    AktInfo->setText(Msg(10));
    Update->setText(Msg(11));
    Label18->setText(Msg(12));
    GroupBox5->setTitle(Msg(13));
    Label12->setText(Msg(14));
    Label13->setText(Msg(15));
    Label1->setText(Msg(16));
    Label10->setText(Msg(17));
    Label11->setText(Msg(18));
    GroupBox6->setTitle(Msg(19));
    Label15->setText(Msg(20));
    Beschr->setText(Msg(21));
    Label8->setText(Msg(22));
    Label4->setText(Msg(23));
    Label5->setText(Msg(24));
    InpForm->setText(Msg(25));
    OutpForm->setText(Msg(26));
    Label7->setText(Msg(27));
    ClientslistRows->setHeaderLabels(Msg(41), Msg(42));
    Mp3Aufz->setText(Msg(43));
    Label19->setText(Msg(44));
    Label20->setText(Msg(45));
    AutoDetectBtn->setText(Msg(46));
    LautstOptionsspeichern->setText(Msg(47));
}

void TMainform::FormClose(QObject* /*Sender*/) {
    trace("FormClose");
    TOptionsRecord record;
    record.Port = VandorixClientport->value();
    record.Radioname = RadioName->text();
    record.ExtRadioname = ExtRadioname->text();
    record.EMail = EMail->text();
    record.Passwort = Passwort1->text();
    record.FormatIn = ACMC->FormatIn;
    record.FormatOut = ACMC->FormatOut;
    record.Upload = parseDecimal(Upload->text());
    record.Beschr = Beschr->isChecked();

    step(2);
    const SettingsStore store(ProgramDir());
    if (keepBadOptions_) {
        store.setOptionsAside();
        keepBadOptions_ = false;
    }
    store.saveOptions(record);
    step(5);

    step(6);
    if (ServerVandorixClient->Active()) {
        step(7);
        DisconnectrbtnClick(this);
    }

    step(8);
    language_.DeinitLanguagelist();
    Languagelist = nullptr;
}

void TMainform::closeEvent(QCloseEvent* event) {
    // A playback runs beneath this event, in its waits: it ends first, then the window closes.
    if (AfterPlayback([this] { close(); })) {
        event->ignore();
        return;
    }
    bool closed = false;
    Guarded(this, [&] {
        FormClose(this);
        closed = true;
    });
    closeFailed_ = !closed;
    if (closed) {
        event->accept();
    } else {
        event->ignore();  // the settings were not written: the window stays open
    }
}

void TMainform::CloseOnSignal() {
    closeFailed_ = false;
    if (close() || !closeFailed_) {
        return;  // closed, or a close already under way (a second signal) ends the program itself
    }
    // A daemon has no one to retry the close: the error has been reported, the broadcast is stopped
    // as the close would have stopped it, and the program ends without its settings.
    if (ServerVandorixClient->Active()) {
        Guarded(this, [this] { DisconnectrbtnClick(this); });
    }
    language_.DeinitLanguagelist();
    Languagelist = nullptr;
    QCoreApplication::exit(1);
}

void TMainform::AppException(QObject* /*Sender*/, const std::exception& E) {
    const QString report = QString::fromUtf8(E.what()) + QStringLiteral("\n\r\n\r") +
                           QStringLiteral("DebugStr: ") + DebugStr.value() + QStringLiteral("\n\r") +
                           QStringLiteral("DebugNum: ") + QString::number(DebugNum.load());
    env_.dialogs->showMessage(kApplicationTitle, report);
}
