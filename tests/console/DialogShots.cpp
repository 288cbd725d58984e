// Writes a picture of each account dialog, filled from a sample user file, and of the
// settings dialog with a certificate into the folder given on the command line. Run it on a real display (Xvfb does) to
// look at the captions; it is not a test.
#include <QApplication>
#include <QDir>
#include <QPainter>
#include <QPixmap>
#include <filesystem>

#include "console/AccountsDialog.h"
#include "console/SetupFTP.h"
#include "socket/TlsContext.h"

using namespace nubo;

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2) return 2;
    const QString out = QString::fromLocal8Bit(argv[1]);
    const std::string dir = QDir::tempPath().toStdString() + "/nubo-shots/";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir + "pub");
    TUserFile users(dir + "ftp_users.ini");
    users.CreateIfMissing(dir);
    TUserFile::TAccount bob;
    bob.Password = "secret";
    bob.UserMemo = "자료실 관리자";
    bob.MaxUser = "2";
    bob.MaxSpeed = "512";
    bob.MaxUpSpeed = "256";
    bob.EnterMessage = "환영합니다";
    bob.HomePath = dir + "down";
    users.WriteAccount("bob", bob, kNewHomeLetters);
    users.WriteMainPage(
        "bob", bob,
        {{bob.HomePath, std::string(kNewHomeLetters), ""}, {dir + "pub", std::string(kNewDirLetters), "pub"}});

    const auto shoot = [&](QWidget& w, const char* name) {
        w.show();
        QApplication::processEvents();
        // Xvfb runs no window manager, so the picture gets a drawn title bar with the
        // window's caption.
        const QPixmap body = w.grab();
        QPixmap shot(body.width(), body.height() + 26);
        shot.fill(QColor(0x3c, 0x5a, 0x82));
        QPainter p(&shot);
        p.setPen(Qt::white);
        p.drawText(QRect(8, 0, body.width() - 16, 26), Qt::AlignVCenter, w.windowTitle());
        p.drawPixmap(0, 26, body);
        p.end();
        shot.save(out + "/" + name);
    };
    Tfrm_User_Setup setup(users, nullptr);
    setup.Seams.RunDialog = [&](QDialog& d) {
        shoot(d, d.objectName() == "frm_Dir_edit" ? "dialog-dir-edit.png" : "dialog-user-edit.png");
        return int(QDialog::Rejected);
    };
    setup.show();
    setup.User_List->setCurrentItem(setup.User_List->topLevelItem(1));
    setup.Dir_list->setCurrentItem(setup.Dir_list->topLevelItem(1));
    shoot(setup, "dialog-user-setup.png");
    setup.bt_user_edit->click(); // reloads the account: select the directory again
    setup.Dir_list->setCurrentItem(setup.Dir_list->topLevelItem(1));
    setup.bt_dir_edit->click();

    TSettingsFile config(dir + "ftp_config.ini");
    config.CreateIfMissing();
    std::string error;
    CreateSelfSignedCertificate(config.TlsCertificatePath(), config.TlsKeyPath(), "nubo.example", error);
    TSettings memory;
    const TLangTexts lang(dir);
    TfrmSetupFTP settings(config, memory, lang, TAutoStart(QString::fromStdString(dir + "autostart.desktop"), {}));
    shoot(settings, "dialog-settings.png");
    std::filesystem::remove_all(dir);
    return 0;
}
