// Capture, codec stream and the two audio formats.
#include "app/TMainform.h"
#include "audio/TACMConvertor.h"

void TMainform::buildAudio() {
    ACMC = std::make_unique<TACMConvertor>();
    ACMC->FormatIn = defaultInputFormat();
    ACMC->FormatOut = defaultOutputFormat();
}
