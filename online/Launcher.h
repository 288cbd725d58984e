#pragma once
// RunLauncher: starts a program of the program's folder detached from this one; a
// failure is reported with a notification.

#include <QString>

namespace nubo {

// The failure codes of the launch and their texts.
enum TLaunchError {
    leNone = 0,
    leFileNotFound = 2,
    lePathNotFound = 3,
    leAccessDenied = 5,
    leOutOfMemory = 8,
    leFailed = -1
};
QString LaunchErrorText(TLaunchError code, const QString& file, const QString& folder);

// file (relative to folder unless absolute) is started with arguments as its command
// line (split as a shell would) and folder as its working folder.
TLaunchError RunLauncher(const QString& file, const QString& arguments, const QString& folder);

} // namespace nubo
