// The console's own widgets: the shared sort state of the monitor lists and the
// drawing of colour runs into a log pane.
#include <QCoreApplication>
#include <QScrollBar>
#include <QTextBlock>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include "console/ListSort.h"
#include "console/LogPaneView.h"
#include "console/MonitorLists.h"

using namespace nubo;

namespace {

QStringList Column(const QTreeWidget& list, int column) {
    QStringList out;
    for (int i = 0; i < list.topLevelItemCount(); ++i) out << list.topLevelItem(i)->text(column);
    return out;
}

// Transfer rows whose connection numbers and speeds are given.
std::unique_ptr<QTreeWidget> Transfers(std::initializer_list<std::pair<int, const char*>> rows) {
    std::unique_ptr<QTreeWidget> list(NewCurrentUpDownBox(nullptr));
    std::vector<TTransferRow> v;
    for (auto [id, file] : rows) v.push_back({id, "Down", file, "00:00:01", "00:00:02", "1", "1.00 K/S"});
    FillTransfers(*list, v);
    return list;
}

} // namespace

TEST(ListSort, CompareModes) {
    struct Case {
        const char *a, *b;
        bool numbers, desc;
        int sign;
    } cases[] = {
        {"9", "10", true, false, 1},  // number mode: the larger first
        {"9", "10", true, true, -1},  // the flag reverses it
        {"9", "10", false, false, 1}, // text mode: "1" sorts before "9"
        {"abc", "abd", false, false, -1}, {"abc", "abd", false, true, 1},
        {"x", "y", true, false, 0}, // two texts that are not numbers are equal
        {"x", "3", true, false, 1}, // one number: the other counts as 0
        {"-2", "x", true, false, 1},      {"", "", false, false, 0},
    };
    for (const auto& c : cases) {
        const int r = TListSorter::Compare(QString::fromUtf8(c.a), QString::fromUtf8(c.b), c.numbers, c.desc);
        EXPECT_EQ((r > 0) - (r < 0), c.sign) << c.a << " vs " << c.b << " numbers=" << c.numbers << " desc=" << c.desc;
    }
}

TEST(ListSort, ClicksFlipSharedFlagsAndKeepModeForUnlistedColumns) {
    TListSorter sorter;
    auto list = Transfers({{3, "b.bin"}, {12, "c.bin"}, {7, "a.bin"}});

    sorter.ColumnClick(*list, TMonitorList::Transfers, 0); // number column: largest first
    EXPECT_EQ(Column(*list, 0), QStringList({"12", "7", "3"}));
    sorter.ColumnClick(*list, TMonitorList::Transfers, 0); // second click reverses
    EXPECT_EQ(Column(*list, 0), QStringList({"3", "7", "12"}));

    sorter.ColumnClick(*list, TMonitorList::Transfers, 2); // text column: ascending
    EXPECT_EQ(Column(*list, 2), QStringList({"a.bin", "b.bin", "c.bin"}));
    EXPECT_FALSE(sorter.NumberMode());

    // Column 2 of UserBox continues the flag that column 2 of the transfers left.
    std::unique_ptr<QTreeWidget> users(NewUserBox(nullptr));
    SyncUserBox(
        *users,
        {{1, "A", "127.0.0.1", "10:00:00"}, {2, "B", "127.0.0.3", "10:00:01"}, {3, "C", "127.0.0.2", "10:00:02"}});
    sorter.ColumnClick(*users, TMonitorList::Users, 2);
    EXPECT_EQ(Column(*users, 2), QStringList({"127.0.0.3", "127.0.0.2", "127.0.0.1"}));

    // Column 7 is in no table: the mode stays what the last click set (text).
    std::unique_ptr<QTreeWidget> current(NewCurrentUserBox(nullptr));
    FillCurrentUsers(*current, {{1, "a", "대기중", "", "", "", "1:1", "2 MB / 0 MB", ""},
                                {2, "b", "대기중", "", "", "", "1:1", "10 MB / 0 MB", ""}});
    sorter.ColumnClick(*current, TMonitorList::CurrentUsers, 7);
    EXPECT_FALSE(sorter.NumberMode());
    EXPECT_EQ(Column(*current, 7), QStringList({"10 MB / 0 MB", "2 MB / 0 MB"}));
}

TEST(ListSort, SortingKeepsTheSelectedRow) {
    TListSorter sorter;
    std::unique_ptr<QTreeWidget> users(NewUserBox(nullptr));
    SyncUserBox(*users, {{1, "A", "x", ""}, {2, "B", "y", ""}, {3, "C", "z", ""}});
    users->topLevelItem(1)->setSelected(true);
    sorter.ColumnClick(*users, TMonitorList::Users, 0);
    ASSERT_EQ(users->selectedItems().size(), 1);
    EXPECT_EQ(RowConnection(users->selectedItems().first()), 2);
}

TEST(MonitorLists, UserBoxKeepsOrderAndSelectionAcrossLoginsAndDisconnections) {
    std::unique_ptr<QTreeWidget> users(NewUserBox(nullptr));
    SyncUserBox(*users, {{1, "A", "x", "t1"}, {2, "B", "y", "t2"}, {3, "C", "z", "t3"}});
    TListSorter sorter;
    sorter.ColumnClick(*users, TMonitorList::Users, 0); // 3, 2, 1
    users->topLevelItem(2)->setSelected(true);          // connection 1
    SyncUserBox(*users, {{1, "A", "x", "t1"}, {3, "C", "z", "t3"}, {4, "D", "w", "t4"}});
    EXPECT_EQ(Column(*users, 0), QStringList({"3", "1", "4"}));
    ASSERT_EQ(users->selectedItems().size(), 1);
    EXPECT_EQ(RowConnection(users->selectedItems().first()), 1);
    EXPECT_EQ(users->headerItem()->text(1), QStringLiteral("아이디"));
    EXPECT_EQ(users->columnWidth(1), 122);
}

TEST(LogPaneView, DrawsRunsInTheirColoursOneBlockPerLine) {
    TLogPaneView pane;
    pane.AddLine({{0xEA990B, "["}, {0x000000, "12:00:00"}, {0x922309, "ALICE"}});
    pane.AddLine({}); // the empty line after the version lines
    pane.AddLine({{0x112233, "two\nlines\r"}});
    ASSERT_EQ(pane.LineCount(), 3);
    EXPECT_EQ(pane.LineText(0), QStringLiteral("[12:00:00ALICE"));
    EXPECT_EQ(pane.LineText(1), QString());
    EXPECT_EQ(pane.LineText(2), QStringLiteral("two?lines?")); // a client's line break stays inside

    // The colour of each run: walk the fragments of the first block.
    QTextBlock b = pane.document()->firstBlock();
    std::vector<std::pair<QString, QColor>> frags;
    for (auto it = b.begin(); !it.atEnd(); ++it)
        frags.emplace_back(it.fragment().text(), it.fragment().charFormat().foreground().color());
    ASSERT_EQ(frags.size(), 3u);
    EXPECT_EQ(frags[0].second, QColor(0xEA, 0x99, 0x0B));
    EXPECT_EQ(frags[2], std::make_pair(QStringLiteral("ALICE"), QColor(0x92, 0x23, 0x09)));

    pane.RemoveFirstLine();
    EXPECT_EQ(pane.LineCount(), 2);
    EXPECT_EQ(pane.LineText(0), QString());
    pane.ClearLines();
    EXPECT_EQ(pane.LineCount(), 0);
    pane.AddLine({{0, "next"}});
    EXPECT_EQ(pane.LineText(0), QStringLiteral("next")); // starts at the top again
    EXPECT_EQ(pane.document()->blockCount(), 1);
}

// A long line must not scroll the pane sideways: the next lines' starts stay in view.
TEST(LogPaneView, ALongLineKeepsTheBeginningsInView) {
    TLogPaneView pane;
    pane.resize(300, 200);
    pane.show();
    pane.AddLine({{0, "fingerprint " + std::string(400, 'A')}});
    pane.AddLine({{0, "short"}});
    QCoreApplication::processEvents();
    EXPECT_GT(pane.horizontalScrollBar()->maximum(), 0);
    EXPECT_EQ(pane.horizontalScrollBar()->value(), 0);
}
