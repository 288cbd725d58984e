#pragma once
// Tfrm_User_Setup: the accounts of the user file, the selected account's settings, its
// directories and their permission letters. Every change of the selected account is
// written at once (there is no save button); the server reads the file afresh at the
// next login.

#include <QCheckBox>
#include <QDialog>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <functional>
#include <vector>

#include "console/AccountEditDialog.h"
#include "console/DialogSeams.h"
#include "console/DirectoryEntryDialog.h"
#include "console/LimitFields.h"
#include "store/UserFile.h"

namespace nubo {

class Tfrm_User_Setup : public QDialog {
    Q_OBJECT
public:
    Tfrm_User_Setup(TUserFile users, QWidget* parent);

    TDialogSeams Seams;

    // --- controls (object names as the dialog's components) ---
    QTreeWidget* User_List; // NO, 아이디
    QPushButton* bt_user_insert;
    QPushButton* bt_user_del;
    QPushButton* bt_user_copy;
    QPushButton* bt_user_edit;
    QGroupBox* BasicGroup;
    QLineEdit* edit_id;
    QLineEdit* edit_pwd;
    QLineEdit* edit_user_memo;
    QCheckBox* chkDisable;
    QGroupBox* DirGroup;
    QTreeWidget* Dir_list; // alias ("/" on the home row), folder, letters (hidden)
    QPushButton* bt_dir_insert;
    QPushButton* bt_dir_edit;
    QPushButton* bt_dir_del;
    QGroupBox* FileRights;
    QCheckBox* chkRead;
    QCheckBox* chkWrite;
    QCheckBox* chkRenFile;
    QCheckBox* chkDel;
    QGroupBox* DirRights;
    QCheckBox* chkMake;
    QCheckBox* chkRemove;
    QCheckBox* chkRendir; // shown only: no letter stores it
    QCheckBox* chkSubDir;
    QCheckBox* chkAccess;
    TLimitFields* Limits; // [ 연결 설정 ]

    // --- handlers ---
    void FormShow();
    void User_ListSelectItem();
    void bt_user_insertClick();
    void bt_user_copyClick();
    void bt_user_editClick();
    void bt_user_delClick();
    void Dir_listSelectItem();
    void chkReadMouseUp();
    void chkDisableMouseUp() { SaveAccount(); }
    void edit_user_memoKeyUp() { SaveAccount(); }
    void bt_dir_insertClick();
    void bt_dir_editClick();
    void bt_dir_delClick();

    // Writes the whole selected account: everything but the password.
    void SaveAccount();

protected:
    void showEvent(QShowEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    QWidget* BuildUserColumn();
    QWidget* BuildAccountColumn();
    QString SelectedId() const;
    QTreeWidgetItem* SelectedDir() const;
    bool HomeRowSelected() const;
    void AddDirRow(const TVirtualEntry& e);
    // Fills the list from the file and selects selectRow (kLastRow, kNoRow or a row).
    void ReloadUsers(int selectRow);
    // Runs the edit dialog prepared by prepare, then reloads and selects selectRow.
    void RunUserEdit(TUserEditMode mode, int selectRow, const std::function<void(Tfrm_user_setup_edit&)>& prepare);
    TUserFile::TAccount FieldsAccount() const;
    std::vector<TDirRow> DirRows(const QTreeWidgetItem* except) const;
    void ShowAccount(bool shown);
    void ShowEntry(const QTreeWidgetItem* row);

    TUserFile users_;
    // The selected account as last read or saved: a save writes only what differs.
    TUserFile::TAccount shown_;
    std::vector<TVirtualEntry> shownDirs_;
};

} // namespace nubo
