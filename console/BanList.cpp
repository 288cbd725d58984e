#include "console/BanList.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QVBoxLayout>

#include "console/QtText.h"
#include "host/FtpHost.h"

namespace nubo {

TfrmBanList::TfrmBanList(TFtpHost& host, QWidget* parent) : QDialog(parent), host_(host) {
    setObjectName("frmBanList");
    setWindowTitle(QStringLiteral("차단 목록"));

    BanBox = new QTreeWidget(this);
    BanBox->setObjectName("BanBox");
    BanBox->setRootIsDecorated(false);
    BanBox->setHeaderLabels({QStringLiteral("IP 주소"), QStringLiteral("차단 종료"), QStringLiteral("실패 횟수")});
    BanBox->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    cmdLift = new QPushButton(QStringLiteral("차단 해제"), this);
    cmdLift->setObjectName("cmdLift");
    cmdLift->setAutoDefault(false);
    cmdClose = new QPushButton(QStringLiteral("닫기"), this);
    cmdClose->setDefault(true);
    cmdClose->setObjectName("cmdClose");

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(cmdLift);
    buttons->addStretch();
    buttons->addWidget(cmdClose);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(BanBox, 1);
    layout->addLayout(buttons);
    resize(460, 320);

    connect(cmdLift, &QPushButton::clicked, this, &TfrmBanList::cmdLiftClick);
    connect(cmdClose, &QPushButton::clicked, this, &QDialog::close);
    connect(BanBox, &QTreeWidget::itemSelectionChanged, this,
            [this] { cmdLift->setEnabled(BanBox->currentItem() && BanBox->currentItem()->isSelected()); });
    Refresh();
}

void TfrmBanList::Refresh() {
    const QTreeWidgetItem* current = BanBox->currentItem();
    const QString selected = current && current->isSelected() ? current->text(0) : QString();
    BanBox->clear();
    for (const TBanRow& row : host_.BanRows()) {
        auto* item = new QTreeWidgetItem(BanBox, {Q(row.Address), Q(row.Ends), QString::number(row.Failures)});
        item->setTextAlignment(2, Qt::AlignRight | Qt::AlignVCenter);
        if (item->text(0) == selected) BanBox->setCurrentItem(item);
    }
    cmdLift->setEnabled(BanBox->currentItem() && BanBox->currentItem()->isSelected());
}

void TfrmBanList::cmdLiftClick() {
    const QTreeWidgetItem* item = BanBox->currentItem();
    if (!item || !item->isSelected()) return;
    host_.LiftBan(item->text(0).toStdString()); // the host's report refreshes the rows
    Refresh();                                  // also when the ban had ended meanwhile
}

} // namespace nubo
