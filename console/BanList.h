#pragma once
// TfrmBanList: the addresses banned for failed logins, with the time each ban ends and
// the failures that earned it. The host's report of a change refreshes it (through the
// main window); "차단 해제" lifts the selected ban at once.

#include <QDialog>
#include <QPushButton>
#include <QTreeWidget>

namespace nubo {

class TFtpHost;

class TfrmBanList : public QDialog {
    Q_OBJECT
public:
    explicit TfrmBanList(TFtpHost& host, QWidget* parent = nullptr);

    // --- controls ---
    QTreeWidget* BanBox; // address, end of the ban, failures
    QPushButton* cmdLift;
    QPushButton* cmdClose;

    // Rows afresh from the host; the selected address stays selected while banned.
    void Refresh();
    void cmdLiftClick();

private:
    TFtpHost& host_;
};

} // namespace nubo
