// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/TAudioFormat.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

// The codec layer: conversion streams between two formats, the format choice and the format suggestion,
// each answering 0 or a numeric code.
// Thread contract: a stream is used by one thread at a time; the format choice runs on the window thread.
namespace vx::acm {

constexpr uint32_t MMSYSERR_NOERROR = 0;
constexpr uint32_t MMSYSERR_INVALHANDLE = 5;
constexpr uint32_t MMSYSERR_NODRIVER = 6;
constexpr uint32_t MMSYSERR_NOMEM = 7;
constexpr uint32_t MMSYSERR_INVALFLAG = 10;
constexpr uint32_t MMSYSERR_INVALPARAM = 11;
constexpr uint32_t ACMERR_NOTPOSSIBLE = 512;
constexpr uint32_t ACMERR_BUSY = 513;
constexpr uint32_t ACMERR_UNPREPARED = 514;
constexpr uint32_t ACMERR_CANCELED = 515;

constexpr uint32_t ACM_STREAMOPENF_NONREALTIME = 0x04;
constexpr uint32_t ACM_STREAMSIZEF_SOURCE = 0x00;
constexpr uint32_t ACM_STREAMCONVERTF_BLOCKALIGN = 0x04;
constexpr uint32_t ACM_STREAMCONVERTF_START = 0x10;
constexpr uint32_t ACM_STREAMCONVERTF_END = 0x20;
constexpr uint32_t ACMSTREAMHEADER_STATUSF_DONE = 0x00010000;
constexpr uint32_t ACMSTREAMHEADER_STATUSF_PREPARED = 0x00020000;
constexpr uint32_t ACMFORMATCHOOSE_STYLEF_INITTOWFXSTRUCT = 0x40;

constexpr uint16_t WAVE_FORMAT_PCM = 0x0001;
constexpr uint16_t WAVE_FORMAT_GSM610 = 0x0031;
constexpr uint16_t WAVE_FORMAT_MPEGLAYER3 = 0x0055;

struct ACMSTREAMHEADER {
    uint32_t cbStruct = 0;
    uint32_t fdwStatus = 0;
    uintptr_t dwUser = 0;
    uint8_t* pbSrc = nullptr;
    uint32_t cbSrcLength = 0;
    uint32_t cbSrcLengthUsed = 0;
    uintptr_t dwSrcUser = 0;
    uint8_t* pbDst = nullptr;
    uint32_t cbDstLength = 0;
    uint32_t cbDstLengthUsed = 0;
    uintptr_t dwDstUser = 0;
};

// The parts of the format-choice record this layer reads; zero otherwise.
struct ACMFORMATCHOOSE {
    uint32_t cbStruct = 0;
    uint32_t fdwStyle = 0;
    void* hwndOwner = nullptr;
    uint8_t* pwfx = nullptr;  // the format area, cbwfx bytes
    uint32_t cbwfx = 0;
    const char* pszTitle = nullptr;
};

class AcmStream {
public:
    virtual ~AcmStream() = default;
};
using HACMSTREAM = AcmStream*;

// One format the layer offers, as the choice dialog lists it.
struct FormatChoice {
    QString codec;       // "PCM", "MPEG Layer-3"
    QString attributes;  // "11.025 kHz, Mono, 18 kBit/s"
    TAudioFormat format;
};

// Shows the offered formats starting on `current`; the chosen one, or nothing when cancelled.
using FormatChooser =
    std::function<std::optional<TAudioFormat>(const TAudioFormat& current, const std::vector<FormatChoice>&)>;

class Acm {
public:
    virtual ~Acm() = default;

    virtual uint32_t streamOpen(HACMSTREAM* stream, const TAudioFormat& source, const TAudioFormat& dest,
                                uint32_t flags) = 0;
    virtual uint32_t streamSize(HACMSTREAM stream, uint32_t input, uint32_t* output, uint32_t flags) = 0;
    virtual uint32_t streamPrepareHeader(HACMSTREAM stream, ACMSTREAMHEADER* header, uint32_t flags) = 0;
    virtual uint32_t streamConvert(HACMSTREAM stream, ACMSTREAMHEADER* header, uint32_t flags) = 0;
    virtual uint32_t streamReset(HACMSTREAM stream, uint32_t flags) = 0;
    virtual uint32_t streamUnprepareHeader(HACMSTREAM stream, ACMSTREAMHEADER* header, uint32_t flags) = 0;
    virtual uint32_t streamClose(HACMSTREAM stream, uint32_t flags) = 0;
    // 0 with the choice in choose->pwfx, ACMERR_CANCELED, or a code.
    virtual uint32_t formatChoose(ACMFORMATCHOOSE* choose) = 0;
    virtual uint32_t formatSuggest(const TAudioFormat& source, uint8_t* dest, uint32_t destSize,
                                   uint32_t flags) = 0;
};

}  // namespace vx::acm
