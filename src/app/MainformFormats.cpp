// Capture, codec stream and the two audio formats.
#include "app/TMainform.h"
#include "audio/TACMConvertor.h"
#include "audio/TACMIn.h"
#include "platform/acm/PlatformAcm.h"
#include "platform/wavein/AlsaWaveIn.h"
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
    std::shared_ptr<vx::acm::Acm> acm = env_.acm;
    if (!acm) {
        UserDialogs* dialogs = env_.dialogs;
        acm = std::make_shared<vx::acm::PlatformAcm>(
            [dialogs](const TAudioFormat& current,
                      const std::vector<vx::acm::FormatChoice>& offered) -> std::optional<TAudioFormat> {
                return dialogs != nullptr ? dialogs->chooseAudioFormat(current, offered) : std::nullopt;
            });
    }
    ACMC = std::make_unique<TACMConvertor>(acm);
    ACMC->SetInputBufferSize(2048);
    // The formats stored with the window replace the component's built-in ones.
    loadFormat(*ACMC, &TACMConvertor::ReadACMFormatIn, defaultInputFormat());
    loadFormat(*ACMC, &TACMConvertor::ReadACMFormatOut, defaultOutputFormat());

    std::shared_ptr<vx::wavein::WaveIn> waveIn = env_.waveIn;
    if (!waveIn) {
        waveIn = std::make_shared<vx::wavein::AlsaWaveIn>(QStringLiteral("default"));
    }
    ACMI = std::make_unique<TACMIn>(waveIn);
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
