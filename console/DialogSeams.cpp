#include "console/DialogSeams.h"

#include <QApplication>
#include <QBoxLayout>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>

#include "store/UserFile.h"

namespace nubo {

TDialogSeams::TDialogSeams(QWidget* parent) {
    ShowMessage = [parent](const QString& text) {
        QMessageBox::information(parent, QApplication::applicationName(), text);
    };
    Confirm = [parent](const QString& text) {
        return QMessageBox::question(parent, QApplication::applicationName(), text,
                                     QMessageBox::Ok | QMessageBox::Cancel) == QMessageBox::Ok;
    };
    ChooseFolder = [parent](const QString& title) { return QFileDialog::getExistingDirectory(parent, title); };
    RunDialog = [](QDialog& dialog) { return dialog.exec(); };
}

bool IsSafeAccountId(const QString& id) {
    return id == id.trimmed() && nubo::IsSafeAccountId(id.toStdString());
}

bool IsSafeEntryField(const QString& text) {
    return nubo::IsSafeEntryField(text.toStdString());
}

bool IsAnonymous(const QString& id) {
    return IsAnonymousAccount(id.toStdString());
}

QLineEdit* AddField(QBoxLayout* box, const char* name, const QString& caption) {
    box->addWidget(new QLabel(caption));
    auto* e = new QLineEdit;
    e->setObjectName(name);
    box->addWidget(e);
    return e;
}

QLabel* ErrorLabel(const char* name, QWidget* parent) {
    auto* l = new QLabel(parent);
    l->setObjectName(name);
    l->setStyleSheet(QStringLiteral("color: #c00000;"));
    l->setWordWrap(true);
    l->hide();
    return l;
}

void ShowError(QLabel* label, const QString& text) {
    label->setText(text);
    label->setVisible(!text.isEmpty());
}

QString PickFolder(const TDialogSeams& seams, const QString& title) {
    const QString folder = seams.ChooseFolder(title);
    if (folder.isEmpty()) return {};
    if (!QDir(folder).exists()) {
        seams.ShowMessage(QStringLiteral("존재하지 않는 디렉토리입니다.\r\r") + folder);
        return {};
    }
    if (!IsSafeEntryField(folder)) {
        seams.ShowMessage(QStringLiteral("디렉토리 이름에 | 문자나 줄바꿈은 쓸 수 없습니다.\r\r") + folder);
        return {};
    }
    return folder;
}

} // namespace nubo
