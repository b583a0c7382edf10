// SPDX-License-Identifier: GPL-3.0-or-later
// The client list's rows after joins, leaves and rebuilds: always exactly the rows a list rebuilt from
// scratch would show, announced to the view consistently, and rows that stayed keep their place.
#include "ui/ListenerListModel.h"

#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QPersistentModelIndex>

#include <random>

namespace {

using Row = ListenerListModel::Row;

Row listener(uint64_t id) {
    return {id, QStringLiteral("10.0.%1.%2").arg(id / 256).arg(id % 256),
            QStringLiteral("Player/%1").arg(id)};
}

void expectRows(const ListenerListModel& model, const std::vector<uint64_t>& ids) {
    ASSERT_EQ(model.rowCount(), int(ids.size()));
    for (int i = 0; i < model.rowCount(); ++i) {
        const Row expected = listener(ids[std::size_t(i)]);
        EXPECT_EQ(model.row(i).id, expected.id) << "row " << i;
        EXPECT_EQ(model.data(model.index(i, 0), Qt::DisplayRole).toString(), expected.address);
        EXPECT_EQ(model.data(model.index(i, 1), Qt::DisplayRole).toString(), expected.program);
    }
}

TEST(ListenerListModel, RandomJoinsAndLeavesAlwaysShowTheAdmittedListenersInOrder) {
    ListenerListModel model;
    // Fails the test on any inconsistent begin/end pair, row count or index the view would be told.
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    std::mt19937 random(7);
    std::vector<uint64_t> admitted;
    uint64_t nextId = 1;
    for (int tick = 0; tick < 300; ++tick) {
        // Some leave anywhere, some join at the end, and now and then one accepted earlier is admitted
        // late and lands between others; every 50th tick changes so much that the list is rebuilt.
        const int changes = tick % 50 == 49 ? 200 : int(random() % 6);
        for (int c = 0; c < changes; ++c) {
            const unsigned what = random() % 3;
            if (what == 0 && !admitted.empty()) {
                admitted.erase(admitted.begin() + long(random() % admitted.size()));
            } else if (what == 1) {
                admitted.push_back(nextId += 2);
            } else if (!admitted.empty()) {
                const uint64_t late =
                    admitted[random() % admitted.size()] + 1;  // odd ids are never used else
                if (std::find(admitted.begin(), admitted.end(), late) == admitted.end()) {
                    admitted.insert(std::upper_bound(admitted.begin(), admitted.end(), late), late);
                }
            }
        }
        std::vector<Row> rows;
        for (uint64_t id : admitted) {
            rows.push_back(listener(id));
        }
        model.update(std::move(rows));
        expectRows(model, admitted);
        if (HasFatalFailure() || HasFailure()) {
            FAIL() << "at tick " << tick;
        }
    }
}

TEST(ListenerListModel, ASmallChangeKeepsTheRowsThatStayedInTheirPlace) {
    ListenerListModel model;
    std::vector<Row> rows;
    for (uint64_t id = 1; id <= 1000; ++id) {
        rows.push_back(listener(id));
    }
    model.update(rows);
    const QPersistentModelIndex stays(model.index(700, 1));
    int resets = 0;
    QObject::connect(&model, &QAbstractItemModel::modelReset, [&] { ++resets; });
    rows.erase(rows.begin() + 10);   // one leaves
    rows.push_back(listener(2000));  // one joins
    model.update(rows);
    EXPECT_EQ(resets, 0);
    ASSERT_TRUE(stays.isValid()) << "the view lost its place in the list";
    EXPECT_EQ(stays.row(), 699);
    EXPECT_EQ(stays.data().toString(), QStringLiteral("Player/701"));
    model.clear();
    EXPECT_EQ(model.rowCount(), 0);
}

}  // namespace
