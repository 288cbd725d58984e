#include "online/VersionCheck.h"

#include "online/Launcher.h"
#include "online/MachineInfo.h"
#include "online/NotifyWindow.h"
#include "online/ReplySplit.h"

namespace nubo {

QString VersionCode() {
    return QStringLiteral(NUBO_VERSION).remove(u'.');
}

TVersionCheck::TVersionCheck(TWebService& web, QString programDir) : web_(web), dir_(std::move(programDir)) {
    Timer_verchk.setInterval(kIntervalMs);
    connect(&Timer_verchk, &QTimer::timeout, this, &TVersionCheck::Timer_verchkTimer);
}

void TVersionCheck::CheckVersion(const QString& code) {
    const QString reply =
        web_.WebCall(QStringLiteral("version.php?comid=") + MachineIdentifier() + QStringLiteral("&p_ver=") + code);
    if (reply == kConnectFail) return;
    const QStringList fields = SplitReply(reply, u'|');
    if (fields.size() != 3) return;
    // Byte-wise, as the service compares: "201" and "3" are newer than "200", "1999" is not.
    if (fields[0].toStdString() <= code.toStdString()) return;
    Notify(QStringLiteral("누보FTP서버"), QStringLiteral("새로운 누보FTP서버로 버전업됨\r\r 자동업데이트 준비중.."));
    RunLauncher(QStringLiteral("Patcher.exe"), fields[1] + u' ' + fields[2], dir_);
}

} // namespace nubo
