// The real main window with its host and server, driven by real clients on loopback:
// server control and the enabling of the controls, the live monitor of a running
// download, disconnect and ban.
#include <QApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QTreeWidget>
#include <arpa/inet.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "console/BanList.h"
#include "console/Main.h"
#include "console/MonitorLists.h"
#include "store/IniFile.h"
#include "tests/console/ConsoleTestUtil.h"
#include "tests/support/TempDir.h"

using namespace nubo;
using nubo::test::TTempDir;
using namespace nubo::testutil;
namespace fs = std::filesystem;

extern char** environ;

namespace {

bool Listening(int port) {
    int s = Connect(port);
    if (s < 0) return false;
    close(s);
    return true;
}

QStringList PaneLines(const TLogPaneView& pane) {
    QStringList out;
    for (int i = 0; i < pane.LineCount(); ++i) out << pane.LineText(i);
    return out;
}

int CountEnding(const QStringList& lines, const QString& tail) {
    int n = 0;
    for (const auto& l : lines) n += l.endsWith(tail);
    return n;
}

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        port_ = FreePort();
        frm_ = std::make_unique<TfrmMain>(TConsoleStart{dir_, std::to_string(port_), {}});
        frm_->ShowMessage = [this](const QString& text, bool) { messages_ << text; };
    }
    void TearDown() override {
        if (curl_ > 0) {
            kill(curl_, SIGKILL);
            waitpid(curl_, nullptr, 0);
        }
        frm_.reset();
    }

    QStringList System() const { return PaneLines(*frm_->Panes[lpSystem]); }
    void ExpectControls(bool listening) {
        for (QAction* a : {frm_->btn_start, frm_->mnuStart, frm_->Tray.popStart})
            EXPECT_EQ(a->isEnabled(), !listening) << a->objectName().toStdString();
        for (QAction* a : {frm_->btn_stop, frm_->mnuStop, frm_->Tray.popStop})
            EXPECT_EQ(a->isEnabled(), listening) << a->objectName().toStdString();
        EXPECT_TRUE(frm_->mnuRestart->isEnabled());
        EXPECT_EQ(frm_->Tray.Image(), listening ? TTrayState::Idle : TTrayState::Stopped);
    }
    // Logs in anonymously without waiting: the server answers once Qt's loop runs.
    int LoginRaw() {
        int s = Connect(port_);
        const char* lines = "USER anonymous\r\nPASS guest\r\n";
        EXPECT_EQ(send(s, lines, strlen(lines), 0), ssize_t(strlen(lines)));
        return s;
    }
    QTreeWidgetItem* SelectOnlyUser() {
        EXPECT_TRUE(Pump([&] { return frm_->UserBox->topLevelItemCount() == 1; }));
        QTreeWidgetItem* row = frm_->UserBox->topLevelItem(0);
        frm_->UserBox->setCurrentItem(row);
        return row;
    }

    TTempDir tmp_;
    const std::string dir_ = tmp_.Dir();
    int port_ = 0;
    std::unique_ptr<TfrmMain> frm_;
    QStringList messages_;
    pid_t curl_ = -1;
};

} // namespace

TEST_F(MainWindowTest, FirstStartListensAndTheControlsFollowStopStartRestart) {
    EXPECT_TRUE(fs::is_directory(dir_ + "log"));
    EXPECT_TRUE(fs::is_directory(dir_ + "down"));
    EXPECT_TRUE(fs::exists(dir_ + "ftp_config.ini"));
    EXPECT_TRUE(fs::exists(dir_ + "ftp_users.ini"));
    EXPECT_TRUE(Listening(port_));
    ExpectControls(true);
    EXPECT_EQ(frm_->Iblport->text(), QString::number(port_));
    EXPECT_EQ(frm_->windowTitle(), QStringLiteral("Nubo FTP Server V2.0.0"));
    EXPECT_EQ(frm_->StatusPanels[0]->text(), QStringLiteral("No Users"));
    EXPECT_EQ(frm_->Tray.Hint(), QStringLiteral("Nubo FTP Server Client: 0"));
    EXPECT_EQ(CountEnding(System(), QStringLiteral("서버가 시작되었습니다.")), 1);
    EXPECT_EQ(CountEnding(System(), QStringLiteral("FTP Port: %1").arg(port_)), 1);

    frm_->mnuStop->trigger();
    ExpectControls(false);
    EXPECT_FALSE(Listening(port_));
    EXPECT_EQ(CountEnding(System(), QStringLiteral("서버가 중지되었습니다.")), 1);

    frm_->mnuRestart->trigger(); // stopped: the disabled stop ignores its click
    ExpectControls(true);
    EXPECT_EQ(CountEnding(System(), QStringLiteral("서버가 중지되었습니다.")), 1);
    EXPECT_EQ(CountEnding(System(), QStringLiteral("서버가 시작되었습니다.")), 2);

    frm_->Tray.popRestart->trigger(); // running: stop, then start
    ExpectControls(true);
    EXPECT_EQ(CountEnding(System(), QStringLiteral("서버가 중지되었습니다.")), 2);
    EXPECT_EQ(CountEnding(System(), QStringLiteral("서버가 시작되었습니다.")), 3);
    EXPECT_TRUE(Listening(port_));

    // The command runner: "/stop" and "/close" together do nothing.
    frm_->RunCommandLine(QStringLiteral("/stop /close"));
    EXPECT_TRUE(frm_->Host().Listening());
    frm_->RunCommandLine(QStringLiteral("/stop"));
    ExpectControls(false);
    EXPECT_TRUE(messages_.isEmpty());
}

TEST_F(MainWindowTest, PanesKeepTheLatestLinesAndClearEmptiesAllThree) {
    TLogPaneView& trans = *frm_->Panes[lpTransfer];
    for (int i = 1; i <= 5000; ++i) frm_->Host().Log().WriteLog(lpTransfer, "line " + std::to_string(i));
    ASSERT_EQ(trans.LineCount(), 4999);
    EXPECT_TRUE(trans.LineText(0).endsWith(QStringLiteral("] - line 2")));
    EXPECT_TRUE(trans.LineText(4998).endsWith(QStringLiteral("] - line 5000")));
    EXPECT_EQ(trans.LineCount(), int(frm_->Host().Log().Pane(lpTransfer).Lines().size()));

    frm_->mnuClear->trigger();
    for (auto* pane : frm_->Panes) EXPECT_EQ(pane->LineCount(), 0);
    frm_->mnuStop->trigger();
    ASSERT_EQ(frm_->Panes[lpSystem]->LineCount(), 1); // the next message starts at the top
    EXPECT_TRUE(frm_->Panes[lpSystem]->LineText(0).endsWith(QStringLiteral("서버가 중지되었습니다.")));
}

TEST(CommandLine, TheHideTraySwitch) {
    struct Case {
        QStringList params;
        bool hide;
    } cases[] = {
        {{QStringLiteral("-HIDETRAY")}, true},   {{QStringLiteral("/start"), QStringLiteral("/HideTray")}, true},
        {{QStringLiteral("hidetray")}, false},   {{QStringLiteral("--hidetray")}, false},
        {{QStringLiteral("/hidetray2")}, false},
    };
    for (const auto& c : cases) EXPECT_EQ(HasHideTraySwitch(c.params), c.hide) << c.params.join(u' ').toStdString();
}

TEST_F(MainWindowTest, APortInUseIsLoggedAndStartStaysEnabled) {
    frm_->btn_stop->trigger();
    int holder = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port_));
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    ASSERT_EQ(bind(holder, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(listen(holder, 1), 0);

    frm_->btn_start->trigger();
    close(holder);
    ExpectControls(false);
    const QStringList lines = System();
    ASSERT_GE(lines.size(), 2);
    EXPECT_TRUE(
        lines[lines.size() - 2].endsWith(QStringLiteral("이미 사용중인 포트입니다. 다른 포트로 설정해주세요.")));
    EXPECT_TRUE(lines.last().endsWith(QStringLiteral("Server not started.")));
    EXPECT_TRUE(messages_.isEmpty()); // logged, no dialog
}

// A first start offers TLS with a certificate it made; an encrypted session is marked.
TEST_F(MainWindowTest, AnEncryptedSessionShowsItsLockAndProtocol) {
    {
        std::ofstream big(dir_ + "down/big.bin", std::ios::binary);
        big << std::string(8 << 20, 'x');
    }
    const std::string url = "ftp://127.0.0.1:" + std::to_string(port_) + "/big.bin";
    const char* argv[] = {"curl",       "-s", "--ssl-reqd", "-k",        "--limit-rate", "1m",
                          "--max-time", "60", "-o",         "/dev/null", url.c_str(),    nullptr};
    ASSERT_EQ(posix_spawnp(&curl_, "curl", nullptr, nullptr, const_cast<char**>(argv), environ), 0);

    ASSERT_TRUE(Pump([&] {
        return frm_->Current_UserBox->topLevelItemCount() == 1 &&
               !frm_->Current_UserBox->topLevelItem(0)->text(kEncryptionColumn).isEmpty();
    }));
    QTreeWidgetItem* u = frm_->Current_UserBox->topLevelItem(0);
    EXPECT_TRUE(u->text(kEncryptionColumn).startsWith(QStringLiteral("TLSv1."))) << u->text(8).toStdString();
    EXPECT_FALSE(u->icon(kEncryptionColumn).isNull());
    EXPECT_TRUE(u->toolTip(kEncryptionColumn).startsWith(u->text(kEncryptionColumn) + QStringLiteral(", TLS_")))
        << u->toolTip(kEncryptionColumn).toStdString();
}

TEST_F(MainWindowTest, MonitorShowsARunningDownloadAndDisconnectEndsIt) {
    {
        std::ofstream big(dir_ + "down/big.bin", std::ios::binary);
        std::string block(1 << 20, 'x');
        for (int i = 0; i < 96; ++i) big << block;
    }
    const std::string url = "ftp://127.0.0.1:" + std::to_string(port_) + "/big.bin";
    const char* argv[] = {"curl", "-s", "--limit-rate", "2m",        "--max-time",
                          "60",   "-o", "/dev/null",    url.c_str(), nullptr};
    ASSERT_EQ(posix_spawnp(&curl_, "curl", nullptr, nullptr, const_cast<char**>(argv), environ), 0);

    ASSERT_TRUE(Pump([&] { return frm_->Current_UpDownBox->topLevelItemCount() == 1; }));
    QTreeWidgetItem* t = frm_->Current_UpDownBox->topLevelItem(0);
    EXPECT_EQ(t->text(1), QStringLiteral("Down"));
    EXPECT_TRUE(t->text(2).endsWith(QStringLiteral("big.bin"))) << t->text(2).toStdString();
    EXPECT_TRUE(t->text(5).endsWith(QStringLiteral("%]"))) << t->text(5).toStdString();
    EXPECT_TRUE(t->text(6).endsWith(QStringLiteral(" K/S"))) << t->text(6).toStdString();
    const QString firstBytes = t->text(5);

    ASSERT_EQ(frm_->Current_UserBox->topLevelItemCount(), 1);
    QTreeWidgetItem* u = frm_->Current_UserBox->topLevelItem(0);
    EXPECT_EQ(u->text(1), QStringLiteral("anonymous"));
    EXPECT_EQ(u->text(2), QStringLiteral("Down"));
    EXPECT_EQ(u->text(4), QStringLiteral("--:--:--"));
    EXPECT_EQ(u->text(5), QStringLiteral("127.0.0.1"));
    EXPECT_EQ(u->text(6), QStringLiteral("1:1"));
    EXPECT_EQ(u->text(kEncryptionColumn), QString()); // a clear session has no lock
    EXPECT_TRUE(u->icon(kEncryptionColumn).isNull());
    EXPECT_EQ(frm_->Iblc_user->text(), QStringLiteral("1"));
    EXPECT_EQ(frm_->StatusPanels[0]->text(), QStringLiteral("1 Users"));
    EXPECT_EQ(frm_->Tray.Image(), TTrayState::Busy);

    // The progress moves from one second to the next.
    ASSERT_TRUE(Pump([&] {
        return frm_->Current_UpDownBox->topLevelItemCount() == 1 &&
               frm_->Current_UpDownBox->topLevelItem(0)->text(5) != firstBytes;
    })) << firstBytes.toStdString();

    QTreeWidgetItem* row = SelectOnlyUser();
    EXPECT_EQ(row->text(1), QStringLiteral("ANONYMOUS"));
    EXPECT_TRUE(frm_->Detail->btn_disconnect->isEnabled());
    frm_->UserBoxClick();
    EXPECT_EQ(frm_->Detail->lblStatus->text(), QStringLiteral("Down"));
    EXPECT_TRUE(frm_->Detail->txtFile->text().endsWith(QStringLiteral("big.bin")));
    EXPECT_TRUE(frm_->Detail->lblKS->text().endsWith(QStringLiteral(" K/S")));

    frm_->Detail->btn_disconnect->click();
    EXPECT_EQ(frm_->Detail->txtusername->text(), QStringLiteral("선택된 ID 없음"));
    EXPECT_EQ(frm_->Detail->lblStatus->text(), QStringLiteral("대기중"));
    ASSERT_TRUE(Pump([&] { return frm_->UserBox->topLevelItemCount() == 0; }));
    int status = 0;
    ASSERT_TRUE(Pump([&] { return waitpid(curl_, &status, WNOHANG) == curl_; }));
    curl_ = -1;
    EXPECT_NE(WEXITSTATUS(status), 0); // the download did not complete
    EXPECT_FALSE(frm_->Detail->btn_disconnect->isEnabled());
    EXPECT_EQ(frm_->Tray.Image(), TTrayState::Idle);
    ASSERT_TRUE(Pump([&] { return frm_->Current_UpDownBox->topLevelItemCount() == 0; }));
}

TEST_F(MainWindowTest, BanWritesTheNextFreeDenyKeyAndDisconnects) {
    frm_->btn_disconnectClick(); // nothing selected
    EXPECT_EQ(messages_, QStringList({QStringLiteral("ID를 먼저 선택해주세요.")}));

    TIniFile ini(dir_ + "ftp_config.ini");
    ini.WriteString("IP Deny", "IP0", "10.1.1.1");
    ini.WriteString("IP Deny", "IP1", "10.1.1.2");
    const int s = LoginRaw();
    SelectOnlyUser();

    // The pop-up menu's items follow the selection.
    frm_->UserMenuPopup(QPoint(1, 1));
    EXPECT_TRUE(frm_->popKick->isEnabled());
    EXPECT_TRUE(frm_->popBAN->isEnabled());
    frm_->UserMenu->hide();

    frm_->popBAN->trigger();
    EXPECT_EQ(ini.ReadString("IP Deny", "IP2", ""), "127.0.0.1");
    ASSERT_TRUE(Pump([&] { return frm_->UserBox->topLevelItemCount() == 0; }));
    frm_->UserMenuPopup(QPoint(1, 1));
    EXPECT_FALSE(frm_->popKick->isEnabled());
    frm_->UserMenu->hide();

    // The connection was closed by the server: the rest of what it sent, then EOF.
    char buf[4096];
    ssize_t n;
    while ((n = recv(s, buf, sizeof buf, 0)) > 0) {
    }
    EXPECT_EQ(n, 0);
    close(s);

    // The address is refused from now on.
    const int again = Connect(port_);
    ASSERT_GE(again, 0);
    std::string got;
    Pump([&] {
        ssize_t r = recv(again, buf, sizeof buf, MSG_DONTWAIT);
        if (r > 0) got.append(buf, size_t(r));
        return r == 0 || got.find("421") != std::string::npos;
    });
    EXPECT_NE(got.find("421"), std::string::npos) << got;
    close(again);
}

TEST_F(MainWindowTest, TheBanListFollowsTheHostAndLiftsABan) {
    TIniFile(dir_ + "ftp_config.ini").WriteString("Setup", "BanLoopback", "1");
    frm_->mnuRestart->trigger();
    frm_->mnuBans->trigger();
    ASSERT_NE(frm_->frm_bans, nullptr);
    TfrmBanList& list = *frm_->frm_bans;
    EXPECT_TRUE(list.isVisible());
    EXPECT_EQ(list.BanBox->topLevelItemCount(), 0);
    EXPECT_FALSE(list.cmdLift->isEnabled());

    // Banned through the host while the list is open: it shows the rows at once.
    for (int i = 0; i < 5; ++i) frm_->Host().CountFailedLogin("127.0.0.1");
    for (int i = 0; i < 5; ++i) frm_->Host().CountFailedLogin("192.0.2.44");
    ASSERT_EQ(list.BanBox->topLevelItemCount(), 2);
    QTreeWidgetItem* row = list.BanBox->findItems(QStringLiteral("127.0.0.1"), Qt::MatchExactly, 0).value(0);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->text(2), QStringLiteral("5"));
    EXPECT_TRUE(QDateTime::fromString(row->text(1), QStringLiteral("yyyy-MM-dd HH:mm:ss")).isValid())
        << row->text(1).toStdString();
    EXPECT_EQ(CountEnding(PaneLines(*frm_->Panes[lpConnect]),
                          QStringLiteral("127.0.0.1 로그인 실패 5회: 60분 동안 차단합니다.")),
              1);

    auto greeting = [&] {
        const int s = Connect(port_);
        EXPECT_GE(s, 0);
        const std::string got = ReceiveUntil(s, "\r\n");
        close(s);
        return got;
    };
    EXPECT_EQ(greeting(), "421 Access Denied.\r\n");

    list.BanBox->setCurrentItem(row);
    EXPECT_TRUE(list.cmdLift->isEnabled());
    list.cmdLift->click();
    ASSERT_EQ(list.BanBox->topLevelItemCount(), 1);
    EXPECT_EQ(list.BanBox->topLevelItem(0)->text(0), QStringLiteral("192.0.2.44"));
    EXPECT_FALSE(list.cmdLift->isEnabled());
    EXPECT_EQ(greeting().rfind("220", 0), 0u); // welcome again at once
    EXPECT_EQ(CountEnding(PaneLines(*frm_->Panes[lpConnect]), QStringLiteral("127.0.0.1 차단을 해제했습니다.")), 1);
}
