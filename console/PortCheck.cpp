#include "console/PortCheck.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMouseEvent>
#include <QScreen>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>

#include "online/MachineInfo.h"
#include "online/ReplySplit.h"

namespace nubo {

namespace {

const QString kBlocked = QStringLiteral("사용불가");
constexpr int kCheckedPorts = 9;

QTreeWidget* NewList(QWidget* parent, const char* name, const QStringList& columns, std::initializer_list<int> widths) {
    auto* list = new QTreeWidget(parent);
    list->setObjectName(name);
    list->setRootIsDecorated(false);
    list->setHeaderLabels(columns);
    int c = 0;
    for (int w : widths) list->setColumnWidth(c++, w);
    return list;
}

} // namespace

Tfrm_portcheck::Tfrm_portcheck(TWebService& web, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint), ShowMessage(MessageBoxOf(this)), web_(web) {
    setObjectName("frm_portcheck");
    setWindowTitle(QStringLiteral("포트체크"));
    setAttribute(Qt::WA_StyledBackground);
    // Without a frame of its own the window draws its edge.
    setStyleSheet(QStringLiteral("#frm_portcheck { border: 1px solid #7a8ca5; }"));

    auto* title = new QLabel(QStringLiteral("<b>포트체크</b>"), this);
    imgClose = new QToolButton(this);
    imgClose->setObjectName("imgClose");
    imgClose->setIcon(style()->standardIcon(QStyle::SP_TitleBarCloseButton));
    imgClose->setAutoRaise(true);
    auto* top = new QHBoxLayout;
    top->addWidget(title);
    top->addStretch();
    top->addWidget(imgClose);

    list_port_notice = NewList(this, "list_port_notice", {QStringLiteral("※ 필독 (반드시 확인 해야할 사항)")}, {});
    list_port_notice->setFixedHeight(84);
    List_Port =
        NewList(this, "List_Port", {QStringLiteral("PORT"), QStringLiteral("검사 결과"), QStringLiteral("포트 설명")},
                {45, 100, 250});
    bt_port_check = new QPushButton(QStringLiteral("PORT Check"), this);
    bt_port_check->setObjectName("bt_port_check");
    auto* legend = new QLabel(QStringLiteral("사용가능 : 외부에서 접속되며 사용중인 프로그램이 없습니다.\n"
                                             "서버실행중 : 외부에서 접속되며 서버가 실행중입니다.\n"
                                             "사용불가 : 외부에서 접속할 수 없도록 막혀 있습니다."),
                              this);
    lblStatus = new QLabel(this);
    lblStatus->setObjectName("lblStatus");
    lblStatus->setWordWrap(true);
    lblStatus->setStyleSheet(QStringLiteral("color: #b00000;"));
    lblStatus->hide();
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(legend, 1);
    bottom->addWidget(bt_port_check);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(list_port_notice);
    layout->addWidget(List_Port, 1);
    layout->addWidget(lblStatus);
    layout->addLayout(bottom);
    resize(430, 440);

    connect(imgClose, &QToolButton::clicked, this, &QWidget::close);
    connect(bt_port_check, &QPushButton::clicked, this, &Tfrm_portcheck::bt_port_checkClick);
}

QString Tfrm_portcheck::PortDescription(const QString& port) {
    bool ok = false;
    switch (port.toInt(&ok)) {
    case 20: return QStringLiteral("FTP DATA Port (FTP포트로 설정하면 안됨)");
    case 21: return QStringLiteral("FTP 기본 Port");
    case 25: return QStringLiteral("메일 포트(사용불가시 Mail Server 안됨)");
    case 80: return QStringLiteral("웹서버 기본포트");
    case 2020: return QStringLiteral("FTP 예비포트");
    case 5800:
    case 5900: return QStringLiteral("원격제어 포트");
    case 8000:
    case 9100: return QStringLiteral("웹서버 예비포트");
    default: return QString();
    }
}

QString Tfrm_portcheck::PortDescription(const QString& port, const TServerPorts& own) {
    bool ok = false;
    const int p = port.toInt(&ok);
    if (ok && own.Control != 0 && p == own.Control) return QStringLiteral("이 서버의 FTP 포트");
    if (ok && own.Low != 0 && p >= own.Low && p < own.High) return QStringLiteral("이 서버의 Passive 포트");
    return PortDescription(port);
}

void Tfrm_portcheck::showEvent(QShowEvent* e) {
    QWidget::showEvent(e);
    if (!placed_ && screen()) {
        placed_ = true; // centred once; afterwards it stays where it was dragged
        move(screen()->availableGeometry().center() - rect().center());
    }
    // The online call waits; let the window appear first.
    if (!e->spontaneous()) QTimer::singleShot(0, this, &Tfrm_portcheck::FormShow);
}

void Tfrm_portcheck::ShowStatus(const QString& text) {
    lblStatus->setText(text);
    lblStatus->setVisible(!text.isEmpty());
}

void Tfrm_portcheck::FormShow() {
    list_port_notice->clear();
    List_Port->clear();
    // Without the service nothing can be checked; say so instead of an empty list.
    const bool service = !web_.BaseAddress().isEmpty();
    bt_port_check->setEnabled(service);
    ShowStatus(service ? QString()
                       : QStringLiteral("포트 검사 서비스의 주소가 설정되어 있지 않아 검사할 수 없습니다 "
                                        "(ftp_config.ini [Setup]의 ServiceURL)."));
    if (!service) return;
    localAddress_ = LocalAddress();
    publicAddress_ = web_.PublicAddress();
    if (!AddressesDiffer()) return;
    for (const QString& text : {QStringLiteral("공유기에서 ") + localAddress_ + QStringLiteral("로 DMZ설정을 해주세요"),
                                QStringLiteral("공유기가 없으면 네트워크관리자에게 문의하여"),
                                QStringLiteral("아래 포트중 사용하고자 하는 포트를 넘겨 받으십시요")}) {
        auto* item = new QTreeWidgetItem(list_port_notice, {text});
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(0, Qt::Unchecked);
    }
}

void Tfrm_portcheck::bt_port_checkClick() {
    bt_port_check->setEnabled(false);
    List_Port->clear();
    if (AddressesDiffer()) {
        for (int i = 0; i < list_port_notice->topLevelItemCount(); ++i)
            if (list_port_notice->topLevelItem(i)->checkState(0) != Qt::Checked) {
                ShowMessage(QStringLiteral("아래 필독사항을 확인하신 후 모두 체크후 클릭해주세요"), false);
                bt_port_check->setEnabled(true);
                return;
            }
    }
    const TServerPorts own = ServerPorts ? ServerPorts() : TServerPorts{};
    QStringList asked;
    if (own.Control != 0) asked << QString::number(own.Control);
    if (own.Low != 0 && own.High > own.Low)
        asked << QString::number(own.Low) + (own.High - 1 > own.Low ? "-" + QString::number(own.High - 1) : QString());
    // The record after the final ";" is not shown.
    const QString reply = web_.PortCheck(asked.join(u','));
    ShowStatus(reply == kConnectFail ? QStringLiteral("포트 검사 서비스에 연결할 수 없습니다: ") + web_.BaseAddress()
                                     : QString());
    const QStringList records = SplitReply(reply, u';');
    int blocked = 0;
    for (qsizetype i = 0; i + 1 < records.size(); ++i) {
        const qsizetype bar = records[i].indexOf(u'|');
        if (bar <= 0) continue; // no "|", or no port before it
        const QString port = records[i].left(bar), result = records[i].mid(bar + 1);
        new QTreeWidgetItem(List_Port, {port, result, PortDescription(port, own)});
        blocked += result == kBlocked;
        QCoreApplication::processEvents();
    }
    if (blocked == kCheckedPorts)
        ShowMessage(QStringLiteral("모든포트가 막혀있습니다.\r\r\r공유기를 사용하여 사설ip 대역대 "
                                   "사용자인 경우\r\r공유기에서 내컴퓨터로 DMZ설정을 하지 "
                                   "않았거나\r\r공유기가 없으면 사설ip 사용자로 "
                                   "네트워크관리자\r\r에게 문의하여 해당 포트들을 열어야 "
                                   "합니다.\r\r\r사설ip 예 : 192.168.xxx.xxx"),
                    false);
    bt_port_check->setEnabled(true);
}

void Tfrm_portcheck::mousePressEvent(QMouseEvent* e) {
    dragOffset_ = e->globalPosition().toPoint() - frameGeometry().topLeft();
}

void Tfrm_portcheck::mouseMoveEvent(QMouseEvent* e) {
    if (e->buttons() & Qt::LeftButton) move(e->globalPosition().toPoint() - dragOffset_);
}

} // namespace nubo
