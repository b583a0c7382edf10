// SPDX-License-Identifier: GPL-3.0-or-later
// TAudioMixer over the simulated mixer: the tree as the device describes it, and the rules by which
// GetVolume and SetVolume find a line's volume and on/off state.
#include "mixer/EListError.h"
#include "mixer/TAudioMixer.h"
#include "platform/mixerapi/SimulatedMixer.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace vx::mixerapi;

namespace {

MIXERCONTROL control(uint32_t type, uint32_t flags = 0, uint32_t items = 0) {
    return makeControl(type, flags, items, QStringLiteral("c"));
}
MIXERCONTROL volume(uint32_t flags = 0) {
    return control(MIXERCONTROL_CONTROLTYPE_VOLUME, flags);
}
MIXERCONTROL mute() {
    return control(MIXERCONTROL_CONTROLTYPE_MUTE, MIXERCONTROL_CONTROLF_UNIFORM);
}
MIXERCONTROL list(uint32_t type, uint32_t items) {
    return control(type, MIXERCONTROL_CONTROLF_UNIFORM | MIXERCONTROL_CONTROLF_MULTIPLE, items);
}

TreeLine line(const char* name, std::vector<MIXERCONTROL> controls, std::vector<TreeLine> sources = {},
              uint32_t channels = 2) {
    TreeLine l = makeLine(QString::fromLatin1(name), MIXERLINE_COMPONENTTYPE_SRC_ANALOG, channels);
    l.controls = std::move(controls);
    l.sources = std::move(sources);
    return l;
}

// Playback, and a recording input whose sources have a volume each and are chosen through `chooser`.
DeviceTree recordingCard(const MIXERCONTROL& chooser, int sources = 3) {
    DeviceTree tree;
    std::vector<TreeLine> inputs;
    for (int k = 0; k < sources; ++k) {
        inputs.push_back(line("in", {volume()}));
    }
    tree.destinations = {line("Wiedergabe", {volume(), mute()}),
                         line("Aufnahme", {volume(), chooser}, inputs)};
    return tree;
}

struct Read {
    int32_t left = 0, right = 0, mute = 0;
    bool volDisabled = false, muteDisabled = false;
};
Read get(TAudioMixer& m, int dest, int conn) {
    const TLineVolume v = m.GetVolume(dest, conn).valueOr({});
    return Read{v.Left, v.Right, v.Mute, v.VolDisabled, v.MuteDisabled};
}

QString nameOf(const MIXERLINE& l) {
    return QString::fromLatin1(l.szName);
}

}  // namespace

TEST(MixerTree, WithoutDevicesTheMixerStaysClosedAndAnIdBeyondTheLastOpensTheLast) {
    auto none = std::make_shared<SimulatedMixer>();
    TAudioMixer closed(none);
    closed.SetMixerID(0);
    EXPECT_EQ(closed.MixerID(), -1);
    EXPECT_EQ(closed.Destinations(), nullptr);
    EXPECT_TRUE(none->calls.empty());
    EXPECT_TRUE(closed.GetVolume(1, 0).failedWith(vx::Error::Kind::Unavailable));

    auto two = std::make_shared<SimulatedMixer>();
    two->addDevice(recordingCard(list(MIXERCONTROL_CONTROLTYPE_MUX, 3)));
    two->addDevice(recordingCard(list(MIXERCONTROL_CONTROLTYPE_MUX, 3), 5));
    TAudioMixer m(two);
    EXPECT_EQ(m.MixerID(), 0);
    m.SetMixerID(7);
    EXPECT_EQ(m.MixerID(), 1);
    EXPECT_EQ(two->openedDevice, 1u);
    EXPECT_EQ(m.Destinations()->Items(1).Connections().Count(), 5);
    m.SetMixerID(1);  // the same ID again reopens
    EXPECT_EQ(two->opens, 3);
    EXPECT_EQ(two->closes, 2);

    two->setResult("open", MMSYSERR_NODRIVER);
    m.SetMixerID(0);
    EXPECT_EQ(m.MixerID(), -1);
    EXPECT_EQ(m.Destinations(), nullptr);
}

TEST(MixerTree, AnUnreadableLineIsLeftOutAndTheLaterOnesMoveUp) {
    auto sim = std::make_shared<SimulatedMixer>();
    DeviceTree tree = recordingCard(list(MIXERCONTROL_CONTROLTYPE_MUX, 3));
    tree.destinations.push_back(line("Monitor", {volume()}));
    sim->addDevice(tree);
    sim->values(0, sim->controlId(0, 2, -1, 0)) = {500, 600};
    sim->failLine(0, -1, MMSYSERR_ERROR);
    sim->failLine(1, 0, MMSYSERR_ERROR);
    sim->failControls(1, 2, MMSYSERR_ERROR);
    sim->values(0, sim->controlId(0, 1, 1, 0)) = {11, 12};

    TAudioMixer m(sim);
    ASSERT_EQ(m.Destinations()->Count(), 2);
    EXPECT_EQ(nameOf(m.Destinations()->Items(0).Line()), QStringLiteral("Aufnahme"));
    EXPECT_EQ(nameOf(m.Destinations()->Items(1).Line()), QStringLiteral("Monitor"));
    Read shifted = get(m, 1, -1);
    EXPECT_EQ(shifted.left, 500);
    EXPECT_EQ(shifted.right, 600);

    // Of three sources the first is missing; the old second is now at position 0.
    const TMixerConnections& sources = m.Destinations()->Items(0).Connections();
    ASSERT_EQ(sources.Count(), 2);
    EXPECT_EQ(get(m, 0, 0).left, 11);
    EXPECT_EQ(sources.Items(1).Controls().Count(), 0) << "a line whose controls fail has none";

    for (auto [dest, conn, index] : {std::tuple{2, -1, 2}, {0, 2, 2}, {0, -2, -2}}) {
        try {
            get(m, dest, conn);
            ADD_FAILURE() << "no error for " << dest << "/" << conn;
        } catch (const EListError& e) {
            EXPECT_EQ(std::string(e.what()), "List index out of bounds (" + std::to_string(index) + ")");
        }
    }
    EXPECT_THROW(m.SetVolume(0, 5, 1, 1, 1), EListError);
}

TEST(MixerVolume, ASourceWithoutMuteControlIsOnWhileItsEntryInTheDestinationListIsSet) {
    for (const uint32_t type : {MIXERCONTROL_CONTROLTYPE_MUX, MIXERCONTROL_CONTROLTYPE_MIXER}) {
        auto sim = std::make_shared<SimulatedMixer>();
        sim->addDevice(recordingCard(list(type, 3)));
        const uint32_t chooser = sim->controlId(0, 1, -1, 1);
        sim->values(0, chooser) = {0, 0, 1};
        sim->values(0, sim->controlId(0, 1, 2, 0)) = {300, 400};
        TAudioMixer m(sim);

        const Read on = get(m, 1, 2);
        EXPECT_EQ(on.left, 300);
        EXPECT_EQ(on.right, 400);
        EXPECT_EQ(on.mute, 1);
        EXPECT_FALSE(on.volDisabled);
        EXPECT_EQ(get(m, 1, 0).mute, 0);
        // The destination itself has no mute and no list above it.
        EXPECT_EQ(get(m, 1, -1).mute, -1);
        EXPECT_TRUE(get(m, 1, -1).muteDisabled);

        // Selecting source 1 without touching its volume.
        sim->writes.clear();
        EXPECT_TRUE(m.SetVolume(1, 1, -1, -1, 1));
        ASSERT_EQ(sim->writes.size(), 1u);
        EXPECT_EQ(sim->writes[0].controlId, chooser);
        const std::vector<uint32_t> expected = type == MIXERCONTROL_CONTROLTYPE_MUX
                                                   ? std::vector<uint32_t>{0, 1, 0}
                                                   : std::vector<uint32_t>{0, 1, 1};
        EXPECT_EQ(sim->values(0, chooser), expected) << "a multiplexer selects one entry, a mixer adds it";
    }
}

TEST(MixerVolume, AMuteControlOfTheSourceItselfWinsOverTheList) {
    auto sim = std::make_shared<SimulatedMixer>();
    DeviceTree tree = recordingCard(list(MIXERCONTROL_CONTROLTYPE_MUX, 3));
    tree.destinations[1].sources[0].controls.push_back(mute());
    tree.destinations[1].sources[0].controls.push_back(mute());
    sim->addDevice(tree);
    sim->values(0, sim->controlId(0, 1, -1, 1)) = {1, 0, 0};
    TAudioMixer m(sim);
    EXPECT_EQ(get(m, 1, 0).mute, 0) << "the source's own mute control is off";

    sim->writes.clear();
    m.SetVolume(1, 0, 1000, -1, 1);
    ASSERT_EQ(sim->writes.size(), 2u) << "the volume and the first mute control only";
    EXPECT_EQ(sim->writes[0].values, (std::vector<uint32_t>{1000, 1000})) << "Right -1 takes Left";
    EXPECT_EQ(sim->writes[1].controlId, sim->controlId(0, 1, 0, 1));
    EXPECT_EQ(sim->writes[1].values, std::vector<uint32_t>{1});
    m.SetVolume(1, 0, 1000, 2000, -1);
    EXPECT_EQ(sim->writes.back().values, (std::vector<uint32_t>{1000, 2000}));
}

TEST(MixerVolume, EveryChannelOfALineIsSetNotOnlyTheFirstTwo) {
    auto sim = std::make_shared<SimulatedMixer>();
    DeviceTree tree;
    tree.destinations = {line("Surround", {volume(), control(MIXERCONTROL_CONTROLTYPE_MUTE)}, {}, 4)};
    sim->addDevice(tree);
    TAudioMixer m(sim);
    m.SetVolume(0, -1, 1000, 2000, 1);
    ASSERT_EQ(sim->writes.size(), 2u);
    EXPECT_EQ(sim->writes[0].values, (std::vector<uint32_t>{1000, 2000, 1000, 1000}));
    EXPECT_EQ(sim->writes[1].values, (std::vector<uint32_t>{1, 1, 1, 1}));
}

// Only the destination's first list switches a source; a list without an entry at the source's position
// is neither read for it nor written.
TEST(MixerVolume, ASourceBeyondTheFirstListsEntriesIsNotSwitched) {
    auto sim = std::make_shared<SimulatedMixer>();
    DeviceTree tree = recordingCard(list(MIXERCONTROL_CONTROLTYPE_MUX, 2));
    tree.destinations[1].controls.push_back(list(MIXERCONTROL_CONTROLTYPE_MIXER, 3));
    sim->addDevice(tree);
    const uint32_t mux = sim->controlId(0, 1, -1, 1);
    const uint32_t mixer = sim->controlId(0, 1, -1, 2);
    sim->values(0, mux) = {1, 0};
    sim->values(0, mixer) = {0, 0, 1};
    TAudioMixer m(sim);

    EXPECT_EQ(get(m, 1, 2).mute, 1) << "read from the list that has the entry";
    sim->writes.clear();
    m.SetVolume(1, 2, -1, -1, 0);
    EXPECT_TRUE(sim->writes.empty());
    EXPECT_EQ(sim->values(0, mux), (std::vector<uint32_t>{1, 0})) << "the selection stays";
    m.SetVolume(1, 1, -1, -1, 1);
    ASSERT_EQ(sim->writes.size(), 1u);
    EXPECT_EQ(sim->values(0, mux), (std::vector<uint32_t>{0, 1}));
    EXPECT_EQ(sim->values(0, mixer), (std::vector<uint32_t>{0, 0, 1}));
}

TEST(MixerVolume, ADisabledControlReadsMinusOneUnlessALaterOneOfItsKindAnswers) {
    auto sim = std::make_shared<SimulatedMixer>();
    DeviceTree tree;
    tree.destinations = {line("only disabled", {volume(MIXERCONTROL_CONTROLF_DISABLED)}),
                         line("then enabled", {volume(MIXERCONTROL_CONTROLF_DISABLED), volume(), mute()}),
                         line("unreadable", {volume(), volume(MIXERCONTROL_CONTROLF_UNIFORM)})};
    sim->addDevice(tree);
    sim->values(0, sim->controlId(0, 0, -1, 0)) = {7, 7};
    sim->values(0, sim->controlId(0, 1, -1, 1)) = {9, 10};
    sim->values(0, sim->controlId(0, 1, -1, 2)) = {5};
    sim->failDetails(sim->controlId(0, 2, -1, 0), MMSYSERR_ERROR);
    sim->values(0, sim->controlId(0, 2, -1, 1)) = {42};
    TAudioMixer m(sim);

    const Read disabled = get(m, 0, -1);
    EXPECT_EQ(disabled.left, -1);
    EXPECT_EQ(disabled.right, -1);
    EXPECT_TRUE(disabled.volDisabled);
    const Read later = get(m, 1, -1);
    EXPECT_EQ(later.left, 9);
    EXPECT_EQ(later.right, 10);
    EXPECT_FALSE(later.volDisabled);
    EXPECT_EQ(later.mute, 1);
    // A failing read is skipped; a one-channel control gives no Right.
    const Read skipped = get(m, 2, -1);
    EXPECT_EQ(skipped.left, 42);
    EXPECT_EQ(skipped.right, -1);
}

TEST(MixerVolume, ListEntriesBeyondTheRequestBufferAreNeitherReadNorWritten) {
    auto sim = std::make_shared<SimulatedMixer>();
    sim->addDevice(recordingCard(list(MIXERCONTROL_CONTROLTYPE_MUX, 40), 40));
    sim->values(0, sim->controlId(0, 1, -1, 1))[0] = 1;
    auto fits = std::make_shared<SimulatedMixer>();
    fits->addDevice(recordingCard(list(MIXERCONTROL_CONTROLTYPE_MUX, 31), 32));
    TAudioMixer big(sim);
    TAudioMixer bounded(fits);

    EXPECT_EQ(get(big, 1, 0).mute, -1);
    sim->writes.clear();
    big.SetVolume(1, 0, -1, -1, 1);
    EXPECT_TRUE(sim->writes.empty());

    bounded.SetVolume(1, 30, -1, -1, 1);
    EXPECT_EQ(get(bounded, 1, 30).mute, 1);
    fits->writes.clear();
    bounded.SetVolume(1, 31, -1, -1, 1);  // a connection beyond the list's 31 entries
    EXPECT_TRUE(fits->writes.empty());
    EXPECT_EQ(get(bounded, 1, 31).mute, -1);
}

TEST(MixerEvents, ChangeNoticesArriveOnTheOwnersThreadAndDieWithTheMixer) {
    auto sim = SimulatedMixer::soundCard();
    std::vector<std::tuple<char, int32_t, int32_t>> seen;
    {
        TAudioMixer m(sim);
        m.OnLineChange = [&](TAudioMixer* sender, int32_t h, int32_t id) {
            EXPECT_EQ(sender, &m);
            seen.emplace_back('L', h, id);
        };
        m.OnControlChange = [&](TAudioMixer*, int32_t h, int32_t id) { seen.emplace_back('C', h, id); };
        sim->notify(MM_MIXM_CONTROL_CHANGE, 3);
        sim->notify(MM_MIXM_LINE_CHANGE, 1);
        EXPECT_TRUE(seen.empty()) << "delivered later, by the event loop";
        ASSERT_TRUE(vxtest::waitUntil([&] { return seen.size() == 2; }));
        EXPECT_EQ(seen[0], std::make_tuple('C', int32_t(m.Handle()), 3));
        EXPECT_EQ(seen[1], std::make_tuple('L', int32_t(m.Handle()), 1));
        sim->notify(MM_MIXM_CONTROL_CHANGE, 4);
    }
    QCoreApplication::processEvents();
    EXPECT_EQ(seen.size(), 2u);
}
