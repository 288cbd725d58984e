#pragma once
// Tfrm_user_setup_edit: adds, copies or edits one account's identity (ID, password,
// memo, home folder, limits and messages). Confirming is the only moment it writes.

#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QStringList>

#include "console/DialogSeams.h"
#include "console/LimitFields.h"
#include "store/UserFile.h"

namespace nubo {

enum class TUserEditMode { Add, Copy, Edit };

class Tfrm_user_setup_edit : public QDialog {
    Q_OBJECT
public:
    // listedIds: the accounts the list shows, for the check of a new ID.
    Tfrm_user_setup_edit(TUserFile users, TUserEditMode mode, QStringList listedIds, QWidget* parent);

    // Fills the fields (the limits and messages, memo, home and password).
    void Load(const QString& id, const TUserFile::TAccount& a);

    // Edit mode writes these back unchanged: the accounts dialog's disabled box and the
    // letters of the home row.
    bool UserDisable = false;
    std::string HomeLetters;

    TDialogSeams Seams;
    QLineEdit* edit_id;
    QLineEdit* edit_pwd;
    QLineEdit* edit_pwd_ok;
    QLineEdit* edit_user_memo;
    QLineEdit* edit_HomePath;
    QPushButton* bt_home_dir;
    TLimitFields* Limits;
    QPushButton* bt_ini_write;

    void bt_ini_writeClick();
    void bt_home_dirClick();

private:
    bool Check();
    void Refuse(const QString& text, QWidget* focus);
    // What the dialog will store for the typed password.
    std::string StoredPassword(const QString& id);
    TUserFile users_;
    TUserEditMode mode_;
    // The stored value the password fields were filled with: kept as it is when unchanged.
    QString loadedPassword_;
    // The account as Load filled the fields: an edit writes only what differs from it.
    TUserFile::TAccount loaded_;
    QStringList listedIds_;
};

} // namespace nubo
