#include "console/MonitorLists.h"
#include "console/QtText.h"

#include <QHeaderView>
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
                          {"총 Up/Down 용량", 200}});
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
    for (const auto& r : rows)
        list.addTopLevelItem(
            NewRow(r.ConnectionId, {QString::number(r.ConnectionId), Q(r.User), Q(r.Status), Q(r.ConnectTime),
                                    Q(r.IdleTime), Q(r.Address), Q(r.Ratio), Q(r.Totals)}));
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
