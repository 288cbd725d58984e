// Drives the real main window on a real display (Xvfb with a window manager and a
// tray, see scripts/window-shots.sh) and writes pictures of it into the folder given on
// the command line: running with two slow downloads and an idle login, the transfers
// list, a question before a disconnect, and a failed start on a busy port. Not a test:
// the pictures are for looking at.
#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QScreen>
#include <QTimer>
#include <arpa/inet.h>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/wait.h>
#include <vector>

#include "console/Main.h"
#include "tests/console/ConsoleTestUtil.h"

using namespace nubo;
using namespace nubo::testutil;

extern char** environ;

namespace {

QString outDir;

// The window with its frame as the window manager drew it.
void Shoot(QWidget& w, const char* name) {
    QApplication::processEvents();
    const QRect frame = w.frameGeometry();
    const QPixmap shot =
        w.screen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
    shot.save(outDir + "/" + name);
    std::printf("%s %dx%d\n", name, shot.width(), shot.height());
}

pid_t SlowDownload(int port, const std::string& file, const char* rate) {
    const std::string url = "ftp://127.0.0.1:" + std::to_string(port) + "/" + file;
    const char* argv[] = {"curl", "-s", "--limit-rate", rate, "--max-time", "120", "-o", "/dev/null",
                          url.c_str(), nullptr};
    pid_t pid = -1;
    posix_spawnp(&pid, "curl", nullptr, nullptr, const_cast<char**>(argv), environ);
    return pid;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    app.setOrganizationName(QStringLiteral("Nubo"));
    app.setApplicationName(QStringLiteral("Nubo FTP Server shots"));
    InstallQtTranslations(app);
    if (argc < 2) return 2;
    outDir = QString::fromLocal8Bit(argv[1]);
    QFont font = QApplication::font();
    font.setFamilies({QStringLiteral("Noto Sans CJK KR"), font.family()});
    QApplication::setFont(font);

    const std::string dir = QDir::tempPath().toStdString() + "/nubo-window-shots/";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir + "down/영상");
    for (const char* name : {"down/영상/여름 여행 2026.mp4", "down/backup-2026-12.tar"}) {
        std::ofstream f(dir + name, std::ios::binary);
        f.seekp((256 << 20) - 1);
        f.put('\0');
    }
    const int port = FreePort();
    TfrmMain frm(TConsoleStart{dir, std::to_string(port), {}});
    frm.show();
    frm.resize(900, 640);
    Pump([] { return false; }, 500);

    std::vector<pid_t> clients = {SlowDownload(port, "%EC%98%81%EC%83%81/%EC%97%AC%EB%A6%84%20%EC%97%AC%ED%96%89%202026.mp4", "900k"),
                                  SlowDownload(port, "backup-2026-12.tar", "2m")};
    const int idle = Connect(port);
    const char* login = "USER anonymous\r\nPASS guest@\r\n";
    send(idle, login, strlen(login), 0);
    Pump([&] { return frm.Current_UpDownBox->topLevelItemCount() == 2; });
    Pump([] { return false; }, 3000);

    frm.MonitorTabs->setCurrentIndex(0);
    Shoot(frm, "window-running.png");
    frm.MonitorTabs->setCurrentIndex(1);
    Shoot(frm, "window-transfers.png");

    // A disconnect asks first: picture the question, then say no.
    frm.MonitorTabs->setCurrentIndex(2);
    Pump([&] { return frm.UserBox->topLevelItemCount() == 3; });
    frm.UserBox->setCurrentItem(frm.UserBox->topLevelItem(0));
    QTimer::singleShot(800, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return;
        Pump([] { return false; }, 300);
        const QRect r = frm.frameGeometry().united(box->frameGeometry());
        frm.screen()->grabWindow(0, r.x(), r.y(), r.width(), r.height()).save(outDir + "/window-question.png");
        std::printf("window-question.png\n");
        box->reject();
    });
    frm.Detail->btn_disconnect->click();

    for (pid_t pid : clients) {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }
    close(idle);

    // The port taken by someone else: the start fails and the window says so.
    frm.Host().Stop();
    const int holder = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    const int one = 1;
    setsockopt(holder, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (bind(holder, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(holder, 1) != 0)
        std::perror("holding the port");
    frm.MonitorTabs->setCurrentIndex(0);
    frm.btn_start->trigger();
    frm.LogTabs->setCurrentIndex(0);
    Pump([] { return false; }, 1500);
    Shoot(frm, "window-failed.png");
    close(holder);

    frm.Quit();
    std::filesystem::remove_all(dir);
    return 0;
}
