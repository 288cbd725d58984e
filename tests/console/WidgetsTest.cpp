// The console's own widgets: the monitor lists (sorting, refreshes in place, units and
// progress), the detail panel and the drawing of colour runs into a log pane.
#include <QCoreApplication>
#include <QHeaderView>
#include <QPixmap>
#include <QScrollBar>
#include <QTextBlock>
#include <QTreeWidget>
#include <algorithm>
#include <gtest/gtest.h>

#include "console/DetailPanel.h"
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

QList<int> Selected(const QTreeWidget& list) {
    QList<int> ids;
    for (const auto* item : list.selectedItems()) ids << RowConnection(item);
    std::sort(ids.begin(), ids.end());
    return ids;
}

// A download of a file of size bytes, position of them sent, at speed bytes per second.
TTransferRow Download(int id, const char* file, int64_t position, int64_t size, double speed, int64_t seconds = 1) {
    TTransferRow r;
    r.ConnectionId = id;
    r.Status = "Down";
    r.File = file;
    r.Seconds = seconds;
    r.Remaining = speed > 0 ? int64_t(double(size - position) / speed) : 0;
    r.Position = position;
    r.Size = size;
    r.BytesPerSecond = speed;
    return r;
}

TConnectionRow Connection(int id, const char* user, int64_t connected, int64_t up, int64_t down) {
    TConnectionRow r;
    r.ConnectionId = id;
    r.User = user;
    r.Status = "대기중";
    r.ConnectSeconds = connected;
    r.Address = "127.0.0.1";
    r.Ratio = "1:1";
    r.TotalUp = up;
    r.TotalDown = down;
    return r;
}

} // namespace

TEST(ListSort, ClicksFlipSharedFlagsNumbersLargestFirstWithTheArrow) {
    TListSorter sorter;
    std::unique_ptr<QTreeWidget> list(NewCurrentUpDownBox(nullptr));
    SyncTransfers(*list, {Download(3, "b.bin", 0, 10, 2000), Download(12, "c.bin", 0, 10, 900),
                          Download(7, "a.bin", 0, 10, 1500000)});
    EXPECT_FALSE(list->header()->isSortIndicatorShown()); // the host's order until a click

    sorter.ColumnClick(*list, TMonitorList::Transfers, 0); // number column: largest first
    EXPECT_EQ(Column(*list, 0), QStringList({"12", "7", "3"}));
    EXPECT_TRUE(list->header()->isSortIndicatorShown());
    EXPECT_EQ(list->header()->sortIndicatorSection(), 0);
    EXPECT_EQ(list->header()->sortIndicatorOrder(), Qt::DescendingOrder);
    sorter.ColumnClick(*list, TMonitorList::Transfers, 0); // second click reverses
    EXPECT_EQ(Column(*list, 0), QStringList({"3", "7", "12"}));
    EXPECT_EQ(list->header()->sortIndicatorOrder(), Qt::AscendingOrder);

    // Speeds compare by their value, not by their text ("1.4 MB/s" < "1.9 KB/s" < "900 B/s").
    sorter.ColumnClick(*list, TMonitorList::Transfers, 6);
    EXPECT_EQ(Column(*list, 6), QStringList({"1.4 MB/s", "2 KB/s", "900 B/s"}));

    sorter.ColumnClick(*list, TMonitorList::Transfers, 2); // text column: ascending
    EXPECT_EQ(Column(*list, 2), QStringList({"a.bin", "b.bin", "c.bin"}));

    // Column 2 of UserBox continues the flag that column 2 of the transfers left.
    std::unique_ptr<QTreeWidget> users(NewUserBox(nullptr));
    SyncUserBox(
        *users,
        {{1, "A", "127.0.0.1", "10:00:00"}, {2, "B", "127.0.0.3", "10:00:01"}, {3, "C", "127.0.0.2", "10:00:02"}});
    sorter.ColumnClick(*users, TMonitorList::Users, 2);
    EXPECT_EQ(Column(*users, 2), QStringList({"127.0.0.3", "127.0.0.2", "127.0.0.1"}));

    // Totals are sizes: 10 MB sorts above 2 MB.
    std::unique_ptr<QTreeWidget> current(NewCurrentUserBox(nullptr));
    SyncCurrentUsers(*current, {Connection(1, "a", 5, 0, 2 << 20), Connection(2, "b", 5, 0, 10 << 20)});
    EXPECT_EQ(Column(*current, 7), QStringList({"0 B / 2 MB", "0 B / 10 MB"}));
    sorter.ColumnClick(*current, TMonitorList::CurrentUsers, 7);
    EXPECT_EQ(Column(*current, 7), QStringList({"0 B / 10 MB", "0 B / 2 MB"}));
}

TEST(ListSort, SortingKeepsTheSelectedRow) {
    TListSorter sorter;
    std::unique_ptr<QTreeWidget> users(NewUserBox(nullptr));
    SyncUserBox(*users, {{1, "A", "x", ""}, {2, "B", "y", ""}, {3, "C", "z", ""}});
    users->topLevelItem(1)->setSelected(true);
    sorter.ColumnClick(*users, TMonitorList::Users, 0);
    EXPECT_EQ(Selected(*users), QList<int>({2}));
}

// The one-second refreshes hand the rows in the host's order with new values; the
// operator's sort and selection hold, and a row that went takes its selection along.
TEST(MonitorLists, RefreshesKeepTheSortAndTheSelection) {
    TListSorter sorter;
    std::unique_ptr<QTreeWidget> transfers(NewCurrentUpDownBox(nullptr));
    SyncTransfers(*transfers, {Download(1, "a", 100, 1000, 100), Download(2, "b", 100, 1000, 300),
                               Download(3, "c", 100, 1000, 200)});
    sorter.ColumnClick(*transfers, TMonitorList::Transfers, 6); // fastest first: 2, 3, 1
    EXPECT_EQ(Column(*transfers, 0), QStringList({"2", "3", "1"}));
    transfers->topLevelItem(1)->setSelected(true); // connection 3
    transfers->setCurrentItem(transfers->topLevelItem(1), 0, QItemSelectionModel::NoUpdate);

    // Now 1 is fastest and 2 slowest, in another order, and 4 has started.
    SyncTransfers(*transfers, {Download(3, "c", 400, 1000, 250), Download(4, "d", 0, 1000, 260),
                               Download(2, "b", 300, 1000, 50), Download(1, "a", 900, 1000, 900)});
    EXPECT_EQ(Column(*transfers, 0), QStringList({"1", "4", "3", "2"}));
    EXPECT_EQ(Column(*transfers, 6), QStringList({"900 B/s", "260 B/s", "250 B/s", "50 B/s"}));
    EXPECT_EQ(Selected(*transfers), QList<int>({3}));
    EXPECT_EQ(RowConnection(transfers->currentItem()), 3);
    EXPECT_EQ(transfers->header()->sortIndicatorSection(), 6);

    SyncTransfers(*transfers, {Download(1, "a", 950, 1000, 900), Download(2, "b", 300, 1000, 50)});
    EXPECT_EQ(Column(*transfers, 0), QStringList({"1", "2"}));
    EXPECT_TRUE(Selected(*transfers).isEmpty()); // 3 went: nothing else is selected

    // The connections list likewise, sorted by its connection time.
    std::unique_ptr<QTreeWidget> current(NewCurrentUserBox(nullptr));
    SyncCurrentUsers(*current,
                     {Connection(1, "a", 9, 0, 0), Connection(2, "b", 80, 0, 0), Connection(3, "c", 10, 0, 0)});
    sorter.ColumnClick(*current, TMonitorList::CurrentUsers, 3); // longest first: 2, 3, 1
    current->topLevelItem(0)->setSelected(true);
    SyncCurrentUsers(*current,
                     {Connection(1, "a", 100, 0, 0), Connection(3, "c", 11, 0, 0), Connection(2, "b", 81, 0, 0)});
    EXPECT_EQ(Column(*current, 0), QStringList({"1", "2", "3"}));
    EXPECT_EQ(Column(*current, 3), QStringList({"0:01:40", "0:01:21", "0:00:11"}));
    EXPECT_EQ(Selected(*current), QList<int>({2}));
}

TEST(MonitorLists, UserBoxKeepsOrderAndSelectionAcrossLoginsAndDisconnections) {
    std::unique_ptr<QTreeWidget> users(NewUserBox(nullptr));
    SyncUserBox(*users, {{1, "A", "x", "t1"}, {2, "B", "y", "t2"}, {3, "C", "z", "t3"}});
    TListSorter sorter;
    sorter.ColumnClick(*users, TMonitorList::Users, 0); // 3, 2, 1
    users->topLevelItem(2)->setSelected(true);          // connection 1
    SyncUserBox(*users, {{1, "A", "x", "t1"}, {3, "C", "z", "t3"}, {4, "D", "w", "t4"}});
    EXPECT_EQ(Column(*users, 0), QStringList({"4", "3", "1"})); // still largest first
    EXPECT_EQ(Selected(*users), QList<int>({1}));
    EXPECT_EQ(users->headerItem()->text(1), QStringLiteral("아이디"));
    EXPECT_EQ(users->columnWidth(1), 122);
}

// One rule of units for downloads and uploads; a download draws a bar, an upload
// (whose whole is unknown) shows what arrived.
TEST(MonitorLists, TransfersShowUnitsAndProgress) {
    std::unique_ptr<QTreeWidget> list(NewCurrentUpDownBox(nullptr));
    TTransferRow up;
    up.ConnectionId = 2;
    up.Upload = true;
    up.Status = "Up";
    up.File = "/srv/in/big.iso";
    up.Seconds = 3723;
    up.Position = 4026531840;
    up.BytesPerSecond = 117754675.2;
    SyncTransfers(*list, {Download(1, "/srv/down/file", 13722, 1258291, 870400, 48), up});

    QTreeWidgetItem* d = list->topLevelItem(0);
    EXPECT_EQ(d->text(2), QStringLiteral("/srv/down/file"));
    EXPECT_EQ(d->toolTip(2), QStringLiteral("/srv/down/file"));
    EXPECT_EQ(d->text(3), QStringLiteral("0:00:48"));
    EXPECT_EQ(d->text(4), QStringLiteral("0:00:01"));
    EXPECT_EQ(d->text(5), QStringLiteral("13.4 KB / 1.2 MB"));
    EXPECT_EQ(d->data(kProgressColumn, kProgressRole), QVariant(1));
    EXPECT_EQ(d->toolTip(5), QStringLiteral("13,722 / 1,258,291 바이트 (1%)"));
    EXPECT_EQ(d->text(6), QStringLiteral("850 KB/s"));

    QTreeWidgetItem* u = list->topLevelItem(1);
    EXPECT_EQ(u->text(3), QStringLiteral("1:02:03"));
    EXPECT_EQ(u->text(4), QStringLiteral("-:--:--"));
    EXPECT_EQ(u->text(5), QStringLiteral("3.75 GB"));
    EXPECT_FALSE(u->data(kProgressColumn, kProgressRole).isValid()); // no 0 % gauge
    EXPECT_EQ(u->toolTip(5), QStringLiteral("4,026,531,840 바이트 받음"));
    EXPECT_EQ(u->text(6), QStringLiteral("112.3 MB/s"));

    // The bar is drawn by the column's delegate; painting a row must not fail.
    list->resize(800, 200);
    QPixmap shot(list->size());
    list->render(&shot);
    EXPECT_NE(list->itemDelegateForColumn(kProgressColumn), list->itemDelegate());

    // A finished download of an empty file is complete, not 0 %.
    SyncTransfers(*list, {Download(1, "/srv/down/empty", 0, 0, 0)});
    EXPECT_EQ(list->topLevelItem(0)->data(kProgressColumn, kProgressRole), QVariant(100));
}

TEST(DetailPanel, AnUploadHasNoGauge) {
    TDetailPanel panel;
    TClientDetail d;
    d.Percent = 40;
    panel.Show(d);
    EXPECT_EQ(panel.Pourcent2->maximum(), 100);
    EXPECT_EQ(panel.Pourcent2->value(), 40);
    d.Percent = -1;
    d.Down = "3.75 GB";
    d.File = "/srv/in/big.iso";
    panel.Show(d);
    EXPECT_EQ(panel.Pourcent2->maximum(), 0); // runs without a measure
    EXPECT_EQ(panel.lblDown->text(), QStringLiteral("3.75 GB"));
    EXPECT_EQ(panel.txtFile->toolTip(), QStringLiteral("/srv/in/big.iso"));
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
