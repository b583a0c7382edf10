// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/acm/PlatformAcm.h"

#include "platform/acm/Codecs.h"

#include <cstring>

namespace vx::acm {

class PlatformAcm::Stream : public AcmStream {
public:
    explicit Stream(std::unique_ptr<CodecStream> c) : codec(std::move(c)) {}
    std::unique_ptr<CodecStream> codec;
    int prepared = 0;
};

PlatformAcm::PlatformAcm(FormatChooser chooser) : chooser_(std::move(chooser)) {}

PlatformAcm::~PlatformAcm() = default;

uint32_t PlatformAcm::streamOpen(HACMSTREAM* stream, const TAudioFormat& source, const TAudioFormat& dest,
                                 uint32_t flags) {
    if (stream == nullptr) {
        return MMSYSERR_INVALPARAM;
    }
    if ((flags & ~ACM_STREAMOPENF_NONREALTIME) != 0) {
        return MMSYSERR_INVALFLAG;
    }
    std::unique_ptr<CodecStream> codec;
    uint32_t code = ACMERR_NOTPOSSIBLE;
    if (source.formatTag() == WAVE_FORMAT_PCM && dest.formatTag() == WAVE_FORMAT_MPEGLAYER3) {
        code = openMp3Encoder(source, dest, &codec);
    } else if (source.formatTag() == WAVE_FORMAT_PCM && dest.formatTag() == WAVE_FORMAT_PCM) {
        code = openPcmConverter(source, dest, &codec);
    }
    if (code != MMSYSERR_NOERROR) {
        return code;
    }
    *stream = streams_.insert(std::make_unique<Stream>(std::move(codec)));
    return MMSYSERR_NOERROR;
}

uint32_t PlatformAcm::streamSize(HACMSTREAM stream, uint32_t input, uint32_t* output, uint32_t flags) {
    Stream* s = streams_.find(stream);
    if (s == nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    if (flags != ACM_STREAMSIZEF_SOURCE || output == nullptr) {
        return flags != ACM_STREAMSIZEF_SOURCE ? MMSYSERR_INVALFLAG : MMSYSERR_INVALPARAM;
    }
    *output = s->codec->outputBound(input);
    return MMSYSERR_NOERROR;
}

uint32_t PlatformAcm::streamPrepareHeader(HACMSTREAM stream, ACMSTREAMHEADER* header, uint32_t) {
    Stream* s = streams_.find(stream);
    if (s == nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    if (header == nullptr || header->cbStruct < sizeof(ACMSTREAMHEADER) || header->pbSrc == nullptr ||
        header->pbDst == nullptr) {
        return MMSYSERR_INVALPARAM;
    }
    if ((header->fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED) == 0) {
        header->fdwStatus |= ACMSTREAMHEADER_STATUSF_PREPARED;
        ++s->prepared;
    }
    return MMSYSERR_NOERROR;
}

// The stream of a call that needs a prepared header, or the code that refuses the call.
uint32_t PlatformAcm::findPrepared(HACMSTREAM stream, const ACMSTREAMHEADER* header, Stream** out) const {
    *out = streams_.find(stream);
    if (*out == nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    if (header == nullptr) {
        return MMSYSERR_INVALPARAM;
    }
    if ((header->fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED) == 0) {
        return ACMERR_UNPREPARED;
    }
    return MMSYSERR_NOERROR;
}

uint32_t PlatformAcm::streamConvert(HACMSTREAM stream, ACMSTREAMHEADER* header, uint32_t flags) {
    Stream* s = nullptr;
    if (const uint32_t code = findPrepared(stream, header, &s); code != MMSYSERR_NOERROR) {
        return code;
    }
    if ((flags & ~(ACM_STREAMCONVERTF_BLOCKALIGN | ACM_STREAMCONVERTF_START | ACM_STREAMCONVERTF_END)) != 0) {
        return MMSYSERR_INVALFLAG;
    }
    header->fdwStatus &= ~ACMSTREAMHEADER_STATUSF_DONE;
    header->cbSrcLengthUsed = 0;
    header->cbDstLengthUsed = 0;
    const uint32_t code =
        s->codec->convert(header->pbSrc, header->cbSrcLength, &header->cbSrcLengthUsed, header->pbDst,
                          header->cbDstLength, &header->cbDstLengthUsed, flags);
    header->fdwStatus |= ACMSTREAMHEADER_STATUSF_DONE;
    return code;
}

uint32_t PlatformAcm::streamReset(HACMSTREAM stream, uint32_t) {
    // Conversions here finish before streamConvert returns, so there is nothing pending to stop; the
    // codec's state is left alone so the next block continues the stream.
    return streams_.find(stream) == nullptr ? MMSYSERR_INVALHANDLE : MMSYSERR_NOERROR;
}

uint32_t PlatformAcm::streamUnprepareHeader(HACMSTREAM stream, ACMSTREAMHEADER* header, uint32_t) {
    Stream* s = nullptr;
    if (const uint32_t code = findPrepared(stream, header, &s); code != MMSYSERR_NOERROR) {
        return code;
    }
    header->fdwStatus &= ~ACMSTREAMHEADER_STATUSF_PREPARED;
    --s->prepared;
    return MMSYSERR_NOERROR;
}

uint32_t PlatformAcm::streamClose(HACMSTREAM stream, uint32_t) {
    Stream* s = streams_.find(stream);
    if (s == nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    if (s->prepared > 0) {
        return ACMERR_BUSY;
    }
    streams_.erase(stream);
    return MMSYSERR_NOERROR;
}

uint32_t PlatformAcm::formatChoose(ACMFORMATCHOOSE* choose) {
    if (choose == nullptr || choose->pwfx == nullptr || choose->cbwfx < 18) {
        return MMSYSERR_INVALPARAM;
    }
    const std::vector<FormatChoice> offered = offeredFormats();
    TAudioFormat current = offered.front().format;
    if ((choose->fdwStyle & ACMFORMATCHOOSE_STYLEF_INITTOWFXSTRUCT) != 0) {
        current = TAudioFormat();
        std::memcpy(current.data(), choose->pwfx, std::min<uint32_t>(choose->cbwfx, TAudioFormat::kSize));
    }
    if (!chooser_) {
        return ACMERR_CANCELED;
    }
    const std::optional<TAudioFormat> chosen = chooser_(current, offered);
    if (!chosen) {
        return ACMERR_CANCELED;
    }
    std::memcpy(choose->pwfx, chosen->data(), std::min<uint32_t>(choose->cbwfx, TAudioFormat::kSize));
    return MMSYSERR_NOERROR;
}

uint32_t PlatformAcm::formatSuggest(const TAudioFormat& source, uint8_t* dest, uint32_t destSize,
                                    uint32_t flags) {
    if (dest == nullptr || destSize < 18) {
        return MMSYSERR_INVALPARAM;
    }
    if (flags != 0) {
        return MMSYSERR_INVALFLAG;
    }
    TAudioFormat suggestion;
    if (source.formatTag() == WAVE_FORMAT_MPEGLAYER3 || source.formatTag() == WAVE_FORMAT_PCM) {
        // A decoder's natural output, and for PCM the plain form of the same format.
        if (source.channels() < 1 || source.channels() > 2 || source.samplesPerSec() == 0) {
            return ACMERR_NOTPOSSIBLE;
        }
        const bool keepWidth = source.formatTag() == WAVE_FORMAT_PCM && source.bitsPerSample() == 8;
        suggestion = pcmFormat(source.samplesPerSec(), keepWidth ? 8 : 16, source.channels());
    } else {
        return ACMERR_NOTPOSSIBLE;
    }
    std::memset(dest, 0, destSize);
    std::memcpy(dest, suggestion.data(), std::min<uint32_t>(destSize, TAudioFormat::kSize));
    return MMSYSERR_NOERROR;
}

}  // namespace vx::acm
