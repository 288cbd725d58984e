#include "console/ListSort.h"

#include <QHeaderView>
#include <QTreeWidget>

namespace nubo {

bool TListSorter::NumberColumn(TMonitorList which, int column) {
    switch (which) {
    case TMonitorList::CurrentUsers: // number, connected, idle, totals
        return column == 0 || column == 3 || column == 4 || column == 7;
    case TMonitorList::Users: return column == 0;
    case TMonitorList::Transfers: // number, elapsed, remaining, bytes, speed
        return column == 0 || (column >= 3 && column <= 6);
    }
    return false;
}

void TListSorter::ColumnClick(QTreeWidget& list, TMonitorList which, int column) {
    if (column < 0 || column >= kColumns || column >= list.columnCount()) return;
    const bool desc = desc_[size_t(column)];
    // The rows compare in ascending order; a number column starts with the largest.
    const bool ascending = NumberColumn(which, column) == desc;
    list.header()->setSortIndicatorShown(true);
    list.sortItems(column, ascending ? Qt::AscendingOrder : Qt::DescendingOrder);
    desc_[size_t(column)] = !desc;
}

} // namespace nubo
