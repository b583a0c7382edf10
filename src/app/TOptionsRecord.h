#pragma once

// The record belongs to the settings unit, which reads and writes its file; the window's code and its
// tests still find it under this name.
#include "settings/TOptionsRecord.h"
