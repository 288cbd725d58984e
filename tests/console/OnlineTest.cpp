// The online services against a small HTTP server on 127.0.0.1 in this process: it
// answers while the caller waits in its nested loop, which is what the console does.
#include <QApplication>
#include <QFile>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "console/Main.h"
#include "console/PortCheck.h"
#include "online/Launcher.h"
#include "online/MachineInfo.h"
#include "online/NotifyWindow.h"
#include "online/ReplySplit.h"
#include "online/VersionCheck.h"
#include "online/WebService.h"
#include "tests/console/ConsoleTestUtil.h"
#include "tests/support/TempDir.h"

using namespace nubo;
using namespace nubo::test;
using namespace nubo::testutil;

namespace {

// Answers GET requests by resource name (the path after "/nuboftp/", without query).
// A resource without an answer gets 404. Every request head is kept.
class TLocalHttp : public QObject {
public:
    struct TAnswer {
        int Status = 200;
        QByteArray Body;
    };
    // Called with the request's socket instead of answering at once; it answers later
    // through Respond.
    std::function<void(QTcpSocket*)> Hold;

    TLocalHttp() {
        server_.listen(QHostAddress::LocalHost, 0);
        connect(&server_, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* s = server_.nextPendingConnection())
                connect(s, &QTcpSocket::readyRead, this, [this, s] { Read(s); });
        });
    }
    QString Base() const { return QStringLiteral("http://127.0.0.1:%1/nuboftp/").arg(server_.serverPort()); }
    void Set(const QString& resource, const QByteArray& body, int status = 200) { answers_[resource] = {status, body}; }
    void Respond(QTcpSocket* s, const QString& resource) {
        const TAnswer a = answers_.value(resource, {404, "not found"});
        s->write("HTTP/1.1 " + QByteArray::number(a.Status) +
                 " X\r\nContent-Type: text/plain\r\n"
                 "Content-Length: " +
                 QByteArray::number(a.Body.size()) + "\r\nConnection: close\r\n\r\n" + a.Body);
        s->disconnectFromHost();
    }
    static QString Resource(const QByteArray& head) {
        const QByteArray target = head.split(' ').value(1);
        return QUrl(QString::fromLatin1(target)).path().section(u'/', 2);
    }
    QList<QByteArray> Requests;

private:
    void Read(QTcpSocket* s) {
        QByteArray& buf = pending_[s];
        buf += s->readAll();
        if (!buf.contains("\r\n\r\n")) return;
        Requests << buf;
        const QString resource = Resource(buf);
        pending_.remove(s);
        if (Hold)
            Hold(s);
        else
            Respond(s, resource);
    }
    QTcpServer server_;
    QHash<QString, TAnswer> answers_;
    QHash<QTcpSocket*, QByteArray> pending_;
};

QList<TNotifyWindow*> Notifications() {
    QList<TNotifyWindow*> out;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* n = qobject_cast<TNotifyWindow*>(w); n && n->isVisible()) out << n;
    return out;
}

void CloseNotifications() {
    for (TNotifyWindow* n : Notifications()) n->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

QString Shown(QString text) {
    return text.replace(u'\r', u'\n');
}

TEST(ReplySplit, FieldsEndAtTheDelimiterOrABlankAndQuotesAreRemoved) {
    struct Case {
        const char* text;
        char delimiter;
        QStringList fields;
    } cases[] = {
        {"201|a|b", '|', {"201", "a", "b"}},
        {" 201 | a |b\r\n", '|', {"201", "a", "b"}},
        {"a b|c", '|', {"a", "b", "c"}},
        {"\"x y\"|\"q\"\"t\"", '|', {"x y", "q\"t"}},
        {"a||b", '|', {"a", "", "b"}},
        {"a|", '|', {"a", ""}},
        {"", '|', {}},
        {"connect_fail", ';', {"connect_fail"}},
        {"21|사용가능;80|사용불가;", ';', {"21|사용가능", "80|사용불가", ""}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SplitReply(QString::fromUtf8(c.text), QChar(c.delimiter)), c.fields) << c.text;
}

TEST(MachineInfo, IdentifierIsABracedGuidAndTheLocalAddressIsIPv4OrConnectFail) {
    const QString id = MachineIdentifier();
    if (!QSysInfo::machineUniqueId().isEmpty()) {
        EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\{[0-9a-f]{8}(-[0-9a-f]{4}){3}-[0-9a-f]{12}\\}$"))
                        .match(id)
                        .hasMatch())
            << id.toStdString();
    }
    const QString local = LocalAddress();
    EXPECT_TRUE(local == kConnectFail || QHostAddress(local).protocol() == QAbstractSocket::IPv4Protocol)
        << local.toStdString();
    EXPECT_NE(local, QStringLiteral("127.0.0.1"));
}

TEST(WebService, ReturnsTheBodyOrConnectFailAndSendsTheUserAgentWithoutCache) {
    TLocalHttp http;
    http.Set(QStringLiteral("ip.php"), "203.0.113.9");
    http.Set(QStringLiteral("empty.php"), "");
    http.Set(QStringLiteral("error.php"), "oops", 500);
    http.Set(QStringLiteral("ansi.php"), QByteArray::fromHex("bbe7bfebbad2b0a1")); // CP949
    TWebService web(http.Base());
    EXPECT_EQ(web.PublicAddress(), QStringLiteral("203.0.113.9"));
    ASSERT_EQ(http.Requests.size(), 1);
    const QByteArray head = http.Requests[0];
    EXPECT_TRUE(head.startsWith("GET /nuboftp/ip.php HTTP/1.1\r\n")) << head.toStdString();
    EXPECT_TRUE(head.contains("\r\nUser-Agent: NuboFTPServer 2.0.0\r\n")) << head.toStdString();
    EXPECT_TRUE(head.contains("\r\nCache-Control: no-cache\r\n")) << head.toStdString();

    EXPECT_EQ(web.WebCall(QStringLiteral("empty.php")), kConnectFail);
    EXPECT_EQ(web.WebCall(QStringLiteral("error.php")), kConnectFail);
    EXPECT_EQ(web.WebCall(QStringLiteral("missing.php")), kConnectFail);
    EXPECT_EQ(web.WebCall(QStringLiteral("ansi.php")), QStringLiteral("사용불가"));
    // A second call gets a fresh answer.
    http.Set(QStringLiteral("ip.php"), "203.0.113.10");
    EXPECT_EQ(web.PublicAddress(), QStringLiteral("203.0.113.10"));

    // No service: no connection at all; a refused connection fails too.
    const qsizetype before = http.Requests.size();
    EXPECT_EQ(TWebService(QString()).PublicAddress(), kConnectFail);
    EXPECT_EQ(http.Requests.size(), before);
    const QString closed = QStringLiteral("http://127.0.0.1:%1/nuboftp/").arg(FreePort());
    EXPECT_EQ(TWebService(closed).PortCheck(), kConnectFail);
}

TEST(WebService, TheSameCallIsNotStartedAgainWhileItWaits) {
    TLocalHttp http;
    http.Set(QStringLiteral("ip.php"), "198.51.100.1");
    TWebService web(http.Base());
    QString inner;
    http.Hold = [&](QTcpSocket* s) {
        inner = web.PublicAddress(); // a handler running during the call
        http.Respond(s, QStringLiteral("ip.php"));
    };
    EXPECT_EQ(web.PublicAddress(), QStringLiteral("198.51.100.1"));
    EXPECT_EQ(inner, kConnectFail);
    EXPECT_EQ(http.Requests.size(), 1);
}

// A program folder with a launcher script that records its arguments and folder.
class VersionCheckTest : public ::testing::Test {
protected:
    void SetUp() override {
        launcher_ = dir_.File("Patcher.exe");
        WriteBytes(launcher_, "#!/bin/sh\necho \"$# $*\" > launched.tmp\npwd >> launched.tmp\n"
                              "mv launched.tmp launched.txt\n");
        chmod(launcher_.c_str(), 0755);
    }
    void TearDown() override { CloseNotifications(); }
    std::string Launched() const { return ReadBytes(dir_.File("launched.txt")); }

    TTempDir dir_;
    std::string launcher_;
    TLocalHttp http_;
    TWebService web_{http_.Base()};
    TVersionCheck check_{web_, QString::fromStdString(dir_.Dir())};
};

TEST_F(VersionCheckTest, ANewerVersionIsAnnouncedAndTheLauncherGetsBothFields) {
    http_.Set(QStringLiteral("version.php"), "201|a|b");
    check_.CheckVersion(QStringLiteral("200"));
    ASSERT_EQ(http_.Requests.size(), 1);
    const QString target = QUrl::fromPercentEncoding(http_.Requests[0].split(' ').value(1));
    EXPECT_EQ(target,
              QStringLiteral("/nuboftp/version.php?comid=") + MachineIdentifier() + QStringLiteral("&p_ver=200"));

    const auto shown = Notifications();
    ASSERT_EQ(shown.size(), 1);
    EXPECT_EQ(shown[0]->lblTitle->text(), QStringLiteral("[ 누보FTP서버 2.0.0 ]"));
    EXPECT_EQ(shown[0]->lblText->text(),
              Shown(QStringLiteral("새로운 누보FTP서버로 버전업됨\r\r 자동업데이트 준비중..")));
    EXPECT_EQ(shown[0]->size(), QSize(250, 121));
    ASSERT_TRUE(Pump([&] { return !Launched().empty(); }));
    EXPECT_EQ(Launched(), "2 a b\n" + std::filesystem::canonical(dir_.Dir()).string() + "\n");
}

TEST_F(VersionCheckTest, AnOlderOrEqualVersionOrAnotherShapeDoesNothing) {
    for (const char* reply : {"200|a|b", "1999|a|b", "201|a", "201|a|b|c", "201"}) {
        http_.Set(QStringLiteral("version.php"), reply);
        check_.CheckVersion(QStringLiteral("200"));
        EXPECT_TRUE(Notifications().isEmpty()) << reply;
    }
    EXPECT_EQ(http_.Requests.size(), 5);
    http_.Set(QStringLiteral("version.php"), "3|x|y"); // byte-wise newer than "200"
    check_.Timer_verchkTimer();
    EXPECT_EQ(Notifications().size(), 1);
    ASSERT_TRUE(Pump([&] { return !Launched().empty(); }));
    EXPECT_EQ(Launched().substr(0, 6), "2 x y\n");
    EXPECT_EQ(check_.Timer_verchk.interval(), 43200000);
}

TEST_F(VersionCheckTest, LaunchFailuresAreNotifiedByTheirCause) {
    const QString dir = QString::fromStdString(dir_.Dir());
    const QString missingDir = dir + QStringLiteral("/gone");
    struct Case {
        QString file, folder;
        TLaunchError code;
        QString text;
    } cases[] = {
        {QStringLiteral("Missing.exe"), dir, leFileNotFound,
         QStringLiteral("Exists Error : 실행 파일이 없습니다.\r\rFile : Missing.exe")},
        {QStringLiteral("Patcher.exe"), missingDir, lePathNotFound,
         QStringLiteral("Dir Error : 대상 PATH가 없습니다.\r\rDirectory :") + missingDir},
        {QStringLiteral("plain.txt"), dir, leAccessDenied, QStringLiteral("Access Error : 접근 불가")},
    };
    WriteBytes(dir_.File("plain.txt"), "not a program");
    for (const auto& c : cases) {
        EXPECT_EQ(RunLauncher(c.file, QStringLiteral("a b"), c.folder), c.code);
        const auto shown = Notifications();
        ASSERT_EQ(shown.size(), 1) << c.file.toStdString();
        EXPECT_EQ(shown[0]->lblTitle->text(), QStringLiteral("[ 누보FTP서버 2.0.0 ]"));
        EXPECT_EQ(shown[0]->lblText->text(), Shown(c.text));
        CloseNotifications();
    }
    EXPECT_TRUE(Launched().empty());
}

TEST(NotifyWindow, NotificationsStackAndAClickClosesOne) {
    TNotifyWindow* a = Notify(QStringLiteral("t"), QStringLiteral("one"));
    TNotifyWindow* b = Notify(QStringLiteral("t"), QStringLiteral("two"));
    ASSERT_TRUE(Pump([&] { return a->pos().x() == b->pos().x() && a->pos().x() < 10000; }, 2000));
    EXPECT_EQ(a->y() - b->y(), TNotifyWindow::kHeight);
    QMouseEvent click(QEvent::MouseButtonPress, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(a, &click);
    EXPECT_EQ(Notifications().size(), 1);
    // The next one takes the freed place at the corner.
    TNotifyWindow* c = Notify(QStringLiteral("t"), QStringLiteral("three"));
    ASSERT_TRUE(Pump([&] { return c->pos().x() == b->pos().x(); }, 2000));
    EXPECT_EQ(c->y() - b->y(), TNotifyWindow::kHeight);
    CloseNotifications();
}

class PortCheckTest : public ::testing::Test {
protected:
    void SetUp() override {
        frm_.ShowMessage = [this](const QString& t, bool) { messages_ << t; };
    }
    QStringList Row(int i) const {
        const QTreeWidgetItem* r = frm_.List_Port->topLevelItem(i);
        return {r->text(0), r->text(1), r->text(2)};
    }
    TLocalHttp http_;
    TWebService web_{http_.Base()};
    Tfrm_portcheck frm_{web_};
    QStringList messages_;
};

const QByteArray kNineBlocked = "20|사용불가;21|사용불가;25|사용불가;80|사용불가;2020|사용불가;"
                                "5800|사용불가;5900|사용불가;8000|사용불가;9100|사용불가;";

TEST_F(PortCheckTest, DifferentAddressesNeedTheNoticesTickedAndNineBlockedPortsAreReported) {
    http_.Set(QStringLiteral("ip.php"), "203.0.113.9");
    http_.Set(QStringLiteral("port_check.php"), kNineBlocked);
    frm_.show();
    ASSERT_TRUE(Pump([&] { return frm_.list_port_notice->topLevelItemCount() == 3; }));
    EXPECT_EQ(frm_.list_port_notice->topLevelItem(0)->text(0),
              QStringLiteral("공유기에서 ") + LocalAddress() + QStringLiteral("로 DMZ설정을 해주세요"));
    EXPECT_EQ(frm_.list_port_notice->topLevelItem(1)->text(0),
              QStringLiteral("공유기가 없으면 네트워크관리자에게 문의하여"));
    EXPECT_EQ(frm_.list_port_notice->topLevelItem(2)->text(0),
              QStringLiteral("아래 포트중 사용하고자 하는 포트를 넘겨 받으십시요"));

    frm_.list_port_notice->topLevelItem(0)->setCheckState(0, Qt::Checked);
    frm_.bt_port_check->click();
    EXPECT_EQ(messages_, QStringList{QStringLiteral("아래 필독사항을 확인하신 후 모두 체크후 클릭해주세요")});
    EXPECT_EQ(frm_.List_Port->topLevelItemCount(), 0);
    EXPECT_TRUE(frm_.bt_port_check->isEnabled());
    messages_.clear();

    for (int i = 1; i < 3; ++i) frm_.list_port_notice->topLevelItem(i)->setCheckState(0, Qt::Checked);
    frm_.bt_port_check->click();
    ASSERT_EQ(frm_.List_Port->topLevelItemCount(), 9);
    EXPECT_EQ(Row(0), QStringList({"20", "사용불가", "FTP DATA Port (FTP포트로 설정하면 안됨)"}));
    EXPECT_EQ(Row(1), QStringList({"21", "사용불가", "FTP 기본 Port"}));
    EXPECT_EQ(Row(2), QStringList({"25", "사용불가", "메일 포트(사용불가시 Mail Server 안됨)"}));
    EXPECT_EQ(Row(3), QStringList({"80", "사용불가", "웹서버 기본포트"}));
    EXPECT_EQ(Row(4), QStringList({"2020", "사용불가", "FTP 예비포트"}));
    EXPECT_EQ(Row(6), QStringList({"5900", "사용불가", "원격제어 포트"}));
    EXPECT_EQ(Row(8), QStringList({"9100", "사용불가", "웹서버 예비포트"}));
    EXPECT_EQ(messages_,
              QStringList{QStringLiteral(
                  "모든포트가 막혀있습니다.\r\r\r공유기를 사용하여 사설ip 대역대 사용자인 경우\r\r공유기에서 "
                  "내컴퓨터로 DMZ설정을 하지 않았거나\r\r공유기가 없으면 사설ip 사용자로 네트워크관리자\r\r에게 "
                  "문의하여 해당 포트들을 열어야 합니다.\r\r\r사설ip 예 : 192.168.xxx.xxx")});
    EXPECT_TRUE(frm_.bt_port_check->isEnabled());

    // The lists stay while hidden and are renewed at the next showing.
    frm_.imgClose->click();
    EXPECT_FALSE(frm_.isVisible());
    EXPECT_EQ(frm_.List_Port->topLevelItemCount(), 9);
    frm_.show();
    ASSERT_TRUE(Pump([&] { return frm_.List_Port->topLevelItemCount() == 0; }));
}

TEST_F(PortCheckTest, TheServersOwnPortAndPassiveRangeAreAskedForAndNamed) {
    http_.Set(QStringLiteral("ip.php"), LocalAddress().toUtf8());
    http_.Set(QStringLiteral("port_check.php"),
              "21|사용가능;2121|서버실행중;3000|사용불가;3002|사용불가;3003|사용가능;");
    frm_.ServerPorts = [] { return Tfrm_portcheck::TServerPorts{2121, 3000, 3003}; };
    frm_.FormShow();
    frm_.bt_port_check->click();
    ASSERT_EQ(frm_.List_Port->topLevelItemCount(), 5);
    EXPECT_EQ(Row(0), QStringList({"21", "사용가능", "FTP 기본 Port"}));
    EXPECT_EQ(Row(1), QStringList({"2121", "서버실행중", "이 서버의 FTP 포트"}));
    EXPECT_EQ(Row(2), QStringList({"3000", "사용불가", "이 서버의 Passive 포트"}));
    EXPECT_EQ(Row(3), QStringList({"3002", "사용불가", "이 서버의 Passive 포트"}));
    EXPECT_EQ(Row(4), QStringList({"3003", "사용가능", ""})); // past the range's end
    ASSERT_FALSE(http_.Requests.isEmpty());
    EXPECT_TRUE(http_.Requests.last().startsWith("GET /nuboftp/port_check.php?ports=2121,3000-3002 "))
        << http_.Requests.last().left(80).toStdString();
}

TEST_F(PortCheckTest, EqualAddressesNeedNoNoticesAndBadRecordsAreSkipped) {
    http_.Set(QStringLiteral("ip.php"), LocalAddress().toUtf8());
    http_.Set(QStringLiteral("port_check.php"),
              "21|서버실행중;|사용불가;abc;80|사용가능;9999|사용불가;x|y|z;8000|사용불가");
    frm_.FormShow();
    EXPECT_EQ(frm_.list_port_notice->topLevelItemCount(), 0);
    frm_.bt_port_check->click();
    ASSERT_EQ(frm_.List_Port->topLevelItemCount(), 4);
    EXPECT_EQ(Row(0), QStringList({"21", "서버실행중", "FTP 기본 Port"}));
    EXPECT_EQ(Row(1), QStringList({"80", "사용가능", "웹서버 기본포트"}));
    EXPECT_EQ(Row(2), QStringList({"9999", "사용불가", ""}));
    EXPECT_EQ(Row(3), QStringList({"x", "y|z", ""}));
    EXPECT_TRUE(messages_.isEmpty());
}

TEST(PortCheck, WithoutTheServiceTheWindowSaysWhyNothingIsChecked) {
    TWebService web{QString()};
    Tfrm_portcheck frm(web);
    QStringList messages;
    frm.ShowMessage = [&](const QString& t, bool) { messages << t; };
    frm.FormShow();
    EXPECT_FALSE(frm.bt_port_check->isEnabled());
    EXPECT_FALSE(frm.lblStatus->isHidden());
    EXPECT_TRUE(frm.lblStatus->text().contains(QStringLiteral("ServiceURL"))) << frm.lblStatus->text().toStdString();
    EXPECT_EQ(frm.List_Port->topLevelItemCount(), 0);
    EXPECT_TRUE(messages.isEmpty());

    // A service that does not answer is named.
    TWebService closed{QStringLiteral("http://127.0.0.1:%1/nuboftp/").arg(FreePort())};
    Tfrm_portcheck frm2(closed);
    frm2.ShowMessage = frm.ShowMessage;
    frm2.FormShow();
    ASSERT_TRUE(frm2.bt_port_check->isEnabled());
    for (int i = 0; i < frm2.list_port_notice->topLevelItemCount(); ++i)
        frm2.list_port_notice->topLevelItem(i)->setCheckState(0, Qt::Checked);
    frm2.bt_port_check->click();
    EXPECT_TRUE(
        frm2.lblStatus->text().startsWith(QStringLiteral("포트 검사 서비스에 연결할 수 없습니다: http://127.0.0.1:")))
        << frm2.lblStatus->text().toStdString();
}

// The console asks for the version at creation, while its server already serves: the
// service here answers only once an FTP client got the server's greeting, which
// needs the server's loop running inside the call's wait.
TEST(OnlineInMainWindow, TheVersionCheckAtStartWaitsWhileTheServerServes) {
    QStandardPaths::setTestModeEnabled(true);
    TTempDir dir;
    TLocalHttp http;
    http.Set(QStringLiteral("version.php"), "200|a|b");
    WriteBytes(dir.File("ftp_config.ini"), "[Setup]\r\nPort=21\r\nServiceURL=" + http.Base().toStdString() + "\r\n");
    const int port = FreePort();
    // Only the call's own wait runs the loops here: no pumping in this handler.
    std::string greeting;
    QTcpSocket ftp;
    http.Hold = [&](QTcpSocket* s) {
        QObject::connect(&ftp, &QTcpSocket::readyRead, &ftp, [&, s] {
            const bool first = greeting.find("\r\n") == std::string::npos;
            greeting += ftp.readAll().toStdString();
            if (first && greeting.find("\r\n") != std::string::npos)
                http.Respond(s, TLocalHttp::Resource(http.Requests.last()));
        });
        ftp.connectToHost(QHostAddress::LocalHost, quint16(port));
    };
    {
        TfrmMain frm(TConsoleStart{dir.Dir(), std::to_string(port), {}});
        ASSERT_EQ(http.Requests.size(), 1);
        EXPECT_EQ(TLocalHttp::Resource(http.Requests[0]), QStringLiteral("version.php"));
        EXPECT_EQ(greeting.substr(0, 3), "220") << greeting;
        EXPECT_TRUE(frm.VersionCheck->Timer_verchk.isActive());
        EXPECT_TRUE(Notifications().isEmpty());
        for (QAction* a : {frm.MnuOnline, frm.JvXPButton1, frm.btn_portcheck, frm.N5})
            EXPECT_TRUE(a->isEnabled()) << a->objectName().toStdString();

        http.Hold = nullptr;
        ftp.close();
        http.Set(QStringLiteral("ip.php"), "203.0.113.9");
        frm.N5->trigger();
        ASSERT_NE(frm.frm_portcheck, nullptr);
        EXPECT_TRUE(frm.frm_portcheck->isVisible());
        ASSERT_TRUE(Pump([&] { return frm.frm_portcheck->list_port_notice->topLevelItemCount() == 3; }));
    }
    QStandardPaths::setTestModeEnabled(false);
}

} // namespace
