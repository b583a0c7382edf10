// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/ListenerListModel.h"

namespace {

// More separate changes than this in one refresh and a reset is cheaper than the single edits, each of
// which moves the rows behind it.
constexpr int kMaxEdits = 64;

// The runs of rows to remove from or insert into `now` to make it `next`, or -1 when there are more than
// kMaxEdits.
int countEdits(const std::vector<ListenerListModel::Row>& now,
               const std::vector<ListenerListModel::Row>& next) {
    int edits = 0;
    std::size_t i = 0;
    std::size_t j = 0;
    int last = 0;  // 0 keep, 1 remove, 2 insert
    while (i < now.size() || j < next.size()) {
        int kind = 0;
        if (j == next.size() || (i < now.size() && now[i].id < next[j].id)) {
            kind = 1;
            ++i;
        } else if (i == now.size() || next[j].id < now[i].id) {
            kind = 2;
            ++j;
        } else {
            ++i;
            ++j;
        }
        if (kind != 0 && kind != last && ++edits > kMaxEdits) {
            return -1;
        }
        last = kind;
    }
    return edits;
}

}  // namespace

int ListenerListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(rows_.size());
}

int ListenerListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : 2;
}

QVariant ListenerListModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= rowCount()) {
        return {};
    }
    const Row& r = rows_[std::size_t(index.row())];
    return index.column() == 0 ? r.address : r.program;
}

QVariant ListenerListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal || section < 0 || section > 1) {
        return {};
    }
    return headerLabel(section);
}

void ListenerListModel::setHeaderLabels(const QString& address, const QString& program) {
    addressHeader_ = address;
    programHeader_ = program;
    emit headerDataChanged(Qt::Horizontal, 0, 1);
}

void ListenerListModel::update(std::vector<Row> next) {
    if (countEdits(rows_, next) < 0) {
        beginResetModel();
        rows_ = std::move(next);
        endResetModel();
        return;
    }
    // Walk both lists in id order; `at` is the position in rows_ as edited so far.
    std::size_t at = 0;
    std::size_t j = 0;
    while (at < rows_.size() || j < next.size()) {
        if (j == next.size() || (at < rows_.size() && rows_[at].id < next[j].id)) {
            std::size_t end = at;
            while (end < rows_.size() && (j == next.size() || rows_[end].id < next[j].id)) {
                ++end;
            }
            beginRemoveRows({}, int(at), int(end) - 1);
            rows_.erase(rows_.begin() + qsizetype(at), rows_.begin() + qsizetype(end));
            endRemoveRows();
        } else if (at == rows_.size() || next[j].id < rows_[at].id) {
            std::size_t end = j;
            while (end < next.size() && (at == rows_.size() || next[end].id < rows_[at].id)) {
                ++end;
            }
            beginInsertRows({}, int(at), int(at + (end - j)) - 1);
            rows_.insert(rows_.begin() + qsizetype(at), std::make_move_iterator(next.begin() + qsizetype(j)),
                         std::make_move_iterator(next.begin() + qsizetype(end)));
            endInsertRows();
            at += end - j;
            j = end;
        } else {
            if (rows_[at].program != next[j].program || rows_[at].address != next[j].address) {
                rows_[at] = std::move(next[j]);
                emit dataChanged(index(int(at), 0), index(int(at), 1));
            }
            ++at;
            ++j;
        }
    }
}
