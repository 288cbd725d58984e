#pragma once
// The three report lists of the live monitor: their columns, and how the host's rows
// are put into them.

#include <QTreeWidget>
#include <vector>

#include "host/FtpHost.h"

namespace nubo {

// The column of Current_UserBox that marks an encrypted session with a lock.
inline constexpr int kEncryptionColumn = 8;

// Current_UserBox, Current_UpDownBox and UserBox with their captions and widths.
QTreeWidget* NewCurrentUserBox(QWidget* parent);
QTreeWidget* NewCurrentUpDownBox(QWidget* parent);
QTreeWidget* NewUserBox(QWidget* parent);

// The two lists that the timers rebuild: emptied and filled in the host's order.
void FillCurrentUsers(QTreeWidget& list, const std::vector<TConnectionRow>& rows);
void FillTransfers(QTreeWidget& list, const std::vector<TTransferRow>& rows);
// UserBox changes by logins and disconnections only, so its rows are kept where the
// operator sorted them: gone rows go, new rows are appended, the others relabelled.
void SyncUserBox(QTreeWidget& list, const std::vector<TUserRow>& rows);

// The connection number of a row (0 for none).
int RowConnection(const QTreeWidgetItem* item);

} // namespace nubo
