#include "console/AccountsDialog.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QShowEvent>
#include <QVBoxLayout>

#include "console/QtText.h"

namespace nubo {

namespace {

enum { colAlias, colFolder, colLetters };
constexpr int kHomeRow = 0;
// Rows ReloadUsers may select besides a row number.
constexpr int kLastRow = -1, kNoRow = -2;

// Fields save as they are typed: Enter in one must not press "추가" or "삭제".
QPushButton* Button(const char* name, const QString& caption) {
    auto* b = new QPushButton(caption);
    b->setObjectName(name);
    b->setAutoDefault(false);
    return b;
}

QCheckBox* Box(const char* name, const QString& caption) {
    auto* c = new QCheckBox(caption);
    c->setObjectName(name);
    return c;
}

// A titled group of check boxes, one under the other.
QGroupBox* BoxGroup(const QString& title, std::initializer_list<QCheckBox*> boxes) {
    auto* group = new QGroupBox(title);
    auto* column = new QVBoxLayout(group);
    for (QCheckBox* c : boxes) column->addWidget(c);
    return group;
}

QTreeWidget* ReportList(const char* name, const QStringList& columns) {
    auto* t = new QTreeWidget;
    t->setObjectName(name);
    t->setRootIsDecorated(false);
    t->setHeaderLabels(columns);
    t->setSelectionMode(QAbstractItemView::SingleSelection);
    return t;
}

std::string Text(const QLineEdit* e) {
    return e->text().toStdString();
}

} // namespace

Tfrm_User_Setup::Tfrm_User_Setup(TUserFile users, QWidget* parent)
    : QDialog(parent), Seams(this), users_(std::move(users)) {
    setObjectName("frm_User_Setup");
    setWindowTitle(QStringLiteral("사용자 관리"));
    auto* columns = new QHBoxLayout(this);
    columns->addWidget(BuildUserColumn());
    columns->addWidget(BuildAccountColumn(), 1);
    Limits = new TLimitFields(QStringLiteral("[ 연결 설정 ]"), this);
    columns->addWidget(Limits);

    connect(User_List, &QTreeWidget::itemSelectionChanged, this, &Tfrm_User_Setup::User_ListSelectItem);
    connect(Dir_list, &QTreeWidget::itemSelectionChanged, this, &Tfrm_User_Setup::Dir_listSelectItem);
    connect(bt_user_insert, &QPushButton::clicked, this, &Tfrm_User_Setup::bt_user_insertClick);
    connect(bt_user_del, &QPushButton::clicked, this, &Tfrm_User_Setup::bt_user_delClick);
    connect(bt_user_copy, &QPushButton::clicked, this, &Tfrm_User_Setup::bt_user_copyClick);
    connect(bt_user_edit, &QPushButton::clicked, this, &Tfrm_User_Setup::bt_user_editClick);
    connect(bt_dir_insert, &QPushButton::clicked, this, &Tfrm_User_Setup::bt_dir_insertClick);
    connect(bt_dir_edit, &QPushButton::clicked, this, &Tfrm_User_Setup::bt_dir_editClick);
    connect(bt_dir_del, &QPushButton::clicked, this, &Tfrm_User_Setup::bt_dir_delClick);
    for (QCheckBox* c : {chkRead, chkWrite, chkRenFile, chkDel, chkMake, chkRemove, chkRendir, chkSubDir, chkAccess})
        connect(c, &QCheckBox::clicked, this, &Tfrm_User_Setup::chkReadMouseUp);
    connect(chkDisable, &QCheckBox::clicked, this, &Tfrm_User_Setup::chkDisableMouseUp);
    connect(edit_user_memo, &QLineEdit::textEdited, this, &Tfrm_User_Setup::edit_user_memoKeyUp);
    connect(Limits, &TLimitFields::Edited, this, &Tfrm_User_Setup::edit_user_memoKeyUp);
    User_List->installEventFilter(this);
    Dir_list->installEventFilter(this);
    ShowAccount(false);
}

// Delete in a list does what its "삭제" button does (an account is asked for first).
bool Tfrm_User_Setup::eventFilter(QObject* watched, QEvent* e) {
    if ((watched == User_List || watched == Dir_list) && e->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(e)->key() == Qt::Key_Delete) {
        QPushButton* del = watched == User_List ? bt_user_del : bt_dir_del;
        if (del->isEnabled()) del->click();
        return true;
    }
    return QDialog::eventFilter(watched, e);
}

QWidget* Tfrm_User_Setup::BuildUserColumn() {
    auto* group = new QGroupBox(QStringLiteral("[ 사용자 리스트 ]"));
    auto* box = new QVBoxLayout(group);
    User_List = ReportList("User_List", {QStringLiteral("NO"), QStringLiteral("아이디")});
    User_List->setColumnWidth(0, 33);
    User_List->setColumnWidth(1, 105);
    User_List->setMinimumWidth(160);
    box->addWidget(User_List);
    auto* buttons = new QGridLayout;
    bt_user_insert = Button("bt_user_insert", QStringLiteral("추가"));
    bt_user_del = Button("bt_user_del", QStringLiteral("삭제"));
    bt_user_copy = Button("bt_user_copy", QStringLiteral("복사"));
    bt_user_edit = Button("bt_user_edit", QStringLiteral("수정"));
    buttons->addWidget(bt_user_insert, 0, 0);
    buttons->addWidget(bt_user_del, 0, 1);
    buttons->addWidget(bt_user_copy, 1, 0);
    buttons->addWidget(bt_user_edit, 1, 1);
    box->addLayout(buttons);
    return group;
}

QWidget* Tfrm_User_Setup::BuildAccountColumn() {
    auto* column = new QWidget;
    auto* box = new QVBoxLayout(column);
    box->setContentsMargins(0, 0, 0, 0);

    BasicGroup = new QGroupBox(QStringLiteral("[ 기본 설정 ]"));
    auto* basic = new QVBoxLayout(BasicGroup);
    edit_id = AddField(basic, "edit_id", QStringLiteral("[ 아이디 ]"));
    edit_pwd = AddField(basic, "edit_pwd", QStringLiteral("[ 암호 ]"));
    edit_id->setReadOnly(true);
    edit_pwd->setReadOnly(true);
    edit_pwd->setEchoMode(QLineEdit::Password);
    edit_user_memo = AddField(basic, "edit_user_memo", QStringLiteral("[ 사용자 메모 ]"));
    chkDisable = Box("chkDisable", QStringLiteral("사용자 접근 제한"));
    basic->addWidget(chkDisable);
    box->addWidget(BasicGroup);

    DirGroup = new QGroupBox(QStringLiteral("[ 디렉토리 설정 ]"));
    auto* dirs = new QVBoxLayout(DirGroup);
    Dir_list =
        ReportList("Dir_list", {QStringLiteral("별명(Alias)"), QStringLiteral("디렉토리"), QStringLiteral("권한")});
    Dir_list->setColumnWidth(colAlias, 120);
    Dir_list->setColumnWidth(colFolder, 250);
    Dir_list->setColumnHidden(colLetters, true);
    Dir_list->setMinimumWidth(390);
    dirs->addWidget(Dir_list);
    auto* dirButtons = new QHBoxLayout;
    bt_dir_insert = Button("bt_dir_insert", QStringLiteral("추가"));
    bt_dir_edit = Button("bt_dir_edit", QStringLiteral("수정"));
    bt_dir_del = Button("bt_dir_del", QStringLiteral("삭제"));
    for (QPushButton* b : {bt_dir_insert, bt_dir_edit, bt_dir_del}) dirButtons->addWidget(b);
    dirs->addLayout(dirButtons);

    auto* rights = new QHBoxLayout;
    chkRead = Box("chkRead", QStringLiteral("Download"));
    chkWrite = Box("chkWrite", QStringLiteral("Upload"));
    chkRenFile = Box("chkRenFile", QStringLiteral("이름 바꾸기"));
    chkDel = Box("chkDel", QStringLiteral("삭제"));
    FileRights = BoxGroup(QStringLiteral(" [ 파일 권한 설정 ] "), {chkRead, chkWrite, chkRenFile, chkDel});
    chkMake = Box("chkMake", QStringLiteral("만들기"));
    chkRemove = Box("chkRemove", QStringLiteral("삭제"));
    chkRendir = Box("chkRendir", QStringLiteral("이름 바꾸기"));
    // A folder is renamed under the file rename letter; this box has no letter to store.
    chkRendir->setEnabled(false);
    chkRendir->setToolTip(QStringLiteral("폴더 이름 바꾸기는 파일 권한의 \"이름 바꾸기\"를 따릅니다."));
    chkSubDir = Box("chkSubDir", QStringLiteral("서브 접근"));
    DirRights = BoxGroup(QStringLiteral(" [ 디렉토리 권한 설정 ] "), {chkMake, chkRemove, chkRendir, chkSubDir});
    rights->addWidget(FileRights);
    rights->addWidget(DirRights);
    dirs->addLayout(rights);
    chkAccess = Box("chkAccess", QStringLiteral("디렉토리 접근 제한"));
    dirs->addWidget(chkAccess);
    box->addWidget(DirGroup, 1);
    return column;
}

void Tfrm_User_Setup::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    if (!e->spontaneous()) FormShow();
}

void Tfrm_User_Setup::FormShow() {
    ReloadUsers(kNoRow);
}

void Tfrm_User_Setup::ReloadUsers(int selectRow) {
    User_List->clear();
    int no = 0;
    for (const std::string& name : users_.Accounts()) new QTreeWidgetItem(User_List, {QString::number(++no), Q(name)});
    const int count = User_List->topLevelItemCount();
    if (selectRow == kLastRow) selectRow = count - 1;
    if (selectRow >= 0 && selectRow < count) User_List->setCurrentItem(User_List->topLevelItem(selectRow));
}

QString Tfrm_User_Setup::SelectedId() const {
    const QList<QTreeWidgetItem*> s = User_List->selectedItems();
    return s.isEmpty() ? QString() : s.first()->text(1);
}

QTreeWidgetItem* Tfrm_User_Setup::SelectedDir() const {
    const QList<QTreeWidgetItem*> s = Dir_list->selectedItems();
    return s.isEmpty() ? nullptr : s.first();
}

bool Tfrm_User_Setup::HomeRowSelected() const {
    QTreeWidgetItem* row = SelectedDir();
    return row && Dir_list->indexOfTopLevelItem(row) == kHomeRow;
}

void Tfrm_User_Setup::ShowAccount(bool shown) {
    for (QWidget* w :
         std::initializer_list<QWidget*>{BasicGroup, DirGroup, Limits, bt_user_del, bt_user_copy, bt_user_edit})
        w->setEnabled(shown);
    if (shown) return;
    for (QLineEdit* e : {edit_id, edit_pwd, edit_user_memo}) e->clear();
    chkDisable->setChecked(false);
    Limits->Clear();
    Dir_list->clear();
    ShowEntry(nullptr);
}

void Tfrm_User_Setup::User_ListSelectItem() {
    const QString id = SelectedId();
    Dir_list->clear();
    if (id.isEmpty()) return ShowAccount(false);
    ShowAccount(true);
    const std::string user = id.toStdString();
    const TUserFile::TAccount a = users_.ReadAccount(user);
    edit_id->setText(id);
    edit_pwd->setText(Q(a.Password));
    edit_user_memo->setText(Q(a.UserMemo));
    chkDisable->setChecked(a.UserDisable);
    Limits->Load(a);
    shownDirs_ = users_.DialogEntries(user);
    for (const TVirtualEntry& e : shownDirs_) AddDirRow(e);
    shown_ = FieldsAccount();
    ShowEntry(nullptr);
}

void Tfrm_User_Setup::AddDirRow(const TVirtualEntry& e) {
    const bool home = Dir_list->topLevelItemCount() == kHomeRow;
    new QTreeWidgetItem(Dir_list, {home ? QStringLiteral("/") : Q(e.Alias), Q(e.Folder), Q(e.Letters)});
}

// Sets the boxes from a row's letters; no row clears and disables them.
void Tfrm_User_Setup::ShowEntry(const QTreeWidgetItem* row) {
    bt_dir_edit->setEnabled(row != nullptr);
    bt_dir_del->setEnabled(row && !HomeRowSelected());
    for (QWidget* w : std::initializer_list<QWidget*>{FileRights, DirRights, chkAccess}) w->setEnabled(row != nullptr);
    const std::string letters = row ? row->text(colLetters).toStdString() : std::string();
    const std::pair<QCheckBox*, char> boxes[] = {{chkRead, 'D'}, {chkWrite, 'U'},  {chkAccess, 'A'},  {chkDel, 'E'},
                                                 {chkMake, 'M'}, {chkRemove, 'R'}, {chkRenFile, 'Y'}, {chkSubDir, 'S'}};
    for (const auto& [box, letter] : boxes) box->setChecked(HasLetter(letters, letter));
    chkRendir->setChecked(chkRenFile->isChecked());
}

void Tfrm_User_Setup::Dir_listSelectItem() {
    ShowEntry(SelectedDir());
}

void Tfrm_User_Setup::chkReadMouseUp() {
    if (QTreeWidgetItem* row = SelectedDir()) {
        TPermissionBoxes b;
        b.Download = chkRead->isChecked();
        b.Upload = chkWrite->isChecked();
        b.AccessDenied = chkAccess->isChecked();
        b.Delete = chkDel->isChecked();
        b.MakeDir = chkMake->isChecked();
        b.RemoveDir = chkRemove->isChecked();
        b.Rename = chkRenFile->isChecked();
        chkRendir->setChecked(b.Rename);
        b.Virtual = true;
        b.SubDirs = chkSubDir->isChecked();
        row->setText(colLetters, Q(BuildLetters(b)));
    }
    SaveAccount();
}

TUserFile::TAccount Tfrm_User_Setup::FieldsAccount() const {
    TUserFile::TAccount a;
    a.UserDisable = chkDisable->isChecked();
    a.UserMemo = Text(edit_user_memo);
    Limits->Store(a);
    if (Dir_list->topLevelItemCount() > 0) a.HomePath = Dir_list->topLevelItem(kHomeRow)->text(colFolder).toStdString();
    return a;
}

void Tfrm_User_Setup::SaveAccount() {
    const QString id = SelectedId();
    if (id.isEmpty()) return;
    std::vector<TVirtualEntry> dirs;
    for (int i = 0; i < Dir_list->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* r = Dir_list->topLevelItem(i);
        dirs.push_back(
            {r->text(colFolder).toStdString(), r->text(colLetters).toStdString(), r->text(colAlias).toStdString()});
    }
    if (!dirs.empty()) dirs[0].Alias.clear(); // the home row shows "/" and stores none
    if (!Limits->Check()) return;             // a limit that is no number in range is marked, never written
    const TUserFile::TAccount a = FieldsAccount();
    try {
        // Only the operator's changes: a command's change to the account's other keys,
        // made while the dialog was open, stays.
        users_.WriteMainPageChanges(id.toStdString(), shown_, shownDirs_, a, dirs);
        shown_ = a;
        shownDirs_ = dirs;
    } catch (const EIniFileException&) {
        // A failed write leaves the old file whole; the dialog goes on.
    }
}

std::vector<TDirRow> Tfrm_User_Setup::DirRows(const QTreeWidgetItem* except) const {
    std::vector<TDirRow> rows;
    for (int i = 0; i < Dir_list->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* r = Dir_list->topLevelItem(i);
        if (r != except) rows.push_back({r->text(colAlias), r->text(colFolder)});
    }
    return rows;
}

void Tfrm_User_Setup::bt_dir_insertClick() {
    if (Dir_list->topLevelItemCount() >= kMaxVirtualEntries)
        return Seams.ShowMessage(QStringLiteral("가상 디렉토리는 5개까지만 가능합니다."));
    Tfrm_Dir_edit dlg(TDirEditMode::Add, DirRows(nullptr), this);
    if (Seams.RunDialog(dlg) != QDialog::Accepted) return;
    AddDirRow({dlg.edit_Dir_Path->text().toStdString(), std::string(kNewDirLetters),
               dlg.edit_dir_Alias->text().toStdString()});
    Dir_list->setCurrentItem(Dir_list->topLevelItem(Dir_list->topLevelItemCount() - 1));
    SaveAccount();
}

void Tfrm_User_Setup::bt_dir_editClick() {
    QTreeWidgetItem* row = SelectedDir();
    if (!row) return;
    const bool home = HomeRowSelected();
    Tfrm_Dir_edit dlg(TDirEditMode::Edit, DirRows(row), this);
    dlg.edit_dir_Alias->setText(row->text(colAlias));
    dlg.edit_dir_Alias->setEnabled(!home);
    dlg.edit_Dir_Path->setText(row->text(colFolder));
    if (Seams.RunDialog(dlg) != QDialog::Accepted) return;
    if (!home) row->setText(colAlias, dlg.edit_dir_Alias->text());
    row->setText(colFolder, dlg.edit_Dir_Path->text());
    SaveAccount();
}

void Tfrm_User_Setup::bt_dir_delClick() {
    QTreeWidgetItem* row = SelectedDir();
    if (!row || HomeRowSelected()) return;
    delete row;
    SaveAccount();
}

void Tfrm_User_Setup::RunUserEdit(TUserEditMode mode, int selectRow,
                                  const std::function<void(Tfrm_user_setup_edit&)>& prepare) {
    QStringList ids;
    for (int i = 0; i < User_List->topLevelItemCount(); ++i) ids << User_List->topLevelItem(i)->text(1);
    Tfrm_user_setup_edit dlg(users_, mode, ids, this);
    prepare(dlg);
    Seams.RunDialog(dlg);
    ReloadUsers(selectRow);
}

void Tfrm_User_Setup::bt_user_insertClick() {
    RunUserEdit(TUserEditMode::Add, kLastRow, [](Tfrm_user_setup_edit&) {});
}

void Tfrm_User_Setup::bt_user_copyClick() {
    // Only the home folder is copied, not the other directories.
    RunUserEdit(TUserEditMode::Copy, kLastRow,
                [this](Tfrm_user_setup_edit& dlg) { dlg.Load(QString(), FieldsAccount()); });
}

void Tfrm_User_Setup::bt_user_editClick() {
    const QString id = SelectedId();
    if (id.isEmpty()) return;
    const int row = User_List->indexOfTopLevelItem(User_List->selectedItems().first());
    RunUserEdit(TUserEditMode::Edit, row, [&](Tfrm_user_setup_edit& dlg) {
        TUserFile::TAccount a = FieldsAccount();
        a.Password = users_.Password(id.toStdString());
        dlg.Load(id, a);
        dlg.UserDisable = chkDisable->isChecked();
        if (Dir_list->topLevelItemCount() > 0)
            dlg.HomeLetters = Dir_list->topLevelItem(kHomeRow)->text(colLetters).toStdString();
    });
}

void Tfrm_User_Setup::bt_user_delClick() {
    const QString id = SelectedId();
    if (id.isEmpty()) return;
    if (IsAnonymous(id))
        return Seams.ShowMessage(QStringLiteral("Anonymous 계정은 삭제할 수 없습니다.\r\r사용하지 않는 경우 [ 사용자 "
                                                "접근 제한 ] 에 체크 하시면 됩니다."));
    if (!Seams.Confirm(id + QStringLiteral(" 사용자를 삭제 하시겠습니까?"))) return;
    try {
        users_.EraseAccount(id.toStdString());
    } catch (const EIniFileException&) {
        // The old file stays whole; the list shows what it holds.
    }
    ReloadUsers(kLastRow);
}

} // namespace nubo
