#pragma once
// TWebService: plain HTTP GETs to the maker's web service. A call waits in a nested
// Qt event loop, so the server, the timers and the windows keep running meanwhile;
// the same call is never started again while it waits (it then fails at once).

#include <QNetworkAccessManager>
#include <QSet>
#include <QString>

namespace nubo {

inline const QString kConnectFail = QStringLiteral("connect_fail");

class TWebService {
public:
    // baseAddress: the service's URL ending with "nuboftp/"; empty: every call fails
    // without touching the network.
    explicit TWebService(QString baseAddress) : base_(std::move(baseAddress)) {}
    const QString& BaseAddress() const { return base_; }

    // The reply body of base + resource, or "connect_fail" for no connection, no
    // data within 5 seconds, an error status or an empty body.
    QString WebCall(const QString& resource);
    // The machine's address as the service sees it.
    QString PublicAddress() { return WebCall(QStringLiteral("ip.php")); }
    // Records "port|result;" of the service's reachability check: its usual ports, and
    // the ones asked for ("21,2020-2039"; a service that does not know the question
    // answers its usual ports alone).
    QString PortCheck(const QString& ports = {}) {
        return WebCall(QStringLiteral("port_check.php") + (ports.isEmpty() ? QString() : "?ports=" + ports));
    }

private:
    QString base_;
    QNetworkAccessManager manager_;
    QSet<QString> waiting_;
};

} // namespace nubo
