#include "console/DetailPanel.h"
#include "console/QtText.h"

#include <QFormLayout>
#include <QGroupBox>
#include <QVBoxLayout>

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
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(4, 0, 0, 0);
    outer->setSpacing(2);

    auto* connection = new QGroupBox(QStringLiteral(" 연결상태 "), this);
    auto* f1 = new QFormLayout(connection);
    f1->setContentsMargins(6, 2, 6, 2);
    f1->setVerticalSpacing(1);
    f1->addRow(QStringLiteral("아이디 :"), txtusername = Value(connection, "txtusername"));
    f1->addRow(QStringLiteral("연결시간 :"), lblTime = Value(connection, "lblTime"));
    f1->addRow(QStringLiteral("대기시간 :"), lblIdle = Value(connection, "lblIdle"));
    outer->addWidget(connection);

    auto* transfer = new QGroupBox(QStringLiteral(" 전송상태 "), this);
    auto* f2 = new QFormLayout(transfer);
    f2->setContentsMargins(6, 2, 6, 2);
    f2->setVerticalSpacing(1);
    f2->addRow(QStringLiteral("상태 :"), lblStatus = Value(transfer, "lblStatus"));
    f2->addRow(QStringLiteral("전송시간 :"), lblSec = Value(transfer, "lblSec"));
    f2->addRow(QStringLiteral("속도 :"), lblKS = Value(transfer, "lblKS"));
    f2->addRow(QStringLiteral("전송량 :"), lblDown = Value(transfer, "lblDown"));
    f2->addRow(QStringLiteral("파일크기 :"), lblDownSize = Value(transfer, "lblDownSize"));
    Pourcent2 = new QProgressBar(transfer);
    Pourcent2->setObjectName("Pourcent2");
    Pourcent2->setRange(0, 100);
    Pourcent2->setMaximumHeight(14);
    f2->addRow(Pourcent2);
    outer->addWidget(transfer);

    auto* totals = new QGroupBox(QStringLiteral(" 전송크기 "), this);
    auto* f3 = new QFormLayout(totals);
    f3->setContentsMargins(6, 2, 6, 2);
    f3->setVerticalSpacing(1);
    f3->addRow(QStringLiteral("Upload (KB) :"), txtTotalUp = Value(totals, "txtTotalUp"));
    f3->addRow(QStringLiteral("Download (KB) :"), txtTotalDown = Value(totals, "txtTotalDown"));
    outer->addWidget(totals);

    txtFile = Value(this, "txtFile");
    txtFile->setMinimumWidth(10);
    outer->addWidget(txtFile);

    btn_disconnect = new QPushButton(QStringLiteral("접속 끊기"), this);
    btn_disconnect->setObjectName("btn_disconnect");
    btn_disconnect->setEnabled(false);
    outer->addWidget(btn_disconnect);
    outer->addStretch();
}

void TDetailPanel::Show(const TClientDetail& d) {
    txtusername->setText(Q(d.UserName));
    lblTime->setText(Q(d.Time));
    lblIdle->setText(Q(d.Idle));
    txtTotalUp->setText(Q(d.TotalUp));
    txtTotalDown->setText(Q(d.TotalDown));
    txtFile->setText(Q(d.File));
    ShowTransfer(d);
}

void TDetailPanel::ShowTransfer(const TClientDetail& d) {
    lblStatus->setText(Q(d.Status));
    lblSec->setText(Q(d.Seconds));
    lblKS->setText(Q(d.Speed));
    lblDown->setText(Q(d.Down));
    lblDownSize->setText(Q(d.DownSize));
    Pourcent2->setValue(d.Percent);
}

} // namespace nubo
