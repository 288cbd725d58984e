#pragma once
// Sorting of the monitor lists on a column click. The three lists share one compare
// mode and one descending flag per column position, so a click on column 2 of one
// list continues the direction that column 2 of another list left.

#include <QString>
#include <array>

class QTreeWidget;

namespace nubo {

enum class TMonitorList { CurrentUsers, Users, Transfers };

class TListSorter {
public:
    static constexpr int kColumns = 9;

    // Sorts the list by the column, then flips that column position's flag.
    void ColumnClick(QTreeWidget& list, TMonitorList which, int column);

    bool NumberMode() const { return numbers_; }
    bool Descending(int column) const { return column >= 0 && column < kColumns && desc_[size_t(column)]; }

    // <0, 0, >0: the order of a before b. Number mode puts the larger first while the
    // flag is clear; a text that is not a whole number counts as 0, and two such texts
    // are equal. Text mode is the locale's order.
    static int Compare(const QString& a, const QString& b, bool numbers, bool descending);

private:
    bool numbers_ = false;
    std::array<bool, kColumns> desc_{};
};

} // namespace nubo
