#include "console/DirectoryEntryDialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "store/UserFile.h"

namespace nubo {

Tfrm_Dir_edit::Tfrm_Dir_edit(TDirEditMode mode, std::vector<TDirRow> otherRows, QWidget* parent)
    : QDialog(parent), Seams(this), otherRows_(std::move(otherRows)) {
    const bool add = mode == TDirEditMode::Add;
    setObjectName("frm_Dir_edit");
    setWindowTitle(add ? QStringLiteral("디렉토리 추가") : QStringLiteral("디렉토리 수정"));
    auto* box = new QVBoxLayout(this);
    box->addWidget(new QLabel(QStringLiteral("[ 별명 (Alias) ]")));
    edit_dir_Alias = new QLineEdit;
    edit_dir_Alias->setObjectName("edit_dir_Alias");
    box->addWidget(edit_dir_Alias);
    box->addWidget(new QLabel(QStringLiteral("[ 디렉토리 ]")));
    auto* row = new QHBoxLayout;
    edit_Dir_Path = new QLineEdit;
    edit_Dir_Path->setObjectName("edit_Dir_Path");
    edit_Dir_Path->setReadOnly(true);
    edit_Dir_Path->setMinimumWidth(300);
    bt_select_dir = new QPushButton(QStringLiteral("디렉토리"));
    bt_select_dir->setObjectName("bt_select_dir");
    row->addWidget(edit_Dir_Path);
    row->addWidget(bt_select_dir);
    box->addLayout(row);
    bt_Dir_ok = new QPushButton(add ? QStringLiteral("추가하기") : QStringLiteral("수정하기"));
    bt_Dir_ok->setDefault(true); // Enter in a field adds or changes the row
    bt_select_dir->setAutoDefault(false);
    bt_Dir_ok->setObjectName("bt_Dir_ok");
    box->addWidget(bt_Dir_ok);
    connect(bt_select_dir, &QPushButton::clicked, this, &Tfrm_Dir_edit::bt_select_dirClick);
    connect(bt_Dir_ok, &QPushButton::clicked, this, &Tfrm_Dir_edit::bt_Dir_okClick);
}

void Tfrm_Dir_edit::Refuse(const QString& text, QWidget* focus) {
    Seams.ShowMessage(text);
    focus->setFocus();
}

void Tfrm_Dir_edit::bt_Dir_okClick() {
    const QString alias = edit_dir_Alias->text(), folder = edit_Dir_Path->text();
    std::vector<TVirtualEntry> others;
    for (const TDirRow& r : otherRows_) others.push_back({r.Folder.toStdString(), "", r.Alias.toStdString()});
    switch (CheckDirEntry(others, alias.toStdString(), folder.toStdString())) {
    case TDirProblem::None: break;
    case TDirProblem::EmptyAlias: return Refuse(QStringLiteral("별명(Alias)을 입력해주세요"), edit_dir_Alias);
    // "|" would split the stored entry; a line break would end it.
    case TDirProblem::UnsafeAlias:
        return Refuse(QStringLiteral("별명(Alias)에는 | 문자나 줄바꿈을 쓸 수 없습니다."), edit_dir_Alias);
    case TDirProblem::EmptyFolder: return Refuse(QStringLiteral("디렉토리를 입력해주세요"), edit_Dir_Path);
    case TDirProblem::SameAlias: return Refuse(QStringLiteral("동일한 별명(Alias)이 존재합니다."), edit_dir_Alias);
    case TDirProblem::SameFolder:
        Seams.ShowMessage(folder);
        return Refuse(QStringLiteral("동일한 디렉토리가 존재합니다."), edit_Dir_Path);
    }
    accept();
}

void Tfrm_Dir_edit::bt_select_dirClick() {
    const QString folder = PickFolder(Seams, QStringLiteral("[ 디렉토리 ] "));
    if (!folder.isEmpty()) edit_Dir_Path->setText(folder);
}

} // namespace nubo
