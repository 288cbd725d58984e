#include "console/SetupFTP.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QRegularExpression>
#include <QVBoxLayout>

#include "console/DialogSeams.h"
#include "console/QtText.h"
#include "socket/TlsContext.h"

#include <filesystem>

namespace nubo {

namespace {

const QString kDiscardQuestion = QStringLiteral("저장할 수 없는 값이 있습니다. 변경한 내용을 버리고 닫을까요?");

// Decimal digits only, within [lo, hi]; anything else is no number.
std::optional<int64_t> FieldNumber(const QLineEdit* field, int64_t lo, int64_t hi) {
    static const QRegularExpression digits(QStringLiteral("^[0-9]{1,10}$"));
    const QString t = field->text().trimmed();
    if (!digits.match(t).hasMatch()) return std::nullopt;
    const int64_t v = t.toLongLong();
    if (v < lo || v > hi) return std::nullopt;
    return v;
}

} // namespace

TfrmSetupFTP::TfrmSetupFTP(TSettingsFile file, TSettings& memory, const TLangTexts& lang, TAutoStart autoStart,
                           QWidget* parent)
    : QDialog(parent), ShowMessage(MessageBoxOf(this)), AskYesNo(QuestionBoxOf(this)), file_(std::move(file)),
      memory_(memory), lang_(lang), autoStart_(std::move(autoStart)) {
    setObjectName("frmSetupFTP");
    setWindowTitle(QStringLiteral("서버 설정"));

    auto edit = [this](const char* name, int width) {
        auto* e = new QLineEdit(this);
        e->setObjectName(name);
        if (width) e->setFixedWidth(width);
        return e;
    };
    txtPort = edit("txtPort", 70);
    txtMaxUser = edit("txtMaxUser", 70);
    txtLowPASV = edit("txtLowPASV", 70);
    txtHighPASV = edit("txtHighPASV", 70);
    txtPassiveAddress = edit("txtPassiveAddress", 160);
    txtPassiveAddress->setPlaceholderText(QStringLiteral("비우면 로컬 주소"));
    txtEnterMessage = edit("txtEnterMessage", 0);
    txtExitMessage = edit("txtExitMessage", 0);
    lblPortError = ErrorLabel("lblPortError", this);
    lblMaxUserError = ErrorLabel("lblMaxUserError", this);
    lblPASVError = ErrorLabel("lblPASVError", this);
    lblImplicitError = ErrorLabel("lblImplicitError", this);

    auto* grid = new QGridLayout;
    grid->addWidget(txtPort, 0, 0);
    grid->addWidget(new QLabel(QStringLiteral(": FTP 포트 ( Default : 21)"), this), 0, 1);
    grid->addWidget(lblPortError, 1, 0, 1, 2);
    lblRunPort = new QLabel(this);
    lblRunPort->setObjectName("lblRunPort");
    lblRunPort->setWordWrap(true);
    lblRunPort->hide();
    grid->addWidget(lblRunPort, 4, 0, 1, 2);
    grid->addWidget(txtMaxUser, 2, 0);
    grid->addWidget(new QLabel(QStringLiteral(": 서버 접속 허용 인원 ( 0 = 제한없음 )"), this), 2, 1);
    grid->addWidget(lblMaxUserError, 3, 0, 1, 2);
    grid->setColumnStretch(1, 1);

    auto* pasv = new QGroupBox(QStringLiteral("Passive Mode 설정"), this);
    auto* pasvRow = new QHBoxLayout;
    pasvRow->addWidget(new QLabel(QStringLiteral("Low"), pasv));
    pasvRow->addWidget(txtLowPASV);
    pasvRow->addWidget(new QLabel(QStringLiteral("High"), pasv));
    pasvRow->addWidget(txtHighPASV);
    pasvRow->addWidget(new QLabel(QStringLiteral("Both 0 to disable"), pasv));
    pasvRow->addStretch();
    auto* natRow = new QHBoxLayout;
    natRow->addWidget(new QLabel(QStringLiteral("외부 주소 (NAT)"), pasv));
    natRow->addWidget(txtPassiveAddress);
    natRow->addWidget(new QLabel(QStringLiteral("주소, 이름 또는 auto"), pasv));
    natRow->addStretch();
    auto* pasvBox = new QVBoxLayout(pasv);
    pasvBox->addLayout(pasvRow);
    pasvBox->addWidget(lblPASVError);
    pasvBox->addLayout(natRow);

    auto* tls = new QGroupBox(QStringLiteral("암호화 (FTPS)"), this);
    cmbEncryption = new QComboBox(tls);
    cmbEncryption->setObjectName("cmbEncryption");
    cmbEncryption->addItems({QStringLiteral("사용 안 함"), QStringLiteral("허용 (클라이언트가 선택)"),
                             QStringLiteral("필수 (암호화하지 않은 로그인 거부)")});
    txtImplicitPort = edit("txtImplicitPort", 70);
    lblCertificate = new QLabel(tls);
    lblCertificate->setObjectName("lblCertificate");
    lblCertificate->setWordWrap(true);
    lblCertificate->setTextInteractionFlags(Qt::TextSelectableByMouse); // the fingerprint can be copied
    auto* tlsGrid = new QGridLayout(tls);
    tlsGrid->addWidget(cmbEncryption, 0, 0, 1, 2);
    tlsGrid->addWidget(txtImplicitPort, 1, 0);
    tlsGrid->addWidget(new QLabel(QStringLiteral(": 암시적 FTPS 포트 ( 0 = 사용 안 함, 보통 990 )"), tls), 1, 1);
    tlsGrid->addWidget(lblImplicitError, 2, 0, 1, 2);
    tlsGrid->addWidget(lblCertificate, 3, 0, 1, 2);
    lblProtocol = new QLabel(this);
    lblProtocol->setObjectName("lblProtocol");
    lblProtocol->setWordWrap(true);
    tlsGrid->setColumnStretch(1, 1);
    connect(cmbEncryption, &QComboBox::currentIndexChanged, this,
            [this](int index) { txtImplicitPort->setEnabled(index != 0); });

    chkStart = new QCheckBox(QStringLiteral("윈도우 시작시 자동실행"), this);
    chkStart->setObjectName("chkStart");
    chkTray = new QCheckBox(QStringLiteral("실행시 자동 숨기기"), this);
    chkTray->setObjectName("chkTray");
    chkLog = new QCheckBox(QStringLiteral("로그 파일 기록"), this);
    chkLog->setObjectName("chkLog");
    auto* boxes = new QHBoxLayout;
    for (QCheckBox* c : {chkStart, chkTray, chkLog}) boxes->addWidget(c);
    boxes->addStretch();

    btn_save = new QPushButton(QStringLiteral("저장"), this);
    btn_save->setObjectName("btn_save");
    btn_save->setDefault(true); // Enter in a field saves
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btn_save);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(pasv);
    layout->addWidget(tls);
    layout->addWidget(lblProtocol);
    layout->addWidget(new QLabel(QStringLiteral("[ 서버 접속 환영 메세지 ]"), this));
    layout->addWidget(txtEnterMessage);
    layout->addWidget(new QLabel(QStringLiteral("[ 서버 종료 메세지 ]"), this));
    layout->addWidget(txtExitMessage);
    layout->addLayout(boxes);
    layout->addLayout(buttons);
    setMinimumWidth(460);

    FormShow();
    for (QLineEdit* e : {txtPort, txtMaxUser, txtLowPASV, txtHighPASV, txtEnterMessage, txtExitMessage, txtImplicitPort,
                         txtPassiveAddress})
        connect(e, &QLineEdit::textChanged, this, &TfrmSetupFTP::txtPortChange);
    connect(cmbEncryption, &QComboBox::currentIndexChanged, this, &TfrmSetupFTP::txtPortChange);
    for (QCheckBox* c : {chkStart, chkTray, chkLog})
        connect(c, &QCheckBox::toggled, this, &TfrmSetupFTP::txtPortChange);
    connect(btn_save, &QPushButton::clicked, this, &TfrmSetupFTP::btn_saveClick);
    btn_save->setEnabled(false);
}

void TfrmSetupFTP::SetRunPort(const QString& port) {
    lblRunPort->setText(QStringLiteral("이번 실행은 명령줄(--port)에서 정한 포트 %1에서 수신합니다. "
                                       "여기서 저장한 포트는 --port 없이 시작할 때 쓰입니다.")
                            .arg(port));
    lblRunPort->setVisible(!port.isEmpty());
}

void TfrmSetupFTP::FormShow() {
    const TIniFile& ini = file_.Ini();
    txtPort->setText(Q(file_.Port()));
    // As the text stands, so that a value edited by hand shows what is wrong with it.
    txtMaxUser->setText(Q(ini.ReadString(kSetupSection, "MaxUser", "0")));
    chkTray->setChecked(file_.TrayIcon());
    chkLog->setChecked(file_.Log());
    if (chkLog->isChecked()) memory_.Log = true;
    txtEnterMessage->setText(Q(file_.EnterMessage()));
    txtExitMessage->setText(Q(file_.ExitMessage()));
    txtLowPASV->setText(Q(ini.ReadString(kSetupSection, "LowPASV", "0")));
    txtHighPASV->setText(Q(ini.ReadString(kSetupSection, "HighPASV", "0")));
    txtPassiveAddress->setText(Q(file_.PassiveAddress()));
    const std::string listen = file_.ListenAddress();
    lblProtocol->setText(QStringLiteral("수신 주소: ") +
                         (listen.empty() ? QStringLiteral("모든 주소 (IPv4, IPv6)") : Q(listen)) +
                         QStringLiteral("  ·  항상 켜짐: UTF8, EPSV/EPRT, HASH, HELP"));
    chkStart->setChecked(autoStart_.Enabled());
    // A value the server does not know leaves TLS off, and the dialog says so.
    const int64_t encryption = file_.Encryption();
    cmbEncryption->setCurrentIndex(encryption == 1 || encryption == 2 ? int(encryption) : 0);
    txtImplicitPort->setText(Q(file_.ImplicitTlsPort()));
    txtImplicitPort->setEnabled(cmbEncryption->currentIndex() != 0);
    ShowCertificate();
}

// What the server will present, read from the files it will load.
void TfrmSetupFTP::ShowCertificate() {
    const std::string cert = file_.TlsCertificatePath(), key = file_.TlsKeyPath();
    std::error_code ec;
    if (!std::filesystem::exists(cert, ec) && !std::filesystem::exists(key, ec)) {
        lblCertificate->setText(QStringLiteral("인증서가 아직 없습니다. 암호화를 켜고 서버를 시작하면 자체 서명 "
                                               "인증서가 만들어집니다: ") +
                                Q(cert));
        return;
    }
    std::string error;
    const auto context = TTlsContext::Load(cert, key, error);
    if (!context) {
        lblCertificate->setText(QStringLiteral("인증서를 쓸 수 없습니다: ") + Q(error));
        return;
    }
    const TCertificateInfo& info = context->Certificate();
    lblCertificate->setText(QStringLiteral("인증서: ") + Q(info.Subject) + QStringLiteral("\n유효기간: ") +
                            Q(info.NotBefore) + QStringLiteral(" ~ ") + Q(info.NotAfter) +
                            QStringLiteral("\nSHA-256: ") + Q(info.Fingerprint));
}

void TfrmSetupFTP::txtPortChange() {
    btn_save->setEnabled(true);
}

std::optional<TSettingsFile::TDialogValues> TfrmSetupFTP::CheckedValues() {
    const auto port = FieldNumber(txtPort, 1, 65535);
    const auto maxUser = FieldNumber(txtMaxUser, 0, INT32_MAX);
    const auto low = FieldNumber(txtLowPASV, 0, 65535);
    const auto high = FieldNumber(txtHighPASV, low.value_or(0), 65535);
    const auto implicitPort = FieldNumber(txtImplicitPort, 0, 65535);
    const bool implicitOk = implicitPort && (*implicitPort == 0 || *implicitPort != port.value_or(0));
    ShowError(lblPortError, port ? QString() : QStringLiteral("포트는 1에서 65535 사이의 숫자입니다."));
    ShowError(lblMaxUserError, maxUser ? QString() : QStringLiteral("접속 허용 인원은 0 이상의 숫자입니다."));
    ShowError(lblPASVError, low && high ? QString()
                                        : QStringLiteral("Low는 0에서 65535, High는 Low에서 65535 "
                                                         "사이의 숫자입니다."));
    ShowError(lblImplicitError, implicitOk ? QString()
                                           : QStringLiteral("암시적 FTPS 포트는 0에서 65535 사이의 숫자이고 "
                                                            "FTP 포트와 달라야 합니다."));
    if (!port || !maxUser || !low || !high || !implicitOk) return std::nullopt;
    return TSettingsFile::TDialogValues{txtPort->text().trimmed().toStdString(),
                                        *maxUser,
                                        *low,
                                        *high,
                                        chkTray->isChecked(),
                                        chkLog->isChecked(),
                                        txtEnterMessage->text().toStdString(),
                                        txtExitMessage->text().toStdString(),
                                        cmbEncryption->currentIndex(),
                                        std::to_string(*implicitPort),
                                        txtPassiveAddress->text().trimmed().toStdString()};
}

bool TfrmSetupFTP::btn_saveClick() {
    const auto values = CheckedValues();
    if (!values) return false;
    try {
        file_.SaveDialog(*values);
    } catch (const EIniFileException& e) {
        ShowMessage(Q(e.what()), true);
        return false;
    }
    autoStart_.SetEnabled(chkStart->isChecked());
    btn_save->setEnabled(false);
    ShowMessage(Q(lang_.LangTextPlain(sSetupFormClose)), false);
    return true;
}

bool TfrmSetupFTP::FormCloseQuery() {
    return btn_saveClick() || AskYesNo(kDiscardQuestion);
}

// Every way out of a dialog (Escape, the title bar, accept or reject) ends here.
void TfrmSetupFTP::done(int r) {
    if (FormCloseQuery()) QDialog::done(r);
}

} // namespace nubo
