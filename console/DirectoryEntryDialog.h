#pragma once
// Tfrm_Dir_edit: one directory entry of an account, its alias and its folder. It checks
// the entry against the account's other rows; the accounts dialog applies it.

#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <vector>

#include "console/DialogSeams.h"

namespace nubo {

enum class TDirEditMode { Add, Edit };

// A row of the accounts dialog's directory list as this dialog compares it.
struct TDirRow {
    QString Alias;
    QString Folder;
};

class Tfrm_Dir_edit : public QDialog {
    Q_OBJECT
public:
    // otherRows: every row of the list but the one edited (all of them when adding).
    Tfrm_Dir_edit(TDirEditMode mode, std::vector<TDirRow> otherRows, QWidget* parent);

    TDialogSeams Seams;
    QLineEdit* edit_dir_Alias;
    QLineEdit* edit_Dir_Path;
    QPushButton* bt_select_dir;
    QPushButton* bt_Dir_ok;

    // Closes with Accepted when the entry passes every check.
    void bt_Dir_okClick();
    void bt_select_dirClick();

private:
    void Refuse(const QString& text, QWidget* focus);
    std::vector<TDirRow> otherRows_;
};

} // namespace nubo
