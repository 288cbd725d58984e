#include "console/AutoStart.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace nubo {

namespace {

// One argument of the Exec key: always quoted, the quoting rules' reserved characters
// escaped, then the backslashes of the string value doubled.
QString ExecArgument(QString arg) {
    QString quoted;
    for (QChar c : arg) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\') quoted += u'\\';
        quoted += c;
    }
    quoted.replace(u'\\', QStringLiteral("\\\\"));
    return u'"' + quoted + u'"';
}

} // namespace

TAutoStart TAutoStart::ForProgram(const QString& programDir) {
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return TAutoStart(
        config + QStringLiteral("/autostart/nuboftp.desktop"),
        {QCoreApplication::applicationFilePath(), QStringLiteral("--dir"), QFileInfo(programDir).absoluteFilePath()});
}

bool TAutoStart::Enabled() const {
    QFile f(path_);
    if (!f.open(QIODevice::ReadOnly)) return false;
    while (!f.atEnd()) {
        const QByteArray line = f.readLine().trimmed();
        if (line.startsWith("Exec=") && line.size() > 5) return true;
    }
    return false;
}

void TAutoStart::SetEnabled(bool on) const {
    if (!on) {
        QFile::remove(path_);
        return;
    }
    QStringList exec;
    for (const QString& a : command_) exec << ExecArgument(a);
    QDir().mkpath(QFileInfo(path_).absolutePath());
    QSaveFile f(path_);
    if (!f.open(QIODevice::WriteOnly)) return;
    f.write(QStringLiteral("[Desktop Entry]\n"
                           "Type=Application\n"
                           "Name=Nubo FTP Server\n"
                           "Exec=%1\n"
                           "X-GNOME-Autostart-enabled=true\n")
                .arg(exec.join(u' '))
                .toUtf8());
    f.commit();
}

} // namespace nubo
