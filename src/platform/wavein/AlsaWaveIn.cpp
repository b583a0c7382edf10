// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/wavein/AlsaWaveIn.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <cerrno>

namespace vx::wavein {

namespace {

class AlsaSource : public CaptureSource {
public:
    AlsaSource(snd_pcm_t* pcm, snd_config_t* config, uint32_t frameBytes, snd_pcm_uframes_t chunk)
        : pcm_(pcm), config_(config), frameBytes_(frameBytes), chunk_(chunk) {}
    ~AlsaSource() override {
        snd_pcm_close(pcm_);
        if (config_ != nullptr) {
            snd_config_delete(config_);
        }
    }

    void begin() override {
        if (snd_pcm_state(pcm_) != SND_PCM_STATE_PREPARED) {
            snd_pcm_prepare(pcm_);
        }
        snd_pcm_start(pcm_);
    }

    int read(uint8_t* dst, uint32_t bytes, const std::atomic<bool>&) override {
        // One period at most: some plugins (the file plugin among them) refuse longer reads.
        const snd_pcm_uframes_t frames = std::min<snd_pcm_uframes_t>(bytes / frameBytes_, chunk_);
        const snd_pcm_sframes_t n = snd_pcm_readi(pcm_, dst, frames);
        if (n > 0) {
            return int(n * frameBytes_);
        }
        int err = int(n);
        if (n == 0 || n == -EAGAIN) {
            // Short waits, so a reset never waits long for this thread.
            err = snd_pcm_wait(pcm_, 20);
            if (err >= 0) {
                return 0;
            }
        }
        // An overrun (the owner kept too few buffers queued) loses samples but capture goes on; anything
        // else (a device unplugged, its sound server gone) ends the capture.
        if (const int failed = snd_pcm_recover(pcm_, err, 1); failed < 0) {
            // An input/output error is how a PCM of a sound server that has gone away answers.
            return -int(failed == -EIO ? MMSYSERR_BADDEVICEID : AlsaWaveIn::codeFor(failed));
        }
        snd_pcm_start(pcm_);
        return 0;
    }

    void halt() override {
        snd_pcm_drop(pcm_);
        snd_pcm_prepare(pcm_);
    }

    uint32_t frameBytes() const override { return frameBytes_; }

private:
    snd_pcm_t* pcm_;
    snd_config_t* config_;
    uint32_t frameBytes_;
    snd_pcm_uframes_t chunk_;
};

bool alsaFormatFor(const TAudioFormat& f, snd_pcm_format_t* out) {
    switch (f.bitsPerSample()) {
        case 8:
            *out = SND_PCM_FORMAT_U8;
            return true;
        case 16:
            *out = SND_PCM_FORMAT_S16_LE;
            return true;
        case 24:
            *out = SND_PCM_FORMAT_S24_3LE;
            return true;
        case 32:
            *out = SND_PCM_FORMAT_S32_LE;
            return true;
        default:
            return false;
    }
}

}  // namespace

AlsaWaveIn::AlsaWaveIn(QString pcmName, QString configFile)
    : pcmName_(std::move(pcmName)), configFile_(std::move(configFile)) {}

AlsaWaveIn::~AlsaWaveIn() = default;

uint32_t AlsaWaveIn::codeFor(int alsaError) {
    switch (-alsaError) {
        case 0:
            return MMSYSERR_NOERROR;
        case ENOENT:
        case ENODEV:
        case ENXIO:
            return MMSYSERR_BADDEVICEID;
        case EBUSY:
        case EAGAIN:
        case EACCES:
        case EPERM:
            return MMSYSERR_ALLOCATED;
        case ENOMEM:
            return MMSYSERR_NOMEM;
        case EINVAL:
            return WAVERR_BADFORMAT;
        default:
            return MMSYSERR_NODRIVER;
    }
}

namespace {

// Opens the capture PCM by name, from the system's configuration or from configFile alone (*config is
// then the loaded configuration, which the PCM needs as long as it is open). A negative ALSA error.
int openPcm(const QString& pcmName, const QString& configFile, snd_pcm_t** pcm, snd_config_t** config) {
    const QByteArray name = pcmName.toLocal8Bit();
    if (configFile.isEmpty()) {
        return snd_pcm_open(pcm, name.constData(), SND_PCM_STREAM_CAPTURE, SND_PCM_NONBLOCK);
    }
    snd_input_t* in = nullptr;
    int err = snd_config_top(config);
    if (err >= 0) {
        err = snd_input_stdio_open(&in, configFile.toLocal8Bit().constData(), "r");
    }
    if (err >= 0) {
        err = snd_config_load(*config, in);
        snd_input_close(in);
    }
    if (err >= 0) {
        err = snd_pcm_open_lconf(pcm, name.constData(), SND_PCM_STREAM_CAPTURE, SND_PCM_NONBLOCK, *config);
    }
    if (err < 0 && *config != nullptr) {
        snd_config_delete(*config);
        *config = nullptr;
    }
    return err;
}

// Sets the PCM to the format and prepares it; *period receives the period size in frames. A negative
// ALSA error.
int configurePcm(snd_pcm_t* pcm, const TAudioFormat& format, snd_pcm_format_t sampleFormat,
                 snd_pcm_uframes_t* period) {
    snd_pcm_hw_params_t* hw = nullptr;
    snd_pcm_hw_params_alloca(&hw);
    unsigned int bufferUs = 500000;
    unsigned int periodUs = 50000;
    int err = snd_pcm_hw_params_any(pcm, hw);
    if (err >= 0) {
        err = snd_pcm_hw_params_set_access(pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED);
    }
    if (err >= 0) {
        err = snd_pcm_hw_params_set_format(pcm, hw, sampleFormat);
    }
    if (err >= 0) {
        err = snd_pcm_hw_params_set_channels(pcm, hw, format.channels());
    }
    if (err >= 0) {
        err = snd_pcm_hw_params_set_rate_resample(pcm, hw, 1);
    }
    if (err >= 0) {
        err = snd_pcm_hw_params_set_rate(pcm, hw, format.samplesPerSec(), 0);
    }
    if (err >= 0) {
        // Only a preference: a device that cannot do these sizes keeps its own.
        snd_pcm_hw_params_set_buffer_time_near(pcm, hw, &bufferUs, nullptr);
        snd_pcm_hw_params_set_period_time_near(pcm, hw, &periodUs, nullptr);
        err = snd_pcm_hw_params(pcm, hw);
    }
    if (err >= 0) {
        err = snd_pcm_hw_params_get_period_size(hw, period, nullptr);
    }
    if (err >= 0) {
        err = snd_pcm_prepare(pcm);
    }
    return err;
}

}  // namespace

uint32_t AlsaWaveIn::openSource(const TAudioFormat& format, std::unique_ptr<CaptureSource>* source) {
    snd_pcm_format_t sampleFormat;
    const uint32_t channels = format.channels();
    if (format.formatTag() != 1 || channels == 0 || format.samplesPerSec() == 0 ||
        !alsaFormatFor(format, &sampleFormat) ||
        format.blockAlign() != channels * format.bitsPerSample() / 8) {
        return WAVERR_BADFORMAT;
    }
    snd_pcm_t* pcm = nullptr;
    snd_config_t* config = nullptr;
    openFailure_.clear();
    if (const int err = openPcm(pcmName_, configFile_, &pcm, &config); err < 0) {
        openFailure_ = QString::fromLocal8Bit(snd_strerror(err));
        return codeFor(err);
    }
    snd_pcm_uframes_t period = 0;
    if (const int err = configurePcm(pcm, format, sampleFormat, &period); err < 0) {
        openFailure_ = QString::fromLocal8Bit(snd_strerror(err));
        snd_pcm_close(pcm);
        if (config != nullptr) {
            snd_config_delete(config);
        }
        // Every refusal of the parameters is a format the device does not record.
        return err == -EINVAL ? WAVERR_BADFORMAT : codeFor(err);
    }
    *source = std::make_unique<AlsaSource>(pcm, config, format.blockAlign(),
                                           std::max<snd_pcm_uframes_t>(period, 1));
    return MMSYSERR_NOERROR;
}

}  // namespace vx::wavein
