// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "app/TMainform.h"
#include "support/StationFixture.h"

#include <memory>

namespace vxtest {

// A window around the fixture's station parts.
class MainformFixture : public StationFixture {
public:
    TMainform& create() {
        form = std::make_unique<TMainform>(env);
        return *form;
    }

    std::unique_ptr<TMainform> form;
};

}  // namespace vxtest
