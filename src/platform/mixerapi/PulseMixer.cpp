// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/mixerapi/PulseMixer.h"

#include "platform/Posting.h"
#include "platform/StationConstants.h"
#include "platform/ThreadSafety.h"
#include "platform/mixerapi/MixerTree.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace vx::mixerapi {

namespace {

constexpr uint32_t kMixerMax = 65535;

uint32_t toMixer(pa_volume_t v) {
    const uint64_t m = (uint64_t(v) * kMixerMax + PA_VOLUME_NORM / 2) / PA_VOLUME_NORM;
    return uint32_t(std::min<uint64_t>(m, kMixerMax));  // above 100 % reads as full scale
}

pa_volume_t toServer(uint32_t v) {
    return pa_volume_t((uint64_t(std::min(v, kMixerMax)) * PA_VOLUME_NORM + kMixerMax / 2) / kMixerMax);
}

// A stereo line maps its two channels onto a stereo device one to one; any other device has one
// volume for all its channels (the louder one of the two given), so its balance is not disturbed by a
// guess at which of its channels are left.
void readVolume(const pa_cvolume& cv, uint32_t channels, uint32_t* out) {
    if (channels >= 2 && cv.channels == 2) {
        out[0] = toMixer(cv.values[0]);
        out[1] = toMixer(cv.values[1]);
        return;
    }
    for (uint32_t i = 0; i < channels; ++i) {
        out[i] = toMixer(pa_cvolume_max(&cv));
    }
}

pa_cvolume writeVolume(pa_cvolume cv, uint32_t channels, const uint32_t* in) {
    if (channels >= 2 && cv.channels == 2) {
        cv.values[0] = toServer(in[0]);
        cv.values[1] = toServer(in[1]);
    } else {
        pa_cvolume_set(&cv, cv.channels, toServer(channels >= 2 ? std::max(in[0], in[1]) : in[0]));
    }
    return cv;
}

// A sink or source as the server describes it.
struct DeviceInfo {
    uint32_t index = PA_INVALID_INDEX;
    std::string name;
    QString description;
    pa_cvolume volume{};
    bool mute = false;
    uint32_t monitorOfSink = PA_INVALID_INDEX;
};

struct ServerInfo {
    std::string defaultSink;
    std::string defaultSource;
    QString serverName;
};

template <class Info>
DeviceInfo describe(const Info* i) {
    DeviceInfo d;
    d.index = i->index;
    d.name = i->name != nullptr ? i->name : "";
    d.description = QString::fromUtf8(i->description != nullptr ? i->description : d.name.c_str());
    d.volume = i->volume;
    d.mute = i->mute != 0;
    if constexpr (std::is_same_v<Info, pa_source_info>) {
        d.monitorOfSink = i->monitor_of_sink;
    }
    return d;
}

template <class Info>
void collect(pa_context*, const Info* i, int eol, void* userdata) {
    if (eol == 0 && i != nullptr) {
        static_cast<std::vector<DeviceInfo>*>(userdata)->push_back(describe(i));
    }
}

void onServerInfo(pa_context*, const pa_server_info* i, void* userdata) {
    auto* out = static_cast<ServerInfo*>(userdata);
    out->defaultSink = i->default_sink_name != nullptr ? i->default_sink_name : "";
    out->defaultSource = i->default_source_name != nullptr ? i->default_source_name : "";
    out->serverName = QString::fromUtf8(i->server_name != nullptr ? i->server_name : "PulseAudio");
}

void onSuccess(pa_context*, int success, void* userdata) {
    *static_cast<int*>(userdata) = success;
}

}  // namespace

struct PulseMixer::Impl {
    struct Opened {
        QObject* target = nullptr;  // alive until close: the caller's contract
        MixerNotice notice;
        DeviceTree tree;
        std::string sinkName;
        uint32_t sinkIndex = PA_INVALID_INDEX;
        std::vector<DeviceInfo> sources;
    };

    // The threaded mainloop's lock: everything that touches the context or the open devices holds it,
    // as libpulse's own thread does while it runs a callback.
    class Lock {
    public:
        explicit Lock(pa_threaded_mainloop* loop) : loop_(loop) {
            if (loop_ != nullptr) {
                pa_threaded_mainloop_lock(loop_);
            }
        }
        ~Lock() {
            if (loop_ != nullptr) {
                pa_threaded_mainloop_unlock(loop_);
            }
        }
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

    private:
        pa_threaded_mainloop* loop_;
    };

    QByteArray server;
    int timeoutMs = 3000;
    pa_threaded_mainloop* loop = nullptr;
    pa_context* context = nullptr;
    std::map<HMIXER, Opened> opened;
    HMIXER nextHandle = 1;

    // pa_threaded_mainloop_wait has no deadline; callbacks count wakes here instead, so a server that
    // stops answering cannot hold the caller.
    vx::Mutex wakeMutex;
    std::condition_variable wake;
    uint64_t wakes GUARDED_BY(wakeMutex) = 0;

    void signal() {
        {
            vx::MutexLock guard(wakeMutex);
            ++wakes;
        }
        wake.notify_all();
    }

    // With the lock held: waits until done() or the deadline; returns done().
    bool waitFor(const std::function<bool()>& done) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!done()) {
            uint64_t seen = 0;
            {
                vx::MutexLock guard(wakeMutex);
                seen = wakes;
            }
            pa_threaded_mainloop_unlock(loop);
            bool woke = false;
            {
                vx::MutexLock guard(wakeMutex);
                while (wakes == seen && guard.waitUntil(wake, deadline)) {
                }
                woke = wakes != seen;
            }
            pa_threaded_mainloop_lock(loop);
            if (!woke) {
                return done();
            }
        }
        return true;
    }

    // With the lock held: waits for the operation; false when it failed or took too long.
    bool complete(pa_operation* op) {
        if (op == nullptr) {
            return false;
        }
        pa_operation_set_state_callback(
            op, [](pa_operation*, void* u) { static_cast<Impl*>(u)->signal(); }, this);
        if (!waitFor([op] { return pa_operation_get_state(op) != PA_OPERATION_RUNNING; })) {
            pa_operation_cancel(op);
        }
        const bool done = pa_operation_get_state(op) == PA_OPERATION_DONE;
        pa_operation_unref(op);
        return done;
    }

    void dropContext() {
        if (context != nullptr) {
            pa_context_set_state_callback(context, nullptr, nullptr);
            pa_context_set_subscribe_callback(context, nullptr, nullptr);
            pa_context_disconnect(context);
            pa_context_unref(context);
            context = nullptr;
        }
    }

    // With the lock held: a ready connection, made afresh when the last one is gone.
    bool connected() {
        if (loop == nullptr) {
            return false;
        }
        if (context != nullptr && pa_context_get_state(context) == PA_CONTEXT_READY) {
            return true;
        }
        dropContext();
        context = pa_context_new(pa_threaded_mainloop_get_api(loop), vx::kStationTitle);
        if (context == nullptr) {
            return false;
        }
        pa_context_set_state_callback(
            context, [](pa_context*, void* u) { static_cast<Impl*>(u)->signal(); }, this);
        if (pa_context_connect(context, server.isEmpty() ? nullptr : server.constData(),
                               PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
            dropContext();
            return false;
        }
        waitFor([this] {
            const pa_context_state_t s = pa_context_get_state(context);
            return s == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(s);
        });
        if (pa_context_get_state(context) != PA_CONTEXT_READY) {
            dropContext();
            return false;
        }
        pa_context_set_subscribe_callback(
            context,
            [](pa_context*, pa_subscription_event_type_t t, uint32_t index, void* u) {
                static_cast<Impl*>(u)->onEvent(t, index);
            },
            this);
        const auto mask = pa_subscription_mask_t(PA_SUBSCRIPTION_MASK_SINK | PA_SUBSCRIPTION_MASK_SOURCE |
                                                 PA_SUBSCRIPTION_MASK_SERVER);
        if (pa_operation* op = pa_context_subscribe(context, mask, nullptr, nullptr)) {
            pa_operation_unref(op);
        }
        return true;
    }

    // Queries, with the lock held and a connection made. Each answers 0, MIXERR_INVALLINE when the server
    // does not know the device, or MMSYSERR_ERROR when it did not answer.
    uint32_t serverInfo(ServerInfo* out) {
        return complete(pa_context_get_server_info(context, onServerInfo, out)) ? MMSYSERR_NOERROR
                                                                                : MMSYSERR_ERROR;
    }
    uint32_t sink(const std::string& name, DeviceInfo* out) {
        std::vector<DeviceInfo> found;
        if (name.empty()) {
            return MIXERR_INVALLINE;
        }
        if (!complete(
                pa_context_get_sink_info_by_name(context, name.c_str(), collect<pa_sink_info>, &found))) {
            return MMSYSERR_ERROR;
        }
        return found.empty() ? MIXERR_INVALLINE : (*out = found.front(), MMSYSERR_NOERROR);
    }
    uint32_t source(const std::string& name, DeviceInfo* out) {
        std::vector<DeviceInfo> found;
        if (name.empty()) {
            return MIXERR_INVALLINE;
        }
        if (!complete(
                pa_context_get_source_info_by_name(context, name.c_str(), collect<pa_source_info>, &found))) {
            return MMSYSERR_ERROR;
        }
        return found.empty() ? MIXERR_INVALLINE : (*out = found.front(), MMSYSERR_NOERROR);
    }
    uint32_t sources(std::vector<DeviceInfo>* out) {
        return complete(pa_context_get_source_info_list(context, collect<pa_source_info>, out))
                   ? MMSYSERR_NOERROR
                   : MMSYSERR_ERROR;
    }
    uint32_t succeeded(pa_operation* op, const int& success) {
        if (!complete(op)) {
            return MMSYSERR_ERROR;
        }
        return success != 0 ? MMSYSERR_NOERROR : MIXERR_INVALLINE;
    }
    // The name of the device behind a line of an open device: the default source for the recording
    // destination itself.
    uint32_t sourceOf(const Opened& o, int sourceIndex, std::string* name) {
        if (sourceIndex >= 0) {
            *name = o.sources[std::size_t(sourceIndex)].name;
            return MMSYSERR_NOERROR;
        }
        ServerInfo si;
        const uint32_t r = serverInfo(&si);
        *name = si.defaultSource;
        return r;
    }

    static uint32_t controlOf(const Opened& o, int dest, int source, uint32_t type) {
        const TreeLine& d = o.tree.destinations[std::size_t(dest)];
        const TreeLine& l = source < 0 ? d : d.sources[std::size_t(source)];
        for (const MIXERCONTROL& c : l.controls) {
            if (c.dwControlType == type) {
                return c.dwControlID;
            }
        }
        return 0;
    }

    static void post(const Opened& o, HMIXER h, uint32_t message, uint32_t id) {
        if (o.target != nullptr && o.notice) {
            postTo(o.target, [notice = o.notice, h, message, id] { notice(message, h, id); });
        }
    }

    // On libpulse's thread, lock held: a change on the server becomes the notices of every open device.
    void onEvent(pa_subscription_event_type_t t, uint32_t index) {
        const uint32_t facility = t & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
        const bool changed = (t & PA_SUBSCRIPTION_EVENT_TYPE_MASK) == PA_SUBSCRIPTION_EVENT_CHANGE;
        for (const auto& entry : opened) {
            // Named, not bound: clang before 16 cannot capture a structured binding.
            const auto& h = entry.first;
            const auto& o = entry.second;
            auto controlChange = [&](int dest, int source, uint32_t type) {
                if (const uint32_t id = controlOf(o, dest, source, type)) {
                    post(o, h, MM_MIXM_CONTROL_CHANGE, id);
                }
            };
            if (facility == PA_SUBSCRIPTION_EVENT_SINK) {
                if (!changed) {
                    post(o, h, MM_MIXM_LINE_CHANGE, o.tree.destinations[0].line.dwLineID);
                } else if (index == o.sinkIndex) {
                    controlChange(0, -1, MIXERCONTROL_CONTROLTYPE_VOLUME);
                    controlChange(0, -1, MIXERCONTROL_CONTROLTYPE_MUTE);
                }
            } else if (facility == PA_SUBSCRIPTION_EVENT_SOURCE) {
                if (!changed) {
                    post(o, h, MM_MIXM_LINE_CHANGE, o.tree.destinations[1].line.dwLineID);
                    continue;
                }
                for (std::size_t k = 0; k < o.sources.size(); ++k) {
                    if (o.sources[k].index == index) {
                        controlChange(1, int(k), MIXERCONTROL_CONTROLTYPE_VOLUME);
                    }
                }
                controlChange(1, -1, MIXERCONTROL_CONTROLTYPE_VOLUME);  // it may be the default source
            } else if (facility == PA_SUBSCRIPTION_EVENT_SERVER) {
                controlChange(1, -1, MIXERCONTROL_CONTROLTYPE_MUX);
                controlChange(1, -1, MIXERCONTROL_CONTROLTYPE_VOLUME);
                controlChange(0, -1, MIXERCONTROL_CONTROLTYPE_VOLUME);
                controlChange(0, -1, MIXERCONTROL_CONTROLTYPE_MUTE);
            }
        }
    }

    // What the server offers now, as one device.
    static Opened describeServer(const ServerInfo& si, const DeviceInfo* defaultSink,
                                 std::vector<DeviceInfo> sources) {
        Opened o;
        setName(o.tree.caps.szPname, si.serverName);
        TreeLine playback =
            makeLine(defaultSink != nullptr ? defaultSink->description : QStringLiteral("Wiedergabe"),
                     MIXERLINE_COMPONENTTYPE_DST_SPEAKERS,
                     defaultSink != nullptr ? std::clamp<uint32_t>(defaultSink->volume.channels, 1, 2) : 2);
        playback.line.Target.dwType = MIXERLINE_TARGETTYPE_WAVEOUT;
        playback.line.Target.dwDeviceID = WAVE_MAPPER;
        if (defaultSink != nullptr) {
            playback.controls = {makeControl(MIXERCONTROL_CONTROLTYPE_VOLUME, 0, 0, QStringLiteral("Volume")),
                                 makeControl(MIXERCONTROL_CONTROLTYPE_MUTE, MIXERCONTROL_CONTROLF_UNIFORM, 0,
                                             QStringLiteral("Mute"))};
            o.sinkName = defaultSink->name;
            o.sinkIndex = defaultSink->index;
        }
        TreeLine recording = makeLine(recordingName(), MIXERLINE_COMPONENTTYPE_DST_WAVEIN, 2);
        recording.line.Target.dwType = MIXERLINE_TARGETTYPE_WAVEIN;
        recording.line.Target.dwDeviceID = WAVE_MAPPER;
        recording.controls = {makeControl(MIXERCONTROL_CONTROLTYPE_VOLUME, 0, 0, QStringLiteral("Volume")),
                              makeControl(MIXERCONTROL_CONTROLTYPE_MUX,
                                          MIXERCONTROL_CONTROLF_UNIFORM | MIXERCONTROL_CONTROLF_MULTIPLE,
                                          uint32_t(sources.size()), QStringLiteral("Source"))};
        for (const DeviceInfo& s : sources) {
            const bool monitor = s.monitorOfSink != PA_INVALID_INDEX;
            TreeLine line =
                makeLine(s.description,
                         monitor ? MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT : MIXERLINE_COMPONENTTYPE_SRC_ANALOG,
                         std::clamp<uint32_t>(s.volume.channels, 1, 2));
            line.line.Target.dwType = monitor ? MIXERLINE_TARGETTYPE_WAVEOUT : MIXERLINE_TARGETTYPE_WAVEIN;
            line.line.Target.dwDeviceID = !monitor ? s.index
                                          : (defaultSink != nullptr && s.monitorOfSink == defaultSink->index)
                                              ? WAVE_MAPPER
                                              : s.monitorOfSink;
            line.controls = {makeControl(MIXERCONTROL_CONTROLTYPE_VOLUME, 0, 0, QStringLiteral("Volume"))};
            recording.sources.push_back(line);
        }
        o.tree.destinations = {playback, recording};
        numberTree(o.tree);
        o.sources = std::move(sources);
        return o;
    }
};

QString PulseMixer::recordingName() {
    return QStringLiteral("Aufnahme");
}

PulseMixer::PulseMixer(const QString& server, int timeoutMs) : d_(std::make_unique<Impl>()) {
    d_->server = server.toUtf8();
    d_->timeoutMs = timeoutMs;
    d_->loop = pa_threaded_mainloop_new();
    if (d_->loop != nullptr && pa_threaded_mainloop_start(d_->loop) < 0) {
        pa_threaded_mainloop_free(d_->loop);
        d_->loop = nullptr;
    }
}

PulseMixer::~PulseMixer() {
    if (d_->loop == nullptr) {
        return;
    }
    {
        Impl::Lock lock(d_->loop);
        d_->opened.clear();
        d_->dropContext();
    }
    pa_threaded_mainloop_stop(d_->loop);
    pa_threaded_mainloop_free(d_->loop);
}

uint32_t PulseMixer::getNumDevs() {
    Impl::Lock lock(d_->loop);
    return d_->connected() ? 1 : 0;
}

uint32_t PulseMixer::open(HMIXER* mixer, uint32_t deviceId, QObject* callbackTarget, MixerNotice notice,
                          uint32_t flags) {
    if (mixer == nullptr) {
        return MMSYSERR_INVALPARAM;
    }
    if (flags != 0 && flags != CALLBACK_WINDOW) {
        return MMSYSERR_INVALFLAG;
    }
    Impl::Lock lock(d_->loop);
    if (!d_->connected()) {
        return MMSYSERR_NODRIVER;
    }
    if (deviceId != 0) {
        return MMSYSERR_BADDEVICEID;
    }
    ServerInfo si;
    std::vector<DeviceInfo> sources;
    if (d_->serverInfo(&si) != MMSYSERR_NOERROR || d_->sources(&sources) != MMSYSERR_NOERROR) {
        return MMSYSERR_ERROR;
    }
    DeviceInfo sink;
    const bool hasSink = d_->sink(si.defaultSink, &sink) == MMSYSERR_NOERROR;
    Impl::Opened o = Impl::describeServer(si, hasSink ? &sink : nullptr, std::move(sources));
    o.target = callbackTarget;
    o.notice = std::move(notice);
    const HMIXER h = d_->nextHandle++;
    d_->opened.emplace(h, std::move(o));
    *mixer = h;
    return MMSYSERR_NOERROR;
}

uint32_t PulseMixer::close(HMIXER mixer) {
    Impl::Lock lock(d_->loop);
    return d_->opened.erase(mixer) == 1 ? MMSYSERR_NOERROR : MMSYSERR_INVALHANDLE;
}

uint32_t PulseMixer::getDevCaps(uint32_t deviceId, MIXERCAPS* caps, uint32_t capsSize) {
    Impl::Lock lock(d_->loop);
    if (!d_->connected()) {
        return MMSYSERR_NODRIVER;
    }
    if (deviceId != 0) {
        return MMSYSERR_BADDEVICEID;
    }
    ServerInfo si;
    if (const uint32_t r = d_->serverInfo(&si)) {
        return r;
    }
    DeviceTree tree;
    setName(tree.caps.szPname, si.serverName);
    tree.caps.vDriverVersion = pa_context_get_server_protocol_version(d_->context);
    tree.caps.cDestinations = 2;
    return answerDevCaps(tree, caps, capsSize);
}

uint32_t PulseMixer::getLineInfo(HMIXER mixer, MIXERLINE* line, uint32_t flags) {
    Impl::Lock lock(d_->loop);
    const auto it = d_->opened.find(mixer);
    return it == d_->opened.end() ? MMSYSERR_INVALHANDLE : answerLineInfo(it->second.tree, line, flags);
}

uint32_t PulseMixer::getLineControls(HMIXER mixer, MIXERLINECONTROLS* controls, uint32_t flags) {
    Impl::Lock lock(d_->loop);
    const auto it = d_->opened.find(mixer);
    return it == d_->opened.end() ? MMSYSERR_INVALHANDLE
                                  : answerLineControls(it->second.tree, controls, flags);
}

uint32_t PulseMixer::getControlDetails(HMIXER mixer, MIXERCONTROLDETAILS* details, uint32_t flags) {
    Impl::Lock lock(d_->loop);
    const auto it = d_->opened.find(mixer);
    if (it == d_->opened.end()) {
        return MMSYSERR_INVALHANDLE;
    }
    const Impl::Opened& o = it->second;
    const DetailRequest request = checkDetails(o.tree, details, flags, MIXER_GETCONTROLDETAILSF_VALUE);
    if (request.code != MMSYSERR_NOERROR) {
        return request.code;
    }
    [[maybe_unused]] const auto& [code, place, channels, items] = request;
    if (!d_->connected()) {
        return MMSYSERR_NODRIVER;
    }
    auto* out = static_cast<uint32_t*>(details->paDetails);
    const uint32_t type = place.control->dwControlType;
    DeviceInfo device;
    if (place.destination == 0) {
        if (const uint32_t r = d_->sink(o.sinkName, &device)) {
            return r;
        }
        if (type == MIXERCONTROL_CONTROLTYPE_MUTE) {
            out[0] = device.mute ? 1 : 0;
        } else {
            readVolume(device.volume, channels, out);
        }
        return MMSYSERR_NOERROR;
    }
    if (type == MIXERCONTROL_CONTROLTYPE_MUX) {
        ServerInfo si;
        if (const uint32_t r = d_->serverInfo(&si)) {
            return r;
        }
        for (uint32_t k = 0; k < items; ++k) {
            out[k] = o.sources[k].name == si.defaultSource ? 1 : 0;
        }
        return MMSYSERR_NOERROR;
    }
    std::string name;
    if (const uint32_t r = d_->sourceOf(o, place.source, &name)) {
        return r;
    }
    if (const uint32_t r = d_->source(name, &device)) {
        return r;
    }
    readVolume(device.volume, channels, out);
    return MMSYSERR_NOERROR;
}

uint32_t PulseMixer::setControlDetails(HMIXER mixer, MIXERCONTROLDETAILS* details, uint32_t flags) {
    Impl::Lock lock(d_->loop);
    const auto it = d_->opened.find(mixer);
    if (it == d_->opened.end()) {
        return MMSYSERR_INVALHANDLE;
    }
    const Impl::Opened& o = it->second;
    const DetailRequest request = checkDetails(o.tree, details, flags, MIXER_SETCONTROLDETAILSF_VALUE);
    if (request.code != MMSYSERR_NOERROR) {
        return request.code;
    }
    [[maybe_unused]] const auto& [code, place, channels, items] = request;
    if (!d_->connected()) {
        return MMSYSERR_NODRIVER;
    }
    const auto* in = static_cast<const uint32_t*>(details->paDetails);
    const uint32_t type = place.control->dwControlType;
    int success = 0;
    DeviceInfo device;
    if (place.destination == 0) {
        if (type == MIXERCONTROL_CONTROLTYPE_MUTE) {
            return d_->succeeded(pa_context_set_sink_mute_by_name(d_->context, o.sinkName.c_str(), in[0] != 0,
                                                                  onSuccess, &success),
                                 success);
        }
        if (const uint32_t r = d_->sink(o.sinkName, &device)) {
            return r;
        }
        const pa_cvolume cv = writeVolume(device.volume, channels, in);
        return d_->succeeded(
            pa_context_set_sink_volume_by_name(d_->context, o.sinkName.c_str(), &cv, onSuccess, &success),
            success);
    }
    if (type == MIXERCONTROL_CONTROLTYPE_MUX) {
        // The entry set is the one source that records; a list with none set is refused.
        const uint32_t* chosen = std::find_if(in, in + items, [](uint32_t v) { return v != 0; });
        if (chosen == in + items) {
            return MIXERR_INVALVALUE;
        }
        const std::string& name = o.sources[std::size_t(chosen - in)].name;
        return d_->succeeded(pa_context_set_default_source(d_->context, name.c_str(), onSuccess, &success),
                             success);
    }
    std::string name;
    if (const uint32_t r = d_->sourceOf(o, place.source, &name)) {
        return r;
    }
    if (const uint32_t r = d_->source(name, &device)) {
        return r;
    }
    const pa_cvolume cv = writeVolume(device.volume, channels, in);
    return d_->succeeded(
        pa_context_set_source_volume_by_name(d_->context, name.c_str(), &cv, onSuccess, &success), success);
}

}  // namespace vx::mixerapi
