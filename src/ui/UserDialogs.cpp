// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/UserDialogs.h"

#include "station/ConsoleReporter.h"

#include "ui/AudioFormatDialog.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QRegularExpression>

#include <cstdio>

void QtUserDialogs::showMessage(const QString& caption, const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok, QApplication::activeWindow());
    box.exec();
}

QString QtUserDialogs::getSaveFileName(const QString& title, const QString& filter,
                                       const QString& defaultExt) {
    QFileDialog dialog(QApplication::activeWindow(), title, QString(), filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    dialog.setDefaultSuffix(defaultExt.startsWith(QLatin1Char('.')) ? defaultExt.mid(1) : defaultExt);
    return dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()
               ? dialog.selectedFiles().first()
               : QString();
}

QString QtUserDialogs::getOpenFileName(const QString& title, const QString& filter) {
    QFileDialog dialog(QApplication::activeWindow(), title, QString(), filter);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::AnyFile);  // the file need not exist
    return dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()
               ? dialog.selectedFiles().first()
               : QString();
}

std::optional<TAudioFormat> QtUserDialogs::chooseAudioFormat(
    const TAudioFormat& current, const std::vector<vx::acm::FormatChoice>& offered) {
    AudioFormatDialog dialog(offered, current, QApplication::activeWindow());
    if (dialog.exec() != QDialog::Accepted) {
        return std::nullopt;
    }
    return dialog.chosenFormat();
}

QString HeadlessUserDialogs::oneLine(const QString& caption, const QString& text) {
    return ConsoleReporter::oneLine(caption, text);
}

void HeadlessUserDialogs::showMessage(const QString& caption, const QString& text) {
    ConsoleReporter::print(caption, text);
}
