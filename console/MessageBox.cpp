#include "console/MessageBox.h"

#include <QMessageBox>
#include <QWidget>

namespace nubo {

namespace {
QString Shown(QString text) {
    return text.replace(u'\r', u'\n');
}
} // namespace

TShowMessage MessageBoxOf(QWidget* parent) {
    return [parent](const QString& text, bool error) {
        const QString title = parent ? parent->windowTitle() : QString();
        if (error)
            QMessageBox::critical(parent, title, Shown(text));
        else
            QMessageBox::information(parent, title, Shown(text));
    };
}

TAskYesNo QuestionBoxOf(QWidget* parent) {
    return [parent](const QString& question) {
        return QMessageBox::question(parent, parent ? parent->windowTitle() : QString(), Shown(question)) ==
               QMessageBox::Yes;
    };
}

} // namespace nubo
