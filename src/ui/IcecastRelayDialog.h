// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/IcecastTarget.h"

#include <QDialog>
#include <QString>

#include <functional>
#include <vector>

class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTreeWidget;

// The Icecast relays for a desktop user: each target (password hidden) with its state, and the targets
// of the data folder's file to add to, remove from and save. Targets from the command line are shown
// but are not the dialog's to change.
// Thread contract: window thread.
class IcecastRelayDialog : public QDialog {
    Q_OBJECT

public:
    struct Row {
        QString target;  // display name, password hidden
        QString state;
    };

    explicit IcecastRelayDialog(QWidget* parent = nullptr);

    // The rows of the command-line targets, then those of the file's; states only, refreshed often.
    void setStates(const std::vector<Row>& commandLine, const std::vector<QString>& fileStates);
    // The file's targets as saved (or as waiting for the next stop).
    void setFileTargets(const std::vector<IcecastTarget>& targets);
    void setNote(const QString& note);

    // "Speichern": the file's targets as the user left them. Returns an error text, empty on success.
    std::function<QString(const std::vector<IcecastTarget>&)> OnSave;

    QTreeWidget* Targets = nullptr;
    QLineEdit* Host = nullptr;
    QSpinBox* Port = nullptr;
    QLineEdit* Mount = nullptr;
    QLineEdit* User = nullptr;
    QLineEdit* Password = nullptr;
    QPushButton* AddBtn = nullptr;
    QPushButton* RemoveBtn = nullptr;
    QPushButton* SaveBtn = nullptr;
    QLabel* Note = nullptr;

private:
    void add();
    void remove();
    void save();
    void refill();

    std::vector<Row> commandLine_;
    std::vector<QString> fileStates_;
    std::vector<IcecastTarget> fileTargets_;
};
