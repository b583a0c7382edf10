// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/acm/Acm.h"

#include <QString>

#include <optional>
#include <vector>

// Every user dialog of the station goes through this interface: the Qt implementation shows them
// modally, the headless one writes messages to standard error and answers at once, tests record.
// Thread contract: window thread only.
class UserDialogs {
public:
    virtual ~UserDialogs() = default;

    // A plain message box with one OK button; caption is the application title.
    virtual void showMessage(const QString& caption, const QString& text) = 0;

    // File dialogs; an empty result means cancelled.
    virtual QString getSaveFileName(const QString& title, const QString& filter,
                                    const QString& defaultExt) = 0;
    virtual QString getOpenFileName(const QString& title, const QString& filter) = 0;

    // The audio format choice: lists `offered`, starts on `current`; nothing when cancelled.
    virtual std::optional<TAudioFormat> chooseAudioFormat(const TAudioFormat& current,
                                                          const std::vector<vx::acm::FormatChoice>& offered) {
        (void)current;
        (void)offered;
        return std::nullopt;
    }
};

// Shows QMessageBox / QFileDialog.
class QtUserDialogs : public UserDialogs {
public:
    void showMessage(const QString& caption, const QString& text) override;
    QString getSaveFileName(const QString& title, const QString& filter, const QString& defaultExt) override;
    QString getOpenFileName(const QString& title, const QString& filter) override;
    std::optional<TAudioFormat> chooseAudioFormat(const TAudioFormat& current,
                                                  const std::vector<vx::acm::FormatChoice>& offered) override;
};

// For a station without a display: one line on standard error per message, file dialogs cancelled.
class HeadlessUserDialogs : public UserDialogs {
public:
    void showMessage(const QString& caption, const QString& text) override;
    QString getSaveFileName(const QString&, const QString&, const QString&) override { return {}; }
    QString getOpenFileName(const QString&, const QString&) override { return {}; }
    // No one to choose: always cancelled.
    std::optional<TAudioFormat> chooseAudioFormat(const TAudioFormat&,
                                                  const std::vector<vx::acm::FormatChoice>&) override {
        return std::nullopt;
    }

    // The one-line form of a message: line breaks become " | " (other control characters are escaped
    // when it is written).
    static QString oneLine(const QString& caption, const QString& text);
};
