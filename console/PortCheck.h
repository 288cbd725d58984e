#pragma once
// Tfrm_portcheck: the port check window. It compares the machine's own address with
// the one the web service sees, lists what to do when they differ (the ports must be
// forwarded), and on "PORT Check" shows the service's verdict for a fixed set of
// ports. Borderless, dragged by any point, closed by its close picture; it lives as
// long as the program and keeps its lists between showings.

#include <QLabel>
#include <QPushButton>
#include <QToolButton>
#include <QTreeWidget>
#include <QWidget>
#include <functional>

#include "console/MessageBox.h"
#include "online/WebService.h"

namespace nubo {

class Tfrm_portcheck : public QWidget {
    Q_OBJECT
public:
    // web: not owned, must outlive the window.
    explicit Tfrm_portcheck(TWebService& web, QWidget* parent = nullptr);

    TShowMessage ShowMessage;
    // The running server's control port and passive range (Low to High - 1; Low 0: none),
    // which the check asks for besides the service's usual ports. Unset: the usual ones.
    struct TServerPorts {
        int Control = 0;
        int Low = 0, High = 0;
    };
    std::function<TServerPorts()> ServerPorts;

    QTreeWidget* list_port_notice;
    QTreeWidget* List_Port;
    QPushButton* bt_port_check;
    QLabel* lblStatus; // why the list stays empty: no service address, or no answer
    QToolButton* imgClose;

    // Both lists emptied, the two addresses asked for, the notices listed when they
    // differ. Runs after each showing.
    void FormShow();
    void ShowStatus(const QString& text); // empty: hidden
    void bt_port_checkClick();

    // The third column's text for a port ("" for other ports and non-numbers).
    static QString PortDescription(const QString& port);
    // The same, where this server's own ports come first.
    static QString PortDescription(const QString& port, const TServerPorts& own);

protected:
    void showEvent(QShowEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;

private:
    bool AddressesDiffer() const { return localAddress_ != publicAddress_; }

    TWebService& web_;
    QString localAddress_, publicAddress_;
    QPoint dragOffset_;
    bool placed_ = false;
};

} // namespace nubo
