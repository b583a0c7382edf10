// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/TAudioFormat.h"
#include "platform/acm/Acm.h"

#include <QByteArray>

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

class QIODevice;

class EACMConvertor : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A conversion stream from FormatIn to FormatOut: the caller fills BufferIn with InputBufferSize bytes,
// Convert() leaves the result at the start of BufferOut. The codec keeps its state across conversions
// while the stream is open, so the outputs of consecutive conversions form one stream.
// Thread contract: opened, closed and configured on the window thread; Convert may run on another thread
// while the owner leaves the component alone. No lock of its own.
class TACMConvertor {
public:
    // The codec layer is the caller's choice (main() or a test); without one this throws
    // std::invalid_argument.
    explicit TACMConvertor(std::shared_ptr<vx::acm::Acm> acm);
    ~TACMConvertor();
    TACMConvertor(const TACMConvertor&) = delete;
    TACMConvertor& operator=(const TACMConvertor&) = delete;

    TAudioFormat FormatIn;
    TAudioFormat FormatOut;

    bool Active() const { return active_; }
    void SetActive(bool value);
    int InputBufferSize() const { return inputBufferSize_; }
    void SetInputBufferSize(int value);
    bool UseRealTime() const { return useRealTime_; }
    void SetUseRealTime(bool value);
    uint8_t* BufferIn() { return bufferIn_.get(); }
    uint8_t* BufferOut() { return bufferOut_.get(); }
    uint32_t OutputBufferSize() const { return outputBufferSize_; }
    bool FirstConversion() const { return firstConversion_; }

    // Number of valid bytes at the start of BufferOut. Only while active.
    int Convert();
    // True when a format was chosen (it replaces the target); false when the dialog was cancelled.
    bool ChooseFormatIn(bool UseCurrent);
    bool ChooseFormatOut(bool UseCurrent);
    void SuggestFormat(TAudioFormat Source, TAudioFormat& Dest);

    // The stored form of ACMFormatIn / ACMFormatOut: a 4-byte little-endian length (129) and the format.
    void WriteACMFormatIn(QIODevice& stream) const;
    void ReadACMFormatIn(QIODevice& stream);
    void WriteACMFormatOut(QIODevice& stream) const;
    void ReadACMFormatOut(QIODevice& stream);

    // The message for a failed operation; empty for code 0.
    static std::string ErrorText(const char* operation, uint32_t code);

private:
    void open();
    void close();
    bool chooseFormat(TAudioFormat& target, bool useCurrent);
    void check(const char* operation, uint32_t code) const;
    static void writeFormat(QIODevice& stream, const TAudioFormat& format);
    static void readFormat(QIODevice& stream, TAudioFormat& format);

    vx::acm::ACMFORMATCHOOSE formatChoose_{};
    bool active_ = false;
    bool useRealTime_ = false;
    std::unique_ptr<uint8_t[]> bufferIn_;
    std::unique_ptr<uint8_t[]> bufferOut_;
    int inputBufferSize_ = 2048;
    uint32_t outputBufferSize_ = 0;
    bool firstConversion_ = false;
    vx::acm::HACMSTREAM stream_ = nullptr;
    vx::acm::ACMSTREAMHEADER header_{};
    std::shared_ptr<vx::acm::Acm> acm_;
};

// The 133 bytes that store a format: length 129, then the record.
QByteArray formatPropertyData(const TAudioFormat& format);
