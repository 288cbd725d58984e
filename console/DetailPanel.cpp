#include "console/DetailPanel.h"
#include "console/QtText.h"

#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>

namespace nubo {

namespace {

QLabel* Value(QWidget* parent, const char* name) {
    auto* l = new QLabel(parent);
    l->setObjectName(name);
    l->setTextFormat(Qt::PlainText); // client names are shown as text, never as markup
    return l;
}

} // namespace

TDetailPanel::TDetailPanel(QWidget* parent) : QWidget(parent) {
    // Two columns: the connection and its totals on the left, the transfer on the
    // right; the file and the disconnect button below both.
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(4, 0, 0, 0);
    grid->setSpacing(3);
    auto group = [this](const char* caption) {
        auto* g = new QGroupBox(QString::fromUtf8(caption), this);
        auto* f = new QFormLayout(g);
        f->setContentsMargins(6, 2, 6, 2);
        f->setVerticalSpacing(1);
        return std::make_pair(g, f);
    };

    auto [connection, f1] = group(" 연결상태 ");
    f1->addRow(QStringLiteral("아이디 :"), txtusername = Value(connection, "txtusername"));
    f1->addRow(QStringLiteral("연결시간 :"), lblTime = Value(connection, "lblTime"));
    f1->addRow(QStringLiteral("대기시간 :"), lblIdle = Value(connection, "lblIdle"));
    grid->addWidget(connection, 0, 0);

    auto [totals, f3] = group(" 전송크기 ");
    f3->addRow(QStringLiteral("Upload :"), txtTotalUp = Value(totals, "txtTotalUp"));
    f3->addRow(QStringLiteral("Download :"), txtTotalDown = Value(totals, "txtTotalDown"));
    grid->addWidget(totals, 1, 0);

    auto [transfer, f2] = group(" 전송상태 ");
    f2->addRow(QStringLiteral("상태 :"), lblStatus = Value(transfer, "lblStatus"));
    f2->addRow(QStringLiteral("전송시간 :"), lblSec = Value(transfer, "lblSec"));
    f2->addRow(QStringLiteral("속도 :"), lblKS = Value(transfer, "lblKS"));
    f2->addRow(QStringLiteral("전송량 :"), lblDown = Value(transfer, "lblDown"));
    f2->addRow(QStringLiteral("파일크기 :"), lblDownSize = Value(transfer, "lblDownSize"));
    Pourcent2 = new QProgressBar(transfer);
    Pourcent2->setObjectName("Pourcent2");
    Pourcent2->setRange(0, 100);
    Pourcent2->setMaximumHeight(16);
    f2->addRow(Pourcent2);
    grid->addWidget(transfer, 0, 1, 2, 1);

    txtFile = Value(this, "txtFile");
    txtFile->setMinimumWidth(10);
    btn_disconnect = new QPushButton(QStringLiteral("접속 끊기"), this);
    btn_disconnect->setObjectName("btn_disconnect");
    btn_disconnect->setEnabled(false);
    grid->addWidget(txtFile, 2, 0, 1, 2);
    grid->addWidget(btn_disconnect, 3, 1);
    grid->setRowStretch(4, 1);
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(1, 1);
}

void TDetailPanel::Show(const TClientDetail& d) {
    txtusername->setText(Q(d.UserName));
    lblTime->setText(Q(d.Time));
    lblIdle->setText(Q(d.Idle));
    txtTotalUp->setText(Q(d.TotalUp));
    txtTotalDown->setText(Q(d.TotalDown));
    txtFile->setText(Q(d.File));
    txtFile->setToolTip(Q(d.File));
    ShowTransfer(d);
}

void TDetailPanel::ShowTransfer(const TClientDetail& d) {
    lblStatus->setText(Q(d.Status));
    lblSec->setText(Q(d.Seconds));
    lblKS->setText(Q(d.Speed));
    lblDown->setText(Q(d.Down));
    lblDownSize->setText(Q(d.DownSize));
    // An upload's whole is not known: the bar runs without a measure, and the bytes
    // received are beside it.
    if (d.Percent < 0) {
        Pourcent2->setRange(0, 0);
    } else {
        Pourcent2->setRange(0, 100);
        Pourcent2->setValue(d.Percent);
    }
}

} // namespace nubo
