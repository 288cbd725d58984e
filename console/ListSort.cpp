#include "console/ListSort.h"

#include <QTreeWidget>
#include <algorithm>
#include <vector>

namespace nubo {

namespace {

// Which columns compare as numbers (1), as text (0); -1 keeps the last mode.
int ColumnMode(TMonitorList which, int column) {
    switch (which) {
    case TMonitorList::CurrentUsers:
        return column == 0 || column == 2 ? 1 : column == 1 || column == 3 || column == 8 ? 0 : -1;
    case TMonitorList::Users: return column == 0 ? 1 : column >= 1 && column <= 3 ? 0 : -1;
    case TMonitorList::Transfers: return column == 0 || column == 6 ? 1 : column >= 1 && column <= 5 ? 0 : -1;
    }
    return -1;
}

} // namespace

int TListSorter::Compare(const QString& a, const QString& b, bool numbers, bool descending) {
    int r = 0;
    if (numbers) {
        bool okA = false, okB = false;
        const qlonglong x = a.toLongLong(&okA), y = b.toLongLong(&okB);
        if (okA || okB) {
            const qlonglong va = okA ? x : 0, vb = okB ? y : 0;
            r = va > vb ? -1 : va < vb ? 1 : 0;
        }
    } else {
        r = QString::localeAwareCompare(a, b);
    }
    return descending ? -r : r;
}

void TListSorter::ColumnClick(QTreeWidget& list, TMonitorList which, int column) {
    if (column < 0 || column >= kColumns) return;
    if (const int mode = ColumnMode(which, column); mode >= 0) numbers_ = mode == 1;

    QTreeWidgetItem* current = list.currentItem();
    std::vector<QTreeWidgetItem*> rows;
    std::vector<QTreeWidgetItem*> selected;
    for (auto* item : list.selectedItems()) selected.push_back(item);
    while (list.topLevelItemCount() > 0) rows.push_back(list.takeTopLevelItem(0));
    const bool numbers = numbers_, desc = desc_[size_t(column)];
    std::stable_sort(rows.begin(), rows.end(), [&](QTreeWidgetItem* a, QTreeWidgetItem* b) {
        return Compare(a->text(column), b->text(column), numbers, desc) < 0;
    });
    for (auto* item : rows) list.addTopLevelItem(item);
    if (current) list.setCurrentItem(current, 0, QItemSelectionModel::NoUpdate);
    for (auto* item : selected) item->setSelected(true);
    desc_[size_t(column)] = !desc_[size_t(column)];
}

} // namespace nubo
