// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/acm/SimulatedAcm.h"

#include <algorithm>
#include <cstring>

namespace vx::acm {

uint32_t SimulatedAcm::check(const std::string& op) {
    calls.push_back(op);
    auto it = results_.find(op);
    return it == results_.end() ? MMSYSERR_NOERROR : it->second;
}

uint32_t SimulatedAcm::streamOpen(HACMSTREAM* stream, const TAudioFormat& source, const TAudioFormat& dest,
                                  uint32_t flags) {
    if (const uint32_t code = check("open")) {
        return code;
    }
    if (open) {
        return ACMERR_BUSY;
    }
    open = true;
    ++opens;
    openFlags = flags;
    openedSource = source;
    openedDest = dest;
    *stream = &handle_;
    return MMSYSERR_NOERROR;
}

uint32_t SimulatedAcm::streamSize(HACMSTREAM stream, uint32_t input, uint32_t* output, uint32_t) {
    if (const uint32_t code = check("size")) {
        return code;
    }
    if (stream != &handle_ || !open) {
        return MMSYSERR_INVALHANDLE;
    }
    sizeAsked = input;
    *output = outputSize;
    return MMSYSERR_NOERROR;
}

uint32_t SimulatedAcm::streamPrepareHeader(HACMSTREAM, ACMSTREAMHEADER* header, uint32_t) {
    if (const uint32_t code = check("prepare")) {
        return code;
    }
    header->fdwStatus |= ACMSTREAMHEADER_STATUSF_PREPARED;
    prepared = true;
    return MMSYSERR_NOERROR;
}

uint32_t SimulatedAcm::streamConvert(HACMSTREAM, ACMSTREAMHEADER* header, uint32_t flags) {
    if (const uint32_t code = check("convert")) {
        return code;
    }
    if (!prepared) {
        return ACMERR_UNPREPARED;
    }
    convertFlags.push_back(flags);
    const uint32_t n = std::min(convertedBytes, header->cbDstLength);
    std::memset(header->pbDst, 0xAB, n);
    header->cbSrcLengthUsed = header->cbSrcLength;
    header->cbDstLengthUsed = n;
    return MMSYSERR_NOERROR;
}

uint32_t SimulatedAcm::streamReset(HACMSTREAM, uint32_t) {
    return check("reset");
}

uint32_t SimulatedAcm::streamUnprepareHeader(HACMSTREAM, ACMSTREAMHEADER* header, uint32_t) {
    if (const uint32_t code = check("unprepare")) {
        return code;
    }
    header->fdwStatus &= ~ACMSTREAMHEADER_STATUSF_PREPARED;
    prepared = false;
    return MMSYSERR_NOERROR;
}

uint32_t SimulatedAcm::streamClose(HACMSTREAM, uint32_t) {
    if (const uint32_t code = check("close")) {
        return code;
    }
    if (prepared) {
        return ACMERR_BUSY;
    }
    open = false;
    ++closes;
    return MMSYSERR_NOERROR;
}

uint32_t SimulatedAcm::formatChoose(ACMFORMATCHOOSE* choose) {
    if (const uint32_t code = check("choose")) {
        return code;
    }
    lastChoose = *choose;
    std::memcpy(chooseStart.data(), choose->pwfx, std::min<uint32_t>(choose->cbwfx, TAudioFormat::kSize));
    if (chooseResult == MMSYSERR_NOERROR) {
        std::memcpy(choose->pwfx, chooseAnswer.data(),
                    std::min<uint32_t>(choose->cbwfx, TAudioFormat::kSize));
    } else {
        // A dialog that fails or is cancelled may have scribbled on its work area.
        std::memset(choose->pwfx, 0xEE, choose->cbwfx);
    }
    return chooseResult;
}

uint32_t SimulatedAcm::formatSuggest(const TAudioFormat&, uint8_t* dest, uint32_t destSize, uint32_t) {
    if (const uint32_t code = check("suggest")) {
        return code;
    }
    std::memcpy(dest, suggestAnswer.data(), std::min<uint32_t>(destSize, TAudioFormat::kSize));
    return MMSYSERR_NOERROR;
}

}  // namespace vx::acm
