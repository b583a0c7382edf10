// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace vx {

// Registers the program's own pictures (":/assets/..."): the window icon and the slider's bitmaps. They are
// compiled into a static library, so nothing else pulls them into the program. Safe to call repeatedly.
void initAssets();

}  // namespace vx
