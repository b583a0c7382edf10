// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/HandleTable.h"
#include "platform/acm/Acm.h"

// The station's codec layer: MPEG Layer-3 encoding (LAME) and PCM conversion; the format choice goes to
// an injected chooser (none: always cancelled).
namespace vx::acm {

class PlatformAcm : public Acm {
public:
    explicit PlatformAcm(FormatChooser chooser = {});
    ~PlatformAcm() override;

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

private:
    class Stream;
    uint32_t findPrepared(HACMSTREAM stream, const ACMSTREAMHEADER* header, Stream** out) const;

    FormatChooser chooser_;
    // Changed only on open and close, which the owner serialises with every other use of the stream.
    HandleTable<AcmStream, Stream> streams_;
};

}  // namespace vx::acm
