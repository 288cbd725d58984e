#include "console/IPAccess.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QVBoxLayout>

#include "console/DialogSeams.h"
#include "console/QtText.h"
#include "store/AddressLists.h"

namespace nubo {

TfrmIPAccess::TfrmIPAccess(std::string configPath, QWidget* parent)
    : QDialog(parent), ShowMessage(MessageBoxOf(this)), AskYesNo(QuestionBoxOf(this)), config_(std::move(configPath)) {
    setObjectName("frmIPAccess");
    setWindowTitle(QStringLiteral("IP 별 접근제한 설정"));

    RBDeny = new QRadioButton(QStringLiteral("접속 제한"), this);
    RBDeny->setObjectName("RBDeny");
    RBAllow = new QRadioButton(QStringLiteral("접속 허용"), this);
    RBAllow->setObjectName("RBAllow");
    ListBox = new QListWidget(this);
    ListBox->setObjectName("ListBox");
    txtIP = new TIPAddressEdit(this);
    txtIP->setObjectName("txtIP");
    lblIPError = ErrorLabel("lblIPError", this);
    auto button = [this](const char* name, const QString& caption) {
        auto* b = new QPushButton(caption, this);
        b->setObjectName(name);
        b->setAutoDefault(false);
        return b;
    };
    cmdAdd = button("cmdAdd", QStringLiteral("추가"));
    cmdModify = button("cmdModify", QStringLiteral("수정"));
    cmdDelete = button("cmdDelete", QStringLiteral("삭제"));
    cmdCancel = button("cmdCancel", QStringLiteral("저장/닫기"));
    cmdAdd->setDefault(true); // Enter in the field adds the address

    auto* kinds = new QHBoxLayout;
    kinds->addWidget(RBDeny);
    kinds->addWidget(RBAllow);
    kinds->addStretch();
    auto* edits = new QHBoxLayout;
    edits->addWidget(txtIP, 1);
    for (QPushButton* b : {cmdAdd, cmdModify, cmdDelete}) edits->addWidget(b);
    auto* bottom = new QHBoxLayout;
    bottom->addStretch();
    bottom->addWidget(cmdCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(kinds);
    layout->addWidget(new QLabel(QStringLiteral("[ 접근제한 IP 리스트 ]"), this));
    layout->addWidget(ListBox, 1);
    layout->addLayout(edits);
    layout->addWidget(lblIPError);
    layout->addLayout(bottom);
    resize(380, 360);

    connect(RBDeny, &QRadioButton::clicked, this, &TfrmIPAccess::RBDenyClick);
    connect(RBAllow, &QRadioButton::clicked, this, &TfrmIPAccess::RBAllowClick);
    // A click or the arrow keys: the chosen entry goes into the address field.
    connect(ListBox, &QListWidget::itemSelectionChanged, this, &TfrmIPAccess::ListBoxClick);
    connect(cmdAdd, &QPushButton::clicked, this, &TfrmIPAccess::cmdAddClick);
    connect(cmdModify, &QPushButton::clicked, this, &TfrmIPAccess::cmdModifyClick);
    connect(cmdDelete, &QPushButton::clicked, this, &TfrmIPAccess::cmdDeleteClick);
    connect(cmdCancel, &QPushButton::clicked, this, &TfrmIPAccess::cmdCancelClick);
    connect(txtIP, &QLineEdit::textEdited, this, [this] { ShowError(lblIPError, {}); });
    ListBox->installEventFilter(this);
    FormShow();
}

void TfrmIPAccess::FormShow() {
    deny_ = ReadAddressList(config_, kDenySection);
    allow_ = ReadAddressList(config_, kAllowSection);
    denyRead_ = deny_;
    allowRead_ = allow_;
    RBDeny->setChecked(true);
    ShowList();
}

void TfrmIPAccess::ShowList() {
    ListBox->clear();
    for (const auto& a : Chosen()) ListBox->addItem(Q(a));
}

void TfrmIPAccess::RBDenyClick() {
    ShowList();
}

void TfrmIPAccess::RBAllowClick() {
    ShowList();
}

void TfrmIPAccess::ListBoxClick() {
    if (QListWidgetItem* item = ListBox->currentItem()) txtIP->setText(item->text());
}

bool TfrmIPAccess::Acceptable(const QString& address, int skip) {
    QString problem;
    if (!ValidAddressEntry(address.toStdString())) problem = QStringLiteral("올바른 주소가 아닙니다: ") + address;
    for (int i = 0; problem.isEmpty() && i < ListBox->count(); ++i)
        if (i != skip && ListBox->item(i)->text() == address)
            problem = QStringLiteral("이미 목록에 있는 주소입니다: ") + address;
    ShowError(lblIPError, problem);
    return problem.isEmpty();
}

void TfrmIPAccess::cmdAddClick() {
    const QString address = txtIP->Address();
    if (address.isEmpty() || !Acceptable(address)) return;
    Chosen().push_back(address.toStdString());
    ListBox->addItem(address);
    txtIP->clear();
}

void TfrmIPAccess::cmdModifyClick() {
    const int row = ListBox->currentRow();
    if (row < 0) return;
    const QString address = txtIP->Address();
    if (!Acceptable(address, row)) return;
    ListBox->item(row)->setText(address);
    Chosen()[size_t(row)] = address.toStdString();
    txtIP->clear();
}

void TfrmIPAccess::cmdDeleteClick() {
    const int row = ListBox->currentRow();
    if (row < 0) return;
    Chosen().erase(Chosen().begin() + row);
    delete ListBox->takeItem(row);
    txtIP->clear();
}

bool TfrmIPAccess::cmdOKClick() {
    try {
        SaveAddressListEdits(config_, denyRead_, deny_, allowRead_, allow_);
        // A second save applies only what changed after this one.
        denyRead_ = deny_;
        allowRead_ = allow_;
        return true;
    } catch (const EIniFileException& e) {
        ShowMessage(Q(e.what()), true);
        return false;
    }
}

void TfrmIPAccess::cmdCancelClick() {
    if (cmdOKClick()) accept();
}

void TfrmIPAccess::reject() {
    if (Edited() && AskYesNo(QStringLiteral("저장하지 않은 변경이 있습니다. 저장할까요?")) && !cmdOKClick()) return;
    QDialog::reject();
}

// Delete in the list removes the chosen entry, as "삭제" does.
bool TfrmIPAccess::eventFilter(QObject* watched, QEvent* e) {
    if (watched == ListBox && e->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(e)->key() == Qt::Key_Delete) {
        cmdDelete->click();
        return true;
    }
    return QDialog::eventFilter(watched, e);
}

} // namespace nubo
