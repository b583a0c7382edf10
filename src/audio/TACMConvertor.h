#pragma once

#include "audio/TAudioFormat.h"

// Stand-in until the codec stream lands: holds the two formats the settings load and save.
class TACMConvertor {
public:
    TAudioFormat FormatIn;
    TAudioFormat FormatOut;
    bool Active() const { return false; }
};
