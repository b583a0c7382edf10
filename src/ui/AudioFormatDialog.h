// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/acm/Acm.h"

#include <QDialog>

#include <optional>
#include <vector>

class QComboBox;
class QListWidget;

// The station's format choice: a codec list, the attributes of that codec's formats below it, OK and
// Cancel. Opens on the entry matching the current format.
class AudioFormatDialog : public QDialog {
    Q_OBJECT

public:
    AudioFormatDialog(std::vector<vx::acm::FormatChoice> offered, const TAudioFormat& current,
                      QWidget* parent = nullptr);

    // The format of the selected entry; nothing when no entry is selected.
    std::optional<TAudioFormat> chosenFormat() const;

    QComboBox* codecBox() const { return codecs_; }
    QListWidget* attributeList() const { return attributes_; }

private:
    void fillAttributes();
    int currentIndex() const;

    std::vector<vx::acm::FormatChoice> offered_;
    QComboBox* codecs_;
    QListWidget* attributes_;
};
