// The real main window with its host and server, driven by real clients on loopback:
// server control and the enabling of the controls, the live monitor of a running
// download, disconnect and ban.
#include <QApplication>
#include <QElapsedTimer>
#include <QMenuBar>
#include <QSplitter>
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
        frm_->AskYesNo = [this](const QString& q) {
            questions_ << q;
            return answer_;
        };
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
    // The label, the title and the tray tooltip tell the same state.
    void ExpectStateShown(const QString& label, const QString& summary) {
        EXPECT_EQ(frm_->Iblport->text(), label);
        EXPECT_EQ(frm_->windowTitle(), QStringLiteral("Nubo FTP Server V2.0.0 — ") + summary);
        EXPECT_EQ(frm_->Tray.Hint(), QStringLiteral("Nubo FTP Server — ") + summary);
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
    QStringList questions_;
    bool answer_ = true;
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
    ExpectStateShown(QString::number(port_), QStringLiteral("%1, 0 users").arg(port_));
    EXPECT_EQ(frm_->StatusPanels[0]->text(), QStringLiteral("No Users"));
    EXPECT_EQ(CountEnding(System(), QStringLiteral("서버가 시작되었습니다.")), 1);
    EXPECT_EQ(CountEnding(System(), QStringLiteral("FTP Port: %1").arg(port_)), 1);

    frm_->mnuStop->trigger();
    ExpectControls(false);
    ExpectStateShown(QStringLiteral("중지됨"), QStringLiteral("중지됨"));
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

    answer_ = false;
    frm_->mnuClear->trigger();
    EXPECT_EQ(questions_.size(), 1);
    EXPECT_EQ(trans.LineCount(), 4999);
    answer_ = true;
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
    const QString failed = QStringLiteral("시작 실패 (%1)").arg(port_);
    ExpectStateShown(failed, failed);
    EXPECT_FALSE(frm_->Iblport->toolTip().isEmpty()); // the reason
    const QStringList lines = System();
    ASSERT_GE(lines.size(), 3);
    EXPECT_TRUE(lines[lines.size() - 3].contains(QStringLiteral("Port %1 cannot be opened: ").arg(port_)))
        << lines[lines.size() - 3].toStdString();
    EXPECT_FALSE(lines[lines.size() - 3].contains(u'?')); // the reason's two lines joined, not garbled
    EXPECT_TRUE(
        lines[lines.size() - 2].endsWith(QStringLiteral("이미 사용중인 포트입니다. 다른 포트로 설정해주세요.")));
    EXPECT_TRUE(lines.last().endsWith(QStringLiteral("Server not started.")));
    EXPECT_TRUE(messages_.isEmpty()); // logged, no dialog

    frm_->btn_start->trigger(); // the port is free again
    ExpectControls(true);
    ExpectStateShown(QString::number(port_), QStringLiteral("%1, 0 users").arg(port_));
    EXPECT_TRUE(frm_->Iblport->toolTip().isEmpty());
}

// Stopped with a client logged in: the tray shows stopped, not "running, idle".
TEST_F(MainWindowTest, AStopWithClientsShowsStopped) {
    const int s = LoginRaw();
    ASSERT_TRUE(Pump([&] { return frm_->Iblc_user->text() == QStringLiteral("1"); }));
    EXPECT_EQ(frm_->Tray.Image(), TTrayState::Busy);
    ExpectStateShown(QString::number(port_), QStringLiteral("%1, 1 user").arg(port_));
    frm_->btn_stop->trigger();
    ExpectControls(false);
    ExpectStateShown(QStringLiteral("중지됨"), QStringLiteral("중지됨"));
    EXPECT_EQ(frm_->Iblc_user->text(), QStringLiteral("0"));
    close(s);
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

    // Quitting while a file is sent asks, with the number of transfers; no keeps serving.
    answer_ = false;
    frm_->mnuQuit->trigger();
    ASSERT_EQ(questions_.size(), 1);
    EXPECT_TRUE(questions_[0].contains(QStringLiteral("전송 중인 파일이 1개"))) << questions_[0].toStdString();
    EXPECT_TRUE(frm_->Host().Listening());
    questions_.clear();
    answer_ = true;

    QTreeWidgetItem* row = SelectOnlyUser();
    EXPECT_EQ(row->text(1), QStringLiteral("ANONYMOUS"));
    EXPECT_TRUE(frm_->Detail->btn_disconnect->isEnabled());
    frm_->UserBoxClick();
    EXPECT_EQ(frm_->Detail->lblStatus->text(), QStringLiteral("Down"));
    EXPECT_TRUE(frm_->Detail->txtFile->text().endsWith(QStringLiteral("big.bin")));
    EXPECT_TRUE(frm_->Detail->lblKS->text().endsWith(QStringLiteral(" K/S")));

    frm_->Detail->btn_disconnect->click();
    ASSERT_EQ(questions_.size(), 1);
    EXPECT_TRUE(questions_[0].contains(QStringLiteral("ANONYMOUS (127.0.0.1)"))) << questions_[0].toStdString();
    EXPECT_TRUE(frm_->UserBox->selectedItems().isEmpty());
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
    const int other = Connect(port_); // a second session from the address, not logged in
    ASSERT_GE(other, 0);
    ASSERT_TRUE(Pump([&] { return frm_->Host().Server().ConnectionCount() == 2; }));

    // The pop-up menu's items follow the selection.
    frm_->UserMenuPopup(QPoint(1, 1));
    EXPECT_TRUE(frm_->popKick->isEnabled());
    EXPECT_TRUE(frm_->popBAN->isEnabled());
    frm_->UserMenu->hide();

    answer_ = false; // asked, and the operator says no: nothing happens
    frm_->popBAN->trigger();
    ASSERT_EQ(questions_.size(), 1);
    EXPECT_TRUE(questions_[0].contains(QStringLiteral("ANONYMOUS (127.0.0.1)"))) << questions_[0].toStdString();
    EXPECT_EQ(ini.ReadString("IP Deny", "IP2", ""), "");
    EXPECT_EQ(frm_->UserBox->selectedItems().size(), 1);

    answer_ = true;
    frm_->popBAN->trigger();
    EXPECT_EQ(ini.ReadString("IP Deny", "IP2", ""), "127.0.0.1");
    EXPECT_TRUE(frm_->UserBox->selectedItems().isEmpty()); // a second click hits nobody
    EXPECT_EQ(CountEnding(PaneLines(*frm_->Panes[lpConnect]),
                          QStringLiteral("127.0.0.1 added to the deny list; 2 sessions disconnected.")),
              1)
        << PaneLines(*frm_->Panes[lpConnect]).join(u'\n').toStdString();
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
    while ((n = recv(other, buf, sizeof buf, 0)) > 0) {
    }
    EXPECT_EQ(n, 0); // the other session from the address went too
    close(other);

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

// Without a notification area, closing the window must leave a way back: it minimises.
TEST_F(MainWindowTest, WithoutATrayCloseMinimisesAndTheServerRuns) {
    ASSERT_FALSE(frm_->Tray.Shown()); // offscreen has no notification area
    frm_->show();
    frm_->close();
    EXPECT_TRUE(frm_->isVisible());
    EXPECT_TRUE(frm_->isMinimized());
    EXPECT_TRUE(frm_->Host().Listening());
    frm_->mnuQuit->trigger(); // nothing is transferred: no question
    EXPECT_TRUE(questions_.isEmpty());
    EXPECT_FALSE(frm_->isVisible());
    EXPECT_FALSE(frm_->Host().Listening());
}

// The window can be resized and keeps its size and splitters for the next start.
TEST_F(MainWindowTest, SizeAndSplittersAreRememberedAndMenusHaveMnemonics) {
    EXPECT_LT(frm_->minimumWidth(), 800);
    EXPECT_LT(frm_->minimumHeight(), 600);
    EXPECT_GT(frm_->maximumHeight(), 2000);
    for (const QAction* m : frm_->menuBar()->actions())
        EXPECT_TRUE(m->text().contains(u'&')) << m->text().toStdString();
    EXPECT_EQ(frm_->mnuStart->shortcut(), QKeySequence(Qt::Key_F5));
    EXPECT_EQ(frm_->Tray.StartMenu.actions().first()->text(), QStringLiteral("창 열기"));

    frm_->show();
    frm_->resize(900, 700);
    auto* split = frm_->findChild<QSplitter*>(QStringLiteral("MainSplit"));
    ASSERT_NE(split, nullptr);
    split->setSizes({420, 200});
    const QList<int> sizes = split->sizes();
    frm_->mnuQuit->trigger();
    frm_.reset();

    TConsoleStart again{dir_, std::to_string(FreePort()), {}};
    frm_ = std::make_unique<TfrmMain>(again);
    frm_->show();
    EXPECT_EQ(frm_->size(), QSize(900, 700));
    EXPECT_EQ(frm_->findChild<QSplitter*>(QStringLiteral("MainSplit"))->sizes(), sizes);
    frm_->mnuQuit->trigger();
}

TEST(QtTexts, QtsOwnButtonsSpeakKorean) {
    if (!InstallQtTranslations(*QCoreApplication::instance()))
        GTEST_SKIP() << "Qt's Korean translations are not installed";
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "&Yes"), QStringLiteral("예(&Y)"));
}
