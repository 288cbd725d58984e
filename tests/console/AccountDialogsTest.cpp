// The account dialogs on a real user file in a temporary folder: adding, copying,
// editing and deleting accounts with their checks, the directory list and its limit,
// the permission boxes and their letters, the folder chooser's refusals, and a change
// that the running server applies at the next login.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>
#include <deque>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include "console/AccountsDialog.h"
#include "console/Main.h"
#include "store/PasswordHash.h"
#include "tests/console/ConsoleTestUtil.h"
#include "tests/support/TempDir.h"

using namespace nubo;
using nubo::test::TTempDir;
namespace fs = std::filesystem;

namespace {

// Answers the dialogs' questions from queues and records every message.
struct TScript {
    QStringList Messages;
    std::deque<QString> Folders;
    std::deque<bool> Answers;
    std::deque<std::function<void(QDialog&)>> Dialogs;

    void Attach(TDialogSeams& s) {
        s.ShowMessage = [this](const QString& t) { Messages << t; };
        s.Confirm = [this](const QString& t) {
            Messages << t;
            bool a = !Answers.empty() && Answers.front();
            if (!Answers.empty()) Answers.pop_front();
            return a;
        };
        s.ChooseFolder = [this](const QString& title) {
            Messages << title;
            QString f = Folders.empty() ? QString() : Folders.front();
            if (!Folders.empty()) Folders.pop_front();
            return f;
        };
        s.RunDialog = [this](QDialog& d) {
            // The child's own questions come from the same script.
            if (auto* e = qobject_cast<Tfrm_user_setup_edit*>(&d)) Attach(e->Seams);
            if (auto* e = qobject_cast<Tfrm_Dir_edit*>(&d)) Attach(e->Seams);
            if (Dialogs.empty()) return int(QDialog::Rejected);
            auto step = std::move(Dialogs.front());
            Dialogs.pop_front();
            step(d);
            return d.result();
        };
    }
};

class AccountDialogsTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* d : {"down", "home1", "home2", "v1", "v2", "v3", "v4", "v5"}) fs::create_directory(dir_ + d);
        users_ = std::make_unique<TUserFile>(dir_ + "ftp_users.ini");
        users_->CreateIfMissing(dir_);
        Open();
    }
    void TearDown() override { dlg_.reset(); }
    void Open() {
        dlg_ = std::make_unique<Tfrm_User_Setup>(*users_, nullptr);
        script_.Attach(dlg_->Seams);
        dlg_->FormShow();
    }
    QString Folder(const char* name) const { return QString::fromStdString(dir_ + name); }
    std::string Key(const std::string& user, const char* key) const {
        return users_->Ini().ReadString(user, key, "<none>");
    }
    void SelectUser(const QString& id) {
        auto found = dlg_->User_List->findItems(id, Qt::MatchExactly, 1);
        ASSERT_EQ(found.size(), 1) << id.toStdString();
        dlg_->User_List->setCurrentItem(found.first());
    }
    // The stored value is a fresh salted hash of the password.
    ::testing::AssertionResult HashOf(const std::string& user, const std::string& password) const {
        const std::string stored = Key(user, "password");
        const auto parsed = ParsePasswordHash(stored);
        if (!parsed || parsed->Iterations != kPasswordIterations) return ::testing::AssertionFailure() << stored;
        if (!VerifyPasswordHash(password, *parsed)) return ::testing::AssertionFailure() << "other password";
        return ::testing::AssertionSuccess();
    }
    void SelectDir(int row) { dlg_->Dir_list->setCurrentItem(dlg_->Dir_list->topLevelItem(row)); }
    // One step of the account edit dialog: fills what is given and confirms.
    void QueueUserEdit(const QString& id, const QString& pwd, const QString& home) {
        script_.Dialogs.push_back([=, this](QDialog& d) {
            auto& e = static_cast<Tfrm_user_setup_edit&>(d);
            if (!id.isNull()) e.edit_id->setText(id);
            if (!pwd.isNull()) {
                e.edit_pwd->setText(pwd);
                e.edit_pwd_ok->setText(pwd);
            }
            if (!home.isNull()) {
                script_.Folders.push_back(home);
                e.bt_home_dir->click();
            }
            e.bt_ini_write->click();
        });
    }
    void QueueDirEdit(const QString& alias, const QString& folder) {
        script_.Dialogs.push_back([=, this](QDialog& d) {
            auto& e = static_cast<Tfrm_Dir_edit&>(d);
            if (!alias.isNull()) e.edit_dir_Alias->setText(alias);
            if (!folder.isNull()) {
                script_.Folders.push_back(folder);
                e.bt_select_dir->click();
            }
            e.bt_Dir_ok->click();
            focus_ = e.focusWidget() ? e.focusWidget()->objectName() : QString();
        });
    }
    QString SelectedUser() const {
        auto s = dlg_->User_List->selectedItems();
        return s.isEmpty() ? QString() : s.first()->text(1);
    }

    TTempDir tmp_;
    const std::string dir_ = tmp_.Dir();
    std::unique_ptr<TUserFile> users_;
    std::unique_ptr<Tfrm_User_Setup> dlg_;
    TScript script_;
    QString focus_; // of the last directory dialog
};

TEST_F(AccountDialogsTest, AddCopyEditDeleteAccounts) {
    ASSERT_EQ(dlg_->User_List->topLevelItemCount(), 1);
    EXPECT_FALSE(dlg_->bt_user_del->isEnabled());
    EXPECT_FALSE(dlg_->DirGroup->isEnabled());

    QueueUserEdit("bob", "pw", Folder("home1"));
    dlg_->bt_user_insert->click();
    EXPECT_EQ(SelectedUser(), "bob");
    EXPECT_EQ(dlg_->User_List->topLevelItem(1)->text(0), "2");
    EXPECT_TRUE(HashOf("bob", "pw"));
    const std::string bobHash = Key("bob", "password");
    EXPECT_EQ(Key("bob", "MaxUser"), "0");
    EXPECT_EQ(Key("bob", "Dir0"), dir_ + "home1|DU_EMRY_S__|");
    EXPECT_EQ(Key("bob", "UserDisable"), "0");
    ASSERT_EQ(dlg_->Dir_list->topLevelItemCount(), 1);
    EXPECT_EQ(dlg_->Dir_list->topLevelItem(0)->text(0), "/");

    // The selected account's fields are written at every key; a limit that is no number
    // in its range is marked beside its field and nothing is written until it is mended.
    QTest::keyClicks(dlg_->edit_user_memo, "memo");
    EXPECT_EQ(Key("bob", "User_Memo"), "memo");
    QTest::keyClicks(dlg_->Limits->edit_MaxUser, "x");
    EXPECT_EQ(Key("bob", "MaxUser"), "0");
    EXPECT_FALSE(dlg_->Limits->LimitErrors[0]->isHidden());
    QTest::keyClicks(dlg_->edit_user_memo, "2");
    EXPECT_EQ(Key("bob", "User_Memo"), "memo"); // held back with the wrong limit
    dlg_->Limits->edit_MaxUser->clear();
    QTest::keyClicks(dlg_->Limits->edit_MaxUser, "3");
    EXPECT_TRUE(dlg_->Limits->LimitErrors[0]->isHidden());
    EXPECT_EQ(Key("bob", "MaxUser"), "3");
    EXPECT_EQ(Key("bob", "User_Memo"), "memo2");
    // Both speed limits are editable and saved with the rest.
    EXPECT_EQ(Key("bob", "MaxUpSpeed"), "0");
    for (QLineEdit* e : {dlg_->Limits->edit_MaxSpeed, dlg_->Limits->edit_MaxUpSpeed}) {
        EXPECT_TRUE(e->isEnabled());
        e->clear();
    }
    QTest::keyClicks(dlg_->Limits->edit_MaxSpeed, "100");
    QTest::keyClicks(dlg_->Limits->edit_MaxUpSpeed, "50");
    EXPECT_EQ(Key("bob", "MaxSpeed"), "100");
    EXPECT_EQ(Key("bob", "MaxUpSpeed"), "50");
    dlg_->chkDisable->click();
    EXPECT_EQ(Key("bob", "UserDisable"), "1");
    EXPECT_EQ(Key("bob", "password"), bobHash); // the main page never writes it
    QueueDirEdit("pub", Folder("v1"));
    dlg_->bt_dir_insert->click();

    // Copy: the home folder, memo and limits, not the other directories.
    QueueUserEdit("carol", "pw2", QString());
    dlg_->bt_user_copy->click();
    EXPECT_EQ(SelectedUser(), "carol");
    EXPECT_EQ(Key("carol", "HomePath"), dir_ + "home1");
    EXPECT_EQ(Key("carol", "User_Memo"), "memo2");
    EXPECT_EQ(Key("carol", "MaxUser"), "3");
    EXPECT_EQ(Key("carol", "MaxSpeed"), "100");
    EXPECT_EQ(Key("carol", "MaxUpSpeed"), "50");
    EXPECT_EQ(Key("carol", "UserDisable"), "0");
    EXPECT_EQ(Key("carol", "Dir1"), "<none>");
    EXPECT_TRUE(HashOf("carol", "pw2"));

    // Edit keeps the home row's letters and the disabled box.
    SelectUser("bob");
    SelectDir(0);
    dlg_->chkRead->click();
    script_.Dialogs.push_back([&](QDialog& d) {
        auto& e = static_cast<Tfrm_user_setup_edit&>(d);
        EXPECT_EQ(e.windowTitle(), "사용자 수정");
        EXPECT_EQ(e.bt_ini_write->text(), "사용자 수정하기");
        EXPECT_FALSE(e.edit_id->isEnabled());
        EXPECT_EQ(e.edit_pwd->text().toStdString(), bobHash);
        EXPECT_EQ(e.Limits->edit_MaxSpeed->text(), "100");
        EXPECT_EQ(e.Limits->edit_MaxUpSpeed->text(), "50");
        EXPECT_TRUE(e.Limits->edit_MaxSpeed->isEnabled());
        e.Limits->edit_MaxUpSpeed->setText("2048");
        e.edit_pwd->setText("new");
        e.edit_pwd_ok->setText("new");
        script_.Folders.push_back(Folder("home2"));
        e.bt_home_dir->click();
        e.bt_ini_write->click();
    });
    dlg_->bt_user_edit->click();
    EXPECT_EQ(SelectedUser(), "bob");
    EXPECT_TRUE(HashOf("bob", "new"));
    const std::string newHash = Key("bob", "password");
    EXPECT_EQ(Key("bob", "MaxUpSpeed"), "2048");
    EXPECT_EQ(Key("bob", "Dir0"), dir_ + "home2|_U_EMRYVS__|");
    EXPECT_EQ(Key("bob", "Dir1"), dir_ + "v1|DU_EMRYVS__|pub");
    EXPECT_EQ(Key("bob", "UserDisable"), "1");

    // Delete asks first; Cancel keeps the account.
    script_.Answers = {false, true};
    dlg_->bt_user_del->click();
    EXPECT_EQ(script_.Messages.last(), "bob 사용자를 삭제 하시겠습니까?");
    EXPECT_EQ(Key("bob", "password"), newHash);
    dlg_->bt_user_del->click();
    EXPECT_EQ(Key("bob", "password"), "<none>");
    EXPECT_EQ(dlg_->User_List->topLevelItemCount(), 2);
    EXPECT_EQ(SelectedUser(), "carol");
}

// An unchanged password is written back as stored; with the setting for older
// installations a new one is stored as typed.
TEST_F(AccountDialogsTest, PasswordsKeptOrStoredPlain) {
    users_->Ini().WriteString("anonymous", "password", "");
    TUserFile::TAccount olga;
    olga.Password = "old plain";
    olga.HomePath = dir_ + "home1";
    users_->WriteAccount("olga", olga, kNewHomeLetters);
    Open();
    SelectUser("olga");
    script_.Dialogs.push_back([&](QDialog& d) { static_cast<Tfrm_user_setup_edit&>(d).bt_ini_write->click(); });
    dlg_->bt_user_edit->click();
    EXPECT_EQ(Key("olga", "password"), "old plain");

    TIniFile(dir_ + "ftp_config.ini").WriteString("Setup", "PlainPasswords", "1");
    QueueUserEdit("pat", "as typed", Folder("home2"));
    dlg_->bt_user_insert->click();
    EXPECT_EQ(Key("pat", "password"), "as typed");

    TIniFile(dir_ + "ftp_config.ini").WriteString("Setup", "PlainPasswords", "0");
    Tfrm_user_setup_edit e(*users_, TUserEditMode::Add, {"anonymous"}, nullptr);
    script_.Attach(e.Seams);
    e.edit_id->setText("long");
    e.edit_pwd->setText(QString(1025, 'x'));
    e.edit_pwd_ok->setText(QString(1025, 'x'));
    e.edit_HomePath->setText(Folder("home1"));
    e.bt_ini_write->click();
    EXPECT_EQ(script_.Messages.last(), "패스워드는 1024 바이트를 넘을 수 없습니다.");
    EXPECT_EQ(Key("long", "password"), "<none>");
}

TEST_F(AccountDialogsTest, AnonymousCannotBeDeletedAndNeedsNoPassword) {
    users_->Ini().WriteString("anonymous", "password", "old");
    Open();
    SelectUser("anonymous");
    dlg_->bt_user_del->click();
    EXPECT_EQ(script_.Messages, QStringList{"Anonymous 계정은 삭제할 수 없습니다.\r\r사용하지 않는 "
                                            "경우 [ 사용자 접근 제한 ] 에 체크 하시면 됩니다."});
    EXPECT_EQ(users_->Accounts(), std::vector<std::string>{"anonymous"});

    script_.Dialogs.push_back([&](QDialog& d) {
        auto& e = static_cast<Tfrm_user_setup_edit&>(d);
        EXPECT_TRUE(e.edit_pwd->text().isEmpty());
        EXPECT_FALSE(e.edit_pwd->isEnabled());
        EXPECT_FALSE(e.edit_pwd_ok->isEnabled());
        e.bt_ini_write->click();
    });
    dlg_->bt_user_edit->click();
    EXPECT_EQ(Key("anonymous", "password"), "");
    EXPECT_EQ(Key("anonymous", "Dir0"), dir_ + "down|DU_EMRY_S_|");
    EXPECT_EQ(SelectedUser(), "anonymous");
}

TEST_F(AccountDialogsTest, EditDialogChecksInOrder) {
    struct Case {
        QString id, pwd, pwdOk, home, message;
        const char* focus;
    };
    const QString home = Folder("home1");
    const Case cases[] = {
        {"", "a", "a", home, "아이디를 입력해주세요", "edit_id"},
        {"a]b", "a", "a", home, "아이디에는 ] 와 = 문자, 줄바꿈, 앞뒤 공백을 쓸 수 없습니다.", "edit_id"},
        {"a=b", "a", "a", home, "아이디에는 ] 와 = 문자, 줄바꿈, 앞뒤 공백을 쓸 수 없습니다.", "edit_id"},
        {" ab", "a", "a", home, "아이디에는 ] 와 = 문자, 줄바꿈, 앞뒤 공백을 쓸 수 없습니다.", "edit_id"},
        {"a\nb", "a", "a", home, "아이디에는 ] 와 = 문자, 줄바꿈, 앞뒤 공백을 쓸 수 없습니다.", "edit_id"},
        {"dave", "", "a", home, "패스워드를 입력해주세요", "edit_pwd"},
        {"dave", "a", "b", home, "패스워드를 확인해주세요.", "edit_pwd_ok"},
        {"dave", "a", "a", "", "홈 디렉토리를 설정은 필수 항목입니다.", "bt_home_dir"},
        // Sections match without case: this would overwrite the existing account.
        {"ANONYMOUS", "", "", home, "이미 존재하는 사용자 아이디 입니다.", "edit_id"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message.toStdString() + " / " + c.id.toStdString());
        Tfrm_user_setup_edit e(*users_, TUserEditMode::Add, {"anonymous"}, nullptr);
        EXPECT_EQ(e.windowTitle(), "사용자 추가");
        e.edit_id->setText(c.id);
        e.edit_pwd->setText(c.pwd);
        e.edit_pwd_ok->setText(c.pwdOk);
        e.edit_HomePath->setText(c.home);
        script_.Messages.clear();
        script_.Attach(e.Seams);
        e.bt_ini_write->click();
        EXPECT_EQ(script_.Messages, QStringList{c.message});
        EXPECT_EQ(e.result(), QDialog::Rejected);
        EXPECT_EQ(e.focusWidget() ? e.focusWidget()->objectName() : QString(), c.focus);
    }
    EXPECT_EQ(users_->Accounts(), std::vector<std::string>{"anonymous"});
}

// Limits are whole numbers within their ranges; anything else is marked, not written.
TEST_F(AccountDialogsTest, EditDialogRefusesLimitsThatAreNoNumbersInRange) {
    const struct {
        int field;
        const char* text;
        bool ok;
    } cases[] = {{2, "601", false}, {2, "600", true}, {0, "abc", false},     {3, "-1", false},
                 {4, "1 0", false}, {1, "", false},   {3, "100000000", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        Tfrm_user_setup_edit e(*users_, TUserEditMode::Add, {"anonymous"}, nullptr);
        e.edit_id->setText("dave");
        e.edit_pwd->setText("a");
        e.edit_pwd_ok->setText("a");
        e.edit_HomePath->setText(Folder("home1"));
        QLineEdit* fields[] = {e.Limits->edit_MaxUser, e.Limits->edit_MaxUserIP, e.Limits->edit_Time_Out,
                               e.Limits->edit_MaxSpeed, e.Limits->edit_MaxUpSpeed};
        fields[c.field]->setText(c.text);
        script_.Attach(e.Seams);
        e.bt_ini_write->click();
        EXPECT_EQ(e.result() == QDialog::Accepted, c.ok);
        EXPECT_EQ(e.Limits->LimitErrors[size_t(c.field)]->isHidden(), c.ok);
        EXPECT_EQ(users_->HasAccount("dave"), c.ok);
        if (c.ok) users_->EraseAccount("dave");
    }
}

TEST_F(AccountDialogsTest, FolderChooserRefusesMissingAndUnstorableFolders) {
    fs::create_directory(dir_ + "a|b");
    Tfrm_user_setup_edit e(*users_, TUserEditMode::Copy, {}, nullptr);
    EXPECT_EQ(e.bt_ini_write->text(), "사용자 복사하기");
    script_.Attach(e.Seams);
    script_.Folders = {Folder("gone"), Folder("a|b"), QString(), Folder("home2")};
    for (int i = 0; i < 4; ++i) e.bt_home_dir->click();
    EXPECT_EQ(e.edit_HomePath->text(), Folder("home2"));
    EXPECT_EQ(script_.Messages.size(), 6);
    EXPECT_EQ(script_.Messages[0], "[ Root 디렉토리 ( 홈 디렉토리 ) ] ");
    EXPECT_TRUE(script_.Messages[1].startsWith("존재하지 않는 디렉토리입니다.")) << script_.Messages[1].toStdString();
    EXPECT_TRUE(script_.Messages[3].contains("|")) << script_.Messages[3].toStdString();
}

TEST_F(AccountDialogsTest, DirectoriesUpToFiveAndTheirChecks) {
    SelectUser("anonymous");
    SelectDir(0);
    EXPECT_TRUE(dlg_->bt_dir_edit->isEnabled());
    EXPECT_FALSE(dlg_->bt_dir_del->isEnabled()); // the home row stays

    // The directory dialog's refusals, in order; each keeps the list as it was.
    const struct {
        QString alias, folder;
        QStringList messages;
        QString focus;
    } refusals[] = {
        {"", Folder("v1"), {"[ 디렉토리 ] ", "별명(Alias)을 입력해주세요"}, "edit_dir_Alias"},
        {"x|y", Folder("v1"), {"[ 디렉토리 ] ", "별명(Alias)에는 | 문자나 줄바꿈을 쓸 수 없습니다."}, "edit_dir_Alias"},
        {"pub", QString(), {"디렉토리를 입력해주세요"}, "edit_Dir_Path"},
        {"/", Folder("v1"), {"[ 디렉토리 ] ", "동일한 별명(Alias)이 존재합니다."}, "edit_dir_Alias"},
        {"pub", Folder("down"), {"[ 디렉토리 ] ", Folder("down"), "동일한 디렉토리가 존재합니다."}, "edit_Dir_Path"},
    };
    for (const auto& r : refusals) {
        script_.Messages.clear();
        QueueDirEdit(r.alias, r.folder);
        dlg_->bt_dir_insert->click();
        EXPECT_EQ(script_.Messages, r.messages);
        EXPECT_EQ(focus_, r.focus);
        EXPECT_EQ(dlg_->Dir_list->topLevelItemCount(), 1);
    }

    script_.Messages.clear();
    const Tfrm_Dir_edit add(TDirEditMode::Add, {}, nullptr);
    EXPECT_EQ(add.windowTitle(), "디렉토리 추가");
    EXPECT_EQ(add.bt_Dir_ok->text(), "추가하기");
    for (const char* v : {"v1", "v2", "v3", "v4"}) {
        QueueDirEdit(v, Folder(v));
        dlg_->bt_dir_insert->click();
    }
    EXPECT_EQ(dlg_->Dir_list->topLevelItemCount(), 5);
    EXPECT_EQ(Key("anonymous", "Dir4"), dir_ + "v4|DU_EMRYVS__|v4");
    EXPECT_EQ(dlg_->Dir_list->selectedItems().first()->text(0), "v4");
    dlg_->bt_dir_insert->click();
    EXPECT_EQ(script_.Messages.last(), "가상 디렉토리는 5개까지만 가능합니다.");
    EXPECT_EQ(dlg_->Dir_list->topLevelItemCount(), 5);

    // Editing the home row changes its folder only; its alias field is disabled.
    SelectDir(0);
    script_.Dialogs.push_back([&](QDialog& d) {
        auto& e = static_cast<Tfrm_Dir_edit&>(d);
        EXPECT_EQ(e.windowTitle(), "디렉토리 수정");
        EXPECT_FALSE(e.edit_dir_Alias->isEnabled());
        script_.Folders.push_back(Folder("v5"));
        e.bt_select_dir->click();
        e.bt_Dir_ok->click();
    });
    dlg_->bt_dir_edit->click();
    EXPECT_EQ(Key("anonymous", "HomePath"), dir_ + "v5");
    EXPECT_EQ(Key("anonymous", "Dir0"), dir_ + "v5|DU_EMRY_S_|");

    // An alias may stay itself when edited; deleting renumbers without a gap.
    SelectDir(2);
    QueueDirEdit("second", QString());
    dlg_->bt_dir_edit->click();
    EXPECT_EQ(Key("anonymous", "Dir2"), dir_ + "v2|DU_EMRYVS__|second");
    SelectDir(1);
    dlg_->bt_dir_del->click();
    EXPECT_EQ(Key("anonymous", "Dir1"), dir_ + "v2|DU_EMRYVS__|second");
    EXPECT_EQ(Key("anonymous", "Dir3"), dir_ + "v4|DU_EMRYVS__|v4");
    EXPECT_EQ(Key("anonymous", "Dir4"), "<none>");
    // Delete in the list removes the selected row as the button does; the home row stays.
    SelectDir(3);
    QTest::keyClick(dlg_->Dir_list, Qt::Key_Delete);
    EXPECT_EQ(Key("anonymous", "Dir3"), "<none>");
    SelectDir(0);
    QTest::keyClick(dlg_->Dir_list, Qt::Key_Delete);
    EXPECT_EQ(dlg_->Dir_list->topLevelItemCount(), 3);
}

// Enter in a field presses the dialog's own button.
TEST_F(AccountDialogsTest, EnterSavesTheEditDialog) {
    Tfrm_user_setup_edit e(*users_, TUserEditMode::Add, {"anonymous"}, nullptr);
    script_.Attach(e.Seams);
    e.edit_id->setText("erin");
    e.edit_pwd->setText("a");
    e.edit_pwd_ok->setText("a");
    e.edit_HomePath->setText(Folder("home1"));
    e.show();
    QTest::keyClick(e.edit_pwd_ok, Qt::Key_Return);
    EXPECT_EQ(e.result(), QDialog::Accepted);
    EXPECT_TRUE(users_->HasAccount("erin"));
}

TEST_F(AccountDialogsTest, PermissionBoxesBuildTheLetters) {
    SelectUser("anonymous");
    SelectDir(0);
    // The default home has D U E M R Y S; the letters are rebuilt in the fixed order
    // with V always set.
    const struct {
        QCheckBox* box;
        const char* letters;
    } clicks[] = {
        {dlg_->chkRead, "_U_EMRYVS__"},    {dlg_->chkWrite, "___EMRYVS__"},  {dlg_->chkAccess, "__AEMRYVS__"},
        {dlg_->chkDel, "__A_MRYVS__"},     {dlg_->chkMake, "__A__RYVS__"},   {dlg_->chkRemove, "__A___YVS__"},
        {dlg_->chkRenFile, "__A____VS__"}, {dlg_->chkSubDir, "__A____V___"}, {dlg_->chkRead, "D_A____V___"},
    };
    // Folder renames follow the file rename letter: the folder box only shows it.
    EXPECT_FALSE(dlg_->chkRendir->isEnabled());
    EXPECT_FALSE(dlg_->chkRendir->toolTip().isEmpty());
    for (const auto& c : clicks) {
        c.box->click();
        EXPECT_EQ(Key("anonymous", "Dir0"), dir_ + "down|" + c.letters + "|") << c.box->objectName().toStdString();
        EXPECT_EQ(dlg_->chkRendir->isChecked(), dlg_->chkRenFile->isChecked());
    }
    // Reopened, the boxes show what was written; no row selected clears them.
    Open();
    SelectUser("anonymous");
    EXPECT_FALSE(dlg_->FileRights->isEnabled());
    SelectDir(0);
    EXPECT_TRUE(dlg_->chkRead->isChecked());
    EXPECT_TRUE(dlg_->chkAccess->isChecked());
    EXPECT_FALSE(dlg_->chkWrite->isChecked());
    EXPECT_FALSE(dlg_->chkSubDir->isChecked());
    dlg_->Dir_list->clearSelection();
    EXPECT_FALSE(dlg_->chkRead->isChecked());
    EXPECT_FALSE(dlg_->DirRights->isEnabled());
}

} // namespace

namespace {

// The command line edits the file while the dialog shows the account: the dialog's
// save writes what the operator changed, and keeps the rest of the command's work.
TEST_F(AccountDialogsTest, ACommandsChangeWhileTheDialogIsOpenIsKept) {
    SelectUser("anonymous");
    ASSERT_EQ(testutil::RunNuboftpd({"--dir", dir_, "user", "add", "zed", "--home", dir_ + "home1", "--no-password"}),
              0);
    ASSERT_EQ(testutil::RunNuboftpd({"--dir", dir_, "user", "set", "anonymous", "--max-speed", "77"}), 0);
    dlg_->chkDisable->click();
    EXPECT_EQ(Key("anonymous", "UserDisable"), "1");
    EXPECT_EQ(Key("anonymous", "MaxSpeed"), "77");
    EXPECT_EQ(Key("zed", "HomePath"), dir_ + "home1");
    // A field the operator does change wins.
    dlg_->Limits->edit_MaxSpeed->setText("5");
    dlg_->Limits->edit_MaxSpeed->textEdited("5");
    EXPECT_EQ(Key("anonymous", "MaxSpeed"), "5");

    // The edit dialog of a new account: an ID that a command added after the list was
    // read is refused, not overwritten.
    ASSERT_EQ(testutil::RunNuboftpd({"--dir", dir_, "user", "add", "yves", "--home", dir_ + "home2", "--no-password"}),
              0);
    QueueUserEdit("yves", "pw", Folder("home1"));
    dlg_->bt_user_insert->click();
    EXPECT_TRUE(script_.Messages.contains(QStringLiteral("이미 존재하는 사용자 아이디 입니다.")));
    EXPECT_EQ(Key("yves", "HomePath"), dir_ + "home2");
    EXPECT_EQ(Key("yves", "password"), "");

    // The edit dialog of an existing account writes only the fields the operator changed.
    SelectUser("anonymous");
    ASSERT_EQ(testutil::RunNuboftpd({"--dir", dir_, "user", "set", "anonymous", "--timeout", "9"}), 0);
    script_.Dialogs.push_back([](QDialog& d) {
        auto& e = static_cast<Tfrm_user_setup_edit&>(d);
        e.edit_user_memo->setText(QStringLiteral("edited"));
        e.bt_ini_write->click();
    });
    dlg_->bt_user_edit->click();
    EXPECT_EQ(Key("anonymous", "User_Memo"), "edited");
    EXPECT_EQ(Key("anonymous", "Time-Out"), "9");
    EXPECT_EQ(dlg_->User_List->topLevelItemCount(), 3);
}

// The running console: an account added and then disabled in the dialog opened from
// the tool bar takes effect at the next login, without a restart.

class AccountsInConsoleTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directory(dir_ + "eve");
        port_ = testutil::FreePort();
        frm_ = std::make_unique<TfrmMain>(TConsoleStart{dir_, std::to_string(port_), {}});
    }
    void TearDown() override { frm_.reset(); }
    // The reply to PASS: the first line starting "230 " or "530 ", read while Qt's loop
    // (and through it the server) runs; empty after five seconds.
    std::string Login(const std::string& user, const std::string& pass) {
        const int s = test::ConnectLoopback(port_);
        if (s < 0) return "no connect";
        const std::string lines = "USER " + user + "\r\nPASS " + pass + "\r\n";
        send(s, lines.data(), lines.size(), 0);
        std::string got;
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 5000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            char buf[512];
            const ssize_t n = recv(s, buf, sizeof buf, MSG_DONTWAIT);
            if (n > 0) got.append(buf, size_t(n));
            for (const char* code : {"\n230 ", "\n530 "}) {
                const size_t at = got.find(code);
                if (at != std::string::npos && got.find('\n', at + 1) != std::string::npos) {
                    close(s);
                    return got.substr(at + 1, 3);
                }
            }
            usleep(2000);
        }
        close(s);
        return {};
    }
    // Opens the accounts dialog from the tool bar and runs step on it.
    void InDialog(const std::function<void(Tfrm_User_Setup&)>& step) {
        bool ran = false;
        QTimer::singleShot(0, [&] {
            auto* dlg = qobject_cast<Tfrm_User_Setup*>(QApplication::activeModalWidget());
            ASSERT_NE(dlg, nullptr);
            script_.Attach(dlg->Seams);
            step(*dlg);
            ran = true;
            dlg->close();
        });
        ASSERT_TRUE(frm_->btn_userconfig->isEnabled());
        frm_->btn_userconfig->trigger();
        EXPECT_TRUE(ran);
    }

    TTempDir tmp_;
    const std::string dir_ = tmp_.Dir();
    int port_ = 0;
    std::unique_ptr<TfrmMain> frm_;
    TScript script_;
};

TEST_F(AccountsInConsoleTest, ChangesTakeEffectAtTheNextLogin) {
    EXPECT_EQ(Login("eve", "pw"), "530");
    InDialog([&](Tfrm_User_Setup& dlg) {
        EXPECT_EQ(dlg.windowTitle(), "사용자 관리");
        EXPECT_EQ(dlg.User_List->topLevelItemCount(), 1);
        script_.Dialogs.push_back([&](QDialog& d) {
            auto& e = static_cast<Tfrm_user_setup_edit&>(d);
            e.edit_id->setText("eve");
            e.edit_pwd->setText("pw");
            e.edit_pwd_ok->setText("pw");
            script_.Folders.push_back(QString::fromStdString(dir_ + "eve"));
            e.bt_home_dir->click();
            e.bt_ini_write->click();
        });
        dlg.bt_user_insert->click();
    });
    EXPECT_EQ(Login("eve", "pw"), "230");
    EXPECT_EQ(Login("eve", "wrong"), "530");
    InDialog([&](Tfrm_User_Setup& dlg) {
        ASSERT_EQ(dlg.User_List->topLevelItemCount(), 2);
        dlg.User_List->setCurrentItem(dlg.User_List->topLevelItem(1));
        dlg.chkDisable->click();
    });
    EXPECT_EQ(Login("eve", "pw"), "530");
    EXPECT_TRUE(frm_->mnuUser->isEnabled());
}

} // namespace
