#pragma once
// Start at log-on: the desktop's autostart entry (an XDG ".desktop" file named after
// the program). A Windows build swaps this class for the Run value of the registry.

#include <QString>
#include <QStringList>

namespace nubo {

class TAutoStart {
public:
    // entryPath: the .desktop file; command: the program and its arguments.
    TAutoStart(QString entryPath, QStringList command) : path_(std::move(entryPath)), command_(std::move(command)) {}
    // The user's autostart entry for this executable, started on the given folder.
    static TAutoStart ForProgram(const QString& programDir);

    const QString& EntryPath() const { return path_; }
    // Ticked when the entry exists with a non-empty command.
    bool Enabled() const;
    // Writes or removes the entry. A folder that cannot be written is passed over in
    // silence, as the registry key that cannot be opened.
    void SetEnabled(bool on) const;

private:
    QString path_;
    QStringList command_;
};

} // namespace nubo
