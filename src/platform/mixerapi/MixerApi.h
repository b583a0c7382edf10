// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <cstdint>
#include <functional>

class QObject;

// The mixer layer: the mixer operations of a sound device, each answering 0 or a numeric code. A device
// is a tree of destination lines, each with the source lines (connections) that feed it, and every line
// has controls whose values are read and written as arrays of 32-bit entries. The records keep the
// published layout of the mixer interface the station's mixer component was designed against, so that
// component can store them as they come.
// Thread contract: every operation is called on the thread that owns the callback target given to open;
// change notices are posted onto that thread in the order the device saw the changes.
namespace vx::mixerapi {

// Result codes.
constexpr uint32_t MMSYSERR_NOERROR = 0;
constexpr uint32_t MMSYSERR_ERROR = 1;
constexpr uint32_t MMSYSERR_BADDEVICEID = 2;
constexpr uint32_t MMSYSERR_INVALHANDLE = 5;
constexpr uint32_t MMSYSERR_NODRIVER = 6;
constexpr uint32_t MMSYSERR_NOMEM = 7;
constexpr uint32_t MMSYSERR_NOTSUPPORTED = 8;
constexpr uint32_t MMSYSERR_INVALFLAG = 10;
constexpr uint32_t MMSYSERR_INVALPARAM = 11;
constexpr uint32_t MIXERR_INVALLINE = 1024;
constexpr uint32_t MIXERR_INVALCONTROL = 1025;
constexpr uint32_t MIXERR_INVALVALUE = 1026;

// Open flags and change notices.
constexpr uint32_t CALLBACK_WINDOW = 0x00010000;
constexpr uint32_t MM_MIXM_LINE_CHANGE = 0x3D0;
constexpr uint32_t MM_MIXM_CONTROL_CHANGE = 0x3D1;

// Query flags.
constexpr uint32_t MIXER_GETLINEINFOF_DESTINATION = 0;
constexpr uint32_t MIXER_GETLINEINFOF_SOURCE = 1;
constexpr uint32_t MIXER_GETLINECONTROLSF_ALL = 0;
constexpr uint32_t MIXER_GETCONTROLDETAILSF_VALUE = 0;
constexpr uint32_t MIXER_SETCONTROLDETAILSF_VALUE = 0;

// Control types and flags.
constexpr uint32_t MIXERCONTROL_CONTROLTYPE_VOLUME = 0x50030001;
constexpr uint32_t MIXERCONTROL_CONTROLTYPE_MUTE = 0x20010002;
constexpr uint32_t MIXERCONTROL_CONTROLTYPE_MUX = 0x70010001;
constexpr uint32_t MIXERCONTROL_CONTROLTYPE_MIXER = 0x71010001;
constexpr uint32_t MIXERCONTROL_CONTROLF_UNIFORM = 0x00000001;
constexpr uint32_t MIXERCONTROL_CONTROLF_MULTIPLE = 0x00000002;
constexpr uint32_t MIXERCONTROL_CONTROLF_DISABLED = 0x80000000;

// Line kinds and targets. A source line that carries what an output plays is of kind "wave out" and
// targets that output; WAVE_MAPPER as its target device means the system's default output.
constexpr uint32_t MIXERLINE_COMPONENTTYPE_DST_SPEAKERS = 0x0004;
constexpr uint32_t MIXERLINE_COMPONENTTYPE_DST_WAVEIN = 0x0007;
constexpr uint32_t MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT = 0x1008;
constexpr uint32_t MIXERLINE_COMPONENTTYPE_SRC_ANALOG = 0x100A;
constexpr uint32_t MIXERLINE_TARGETTYPE_UNDEFINED = 0;
constexpr uint32_t MIXERLINE_TARGETTYPE_WAVEOUT = 1;
constexpr uint32_t MIXERLINE_TARGETTYPE_WAVEIN = 2;
constexpr uint32_t WAVE_MAPPER = 0xFFFFFFFFu;

constexpr int MAXPNAMELEN = 32;
constexpr int MIXER_SHORT_NAME_CHARS = 16;
constexpr int MIXER_LONG_NAME_CHARS = 64;

// Names are NUL-terminated Windows-1252 texts, cut to their field.
struct MIXERCAPS {
    uint16_t wMid = 0;
    uint16_t wPid = 0;
    uint32_t vDriverVersion = 0;
    char szPname[MAXPNAMELEN] = {};
    uint32_t fdwSupport = 0;
    uint32_t cDestinations = 0;
};

struct MIXERLINE {
    uint32_t cbStruct = 0;
    uint32_t dwDestination = 0;
    uint32_t dwSource = 0;
    uint32_t dwLineID = 0;
    uint32_t fdwLine = 0;
    uint32_t dwUser = 0;
    uint32_t dwComponentType = 0;
    uint32_t cChannels = 0;
    uint32_t cConnections = 0;
    uint32_t cControls = 0;
    char szShortName[MIXER_SHORT_NAME_CHARS] = {};
    char szName[MIXER_LONG_NAME_CHARS] = {};
    struct {
        uint32_t dwType = 0;
        uint32_t dwDeviceID = 0;
        uint16_t wMid = 0;
        uint16_t wPid = 0;
        uint32_t vDriverVersion = 0;
        char szPname[MAXPNAMELEN] = {};
    } Target;
};

struct MIXERCONTROL {
    uint32_t cbStruct = 0;
    uint32_t dwControlID = 0;
    uint32_t dwControlType = 0;
    uint32_t fdwControl = 0;
    uint32_t cMultipleItems = 0;
    char szShortName[MIXER_SHORT_NAME_CHARS] = {};
    char szName[MIXER_LONG_NAME_CHARS] = {};
    struct {
        int32_t lMinimum = 0;
        int32_t lMaximum = 0;
        uint32_t dwReserved[4] = {};
    } Bounds;
    struct {
        uint32_t cSteps = 0;
        uint32_t dwReserved[5] = {};
    } Metrics;
};

static_assert(sizeof(MIXERCAPS) == 48 && sizeof(MIXERLINE) == 168 && sizeof(MIXERCONTROL) == 148,
              "the mixer records keep their published sizes");

struct MIXERLINECONTROLS {
    uint32_t cbStruct = 0;
    uint32_t dwLineID = 0;
    uint32_t dwControlID = 0;  // or the control type; unused when all controls are asked for
    uint32_t cControls = 0;
    uint32_t cbmxctrl = 0;
    MIXERCONTROL* pamxctrl = nullptr;
};

// Values are laid out channel by channel, each channel holding one entry per list item (or one entry
// for a value control).
struct MIXERCONTROLDETAILS {
    uint32_t cbStruct = 0;
    uint32_t dwControlID = 0;
    uint32_t cChannels = 0;
    uint32_t cMultipleItems = 0;
    uint32_t cbDetails = 0;
    void* paDetails = nullptr;
};

// An open device; 0 is none.
using HMIXER = uint32_t;

// The change notice: runs on the callback target's thread with the message (line or control change),
// the device handle and the line or control ID.
using MixerNotice = std::function<void(uint32_t message, HMIXER mixer, uint32_t id)>;

class MixerApi {
public:
    virtual ~MixerApi() = default;

    virtual uint32_t getNumDevs() = 0;
    virtual uint32_t open(HMIXER* mixer, uint32_t deviceId, QObject* callbackTarget, MixerNotice notice,
                          uint32_t flags) = 0;
    // No notice of the device is posted after close has returned.
    virtual uint32_t close(HMIXER mixer) = 0;
    virtual uint32_t getDevCaps(uint32_t deviceId, MIXERCAPS* caps, uint32_t capsSize) = 0;
    virtual uint32_t getLineInfo(HMIXER mixer, MIXERLINE* line, uint32_t flags) = 0;
    virtual uint32_t getLineControls(HMIXER mixer, MIXERLINECONTROLS* controls, uint32_t flags) = 0;
    virtual uint32_t getControlDetails(HMIXER mixer, MIXERCONTROLDETAILS* details, uint32_t flags) = 0;
    virtual uint32_t setControlDetails(HMIXER mixer, MIXERCONTROLDETAILS* details, uint32_t flags) = 0;
};

}  // namespace vx::mixerapi
