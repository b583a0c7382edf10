// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/acm/Acm.h"

#include <map>
#include <string>
#include <vector>

// A codec layer for tests: a stream "converts" by writing a fixed number of marker bytes, and any
// operation can be told to answer a code.
namespace vx::acm {

class SimulatedAcm : public Acm {
public:
    uint32_t streamOpen(HACMSTREAM* stream, const TAudioFormat& source, const TAudioFormat& dest,
                        uint32_t flags) override;
    uint32_t streamSize(HACMSTREAM stream, uint32_t input, uint32_t* output, uint32_t flags) override;
    uint32_t streamPrepareHeader(HACMSTREAM stream, ACMSTREAMHEADER* header, uint32_t flags) override;
    uint32_t streamConvert(HACMSTREAM stream, ACMSTREAMHEADER* header, uint32_t flags) override;
    uint32_t streamReset(HACMSTREAM stream, uint32_t flags) override;
    uint32_t streamUnprepareHeader(HACMSTREAM stream, ACMSTREAMHEADER* header, uint32_t flags) override;
    uint32_t streamClose(HACMSTREAM stream, uint32_t flags) override;
    uint32_t formatChoose(ACMFORMATCHOOSE* choose) override;
    uint32_t formatSuggest(const TAudioFormat& source, uint8_t* dest, uint32_t destSize,
                           uint32_t flags) override;

    // Operation names: "open", "size", "prepare", "convert", "reset", "unprepare", "close", "choose",
    // "suggest". The operation answers `code` until cleared.
    void setResult(const std::string& op, uint32_t code) { results_[op] = code; }
    void clearResults() { results_.clear(); }

    // Behaviour.
    uint32_t outputSize = 100;    // what streamSize reports
    uint32_t convertedBytes = 7;  // bytes of 0xAB each conversion writes
    uint32_t chooseResult = 515;  // what formatChoose answers when no code is set
    TAudioFormat chooseAnswer;    // written into the format area on a 0 answer
    TAudioFormat suggestAnswer;

    // What the layer saw.
    std::vector<std::string> calls;
    std::vector<uint32_t> convertFlags;
    uint32_t openFlags = 0;
    TAudioFormat openedSource, openedDest;
    uint32_t sizeAsked = 0;
    ACMFORMATCHOOSE lastChoose;
    TAudioFormat chooseStart;  // the format area as the dialog would have started on it
    bool open = false;
    bool prepared = false;
    int opens = 0;
    int closes = 0;

private:
    struct Handle : AcmStream {};
    uint32_t check(const std::string& op);
    Handle handle_;
    std::map<std::string, uint32_t> results_;
};

}  // namespace vx::acm
