// SPDX-License-Identifier: GPL-3.0-or-later
// The recording source and volume controls of the window over a simulated sound card: the start-up,
// the stored choice, the check box, and the detection of the source that carries what the computer plays.
#include "platform/mixerapi/PulseMixer.h"
#include "platform/mixerapi/SimulatedMixer.h"
#include "support/MainformFixture.h"
#include "support/StationProbe.h"
#include "ui/TSlider.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QtEndian>

using namespace vx::mixerapi;

namespace {

QByteArray record(int32_t item, int32_t volume) {
    QByteArray r(8, '\0');
    qToLittleEndian(item, r.data());
    qToLittleEndian(volume, r.data() + 4);
    return r;
}

class Window : public vxtest::MainformFixture {
public:
    explicit Window(std::shared_ptr<MixerApi> api = SimulatedMixer::soundCard()) {
        mixer = std::dynamic_pointer_cast<SimulatedMixer>(api);
        env.mixer = std::move(api);
    }
    QStringList items() const {
        QStringList out;
        for (int i = 0; i < form->AudioQuelle->count(); ++i) {
            out.append(form->AudioQuelle->itemText(i));
        }
        return out;
    }
    // As the broadcaster chooses: the list's change event follows.
    void choose(int item) {
        form->AudioQuelle->setCurrentIndex(item);
        emit form->AudioQuelle->activated(item);
    }
    TSlider& slider() { return *form->AudioLautst; }
    QByteArray volumeFile() const { return vxtest::readFile(path(QStringLiteral("LautstOptions.ini"))); }
    bool hasVolumeFile() const { return QFileInfo::exists(path(QStringLiteral("LautstOptions.ini"))); }
    std::vector<uint32_t>& values(int dest, int source, int index) {
        return mixer->values(0, mixer->controlId(0, dest, source, index));
    }
    bool mixerControlsEnabled() const {
        return form->AudioQuelle->isEnabled() || form->AudioLautst->isEnabled() ||
               form->AutoDetectBtn->isEnabled() || form->LautstOptionsspeichern->isEnabled();
    }
};

const QStringList kSoundCardItems{"Eigene Einstellungen", "Aufnahme", "Mikrofon", "Line-In", "Stereo Mix"};

// A recording input with sources of these names (and kinds), as the only card.
std::shared_ptr<SimulatedMixer> cardWithSources(const std::vector<TreeLine>& sources,
                                                bool destinationMute = false) {
    DeviceTree tree;
    TreeLine playback = makeLine(QStringLiteral("Wiedergabe"), MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, 2);
    TreeLine recording = makeLine(QStringLiteral("Aufnahme"), MIXERLINE_COMPONENTTYPE_DST_WAVEIN, 2);
    recording.controls = {makeControl(MIXERCONTROL_CONTROLTYPE_MUX,
                                      MIXERCONTROL_CONTROLF_UNIFORM | MIXERCONTROL_CONTROLF_MULTIPLE,
                                      uint32_t(sources.size()), QStringLiteral("Source"))};
    if (destinationMute) {
        recording.controls.push_back(makeControl(MIXERCONTROL_CONTROLTYPE_MUTE, MIXERCONTROL_CONTROLF_UNIFORM,
                                                 0, QStringLiteral("Mute")));
    }
    recording.sources = sources;
    tree.destinations = {playback, recording};
    auto sim = std::make_shared<SimulatedMixer>();
    sim->addDevice(tree);
    return sim;
}

TreeLine source(const char* name) {
    TreeLine l = makeLine(QString::fromUtf8(name), MIXERLINE_COMPONENTTYPE_SRC_ANALOG, 2);
    l.controls = {makeControl(MIXERCONTROL_CONTROLTYPE_VOLUME, 0, 0, QStringLiteral("Volume"))};
    return l;
}

TreeLine monitor(const char* name, uint32_t output) {
    TreeLine l = source(name);
    l.line.dwComponentType = MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT;
    l.line.Target.dwType = MIXERLINE_TARGETTYPE_WAVEOUT;
    l.line.Target.dwDeviceID = output;
    return l;
}

}  // namespace

TEST(RecordingSource, WithoutAStoredChoiceTheStationStartsOnOwnSettingsAndLeavesTheMixerAlone) {
    Window f;
    f.create();
    EXPECT_EQ(f.items(), kSoundCardItems);
    EXPECT_EQ(f.form->AudioQuelle->currentIndex(), 0);
    EXPECT_FALSE(f.slider().isEnabled());
    EXPECT_EQ(f.slider().Value(), 0);
    EXPECT_EQ(f.slider().MaxValue(), 100);
    EXPECT_TRUE(f.mixer->writes.empty());
    EXPECT_FALSE(f.hasVolumeFile());
    EXPECT_TRUE(f.dialogs.messages.isEmpty());
}

TEST(RecordingSource, AStoredChoiceIsAppliedAtStartUpAndWrittenAgain) {
    Window f;
    vxtest::writeFile(f.dir.path(), QStringLiteral("LautstOptions.ini"), record(4, 30000));
    f.create();
    EXPECT_EQ(f.form->AudioQuelle->currentIndex(), 4);
    EXPECT_TRUE(f.slider().isEnabled());
    EXPECT_EQ(f.slider().MaxValue(), 65535);
    EXPECT_EQ(f.slider().Value(), 30000);
    EXPECT_EQ(f.values(1, 2, 0), (std::vector<uint32_t>{30000, 30000}));
    EXPECT_EQ(f.values(1, -1, 1), (std::vector<uint32_t>{0, 0, 1})) << "Stereo Mix is the one recorded";
    EXPECT_TRUE(f.form->LautstOptionsspeichern->isChecked());
    EXPECT_EQ(f.volumeFile(), record(4, 30000));
    EXPECT_TRUE(f.dialogs.messages.isEmpty());
}

TEST(RecordingSource, AShortFileOrAChoiceTheListLacksIsIgnored) {
    for (const QByteArray& stored : {record(2, 500).left(7), record(5, 500)}) {
        Window f;
        vxtest::writeFile(f.dir.path(), QStringLiteral("LautstOptions.ini"), stored);
        f.create();
        EXPECT_EQ(f.form->AudioQuelle->currentIndex(), 0);
        EXPECT_FALSE(f.slider().isEnabled());
        EXPECT_FALSE(f.form->LautstOptionsspeichern->isChecked());
        EXPECT_TRUE(f.mixer->writes.empty());
        EXPECT_EQ(f.volumeFile(), stored);
        EXPECT_TRUE(f.dialogs.messages.isEmpty());
    }
}

TEST(RecordingSource, TheCheckBoxDecidesWhetherTheChoiceIsKept) {
    Window f;
    f.create();
    f.values(1, 1, 0) = {7000, 9000};
    f.choose(3);
    EXPECT_TRUE(f.slider().isEnabled());
    EXPECT_EQ(f.slider().Value(), 7000);
    EXPECT_EQ(f.values(1, 1, 0), (std::vector<uint32_t>{7000, 7000})) << "both channels alike";
    EXPECT_EQ(f.values(1, -1, 1), (std::vector<uint32_t>{0, 1, 0}));
    EXPECT_FALSE(f.hasVolumeFile());

    f.form->LautstOptionsspeichern->click();
    EXPECT_EQ(f.volumeFile(), record(3, 7000));
    f.slider().setValue(1234);
    EXPECT_EQ(f.values(1, 1, 0), (std::vector<uint32_t>{1234, 1234}));
    EXPECT_EQ(f.volumeFile(), record(3, 7000)) << "moving the slider alone keeps the file";
    f.choose(0);
    EXPECT_EQ(f.volumeFile(), record(0, 0));
    EXPECT_FALSE(f.slider().isEnabled());
    const std::size_t writes = f.mixer->writes.size();
    f.slider().setValue(50);
    EXPECT_EQ(f.mixer->writes.size(), writes) << "own settings leave the mixer alone";

    f.form->LautstOptionsspeichern->click();
    EXPECT_FALSE(f.hasVolumeFile());
    f.form->LautstOptionsspeichern->click();
    f.choose(2);
    EXPECT_EQ(f.volumeFile().left(4), record(2, 0).left(4));
    f.form->LautstOptionsspeichern->click();
    f.choose(4);
    EXPECT_FALSE(f.hasVolumeFile()) << "a source change with the box off removes the file";
}

TEST(RecordingSource, AFileThatCannotBeWrittenEndsInTheErrorReportAtItsStepAndLeavesNoPart) {
    const struct {
        bool folderInPlace;  // else a full disk
        const char* text;
        int step;
    } cases[] = {{true, "Invalid filename", 4}, {false, "Disk full", 6}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        Window f;
        f.create();
        if (c.folderInPlace) {
            QDir(f.dir.path()).mkdir(QStringLiteral("LautstOptions.ini"));
        }
        {
            const vxtest::FileSizeLimit fullDisk(c.folderInPlace ? RLIM_INFINITY : 4);
            f.form->LautstOptionsspeichern->click();
        }
        ASSERT_EQ(f.dialogs.messages.size(), 1);
        EXPECT_EQ(f.dialogs.messages[0],
                  Station::reportText(c.text, QStringLiteral("LautstOptionsspeichernClick"), c.step));
        EXPECT_EQ(QDir(f.dir.path()).entryList({QStringLiteral("LautstOptions*")}, QDir::Files),
                  QStringList());
    }
    Window f;
    f.create();
    f.form->LautstOptionsspeichern->click();
    EXPECT_EQ(StationProbe(f.form->station()).DebugNum, 7) << "a write that went through ends with the close";
}

TEST(RecordingSource, AutoDetectTakesTheFirstPassByPositionThenMonoMixThenWaveThenTheOutputMonitor) {
    struct Case {
        std::vector<TreeLine> sources;
        int expected;  // list item; 0 when nothing is detected
    };
    const uint32_t kOtherOutput = 3;
    const Case cases[] = {
        {{source("Mikrofon"), source("Stereo Mix"), source("\"What U Hear\"")}, 3},
        {{source("Mono Mix"), source("Wave"), source("Gesamtausgang")}, 4},
        {{source("Wave"), source("Mono Mix")}, 3},
        {{source("wave"), source("Wave")}, 3},
        {{source("Mikrofon"), monitor("Monitor of B", kOtherOutput), monitor("Monitor of A", WAVE_MAPPER)},
         4},
        {{monitor("Monitor of A", WAVE_MAPPER), source("Wave")}, 3},
        {{source("wave"), source("Stereo mix"), monitor("Monitor of B", kOtherOutput)}, 0},
    };
    for (const Case& c : cases) {
        Window f(cardWithSources(c.sources));
        f.create();
        f.form->AutoDetectBtn->click();
        EXPECT_EQ(f.form->AudioQuelle->currentIndex(), c.expected) << f.items().join('|').toStdString();
        EXPECT_EQ(f.dialogs.messages, QStringList{f.form->Msg(c.expected > 0 ? 48 : 49)});
        if (c.expected > 0) {
            std::vector<uint32_t> selected(c.sources.size(), 0);
            selected[std::size_t(c.expected - 2)] = 1;
            EXPECT_EQ(f.values(1, -1, 0), selected);
            EXPECT_TRUE(f.slider().isEnabled());
        }
    }

    // A recording input that switches on through a mute control of its own is the source itself.
    Window f(cardWithSources({source("Stereo Mix")}, true));
    f.create();
    f.form->AutoDetectBtn->click();
    EXPECT_EQ(f.form->AudioQuelle->currentIndex(), 1);
    EXPECT_EQ(f.dialogs.messages, QStringList{f.form->Msg(48)});
}

TEST(RecordingSource, WithoutAMixerOfTwoDestinationsTheFourControlsAreOffAndMessage50Shown) {
    DeviceTree playbackOnly;
    playbackOnly.destinations = {
        makeLine(QStringLiteral("Wiedergabe"), MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, 2)};
    auto onePart = std::make_shared<SimulatedMixer>();
    onePart->addDevice(playbackOnly);
    // No sound server listens there: no mixer device at all.
    auto noServer = std::make_shared<PulseMixer>(QStringLiteral("unix:/nonexistent/vandorix/native"));
    for (const std::shared_ptr<MixerApi>& api :
         std::initializer_list<std::shared_ptr<MixerApi>>{onePart, noServer}) {
        Window f(api);
        vxtest::writeFile(f.dir.path(), QStringLiteral("LautstOptions.ini"), record(2, 500));
        f.create();
        EXPECT_FALSE(f.mixerControlsEnabled());
        EXPECT_EQ(f.dialogs.messages, QStringList{f.form->Msg(50)});
        EXPECT_EQ(f.items(), QStringList{"Eigene Einstellungen"});
        EXPECT_FALSE(f.form->LautstOptionsspeichern->isChecked());
        EXPECT_EQ(f.volumeFile(), record(2, 500));
        EXPECT_TRUE(f.form->ServerDB->text().startsWith(QStringLiteral("http://dir.example")))
            << "the start-up went on";
    }
}
