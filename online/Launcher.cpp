#include "online/Launcher.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>

#include "online/NotifyWindow.h"

namespace nubo {

namespace {

TLaunchError Launch(const QString& file, const QString& arguments, const QString& folder) {
    const QDir dir(folder);
    if (!dir.exists()) return lePathNotFound;
    const QFileInfo program(dir.filePath(file));
    if (!program.exists()) return leFileNotFound;
    if (!program.isFile() || !program.isExecutable()) return leAccessDenied;
    return QProcess::startDetached(program.absoluteFilePath(), QProcess::splitCommand(arguments), dir.absolutePath())
               ? leNone
               : leFailed;
}

} // namespace

QString LaunchErrorText(TLaunchError code, const QString& file, const QString& folder) {
    switch (code) {
    case leFileNotFound: return QStringLiteral("Exists Error : 실행 파일이 없습니다.\r\rFile : ") + file;
    case lePathNotFound: return QStringLiteral("Dir Error : 대상 PATH가 없습니다.\r\rDirectory :") + folder;
    case leAccessDenied: return QStringLiteral("Access Error : 접근 불가");
    case leOutOfMemory: return QStringLiteral("MEM Error : 메모리 부족");
    default: return QStringLiteral("Exec Error : 실행에 실패하였습니다.");
    }
}

TLaunchError RunLauncher(const QString& file, const QString& arguments, const QString& folder) {
    const TLaunchError code = Launch(file, arguments, folder);
    if (code != leNone) Notify(QStringLiteral("누보FTP서버"), LaunchErrorText(code, file, folder));
    return code;
}

} // namespace nubo
