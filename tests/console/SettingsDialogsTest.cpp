// The settings and address-list dialogs on real files in a temporary folder, and
// through the main window: a change saved by a dialog reaches the next login.
#include <QApplication>
#include <QFile>
#include <QKeyEvent>
#include <QStandardPaths>
#include <QTimer>
#include <filesystem>
#include <gtest/gtest.h>

#include "console/IPAccess.h"
#include "console/Main.h"
#include "console/SetupFTP.h"
#include "socket/TlsContext.h"
#include "store/AddressLists.h"
#include "tests/console/ConsoleTestUtil.h"
#include "tests/support/TempDir.h"

using namespace nubo;
using namespace nubo::test;
using namespace nubo::testutil;

namespace {

const QString kRestartNotice = QStringLiteral("변경된 내용을 적용하기 위해서는 재시작 하십시요.");

class SetupDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        WriteBytes(Config(), "[Setup]\r\nPort=2100\r\nMaxUser=7\r\nLowPASV=3000\r\n"
                             "HighPASV=3010\r\nTrayIcon=1\r\nLog=0\r\nEnterMessage=hi\r\n"
                             "ExitMessage=bye\r\nLangSpec=\r\n");
    }
    std::string Config() const { return dir_.File("ftp_config.ini"); }
    QString Entry() const { return QString::fromStdString(dir_.File("autostart/nuboftp.desktop")); }
    std::unique_ptr<TfrmSetupFTP> Open() {
        auto dlg =
            std::make_unique<TfrmSetupFTP>(TSettingsFile(Config()), memory_, lang_,
                                           TAutoStart(Entry(), {QStringLiteral("/opt/nubo ftp/nuboftp"),
                                                                QStringLiteral("--dir"), QStringLiteral("/srv/a\"b")}));
        dlg->ShowMessage = [this](const QString& t, bool error) {
            messages_ << (error ? QStringLiteral("error: ") : QString()) + t;
        };
        dlg->AskYesNo = [this](const QString& q) {
            questions_ << q;
            return discard_;
        };
        return dlg;
    }

    TTempDir dir_;
    TSettings memory_;
    TLangTexts lang_{dir_.Dir()};
    QStringList messages_, questions_;
    bool discard_ = false;
};

TEST_F(SetupDialogTest, OpensWithTheFileSavesTheKeysAndTellsToRestart) {
    auto dlg = Open();
    EXPECT_EQ(dlg->txtPort->text(), QStringLiteral("2100"));
    EXPECT_EQ(dlg->txtMaxUser->text(), QStringLiteral("7"));
    EXPECT_EQ(dlg->txtLowPASV->text(), QStringLiteral("3000"));
    EXPECT_EQ(dlg->txtHighPASV->text(), QStringLiteral("3010"));
    EXPECT_EQ(dlg->txtEnterMessage->text(), QStringLiteral("hi"));
    EXPECT_EQ(dlg->txtExitMessage->text(), QStringLiteral("bye"));
    EXPECT_TRUE(dlg->chkTray->isChecked());
    EXPECT_FALSE(dlg->chkLog->isChecked());   // Log=0
    EXPECT_FALSE(dlg->chkStart->isChecked()); // no autostart entry
    EXPECT_FALSE(dlg->btn_save->isEnabled());
    EXPECT_FALSE(memory_.Log);

    dlg->txtPort->setText(QStringLiteral("2121"));
    EXPECT_TRUE(dlg->btn_save->isEnabled());
    dlg->txtMaxUser->setText(QStringLiteral("3"));
    dlg->txtLowPASV->setText(QStringLiteral("4000"));
    dlg->txtHighPASV->setText(QStringLiteral("4100"));
    dlg->txtEnterMessage->setText(QStringLiteral("어서 오세요"));
    dlg->txtExitMessage->setText(QString());
    dlg->chkTray->setChecked(false);
    dlg->chkLog->setChecked(true);
    dlg->chkStart->setChecked(true);
    dlg->btn_save->click();
    EXPECT_EQ(messages_, QStringList{kRestartNotice});
    EXPECT_FALSE(dlg->btn_save->isEnabled());
    EXPECT_EQ(ReadBytes(Config()),
              "[Setup]\r\nPort=2121\r\nMaxUser=3\r\nLowPASV=4000\r\nHighPASV=4100\r\nTrayIcon=0\r\n"
              "Log=1\r\nEnterMessage=어서 오세요\r\nExitMessage=\r\nLangSpec=\r\n");
    const std::string entry = ReadBytes(Entry().toStdString());
    EXPECT_NE(entry.find("Exec=\"/opt/nubo ftp/nuboftp\" \"--dir\" \"/srv/a\\\\\"b\"\n"), std::string::npos) << entry;

    // Closing saves once more and shows the notice again.
    dlg->reject();
    EXPECT_EQ(messages_, QStringList({kRestartNotice, kRestartNotice}));

    // Reopened: the boxes follow the file and the entry; a ticked Log switches the
    // in-memory flag on.
    dlg = Open();
    EXPECT_TRUE(dlg->chkStart->isChecked());
    EXPECT_TRUE(dlg->chkLog->isChecked());
    EXPECT_TRUE(memory_.Log);
    dlg->chkStart->setChecked(false);
    dlg->reject();
    EXPECT_FALSE(QFile::exists(Entry()));
}

TEST_F(SetupDialogTest, OpenAndCloseRewritesTheSameValuesWithOneNotice) {
    const std::string before = ReadBytes(Config());
    Open()->reject();
    EXPECT_EQ(ReadBytes(Config()), before);
    EXPECT_EQ(messages_, QStringList{kRestartNotice});
    EXPECT_TRUE(questions_.isEmpty());
}

TEST_F(SetupDialogTest, EncryptionPassiveAddressAndTheCertificate) {
    auto dlg = Open();
    dlg->show();
    EXPECT_EQ(dlg->cmbEncryption->currentIndex(), 0); // a file without the key: off
    EXPECT_FALSE(dlg->txtImplicitPort->isEnabled());
    EXPECT_TRUE(dlg->lblCertificate->text().contains(QString::fromStdString(dir_.File("ftp_cert.pem"))))
        << dlg->lblCertificate->text().toStdString();

    dlg->cmbEncryption->setCurrentIndex(2);
    EXPECT_TRUE(dlg->btn_save->isEnabled());
    EXPECT_TRUE(dlg->txtImplicitPort->isEnabled());
    dlg->txtImplicitPort->setText(QStringLiteral("2100")); // the FTP port itself
    EXPECT_FALSE(dlg->btn_saveClick());
    EXPECT_TRUE(dlg->lblImplicitError->isVisibleTo(dlg.get()));
    dlg->txtImplicitPort->setText(QStringLiteral("990"));
    EXPECT_TRUE(dlg->btn_saveClick());
    EXPECT_FALSE(dlg->lblImplicitError->isVisibleTo(dlg.get()));
    const std::string saved = ReadBytes(Config());
    EXPECT_NE(saved.find("\r\nEncryption=2\r\n"), std::string::npos) << saved;
    EXPECT_NE(saved.find("\r\nImplicitTlsPort=990\r\n"), std::string::npos) << saved;
    EXPECT_EQ(saved.find("PassiveAddress"), std::string::npos); // unchanged keys stay out
    dlg->txtPassiveAddress->setText(QStringLiteral(" 203.0.113.7 "));
    EXPECT_TRUE(dlg->btn_saveClick());
    EXPECT_NE(ReadBytes(Config()).find("\r\nPassiveAddress=203.0.113.7\r\n"), std::string::npos);
    dlg->reject();

    // With a certificate pair: what a client will be shown, to compare.
    std::string error;
    ASSERT_TRUE(CreateSelfSignedCertificate(dir_.File("ftp_cert.pem"), dir_.File("ftp_key.pem"), "nubo.test", error))
        << error;
    const auto context = TTlsContext::Load(dir_.File("ftp_cert.pem"), dir_.File("ftp_key.pem"), error);
    ASSERT_TRUE(context) << error;
    dlg = Open();
    EXPECT_EQ(dlg->cmbEncryption->currentIndex(), 2);
    EXPECT_EQ(dlg->txtImplicitPort->text(), QStringLiteral("990"));
    const QString shown = dlg->lblCertificate->text();
    for (const std::string& part :
         {context->Certificate().Subject, context->Certificate().NotAfter, context->Certificate().Fingerprint})
        EXPECT_TRUE(shown.contains(QString::fromStdString(part))) << part << " in " << shown.toStdString();
    dlg->reject();

    // The key of another certificate: the dialog says the pair cannot be used.
    TTempDir other;
    ASSERT_TRUE(CreateSelfSignedCertificate(other.File("c.pem"), other.File("k.pem"), "other", error)) << error;
    std::filesystem::copy_file(other.File("k.pem"), dir_.File("ftp_key.pem"),
                               std::filesystem::copy_options::overwrite_existing);
    dlg = Open();
    EXPECT_TRUE(dlg->lblCertificate->text().startsWith(QStringLiteral("인증서를 쓸 수 없습니다: ")))
        << dlg->lblCertificate->text().toStdString();
    dlg->reject();
}

TEST_F(SetupDialogTest, InvalidFieldsAreShownAndNeverSaved) {
    struct Case {
        const char *port, *maxUser, *low, *high;
        const char* errorLabel;
    } cases[] = {
        {"0", "0", "0", "0", "lblPortError"},        {"65536", "0", "0", "0", "lblPortError"},
        {"21a", "0", "0", "0", "lblPortError"},      {"", "0", "0", "0", "lblPortError"},
        {"21", "-1", "0", "0", "lblMaxUserError"},   {"21", "x", "0", "0", "lblMaxUserError"},
        {"21", "0", "3000", "2999", "lblPASVError"}, {"21", "0", "3000", "65536", "lblPASVError"},
        {"21", "0", "-5", "10", "lblPASVError"},
    };
    const std::string before = ReadBytes(Config());
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.port) + " " + c.maxUser + " " + c.low + " " + c.high);
        auto dlg = Open();
        dlg->show();
        dlg->txtPort->setText(QString::fromUtf8(c.port));
        dlg->txtMaxUser->setText(QString::fromUtf8(c.maxUser));
        dlg->txtLowPASV->setText(QString::fromUtf8(c.low));
        dlg->txtHighPASV->setText(QString::fromUtf8(c.high));
        EXPECT_FALSE(dlg->btn_saveClick());
        for (QLabel* l : {dlg->lblPortError, dlg->lblMaxUserError, dlg->lblPASVError})
            EXPECT_EQ(l->isVisibleTo(dlg.get()), l->objectName() == QLatin1String(c.errorLabel))
                << l->objectName().toStdString();
        EXPECT_TRUE(dlg->btn_save->isEnabled());

        // Closing asks; "no" keeps the dialog open, "yes" closes without saving.
        discard_ = false;
        dlg->reject();
        EXPECT_TRUE(dlg->isVisible());
        discard_ = true;
        dlg->reject();
        EXPECT_FALSE(dlg->isVisible());
        EXPECT_EQ(questions_.size(), 2);
        questions_.clear();
        EXPECT_TRUE(messages_.isEmpty());
        EXPECT_EQ(ReadBytes(Config()), before);
    }

    // The edge values are accepted; both passive ports 0 switch passive mode off.
    auto dlg = Open();
    dlg->txtPort->setText(QStringLiteral("65535"));
    dlg->txtLowPASV->setText(QStringLiteral("0"));
    dlg->txtHighPASV->setText(QStringLiteral("0"));
    EXPECT_TRUE(dlg->btn_saveClick());
    dlg->txtLowPASV->setText(QStringLiteral("65535"));
    dlg->txtHighPASV->setText(QStringLiteral("65535"));
    EXPECT_TRUE(dlg->btn_saveClick());
    EXPECT_FALSE(dlg->lblPASVError->isVisibleTo(dlg.get()));
}

class IPAccessTest : public ::testing::Test {
protected:
    void SetUp() override {
        WriteBytes(Config(), "[Setup]\r\nPort=21\r\n[IP Deny]\r\nIP0=10.0.0.1\r\nIP1=10.0.0.2\r\n"
                             "[IP Allow]\r\nIP0=10.0.0.*\r\nIP2=10.9.9.9\r\n");
    }
    std::string Config() const { return dir_.File("ftp_config.ini"); }
    static QStringList Rows(const QListWidget& list) {
        QStringList out;
        for (int i = 0; i < list.count(); ++i) out << list.item(i)->text();
        return out;
    }
    static void Select(TfrmIPAccess& dlg, int row) {
        dlg.ListBox->setCurrentRow(row);
        dlg.ListBoxClick();
    }
    TTempDir dir_;
};

TEST_F(IPAccessTest, EditsBothListsInMemoryAndEscapeWritesThemFromIP0) {
    TfrmIPAccess dlg(Config());
    dlg.show();
    EXPECT_TRUE(dlg.RBDeny->isChecked());
    EXPECT_EQ(Rows(*dlg.ListBox), QStringList({"10.0.0.1", "10.0.0.2"}));

    dlg.cmdAddClick(); // empty field: nothing
    EXPECT_EQ(dlg.ListBox->count(), 2);
    EXPECT_TRUE(dlg.lblIPError->isHidden());
    // A typing error is refused beside the field, never rewritten into another address.
    for (const char* bad : {"300.1.2.3", "abc10.0.0.5", "192.168.010", "10.0.0.2"}) {
        dlg.txtIP->setText(QString::fromLatin1(bad));
        dlg.cmdAdd->click();
        EXPECT_FALSE(dlg.lblIPError->isHidden()) << bad;
        EXPECT_TRUE(dlg.lblIPError->text().endsWith(QString::fromLatin1(bad))) << dlg.lblIPError->text().toStdString();
        EXPECT_EQ(dlg.txtIP->text(), QString::fromLatin1(bad));
    }
    EXPECT_TRUE(dlg.lblIPError->text().startsWith(QStringLiteral("이미 목록에 있는 주소입니다")));
    EXPECT_EQ(dlg.ListBox->count(), 2);
    dlg.txtIP->setText(QStringLiteral("192.168.*"));
    dlg.cmdAdd->click();
    EXPECT_TRUE(dlg.lblIPError->isHidden());
    EXPECT_EQ(Rows(*dlg.ListBox), QStringList({"10.0.0.1", "10.0.0.2", "192.168.*"}));
    EXPECT_TRUE(dlg.txtIP->text().isEmpty());

    Select(dlg, 0);
    EXPECT_EQ(dlg.txtIP->text(), QStringLiteral("10.0.0.1"));
    dlg.cmdDelete->click();
    EXPECT_TRUE(dlg.txtIP->text().isEmpty());

    // The allow list holds entries up to the first gap.
    dlg.RBAllow->click();
    EXPECT_EQ(Rows(*dlg.ListBox), QStringList({"10.0.0.*"}));
    dlg.ListBox->setCurrentRow(-1);
    dlg.txtIP->setText(QStringLiteral("1.2.3.4"));
    dlg.cmdModify->click(); // nothing selected: nothing happens
    dlg.cmdDelete->click();
    EXPECT_EQ(Rows(*dlg.ListBox), QStringList({"10.0.0.*"}));
    dlg.cmdAdd->click();
    Select(dlg, 0);
    dlg.txtIP->setText(QStringLiteral("10.0.0.7"));
    dlg.cmdModify->click();
    EXPECT_EQ(Rows(*dlg.ListBox), QStringList({"10.0.0.7", "1.2.3.4"}));

    dlg.RBDeny->click();
    EXPECT_EQ(Rows(*dlg.ListBox), QStringList({"10.0.0.2", "192.168.*"}));
    const std::string before = ReadBytes(Config());
    EXPECT_NE(before.find("10.0.0.1"), std::string::npos); // nothing written yet

    // Escape with edits asks whether to save them; yes writes both lists.
    QStringList questions;
    dlg.AskYesNo = [&](const QString& q) {
        questions << q;
        return true;
    };
    QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(&dlg, &esc);
    EXPECT_EQ(questions.size(), 1);
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(ReadBytes(Config()), "[Setup]\r\nPort=21\r\n[IP Deny]\r\nIP0=10.0.0.2\r\nIP1=192.168.*\r\n"
                                   "[IP Allow]\r\nIP0=10.0.0.7\r\nIP1=1.2.3.4\r\n");
}

TEST_F(IPAccessTest, IPv6AddressesAndPrefixesAreTakenAndMalformedOnesRefused) {
    TfrmIPAccess dlg(Config());
    QStringList messages;
    dlg.ShowMessage = [&](const QString& t, bool) { messages << t; };
    for (const char* entry : {"2001:db8::1", "2001:db8::/32", "10.0.0.0/8"}) {
        dlg.txtIP->setText(QString::fromLatin1(entry));
        EXPECT_EQ(dlg.txtIP->text(), QString::fromLatin1(entry)); // the field takes it as typed
        dlg.cmdAdd->click();
    }
    for (const char* bad : {"2001:db8:::1", "2001:db8::/129", "10.0.0.0/33"}) {
        dlg.txtIP->setText(QString::fromLatin1(bad));
        dlg.cmdAdd->click();
        EXPECT_FALSE(dlg.lblIPError->isHidden()) << bad;
    }
    EXPECT_EQ(Rows(*dlg.ListBox), QStringList({"10.0.0.1", "10.0.0.2", "2001:db8::1", "2001:db8::/32", "10.0.0.0/8"}));
    Select(dlg, 2);
    dlg.txtIP->setText(QStringLiteral("2001:db8::1")); // the row itself is no duplicate
    dlg.cmdModify->click();
    EXPECT_TRUE(dlg.lblIPError->isHidden());
    Select(dlg, 2);
    dlg.txtIP->setText(QStringLiteral("1::2::3"));
    dlg.cmdModify->click();
    EXPECT_FALSE(dlg.lblIPError->isHidden());
    EXPECT_TRUE(messages.isEmpty());                                        // said beside the field, not in a box
    EXPECT_EQ(dlg.ListBox->item(2)->text(), QStringLiteral("2001:db8::1")); // unchanged
    dlg.cmdCancel->click();
    const std::string saved = ReadBytes(Config());
    EXPECT_NE(saved.find("IP2=2001:db8::1\r\nIP3=2001:db8::/32\r\nIP4=10.0.0.0/8\r\n"), std::string::npos) << saved;
}

// The title bar's close and Escape do the same: without edits they close, with edits
// they ask, and "no" drops the edits. Delete removes the chosen entry.
TEST_F(IPAccessTest, TheTitleBarCloseAndEscapeAskBeforeDroppingEdits) {
    const std::string before = ReadBytes(Config());
    for (const bool escape : {false, true}) {
        TfrmIPAccess dlg(Config());
        QStringList questions;
        dlg.AskYesNo = [&](const QString& q) {
            questions << q;
            return false;
        };
        dlg.show();
        const auto closeIt = [&] {
            if (escape) {
                QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
                QApplication::sendEvent(&dlg, &esc);
            } else {
                dlg.close();
            }
        };
        closeIt(); // nothing edited: no question
        EXPECT_TRUE(questions.isEmpty());
        EXPECT_FALSE(dlg.isVisible());
        dlg.show();
        Select(dlg, 0);
        dlg.ListBox->setFocus();
        QKeyEvent del(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier);
        QApplication::sendEvent(dlg.ListBox, &del);
        EXPECT_EQ(Rows(*dlg.ListBox), QStringList({"10.0.0.2"}));
        closeIt();
        EXPECT_EQ(questions.size(), 1);
        EXPECT_FALSE(dlg.isVisible());
        EXPECT_EQ(ReadBytes(Config()), before);
    }
}

TEST_F(IPAccessTest, ACommandsChangeWhileTheDialogIsOpenIsKept) {
    TfrmIPAccess dlg(Config());
    dlg.show();
    // Meanwhile, from the command line: one address added, one removed.
    ASSERT_EQ(RunNuboftpd({"--dir", dir_.Dir(), "deny", "add", "10.5.5.5"}), 0);
    ASSERT_EQ(RunNuboftpd({"--dir", dir_.Dir(), "deny", "remove", "10.0.0.2"}), 0);
    dlg.txtIP->setText(QStringLiteral("192.168.1.1"));
    dlg.cmdAdd->click();
    Select(dlg, 0); // 10.0.0.1
    dlg.cmdDelete->click();
    QStringList messages;
    dlg.ShowMessage = [&](const QString& t, bool) { messages << t; };
    dlg.txtIP->setText(QStringLiteral("192.168.1.1"));
    dlg.cmdAdd->click(); // already listed
    EXPECT_FALSE(dlg.lblIPError->isHidden());
    dlg.cmdCancel->click();
    EXPECT_EQ(ReadAddressList(TIniFile(Config()), kDenySection), (std::vector<std::string>{"192.168.1.1", "10.5.5.5"}));
    EXPECT_EQ(ReadAddressList(TIniFile(Config()), kAllowSection), std::vector<std::string>{"10.0.0.*"});
}

// The main window's openers: the dialog runs modally; what it saves reaches the next
// login while the server keeps running.
class DialogsInMainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        QStandardPaths::setTestModeEnabled(true);
        port_ = FreePort();
        frm_ = std::make_unique<TfrmMain>(TConsoleStart{dir_.Dir(), std::to_string(port_), {}});
        frm_->ShowMessage = [this](const QString& text, bool) { messages_ << text; };
    }
    void TearDown() override {
        frm_.reset();
        QStandardPaths::setTestModeEnabled(false);
    }
    // Runs edit on the modal dialog of the given type as soon as opener shows it.
    template <class Dialog> void WithModal(QAction* opener, std::function<void(Dialog&)> edit) {
        bool seen = false;
        QTimer::singleShot(0, [&] {
            auto* dlg = qobject_cast<Dialog*>(QApplication::activeModalWidget());
            ASSERT_NE(dlg, nullptr);
            seen = true;
            edit(*dlg);
        });
        opener->trigger();
        EXPECT_TRUE(seen);
    }
    int Login() {
        const int s = Connect(port_);
        const char* lines = "USER anonymous\r\nPASS guest\r\n";
        EXPECT_EQ(send(s, lines, strlen(lines), 0), ssize_t(strlen(lines)));
        EXPECT_NE(ReceiveUntil(s, "230 ").find("230 "), std::string::npos);
        return s;
    }

    TTempDir dir_;
    int port_ = 0;
    std::unique_ptr<TfrmMain> frm_;
    QStringList messages_;
};

TEST_F(DialogsInMainWindowTest, AUserLimitAndADenyEntryApplyToTheNextLogin) {
    for (QAction* a : {frm_->btn_ftpconfig, frm_->mnuFTP, frm_->btn_ipaccess, frm_->mnuIPAccess})
        EXPECT_TRUE(a->isEnabled()) << a->objectName().toStdString();

    EXPECT_EQ(frm_->IblMaxuser->text(), QStringLiteral("제한 없음"));
    WithModal<TfrmSetupFTP>(frm_->btn_ftpconfig, [this](TfrmSetupFTP& dlg) {
        // This run listens on --port, which the dialog says beside the file's port.
        EXPECT_FALSE(dlg.lblRunPort->isHidden());
        EXPECT_TRUE(dlg.lblRunPort->text().contains(QString::number(port_))) << dlg.lblRunPort->text().toStdString();
        dlg.txtMaxUser->setText(QStringLiteral("1"));
        dlg.reject();
    });
    EXPECT_EQ(messages_, QStringList{kRestartNotice});
    EXPECT_EQ(frm_->Host().Settings().MaxUser, 1);
    EXPECT_EQ(frm_->IblMaxuser->text(), QStringLiteral("1"));
    EXPECT_TRUE(frm_->Host().Listening());

    const int first = Login();
    const int second = Connect(port_);
    EXPECT_NE(ReceiveUntil(second, "421").find("421 Too many users connected."), std::string::npos);
    close(second);
    close(first);

    WithModal<TfrmIPAccess>(frm_->mnuIPAccess, [](TfrmIPAccess& dlg) {
        dlg.txtIP->setText(QStringLiteral("127.0.0.1"));
        dlg.cmdAdd->click();
        dlg.cmdCancel->click();
    });
    ASSERT_TRUE(Pump([&] { return frm_->UserBox->topLevelItemCount() == 0; }));
    const int refused = Connect(port_);
    EXPECT_NE(ReceiveUntil(refused, "421").find("421 Access Denied."), std::string::npos);
    close(refused);
}

} // namespace
