// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class Station;

// What the window and the headless station differ in; main() runs one start-up and one close
// sequence around either.
class FrontEnd {
public:
    virtual ~FrontEnd() = default;

    virtual Station& station() = 0;
    // True when start-up decided that the program ends at once (no "Server.ini").
    virtual bool StartupAborted() const = 0;
    // The close a signal asks for: "Optionen.ini" saved, a broadcast stopped, the texts released, and the
    // event loop ends. False, with the error reported and nothing closed, when the settings could not be
    // written.
    virtual bool closeForSignal() = 0;
    // The station runs, with what the command line set: a window shows itself and those settings.
    virtual void show() {}
};
