#pragma once

#include <QString>

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
};

// Shows QMessageBox / QFileDialog.
class QtUserDialogs : public UserDialogs {
public:
    void showMessage(const QString& caption, const QString& text) override;
    QString getSaveFileName(const QString& title, const QString& filter, const QString& defaultExt) override;
    QString getOpenFileName(const QString& title, const QString& filter) override;
};

// For a station without a display: one line on standard error per message, file dialogs cancelled.
class HeadlessUserDialogs : public UserDialogs {
public:
    void showMessage(const QString& caption, const QString& text) override;
    QString getSaveFileName(const QString&, const QString&, const QString&) override { return {}; }
    QString getOpenFileName(const QString&, const QString&) override { return {}; }

    // The one-line form of a message: line breaks become " | ".
    static QString oneLine(const QString& caption, const QString& text);
};
