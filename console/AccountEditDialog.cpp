#include "console/AccountEditDialog.h"

#include <QEventLoop>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>
#include <exception>
#include <filesystem>
#include <thread>

#include "console/QtText.h"
#include "store/PasswordHash.h"
#include "store/Settings.h"

namespace nubo {

Tfrm_user_setup_edit::Tfrm_user_setup_edit(TUserFile users, TUserEditMode mode, QStringList listedIds, QWidget* parent)
    : QDialog(parent), Seams(this), users_(std::move(users)), mode_(mode), listedIds_(std::move(listedIds)) {
    setObjectName("frm_user_setup_edit");
    static const char* const titles[][2] = {
        {"사용자 추가", "사용자 추가하기"}, {"사용자 복사", "사용자 복사하기"}, {"사용자 수정", "사용자 수정하기"}};
    const auto& title = titles[int(mode)];
    setWindowTitle(QString::fromUtf8(title[0]));

    auto* columns = new QHBoxLayout(this);
    auto* left = new QVBoxLayout;
    columns->addLayout(left);
    edit_id = AddField(left, "edit_id", QStringLiteral("[ 아이디 ]"));
    edit_pwd = AddField(left, "edit_pwd", QStringLiteral("[ 암호 ]"));
    edit_pwd_ok = AddField(left, "edit_pwd_ok", QStringLiteral("[ 암호 확인 ]"));
    edit_pwd->setEchoMode(QLineEdit::Password);
    edit_pwd_ok->setEchoMode(QLineEdit::Password);
    edit_user_memo = AddField(left, "edit_user_memo", QStringLiteral("[ 사용자 메모 ]"));
    left->addWidget(new QLabel(QStringLiteral("[ Root 디렉토리 ( 홈 디렉토리 ) ]")));
    auto* home = new QHBoxLayout;
    edit_HomePath = new QLineEdit;
    edit_HomePath->setObjectName("edit_HomePath");
    edit_HomePath->setReadOnly(true);
    edit_HomePath->setMinimumWidth(260);
    bt_home_dir = new QPushButton(QStringLiteral("디렉토리"));
    bt_home_dir->setObjectName("bt_home_dir");
    home->addWidget(edit_HomePath);
    home->addWidget(bt_home_dir);
    left->addLayout(home);
    left->addStretch();
    bt_ini_write = new QPushButton(QString::fromUtf8(title[1]));
    bt_ini_write->setDefault(true); // Enter in any field saves
    bt_home_dir->setAutoDefault(false);
    bt_ini_write->setObjectName("bt_ini_write");
    left->addWidget(bt_ini_write);

    Limits = new TLimitFields(QStringLiteral("[ 세부 설정 ]"), this);
    Limits->Load({});
    columns->addWidget(Limits);

    connect(bt_home_dir, &QPushButton::clicked, this, &Tfrm_user_setup_edit::bt_home_dirClick);
    connect(bt_ini_write, &QPushButton::clicked, this, &Tfrm_user_setup_edit::bt_ini_writeClick);
}

void Tfrm_user_setup_edit::Load(const QString& id, const TUserFile::TAccount& a) {
    edit_id->setText(id);
    loaded_ = a;
    loadedPassword_ = Q(a.Password);
    edit_pwd->setText(loadedPassword_);
    edit_pwd_ok->setText(loadedPassword_);
    edit_user_memo->setText(Q(a.UserMemo));
    edit_HomePath->setText(Q(a.HomePath));
    Limits->Load(a);
    if (mode_ != TUserEditMode::Edit) return;
    edit_id->setEnabled(false);
    if (IsAnonymous(id)) {
        for (QLineEdit* e : {edit_pwd, edit_pwd_ok}) {
            e->clear();
            e->setEnabled(false);
        }
    }
}

void Tfrm_user_setup_edit::Refuse(const QString& text, QWidget* focus) {
    Seams.ShowMessage(text);
    focus->setFocus();
}

bool Tfrm_user_setup_edit::Check() {
    const QString id = edit_id->text();
    if (id.isEmpty()) return Refuse(QStringLiteral("아이디를 입력해주세요"), edit_id), false;
    // The ID names an INI section: these would not read back as the same account.
    if (!IsSafeAccountId(id))
        return Refuse(QStringLiteral("아이디에는 ] 와 = 문자, 줄바꿈, 앞뒤 공백을 쓸 수 "
                                     "없습니다."),
                      edit_id),
               false;
    if ((edit_pwd->text().isEmpty() || edit_pwd_ok->text().isEmpty()) && !IsAnonymous(id))
        return Refuse(QStringLiteral("패스워드를 입력해주세요"), edit_pwd), false;
    // The server refuses longer ones before it looks at them.
    if (edit_pwd->text() != loadedPassword_ && size_t(edit_pwd->text().toUtf8().size()) > kMaxPasswordLength)
        return Refuse(QStringLiteral("패스워드는 1024 바이트를 넘을 수 없습니다."), edit_pwd), false;
    if (edit_pwd->text() != edit_pwd_ok->text())
        return Refuse(QStringLiteral("패스워드를 확인해주세요."), edit_pwd_ok), false;
    if (edit_HomePath->text().isEmpty())
        return Refuse(QStringLiteral("홈 디렉토리를 설정은 필수 항목입니다."), bt_home_dir), false;
    // Sections match without regard to case, so an ID that differs only in case would
    // overwrite the existing account.
    if (mode_ != TUserEditMode::Edit && listedIds_.contains(id, Qt::CaseInsensitive))
        return Refuse(QStringLiteral("이미 존재하는 사용자 아이디 입니다."), edit_id), false;
    return Limits->Check(); // each wrong limit is marked beside its field
}

void Tfrm_user_setup_edit::bt_ini_writeClick() {
    if (!Check()) return;
    TUserFile::TAccount a;
    a.UserDisable = mode_ == TUserEditMode::Edit && UserDisable;
    try {
        a.Password = StoredPassword(edit_id->text());
    } catch (const std::exception& e) {
        return Seams.ShowMessage(QString::fromStdString(e.what()));
    }
    a.UserMemo = edit_user_memo->text().toStdString();
    a.HomePath = edit_HomePath->text().toStdString();
    Limits->Store(a);
    const std::string id = edit_id->text().toStdString();
    bool exists = false;
    try {
        if (mode_ == TUserEditMode::Edit) {
            // Only the operator's changes: another program's change to the account's
            // other keys, made while the dialog was open, stays.
            TUserFile::TAccount shown = loaded_;
            shown.UserDisable = a.UserDisable;
            users_.WriteAccountChanges(id, shown, a, HomeLetters);
        } else {
            // The list was read when the accounts dialog opened: a command may have
            // added the same ID since.
            users_.Update([&](const TUserFile& now) -> std::vector<TIniFile::TEntry> {
                if ((exists = now.HasAccount(id))) return {};
                return TUserFile::AccountEntries(id, a, kNewHomeLetters);
            });
        }
    } catch (const EIniFileException&) {
        // A failed write leaves the old file whole; the dialog goes on.
    }
    if (exists) return Refuse(QStringLiteral("이미 존재하는 사용자 아이디 입니다."), edit_id);
    accept();
}

namespace {
// The hash takes a noticeable moment: it is made on a thread while a nested loop keeps
// the server (driven by this thread's events) serving; the dialog takes no input meanwhile.
std::string HashWithoutStalling(QWidget* dialog, const std::string& password) {
    std::string hashed;
    std::exception_ptr error;
    QEventLoop wait;
    dialog->setEnabled(false);
    std::thread worker([&] {
        try {
            hashed = MakePasswordHash(password);
        } catch (...) {
            error = std::current_exception();
        }
        QMetaObject::invokeMethod(&wait, &QEventLoop::quit, Qt::QueuedConnection);
    });
    wait.exec();
    worker.join();
    dialog->setEnabled(true);
    if (error) std::rethrow_exception(error);
    return hashed;
}
} // namespace

std::string Tfrm_user_setup_edit::StoredPassword(const QString& id) {
    const QString typed = edit_pwd->text();
    // Unchanged (an edit, or a copy of another account) stays as stored, hashed or not;
    // the anonymous account takes any password.
    if (typed == loadedPassword_ || IsAnonymous(id)) return typed.toStdString();
    const std::filesystem::path folder = std::filesystem::path(users_.Ini().FileName()).parent_path();
    if (TSettingsFile((folder / kSettingsFileName).string()).PlainPasswords()) return typed.toStdString();
    return HashWithoutStalling(this, typed.toStdString());
}

void Tfrm_user_setup_edit::bt_home_dirClick() {
    const QString folder = PickFolder(Seams, QStringLiteral("[ Root 디렉토리 ( 홈 디렉토리 ) ] "));
    if (!folder.isEmpty()) edit_HomePath->setText(folder);
}

} // namespace nubo
