#include "console/MonitorLists.h"
#include "console/QtText.h"
#include "host/Units.h"

#include <QApplication>
#include <QHeaderView>
#include <QPainter>
#include <QPixmap>
#include <QStyledItemDelegate>
#include <functional>
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

// A row that sorts a column by its number where it has one, by the locale's text order
// otherwise.
class TMonitorItem : public QTreeWidgetItem {
public:
    using QTreeWidgetItem::QTreeWidgetItem;
    bool operator<(const QTreeWidgetItem& other) const override {
        const int column = treeWidget() ? treeWidget()->sortColumn() : 0;
        const QVariant a = data(column, kSortRole), b = other.data(column, kSortRole);
        if (a.isValid() && b.isValid()) return a.toDouble() < b.toDouble();
        return QString::localeAwareCompare(text(column), other.text(column)) < 0;
    }
};

// Draws a download's progress as a bar behind its text; other cells as usual.
class TProgressDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        const QVariant percent = index.data(kProgressRole);
        if (!percent.isValid()) {
            QStyledItemDelegate::paint(painter, option, index);
            return;
        }
        QStyleOptionViewItem cell = option;
        initStyleOption(&cell, index);
        QStyle* style = cell.widget ? cell.widget->style() : QApplication::style();
        cell.text.clear(); // the bar writes it
        style->drawControl(QStyle::CE_ItemViewItem, &cell, painter, cell.widget);

        QStyleOptionProgressBar bar;
        bar.initFrom(cell.widget);
        bar.rect = option.rect.adjusted(1, 1, -1, -1);
        bar.minimum = 0;
        bar.maximum = 100;
        bar.progress = std::clamp(percent.toInt(), 0, 100);
        bar.text = index.data(Qt::DisplayRole).toString();
        bar.textVisible = true;
        bar.textAlignment = Qt::AlignCenter;
        bar.state = cell.state | QStyle::State_Horizontal;
        style->drawControl(QStyle::CE_ProgressBar, &bar, painter, cell.widget);
    }
};

QTreeWidget* NewList(QWidget* parent, const char* name, std::initializer_list<TColumn> columns) {
    auto* list = new QTreeWidget(parent);
    list->setObjectName(name);
    list->setRootIsDecorated(false);
    list->setUniformRowHeights(true);
    list->setAllColumnsShowFocus(true);
    list->setSortingEnabled(false); // sorted on a click by the console's own sorter
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

// Sets a cell's text and, for a numeric column, the number it sorts by. Only what
// changed is set, so an unchanged row costs the view nothing.
void SetCell(QTreeWidgetItem& item, int column, const QString& text) {
    if (item.text(column) != text) item.setText(column, text);
}
void SetCell(QTreeWidgetItem& item, int column, const QString& text, double key) {
    SetCell(item, column, text);
    if (item.data(column, kSortRole) != QVariant(key)) item.setData(column, kSortRole, key);
}

// The common part of the three lists: keep, relabel, remove and append rows by
// connection number, then sort again as the operator last sorted.
template <class Row>
void SyncRows(QTreeWidget& list, const std::vector<Row>& rows,
              const std::function<void(QTreeWidgetItem&, const Row&)>& fill) {
    std::unordered_map<int, const Row*> wanted;
    for (const auto& r : rows) wanted[r.ConnectionId] = &r;
    for (int i = list.topLevelItemCount() - 1; i >= 0; --i) {
        QTreeWidgetItem* item = list.topLevelItem(i);
        auto it = wanted.find(RowConnection(item));
        if (it == wanted.end()) {
            delete list.takeTopLevelItem(i);
            continue;
        }
        fill(*item, *it->second);
        wanted.erase(it);
    }
    for (const auto& r : rows) {
        if (!wanted.count(r.ConnectionId)) continue;
        auto* item = new TMonitorItem();
        item->setData(0, Qt::UserRole, r.ConnectionId);
        fill(*item, r);
        list.addTopLevelItem(item);
    }
    if (list.header()->isSortIndicatorShown()) list.sortItems(list.sortColumn(), list.header()->sortIndicatorOrder());
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

QString Size(int64_t bytes) {
    return Q(FormatSize(bytes));
}
QString Duration(int64_t seconds) {
    return Q(FormatDuration(seconds));
}
QString Bytes(int64_t n) {
    return Q(FormatThousands(n));
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
                          {"전송량", 130, true},
                          {"속도", 80, true}});
    list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list->setItemDelegateForColumn(kProgressColumn, new TProgressDelegate(list));
    // A long path keeps its file name in view; the whole path is in the tooltip.
    list->setTextElideMode(Qt::ElideMiddle);
    return list;
}

QTreeWidget* NewUserBox(QWidget* parent) {
    auto* list = NewList(parent, "UserBox", {{"번호", 40}, {"아이디", 122}, {"IP 주소", 125}, {"접속시간", 120}});
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setContextMenuPolicy(Qt::CustomContextMenu);
    return list;
}

void SyncCurrentUsers(QTreeWidget& list, const std::vector<TConnectionRow>& rows) {
    SyncRows<TConnectionRow>(list, rows, [](QTreeWidgetItem& item, const TConnectionRow& r) {
        SetCell(item, 0, QString::number(r.ConnectionId), r.ConnectionId);
        SetCell(item, 1, Q(r.User));
        SetCell(item, 2, Q(r.Status));
        SetCell(item, 3, Duration(r.ConnectSeconds), double(r.ConnectSeconds));
        SetCell(item, 4, Duration(r.IdleSeconds), double(r.IdleSeconds));
        SetCell(item, 5, Q(r.Address));
        SetCell(item, 6, Q(r.Ratio));
        SetCell(item, 7, Size(r.TotalUp) + QStringLiteral(" / ") + Size(r.TotalDown), double(r.TotalUp + r.TotalDown));
        // The column shows the protocol; the cipher is in its tooltip.
        const QString tls = Q(r.Encryption);
        SetCell(item, kEncryptionColumn, tls.section(QLatin1Char(','), 0, 0));
        if (item.toolTip(kEncryptionColumn) != tls) {
            item.setIcon(kEncryptionColumn, tls.isEmpty() ? QIcon() : LockIcon());
            item.setToolTip(kEncryptionColumn, tls);
        }
    });
}

void SyncTransfers(QTreeWidget& list, const std::vector<TTransferRow>& rows) {
    SyncRows<TTransferRow>(list, rows, [](QTreeWidgetItem& item, const TTransferRow& r) {
        SetCell(item, 0, QString::number(r.ConnectionId), r.ConnectionId);
        SetCell(item, 1, Q(r.Status));
        SetCell(item, 2, Q(r.File));
        if (item.toolTip(2) != Q(r.File)) item.setToolTip(2, Q(r.File));
        SetCell(item, 3, Duration(r.Seconds), double(r.Seconds));
        SetCell(item, 4, Duration(r.Remaining), double(r.Remaining));
        // A download shows done / whole on a bar; an upload, whose whole is unknown,
        // shows what arrived so far.
        const bool known = !r.Upload && r.Size >= 0;
        const int percent = known && r.Size > 0 ? int(std::clamp<int64_t>(r.Position * 100 / r.Size, 0, 100))
                            : known             ? 100
                                                : -1;
        SetCell(item, kProgressColumn,
                known ? Size(r.Position) + QStringLiteral(" / ") + Size(r.Size) : Size(r.Position), double(r.Position));
        const QVariant bar = percent >= 0 ? QVariant(percent) : QVariant();
        if (item.data(kProgressColumn, kProgressRole) != bar) item.setData(kProgressColumn, kProgressRole, bar);
        const QString tip =
            known ? QStringLiteral("%1 / %2 바이트 (%3%)").arg(Bytes(r.Position), Bytes(r.Size)).arg(percent)
                  : QStringLiteral("%1 바이트 받음").arg(Bytes(r.Position));
        if (item.toolTip(kProgressColumn) != tip) item.setToolTip(kProgressColumn, tip);
        SetCell(item, 6, Q(FormatSpeed(r.BytesPerSecond)), r.BytesPerSecond);
        if (!item.data(6, Qt::TextAlignmentRole).isValid())
            for (int c : {kProgressColumn, 6}) item.setTextAlignment(c, Qt::AlignRight | Qt::AlignVCenter);
    });
}

void SyncUserBox(QTreeWidget& list, const std::vector<TUserRow>& rows) {
    SyncRows<TUserRow>(list, rows, [](QTreeWidgetItem& item, const TUserRow& r) {
        SetCell(item, 0, QString::number(r.ConnectionId), r.ConnectionId);
        SetCell(item, 1, Q(r.User));
        SetCell(item, 2, Q(r.Address));
        SetCell(item, 3, Q(r.LoginTime));
    });
}

int RowConnection(const QTreeWidgetItem* item) {
    return item ? item->data(0, Qt::UserRole).toInt() : 0;
}

} // namespace nubo
