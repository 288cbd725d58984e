#pragma once
// The three report lists of the live monitor: their columns, and how the host's rows
// are put into them.

#include <QTreeWidget>
#include <vector>

#include "host/FtpHost.h"

namespace nubo {

// The column of Current_UserBox that marks an encrypted session with a lock.
inline constexpr int kEncryptionColumn = 8;
// The column of Current_UpDownBox that draws a download's progress as a bar.
inline constexpr int kProgressColumn = 5;
// Item data: the number a numeric column sorts by, and a download's percent (0-100;
// absent where no bar is drawn).
inline constexpr int kSortRole = Qt::UserRole + 1;
inline constexpr int kProgressRole = Qt::UserRole + 2;

// Current_UserBox, Current_UpDownBox and UserBox with their captions and widths.
QTreeWidget* NewCurrentUserBox(QWidget* parent);
QTreeWidget* NewCurrentUpDownBox(QWidget* parent);
QTreeWidget* NewUserBox(QWidget* parent);

// The lists are kept in place by connection number, so that the operator's sort and
// selection survive the host's refreshes: rows that went are removed (and with them
// their selection), rows that stay are relabelled, new rows are appended, and a list
// that was sorted is sorted again by the same column and order.
void SyncCurrentUsers(QTreeWidget& list, const std::vector<TConnectionRow>& rows);
void SyncTransfers(QTreeWidget& list, const std::vector<TTransferRow>& rows);
void SyncUserBox(QTreeWidget& list, const std::vector<TUserRow>& rows);

// The connection number of a row (0 for none).
int RowConnection(const QTreeWidgetItem* item);

} // namespace nubo
