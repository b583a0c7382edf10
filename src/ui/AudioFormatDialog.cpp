// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/AudioFormatDialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QListWidget>
#include <QVBoxLayout>

AudioFormatDialog::AudioFormatDialog(std::vector<vx::acm::FormatChoice> offered, const TAudioFormat& current,
                                     QWidget* parent)
    : QDialog(parent),
      offered_(std::move(offered)),
      codecs_(new QComboBox(this)),
      attributes_(new QListWidget(this)) {
    setWindowTitle(QStringLiteral("Sound Selection"));
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Format:"), codecs_);
    form->addRow(QStringLiteral("Attributes:"), attributes_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    for (const auto& c : offered_) {
        if (codecs_->findText(c.codec) < 0) {
            codecs_->addItem(c.codec);
        }
    }
    // Start on the current format: the same bytes, else the same kind, rate, channels and data rate.
    int start = -1;
    for (std::size_t i = 0; i < offered_.size() && start < 0; ++i) {
        if (offered_[i].format == current) {
            start = int(i);
        }
    }
    for (std::size_t i = 0; i < offered_.size() && start < 0; ++i) {
        const TAudioFormat& f = offered_[i].format;
        if (f.formatTag() == current.formatTag() && f.channels() == current.channels() &&
            f.samplesPerSec() == current.samplesPerSec() && f.avgBytesPerSec() == current.avgBytesPerSec()) {
            start = int(i);
        }
    }
    if (start >= 0) {
        codecs_->setCurrentText(offered_[std::size_t(start)].codec);
    }
    fillAttributes();
    if (start >= 0) {
        for (int row = 0; row < attributes_->count(); ++row) {
            if (attributes_->item(row)->data(Qt::UserRole).toInt() == start) {
                attributes_->setCurrentRow(row);
            }
        }
    }
    connect(codecs_, &QComboBox::currentTextChanged, this, [this] { fillAttributes(); });
    connect(attributes_, &QListWidget::itemDoubleClicked, this, &QDialog::accept);
}

void AudioFormatDialog::fillAttributes() {
    attributes_->clear();
    const QString codec = codecs_->currentText();
    for (std::size_t i = 0; i < offered_.size(); ++i) {
        if (offered_[i].codec == codec) {
            auto* item = new QListWidgetItem(offered_[i].attributes, attributes_);
            item->setData(Qt::UserRole, int(i));
        }
    }
    if (attributes_->count() > 0) {
        attributes_->setCurrentRow(0);
    }
}

std::optional<TAudioFormat> AudioFormatDialog::chosenFormat() const {
    const QListWidgetItem* item = attributes_->currentItem();
    if (item == nullptr) {
        return std::nullopt;
    }
    return offered_[std::size_t(item->data(Qt::UserRole).toInt())].format;
}
