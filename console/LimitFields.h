#pragma once
// The limit and message fields that the accounts dialog and the account edit dialog
// share: simultaneous logins per ID and per address, idle time-out, download and upload
// speed limits, and the greeting and farewell texts.

#include <QGroupBox>
#include <QLineEdit>

#include "store/UserFile.h"

namespace nubo {

class TLimitFields : public QGroupBox {
    Q_OBJECT
public:
    TLimitFields(const QString& caption, QWidget* parent);

    void Load(const TUserFile::TAccount& a);
    // Copies the fields as typed (no check of the values).
    void Store(TUserFile::TAccount& a) const;
    void Clear();

    QLineEdit* edit_MaxUser;
    QLineEdit* edit_MaxUserIP;
    QLineEdit* edit_Time_Out;
    QLineEdit* edit_MaxSpeed;
    QLineEdit* edit_MaxUpSpeed;
    QLineEdit* edit_EnterMessage;
    QLineEdit* edit_ExitMessage;

signals:
    // A key typed into one of the editable fields.
    void Edited();
};

} // namespace nubo
