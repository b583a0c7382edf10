// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/Assets.h"

#include <QtGlobal>

// Q_INIT_RESOURCE declares the generated function at the scope it is used in, which must be the global one.
static void registerAssets() {
    Q_INIT_RESOURCE(assets);
}

namespace vx {

void initAssets() {
    static const bool registered = (registerAssets(), true);
    (void)registered;
}

}  // namespace vx
