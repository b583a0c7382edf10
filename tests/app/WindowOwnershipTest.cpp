// SPDX-License-Identifier: GPL-3.0-or-later
// What a window owns and what it is given: its language texts are its own, its backends come from
// whoever made it.
#include "support/MainformFixture.h"
#include "support/StationProbe.h"

#include <gtest/gtest.h>
#include <QPushButton>

#include <stdexcept>

using vxtest::MainformFixture;

namespace {

// A second window (a test fixture, a second station in one process) loads and frees texts of its own; the
// first window's messages must stay readable.
TEST(WindowOwnership, AWindowKeepsItsLanguageTextsWhileAnotherComesAndGoes) {
    MainformFixture first;
    TMainform& form = first.create();
    const QString caption = form.Connectrbtn->text();  // message 0 as start-up applied it
    ASSERT_FALSE(caption.isEmpty());
    {
        MainformFixture second;
        second.create().show();
        EXPECT_TRUE(second.form->close());
        second.form.reset();
    }
    ASSERT_NE(StationProbe(form.station()).Languagelist, nullptr);
    EXPECT_EQ(form.Msg(0), caption);
    EXPECT_TRUE(form.Msg(21).contains(QStringLiteral("{User}")));
}

TEST(WindowOwnership, AWindowWithoutABackendIsRefusedInsteadOfGettingADefaultDevice) {
    for (const char* missing : {"capture", "codecs", "mixer"}) {
        SCOPED_TRACE(missing);
        MainformFixture f;
        if (missing == std::string_view("capture")) {
            f.env.waveIn = nullptr;
        } else if (missing == std::string_view("codecs")) {
            f.env.acm = nullptr;
        } else {
            f.env.mixer = nullptr;
        }
        EXPECT_THROW(f.create(), std::invalid_argument);
    }
}

}  // namespace
