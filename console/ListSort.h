#pragma once
// Sorting of the monitor lists on a column click. The three lists share one descending
// flag per column position, so a click on column 2 of one list continues the direction
// that column 2 of another list left. A number column (numbers, times, sizes, speeds)
// puts the larger first while its flag is clear; a text column is in the locale's order.
// The list keeps the column and order in its header (with the sort arrow), and the
// monitor's refreshes sort again by them.

#include <array>
#include <cstddef>

class QTreeWidget;

namespace nubo {

enum class TMonitorList { CurrentUsers, Users, Transfers };

class TListSorter {
public:
    static constexpr int kColumns = 9;

    // Sorts the list by the column, then flips that column position's flag.
    void ColumnClick(QTreeWidget& list, TMonitorList which, int column);

    bool Descending(int column) const { return column >= 0 && column < kColumns && desc_[std::size_t(column)]; }
    // Whether the column sorts by number rather than by text.
    static bool NumberColumn(TMonitorList which, int column);

private:
    std::array<bool, kColumns> desc_{};
};

} // namespace nubo
