// Capture, codec stream and the two audio formats.
#include "app/TMainform.h"
#include "audio/TACMConvertor.h"
#include "audio/TACMIn.h"
#include "ui/UserDialogs.h"

#include <QBuffer>
#include <QPushButton>

namespace {

const QString kFormatsCaption = QString::fromLatin1(vx::kStationTitle);

void loadFormat(TACMConvertor& acm, void (TACMConvertor::*read)(QIODevice&), const TAudioFormat& stored) {
    QByteArray data = formatPropertyData(stored);
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    (acm.*read)(buffer);
}

}  // namespace

void TMainform::buildAudio() {
    // The backends are main()'s or the test's choice; a missing one fails here, in the component.
    ACMC = std::make_unique<TACMConvertor>(env_.acm);
    ACMC->SetInputBufferSize(2048);
    // The formats stored with the window replace the component's built-in ones.
    loadFormat(*ACMC, &TACMConvertor::ReadACMFormatIn, defaultInputFormat());
    loadFormat(*ACMC, &TACMConvertor::ReadACMFormatOut, defaultOutputFormat());

    ACMI = std::make_unique<TACMIn>(env_.waveIn);
    ACMI->SetBufferSize(8192);
    ACMI->SetNumBuffers(4);

    connect(InpForm, &QPushButton::clicked, this,
            [this] { Guarded(InpForm, [this] { InpFormClick(InpForm); }); });
    connect(OutpForm, &QPushButton::clicked, this,
            [this] { Guarded(OutpForm, [this] { OutpFormClick(OutpForm); }); });
}

void TMainform::InpFormClick(QObject*) {
    trace("InpFormClick");
    const TAudioFormat before = ACMC->FormatIn;
    step(2);
    ACMC->ChooseFormatIn(true);
    step(3);
    if (ACMC->FormatIn.avgBytesPerSec() != before.avgBytesPerSec()) {
        step(4);
        env_.dialogs->showMessage(kFormatsCaption, Msg(35));
    }
}

void TMainform::OutpFormClick(QObject*) {
    trace("OutpFormClick");
    const TAudioFormat before = ACMC->FormatOut;
    step(2);
    ACMC->ChooseFormatOut(true);
    step(3);
    if (ACMC->FormatOut.avgBytesPerSec() != before.avgBytesPerSec()) {
        step(4);
        env_.dialogs->showMessage(kFormatsCaption, Msg(35));
    }
}

void TMainform::checkStreamFormats() const {
    // The formats may come from "Optionen.ini" unchecked; capture and codec buffers are sized from them.
    const std::pair<const TAudioFormat&, const char*> formats[] = {{ACMC->FormatIn, "input"},
                                                                   {ACMC->FormatOut, "output"}};
    const QPushButton* const buttons[] = {InpForm, OutpForm};
    for (std::size_t i = 0; i < std::size(formats); ++i) {
        const std::string problem = formats[i].first.problem();
        if (!problem.empty()) {
            throw EAudioFormat("The " + std::string(formats[i].second) + " format cannot be used: " +
                               problem + ". Choose one with \"" + buttons[i]->text().toStdString() + "\".");
        }
    }
}
