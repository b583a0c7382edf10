// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>

#include <array>
#include <cstdint>
#include <stdexcept>
#include <string>

// An audio format: the 18-byte WAVEFORMATEX header (little-endian) followed by 111 bytes of codec data.
// Always copied, stored, sent and streamed whole as 129 bytes; the fields are read and written at their
// byte offsets, never through a struct overlay.
class TAudioFormat {
public:
    static constexpr int kSize = 129;

    TAudioFormat() { bytes_.fill(0); }
    static TAudioFormat fromBytes(const char* data);        // reads exactly kSize bytes
    static TAudioFormat fromBytes(const QByteArray& data);  // shorter data is zero-padded

    uint16_t formatTag() const { return get16(0); }
    uint16_t channels() const { return get16(2); }
    uint32_t samplesPerSec() const { return get32(4); }
    uint32_t avgBytesPerSec() const { return get32(8); }
    uint16_t blockAlign() const { return get16(12); }
    uint16_t bitsPerSample() const { return get16(14); }
    uint16_t extraSize() const { return get16(16); }

    void setFormatTag(uint16_t v) { set16(0, v); }
    void setChannels(uint16_t v) { set16(2, v); }
    void setSamplesPerSec(uint32_t v) { set32(4, v); }
    void setAvgBytesPerSec(uint32_t v) { set32(8, v); }
    void setBlockAlign(uint16_t v) { set16(12, v); }
    void setBitsPerSample(uint16_t v) { set16(14, v); }
    void setExtraSize(uint16_t v) { set16(16, v); }

    uint16_t get16(int offset) const;
    uint32_t get32(int offset) const;
    void set16(int offset, uint16_t v);
    void set32(int offset, uint32_t v);

    // Why no codec and no capture device could carry this record (its fields disagree, or lie beyond
    // 192 kHz, 8 channels, 32 bits); empty when it is plausible. PCM records must agree exactly; a
    // compressed record has its own block and rate rules, so only its bounds are checked.
    std::string problem() const;

    const uint8_t* data() const { return bytes_.data(); }
    uint8_t* data() { return bytes_.data(); }
    QByteArray toBytes() const;

    bool operator==(const TAudioFormat& other) const = default;

private:
    std::array<uint8_t, kSize> bytes_;
};

// A format record that cannot be used.
class EAudioFormat : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Formats the station ships with: PCM 16-bit mono 11025 Hz in, MPEG Layer-3 mono 11025 Hz 18 kbit/s out.
TAudioFormat defaultInputFormat();
TAudioFormat defaultOutputFormat();
