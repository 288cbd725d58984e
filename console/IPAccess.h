#pragma once
// TfrmIPAccess: the address deny and allow lists. Both lists are edited in memory
// while the dialog is open and reach the settings file only through "저장/닫기" (or
// Escape); closing through the title bar throws the edits away. A save applies the
// edits, not the whole lists, so an address that a command added meanwhile is kept.

#include <QDialog>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <string>
#include <vector>

#include "console/IPAddressEdit.h"
#include "console/MessageBox.h"
#include "store/IniFile.h"

namespace nubo {

class TfrmIPAccess : public QDialog {
    Q_OBJECT
public:
    // configPath: ftp_config.ini. The lists are read on creation.
    explicit TfrmIPAccess(std::string configPath, QWidget* parent = nullptr);

    TShowMessage ShowMessage;

    // --- controls ---
    QRadioButton* RBDeny;
    QRadioButton* RBAllow;
    QListWidget* ListBox;
    TIPAddressEdit* txtIP;
    QPushButton* cmdAdd;
    QPushButton* cmdModify;
    QPushButton* cmdDelete;
    QPushButton* cmdCancel;

    // --- handlers ---
    void FormShow();
    void RBDenyClick();
    void RBAllowClick();
    void ListBoxClick();
    void cmdAddClick();
    void cmdModifyClick();
    void cmdDeleteClick();
    void cmdCancelClick();
    // The operator's additions and removals applied to the lists as the file holds them
    // now (another program's change made meanwhile stays); false when the file could not
    // be written.
    bool cmdOKClick();

    const std::vector<std::string>& DenyList() const { return deny_; }
    const std::vector<std::string>& AllowList() const { return allow_; }

protected:
    void keyPressEvent(QKeyEvent* e) override;

private:
    bool Acceptable(const QString& address);
    std::vector<std::string>& Chosen() { return RBAllow->isChecked() ? allow_ : deny_; }
    void ShowList();

    TIniFile config_;
    std::vector<std::string> deny_, allow_;
    std::vector<std::string> denyRead_, allowRead_; // as read when the dialog opened
};

} // namespace nubo
