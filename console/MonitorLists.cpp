#include "console/MonitorLists.h"
#include "console/QtText.h"

#include <QHeaderView>
#include <QPainter>
#include <QPixmap>
#include <unordered_map>

namespace nubo {

namespace {

struct TColumn {
    const char* Caption;
    int Width;
    bool Right = false;
};

// Width of a column whose width the window leaves at its default.
constexpr int kDefaultWidth = 50;

QTreeWidget* NewList(QWidget* parent, const char* name, std::initializer_list<TColumn> columns) {
    auto* list = new QTreeWidget(parent);
    list->setObjectName(name);
    list->setRootIsDecorated(false);
    list->setUniformRowHeights(true);
    list->setAllColumnsShowFocus(true);
    list->setSortingEnabled(false); // sorted on a click by the console's own compare
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setColumnCount(int(columns.size()));
    QStringList captions;
    for (const auto& c : columns) captions << QString::fromUtf8(c.Caption);
    list->setHeaderLabels(captions);
    int i = 0;
    for (const auto& c : columns) {
        list->setColumnWidth(i, c.Width);
        if (c.Right) list->headerItem()->setTextAlignment(i, Qt::AlignRight | Qt::AlignVCenter);
        ++i;
    }
    list->header()->setSectionsClickable(true);
    list->header()->setStretchLastSection(false);
    return list;
}

QTreeWidgetItem* NewRow(int id, const QStringList& texts) {
    auto* item = new QTreeWidgetItem(texts);
    item->setData(0, Qt::UserRole, id);
    return item;
}

// A closed padlock, drawn so that it looks the same with every icon theme.
const QIcon& LockIcon() {
    static const QIcon icon = [] {
        QPixmap pixmap(16, 16);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(QColor(0x60, 0x60, 0x60), 2));
        p.drawArc(QRectF(4.5, 1.5, 7, 9), 0, 180 * 16);
        p.drawLine(QPointF(4.5, 6), QPointF(4.5, 8));
        p.drawLine(QPointF(11.5, 6), QPointF(11.5, 8));
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0xd4, 0xa0, 0x17));
        p.drawRoundedRect(QRectF(2, 7, 12, 8), 1.5, 1.5);
        return QIcon(pixmap);
    }();
    return icon;
}

} // namespace

QTreeWidget* NewCurrentUserBox(QWidget* parent) {
    auto* list = NewList(parent, "Current_UserBox",
                         {{"번호", 40},
                          {"아이디", 120},
                          {"상태", kDefaultWidth},
                          {"연결시간", 100},
                          {"대기시간", 100},
                          {"접속 IP", 80},
                          {"Ratio", 50},
                          {"총 Up/Down 용량", 200},
                          {"암호화", 110}});
    list->header()->setSectionResizeMode(6, QHeaderView::Fixed); // minimum and maximum 50
    return list;
}

QTreeWidget* NewCurrentUpDownBox(QWidget* parent) {
    auto* list = NewList(parent, "Current_UpDownBox",
                         {{"C No", 45},
                          {"상태", 50},
                          {"파일", 300},
                          {"전송시간", 70},
                          {"남은시간", 70},
                          {"전송량(Byte)", 130, true},
                          {"속도(cps)", 80, true}});
    list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    return list;
}

QTreeWidget* NewUserBox(QWidget* parent) {
    auto* list = NewList(parent, "UserBox", {{"번호", 40}, {"아이디", 122}, {"IP 주소", 125}, {"접속시간", 120}});
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setContextMenuPolicy(Qt::CustomContextMenu);
    return list;
}

void FillCurrentUsers(QTreeWidget& list, const std::vector<TConnectionRow>& rows) {
    list.clear();
    for (const auto& r : rows) {
        // The column shows the protocol; the cipher is in its tooltip.
        const QString tls = Q(r.Encryption);
        auto* item = NewRow(r.ConnectionId,
                            {QString::number(r.ConnectionId), Q(r.User), Q(r.Status), Q(r.ConnectTime), Q(r.IdleTime),
                             Q(r.Address), Q(r.Ratio), Q(r.Totals), tls.section(QLatin1Char(','), 0, 0)});
        if (!tls.isEmpty()) {
            item->setIcon(kEncryptionColumn, LockIcon());
            item->setToolTip(kEncryptionColumn, tls);
        }
        list.addTopLevelItem(item);
    }
}

void FillTransfers(QTreeWidget& list, const std::vector<TTransferRow>& rows) {
    list.clear();
    for (const auto& r : rows) {
        auto* item = NewRow(r.ConnectionId, {QString::number(r.ConnectionId), Q(r.Status), Q(r.File), Q(r.TransferTime),
                                             Q(r.Remaining), Q(r.Bytes), Q(r.Speed)});
        item->setTextAlignment(5, Qt::AlignRight | Qt::AlignVCenter);
        item->setTextAlignment(6, Qt::AlignRight | Qt::AlignVCenter);
        list.addTopLevelItem(item);
    }
}

void SyncUserBox(QTreeWidget& list, const std::vector<TUserRow>& rows) {
    std::unordered_map<int, const TUserRow*> wanted;
    for (const auto& r : rows) wanted[r.ConnectionId] = &r;
    for (int i = list.topLevelItemCount() - 1; i >= 0; --i) {
        QTreeWidgetItem* item = list.topLevelItem(i);
        auto it = wanted.find(RowConnection(item));
        if (it == wanted.end()) {
            delete list.takeTopLevelItem(i);
            continue;
        }
        item->setText(1, Q(it->second->User));
        item->setText(2, Q(it->second->Address));
        item->setText(3, Q(it->second->LoginTime));
        wanted.erase(it);
    }
    for (const auto& r : rows)
        if (wanted.count(r.ConnectionId))
            list.addTopLevelItem(
                NewRow(r.ConnectionId, {QString::number(r.ConnectionId), Q(r.User), Q(r.Address), Q(r.LoginTime)}));
}

int RowConnection(const QTreeWidgetItem* item) {
    return item ? item->data(0, Qt::UserRole).toInt() : 0;
}

} // namespace nubo
