#pragma once
// TfrmIPAccess: the address deny and allow lists. Both lists are edited in memory
// while the dialog is open and reach the settings file through "저장/닫기"; Escape and
// the title bar's close ask first when there are unsaved edits. A save applies the
// edits, not the whole lists, so an address that a command added meanwhile is kept.

#include <QDialog>
#include <QLabel>
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
    TAskYesNo AskYesNo; // on closing with unsaved edits: save them?

    // --- controls ---
    QRadioButton* RBDeny;
    QRadioButton* RBAllow;
    QListWidget* ListBox;
    TIPAddressEdit* txtIP;
    QLabel* lblIPError; // why the typed address was refused
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
    bool Edited() const { return deny_ != denyRead_ || allow_ != allowRead_; }

    // Escape and the title bar's close: unsaved edits are saved or dropped as the
    // operator answers.
    void reject() override;

protected:
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    // Marks beside the field why address cannot stand in the chosen list (skip: the
    // row being modified); false then.
    bool Acceptable(const QString& address, int skip = -1);
    std::vector<std::string>& Chosen() { return RBAllow->isChecked() ? allow_ : deny_; }
    void ShowList();

    TIniFile config_;
    std::vector<std::string> deny_, allow_;
    std::vector<std::string> denyRead_, allowRead_; // as read when the dialog opened
};

} // namespace nubo
