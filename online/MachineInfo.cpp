#include "online/MachineInfo.h"

#include <QNetworkInterface>
#include <QRegularExpression>
#include <QSysInfo>

#include "online/WebService.h"

namespace nubo {

QString MachineIdentifier() {
    const QString id = QString::fromLatin1(QSysInfo::machineUniqueId()).toLower();
    static const QRegularExpression hex(QStringLiteral("^[0-9a-f]{32}$"));
    if (!hex.match(id).hasMatch()) return QString();
    return QStringLiteral("{%1-%2-%3-%4-%5}").arg(id.mid(0, 8), id.mid(8, 4), id.mid(12, 4), id.mid(16, 4), id.mid(20));
}

QString LocalAddress() {
    for (const QNetworkInterface& i : QNetworkInterface::allInterfaces()) {
        const auto flags = i.flags();
        if (!(flags & QNetworkInterface::IsUp) || !(flags & QNetworkInterface::IsRunning) ||
            (flags & QNetworkInterface::IsLoopBack))
            continue;
        for (const QNetworkAddressEntry& e : i.addressEntries())
            if (e.ip().protocol() == QAbstractSocket::IPv4Protocol) return e.ip().toString();
    }
    return kConnectFail;
}

} // namespace nubo
