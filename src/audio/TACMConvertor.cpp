// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/TACMConvertor.h"

#include "audio/MmErrorText.h"

#include <QBuffer>
#include <QIODevice>

#include <algorithm>
#include <cstring>
#include <stdexcept>

using namespace vx::acm;

TACMConvertor::TACMConvertor(std::shared_ptr<Acm> acm) : acm_(std::move(acm)) {
    if (!acm_) {
        throw std::invalid_argument("TACMConvertor needs a codec layer; none was given");
    }
    SetInputBufferSize(2048);
    SetUseRealTime(false);
    TAudioFormat f;
    f.setFormatTag(WAVE_FORMAT_PCM);
    f.setChannels(1);
    f.setSamplesPerSec(22050);
    f.setAvgBytesPerSec(22050);
    f.setBlockAlign(1);
    f.setBitsPerSample(8);
    f.setExtraSize(129);
    FormatIn = f;
    FormatOut = f;
}

TACMConvertor::~TACMConvertor() {
    try {
        SetActive(false);
    } catch (const EACMConvertor&) {
        // The codec refused to close; its stream goes with the codec layer.
    }
}

std::string TACMConvertor::ErrorText(const char* operation, uint32_t code) {
    return mmErrorText(MmErrorTable::Convertor, operation, code);
}

void TACMConvertor::check(const char* operation, uint32_t code) const {
    if (code != 0) {
        throw EACMConvertor(ErrorText(operation, code));
    }
}

void TACMConvertor::SetActive(bool value) {
    if (value == active_) {
        return;
    }
    if (value) {
        open();
    } else {
        close();
    }
}

void TACMConvertor::SetInputBufferSize(int value) {
    if (active_) {
        throw EACMConvertor("You cannot change the buffer size while active.");
    }
    inputBufferSize_ = value;
}

void TACMConvertor::SetUseRealTime(bool value) {
    if (active_) {
        throw EACMConvertor("You cannot change the real time flag while active.");
    }
    useRealTime_ = value;
}

void TACMConvertor::open() {
    firstConversion_ = true;
    stream_ = nullptr;
    check("acmStreamOpen:",
          acm_->streamOpen(&stream_, FormatIn, FormatOut, useRealTime_ ? 0 : ACM_STREAMOPENF_NONREALTIME));
    try {
        // A negative size would be taken as a huge one; the codec refuses it instead.
        const uint32_t input = uint32_t(std::max(inputBufferSize_, 0));
        check("acmStreamSize:", acm_->streamSize(stream_, input, &outputBufferSize_, ACM_STREAMSIZEF_SOURCE));
        bufferIn_.reset(new uint8_t[std::max<uint32_t>(input, 1)]);
        bufferOut_.reset(new uint8_t[std::max<uint32_t>(outputBufferSize_, 1)]);
        header_ = ACMSTREAMHEADER{};
        header_.cbStruct = sizeof(ACMSTREAMHEADER);
        header_.pbSrc = bufferIn_.get();
        header_.cbSrcLength = input;
        header_.pbDst = bufferOut_.get();
        header_.cbDstLength = outputBufferSize_;
        check("acmStreamPrepareHeader:", acm_->streamPrepareHeader(stream_, &header_, 0));
    } catch (...) {
        // The stream opened above would otherwise stay open for good: the component is inactive, so no
        // later close reaches it.
        bufferIn_.reset();
        bufferOut_.reset();
        acm_->streamClose(stream_, 0);
        stream_ = nullptr;
        throw;
    }
    active_ = true;
}

void TACMConvertor::close() {
    check("acmStreamUnPrepareHeader:", acm_->streamUnprepareHeader(stream_, &header_, 0));
    check("acmStreamClose:", acm_->streamClose(stream_, 0));
    stream_ = nullptr;
    bufferIn_.reset();
    bufferOut_.reset();
    active_ = false;
    firstConversion_ = false;
}

int TACMConvertor::Convert() {
    if (!active_) {
        // Without a stream there are no buffers to convert; the codec would be handed nothing valid.
        throw EACMConvertor(ErrorText("acmStreamConvert:", MMSYSERR_INVALHANDLE));
    }
    std::memset(bufferOut_.get(), 0, outputBufferSize_);
    uint32_t flags = ACM_STREAMCONVERTF_BLOCKALIGN;
    if (firstConversion_) {
        flags |= ACM_STREAMCONVERTF_START;
    }
    header_.cbSrcLength = uint32_t(std::max(inputBufferSize_, 0));
    check("acmStreamConvert:", acm_->streamConvert(stream_, &header_, flags));
    check("acmStreamReset", acm_->streamReset(stream_, 0));
    firstConversion_ = false;
    return int(header_.cbDstLengthUsed);
}

bool TACMConvertor::ChooseFormatIn(bool UseCurrent) {
    return chooseFormat(FormatIn, UseCurrent);
}

bool TACMConvertor::ChooseFormatOut(bool UseCurrent) {
    return chooseFormat(FormatOut, UseCurrent);
}

bool TACMConvertor::chooseFormat(TAudioFormat& target, bool useCurrent) {
    TAudioFormat work;
    if (useCurrent) {
        work = target;
    } else {
        work.setFormatTag(WAVE_FORMAT_GSM610);
        work.setChannels(1);
        work.setSamplesPerSec(8000);
        work.setAvgBytesPerSec(8000);
        work.setBlockAlign(1);
        work.setBitsPerSample(8);
        work.setExtraSize(129);
    }
    formatChoose_.cbStruct = 232;
    formatChoose_.fdwStyle = ACMFORMATCHOOSE_STYLEF_INITTOWFXSTRUCT;
    formatChoose_.pwfx = work.data();
    formatChoose_.cbwfx = TAudioFormat::kSize;
    const uint32_t result = acm_->formatChoose(&formatChoose_);
    formatChoose_.pwfx = nullptr;  // the work area ends here
    if (result == 0) {
        target = work;
        return true;
    }
    if (result == ACMERR_CANCELED) {
        return false;
    }
    check("Choose format", result);
    return false;
}

void TACMConvertor::SuggestFormat(TAudioFormat Source, TAudioFormat& Dest) {
    TAudioFormat work;
    check("SuggestFormat", acm_->formatSuggest(Source, work.data(), TAudioFormat::kSize, 0));
    Dest = work;
}

void TACMConvertor::writeFormat(QIODevice& stream, const TAudioFormat& format) {
    stream.write(formatPropertyData(format));
}

void TACMConvertor::readFormat(QIODevice& stream, TAudioFormat& format) {
    uint8_t len[4] = {};
    if (stream.read(reinterpret_cast<char*>(len), 4) != 4) {
        return;
    }
    const uint32_t length =
        uint32_t(len[0]) | (uint32_t(len[1]) << 8) | (uint32_t(len[2]) << 16) | (uint32_t(len[3]) << 24);
    // The format area holds 129 bytes: a longer stored record fills it and the rest is passed over.
    const qint64 take = std::min<uint32_t>(length, TAudioFormat::kSize);
    const QByteArray bytes = stream.read(take);
    std::memcpy(format.data(), bytes.constData(), std::size_t(bytes.size()));
    if (length > uint32_t(take)) {
        stream.skip(qint64(length) - take);
    }
}

void TACMConvertor::WriteACMFormatIn(QIODevice& stream) const {
    writeFormat(stream, FormatIn);
}
void TACMConvertor::ReadACMFormatIn(QIODevice& stream) {
    readFormat(stream, FormatIn);
}
void TACMConvertor::WriteACMFormatOut(QIODevice& stream) const {
    writeFormat(stream, FormatOut);
}
void TACMConvertor::ReadACMFormatOut(QIODevice& stream) {
    readFormat(stream, FormatOut);
}

QByteArray formatPropertyData(const TAudioFormat& format) {
    QByteArray out;
    out.append(char(TAudioFormat::kSize));
    out.append(3, '\0');
    out.append(format.toBytes());
    return out;
}
