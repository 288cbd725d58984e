#pragma once
// The version check: at start and every 12 hours the service is asked for the latest
// version; a newer one is announced and its update launcher started.

#include <QString>
#include <QTimer>

#include "online/WebService.h"

namespace nubo {

// "200" for version 2.0.0.
QString VersionCode();

class TVersionCheck : public QObject {
    Q_OBJECT
public:
    static constexpr int kIntervalMs = 43200000;

    // web: not owned, must outlive this object. programDir: the launcher's folder.
    TVersionCheck(TWebService& web, QString programDir);

    // Announces and launches when the service names a newer code than code.
    void CheckVersion(const QString& code);
    void Timer_verchkTimer() { CheckVersion(VersionCode()); }

    QTimer Timer_verchk;

private:
    TWebService& web_;
    QString dir_;
};

} // namespace nubo
