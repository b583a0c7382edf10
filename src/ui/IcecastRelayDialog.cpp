// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/IcecastRelayDialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTreeWidget>
#include <QVBoxLayout>

IcecastRelayDialog::IcecastRelayDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Icecast-Relays"));
    auto* layout = new QVBoxLayout(this);
    Targets = new QTreeWidget(this);
    Targets->setRootIsDecorated(false);
    Targets->setColumnCount(2);
    Targets->setHeaderLabels({QStringLiteral("Ziel"), QStringLiteral("Zustand")});
    Targets->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    Targets->setMinimumSize(560, 140);
    layout->addWidget(Targets);

    auto* form = new QFormLayout;
    Host = new QLineEdit(this);
    Host->setPlaceholderText(QStringLiteral("icecast.example.org"));
    Port = new QSpinBox(this);
    Port->setRange(1, 65535);
    Port->setValue(8000);
    Mount = new QLineEdit(QStringLiteral("/stream"), this);
    User = new QLineEdit(QStringLiteral("source"), this);
    Password = new QLineEdit(this);
    Password->setEchoMode(QLineEdit::Password);
    form->addRow(QStringLiteral("Server:"), Host);
    form->addRow(QStringLiteral("Port:"), Port);
    form->addRow(QStringLiteral("Mount:"), Mount);
    form->addRow(QStringLiteral("Benutzer:"), User);
    form->addRow(QStringLiteral("Passwort:"), Password);
    layout->addLayout(form);

    auto* buttons = new QHBoxLayout;
    AddBtn = new QPushButton(QStringLiteral("Hinzufügen"), this);
    RemoveBtn = new QPushButton(QStringLiteral("Entfernen"), this);
    SaveBtn = new QPushButton(QStringLiteral("Speichern"), this);
    buttons->addWidget(AddBtn);
    buttons->addWidget(RemoveBtn);
    buttons->addStretch();
    buttons->addWidget(SaveBtn);
    layout->addLayout(buttons);
    Note = new QLabel(this);
    Note->setWordWrap(true);
    layout->addWidget(Note);
    auto* close = new QDialogButtonBox(QDialogButtonBox::Close, this);
    layout->addWidget(close);

    connect(AddBtn, &QPushButton::clicked, this, [this] { add(); });
    connect(RemoveBtn, &QPushButton::clicked, this, [this] { remove(); });
    connect(SaveBtn, &QPushButton::clicked, this, [this] { save(); });
    connect(close, &QDialogButtonBox::rejected, this, &QDialog::close);
}

void IcecastRelayDialog::setStates(const std::vector<Row>& commandLine,
                                   const std::vector<QString>& fileStates) {
    commandLine_ = commandLine;
    fileStates_ = fileStates;
    refill();
}

void IcecastRelayDialog::setFileTargets(const std::vector<IcecastTarget>& targets) {
    fileTargets_ = targets;
    refill();
}

void IcecastRelayDialog::setNote(const QString& note) {
    Note->setText(note);
}

void IcecastRelayDialog::refill() {
    Targets->clear();
    for (const Row& row : commandLine_) {
        auto* item =
            new QTreeWidgetItem(Targets, {row.target + QStringLiteral("  (Kommandozeile)"), row.state});
        item->setFlags(item->flags() & ~Qt::ItemIsSelectable);
    }
    for (std::size_t i = 0; i < fileTargets_.size(); ++i) {
        // A target added or removed since the last save has no state of its own yet.
        const bool saved = fileStates_.size() == fileTargets_.size();
        new QTreeWidgetItem(Targets, {fileTargets_[i].displayName(), saved ? fileStates_[i] : QString()});
    }
}

void IcecastRelayDialog::add() {
    IcecastTarget target;
    target.host = Host->text().trimmed();
    target.port = Port->value();
    target.mount = Mount->text().trimmed();
    if (!target.mount.startsWith(QLatin1Char('/'))) {
        target.mount.prepend(QLatin1Char('/'));
    }
    target.user = User->text().trimmed();
    target.password = Password->text();
    try {
        // The same checks as a target on the command line or in the file.
        target = IcecastTarget::parse(target.toUrl());
    } catch (const EIcecastTarget& e) {
        setNote(QString::fromUtf8(e.what()));
        return;
    }
    fileTargets_.push_back(target);
    fileStates_.clear();
    Password->clear();
    setNote(QStringLiteral("Noch nicht gespeichert."));
    refill();
}

void IcecastRelayDialog::remove() {
    const int row = Targets->indexOfTopLevelItem(Targets->currentItem()) - int(commandLine_.size());
    if (row < 0 || row >= int(fileTargets_.size())) {
        return;
    }
    fileTargets_.erase(fileTargets_.begin() + row);
    fileStates_.clear();
    setNote(QStringLiteral("Noch nicht gespeichert."));
    refill();
}

void IcecastRelayDialog::save() {
    if (!OnSave) {
        return;
    }
    const QString error = OnSave(fileTargets_);
    if (!error.isEmpty()) {
        setNote(error);
    }
}
