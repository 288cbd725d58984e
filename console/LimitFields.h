#pragma once
// The limit and message fields that the accounts dialog and the account edit dialog
// share: simultaneous logins per ID and per address, idle time-out, download and upload
// speed limits, and the greeting and farewell texts.

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <array>

#include "store/UserFile.h"

namespace nubo {

class TLimitFields : public QGroupBox {
    Q_OBJECT
public:
    TLimitFields(const QString& caption, QWidget* parent);

    void Load(const TUserFile::TAccount& a);
    // Copies the fields as typed; Check first.
    void Store(TUserFile::TAccount& a) const;
    void Clear();
    // Marks each limit that is not a whole number within its range beside its field;
    // false when one is marked (nothing may then be saved).
    bool Check();

    QLineEdit* edit_MaxUser;
    QLineEdit* edit_MaxUserIP;
    QLineEdit* edit_Time_Out;
    QLineEdit* edit_MaxSpeed;
    QLineEdit* edit_MaxUpSpeed;
    QLineEdit* edit_EnterMessage;
    QLineEdit* edit_ExitMessage;
    // The error lines under MaxUser, MaxUserIP, Time-Out, MaxSpeed and MaxUpSpeed.
    std::array<QLabel*, 5> LimitErrors{};

signals:
    // A key typed into one of the editable fields.
    void Edited();
};

} // namespace nubo
