#pragma once
// TfrmSetupFTP: the server settings dialog. It edits section "Setup" of the settings
// file and the start at log-on; it saves on "저장" and again on every close, and then
// tells the operator that the changes need a restart.
//
// Fields that the server could not start with (a port outside 1..65535, a passive
// range that is reversed or leaves the port space, a negative user limit, an implicit
// TLS port that is the FTP port) are shown
// as errors beside them and nothing is saved; closing with such a field asks whether
// to throw the changes away.

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <string>

#include "console/AutoStart.h"
#include "console/MessageBox.h"
#include "store/LangText.h"
#include "store/Settings.h"

namespace nubo {

class TfrmSetupFTP : public QDialog {
    Q_OBJECT
public:
    // memory: the console's in-memory settings; lang: the message texts. Neither is
    // owned; both must outlive the dialog. The fields are loaded on creation.
    TfrmSetupFTP(TSettingsFile file, TSettings& memory, const TLangTexts& lang, TAutoStart autoStart,
                 QWidget* parent = nullptr);

    TShowMessage ShowMessage;
    TAskYesNo AskYesNo;
    // This run listens on a port given on the command line, not on the file's: say so
    // beside the port field. Empty: no such port.
    void SetRunPort(const QString& port);

    // --- controls ---
    QLineEdit* txtPort;
    QLineEdit* txtMaxUser;
    QLineEdit* txtLowPASV;
    QLineEdit* txtHighPASV;
    QLineEdit* txtPassiveAddress; // announced to clients outside the local network
    QLineEdit* txtEnterMessage;
    QLineEdit* txtExitMessage;
    QCheckBox* chkStart;
    QCheckBox* chkTray;
    QCheckBox* chkLog;
    QComboBox* cmbEncryption; // off, offered, required: the key's 0, 1, 2
    QLineEdit* txtImplicitPort;
    QLabel* lblCertificate; // the certificate's subject, validity and fingerprint, or why there is none
    QLabel* lblProtocol;    // the listening addresses and the protocol options that are on
    QPushButton* btn_save;
    QLabel* lblPortError;
    QLabel* lblRunPort; // shown when the command line chose this run's port
    QLabel* lblMaxUserError;
    QLabel* lblPASVError;
    QLabel* lblImplicitError;

    // --- handlers ---
    void FormShow();
    void txtPortChange();
    // Checks and writes the fields; false when a field is invalid or the file could
    // not be written (nothing is then reported as saved).
    bool btn_saveClick();
    // Every close saves; a field that cannot be saved asks first. False: stay open.
    bool FormCloseQuery();

    void done(int r) override;

private:
    std::optional<TSettingsFile::TDialogValues> CheckedValues();
    void ShowCertificate();

    TSettingsFile file_;
    TSettings& memory_;
    const TLangTexts& lang_;
    TAutoStart autoStart_;
};

} // namespace nubo
