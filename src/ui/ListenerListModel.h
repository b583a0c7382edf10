// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QAbstractTableModel>
#include <QString>

#include <cstdint>
#include <vector>

// The rows of the client list: one admitted listener each, address and client program, in the order the
// connections were accepted. Thousands of listeners cost one small row each, and a refresh touches only
// the rows that joined or left, so the view keeps its scroll position and its selection.
// Thread contract: window thread.
class ListenerListModel : public QAbstractTableModel {
    Q_OBJECT

public:
    struct Row {
        uint64_t id = 0;  // the connection's number; rows are kept in ascending order of it
        QString address;
        QString program;
    };

    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    void setHeaderLabels(const QString& address, const QString& program);
    QString headerLabel(int section) const { return section == 0 ? addressHeader_ : programHeader_; }
    const Row& row(int i) const { return rows_.at(std::size_t(i)); }

    // Makes the rows equal to `rows` (ascending ids) with as few insertions and removals as the
    // difference needs; a difference in many places is applied as one reset.
    void update(std::vector<Row> rows);
    void clear() { update({}); }

private:
    std::vector<Row> rows_;
    QString addressHeader_;
    QString programHeader_;
};
