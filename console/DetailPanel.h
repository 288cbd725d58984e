#pragma once
// The detail panel beside UserBox: one selected client's connection, transfer and
// totals, as the host computes them.

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QWidget>

#include "host/FtpHost.h"

namespace nubo {

class TDetailPanel : public QWidget {
    Q_OBJECT
public:
    explicit TDetailPanel(QWidget* parent = nullptr);

    void Show(const TClientDetail& d);
    // Only the transfer group, as after a disconnect request.
    void ShowTransfer(const TClientDetail& d);

    QLabel* txtusername;
    QLabel* lblTime;
    QLabel* lblIdle;
    QLabel* lblStatus;
    QLabel* lblSec;
    QLabel* lblKS;
    QLabel* lblDown;
    QLabel* lblDownSize;
    QProgressBar* Pourcent2;
    QLabel* txtTotalUp;
    QLabel* txtTotalDown;
    QLabel* txtFile;
    QPushButton* btn_disconnect;
};

} // namespace nubo
