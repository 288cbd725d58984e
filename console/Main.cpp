#include "console/Main.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLibraryInfo>
#include <QLocale>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>
#include <QSettings>
#include <QStatusBar>
#include <QStyle>
#include <QToolBar>
#include <QTranslator>
#include <QVBoxLayout>
#include <cstdlib>

#include "console/AccountsDialog.h"
#include "console/BanList.h"
#include "console/IPAccess.h"
#include "console/MonitorLists.h"
#include "console/PortCheck.h"
#include "console/QtText.h"
#include "console/SetupFTP.h"

namespace nubo {

namespace {

constexpr int kClientWidth = 800;
constexpr int kClientHeight = 600;
constexpr int kMinimumWidth = 640;
constexpr int kMinimumHeight = 420;

QAction* NamedAction(QObject* parent, const char* name, const QString& caption) {
    auto* a = new QAction(caption, parent);
    a->setObjectName(name);
    return a;
}

} // namespace

QString PortLabelText(const TServerState& state) {
    switch (state.Phase) {
    case TServerState::TPhase::Listening: return Q(state.Port);
    case TServerState::TPhase::Starting: return QStringLiteral("시작 중");
    case TServerState::TPhase::Failed:
        return state.Port.empty() ? QStringLiteral("시작 실패") : QStringLiteral("시작 실패 (%1)").arg(Q(state.Port));
    case TServerState::TPhase::Stopped: break;
    }
    return QStringLiteral("중지됨");
}

QString StateSummary(const TServerState& state) {
    if (!state.Listening()) return PortLabelText(state);
    return QStringLiteral("%1, %2 %3")
        .arg(Q(state.Port))
        .arg(state.Users)
        .arg(state.Users == 1 ? QStringLiteral("user") : QStringLiteral("users"));
}

bool InstallQtTranslations(QCoreApplication& app) {
    auto* qt = new QTranslator(&app);
    if (!qt->load(QLocale(QLocale::Korean), QStringLiteral("qtbase"), QStringLiteral("_"),
                  QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete qt;
        return false;
    }
    return QCoreApplication::installTranslator(qt);
}

bool HasHideTraySwitch(const QStringList& params) {
    for (const auto& p : params)
        if (p.size() == 9 && (p[0] == u'-' || p[0] == u'/') &&
            p.mid(1).compare(QStringLiteral("hidetray"), Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

TfrmMain::TfrmMain(const TConsoleStart& start, QWidget* parent)
    : QMainWindow(parent), loopDriver_(TEventLoop::Current()) {
    setObjectName("frmMain");
    ShowMessage = [this](const QString& text, bool error) {
        if (error)
            QMessageBox::critical(this, windowTitle(), text);
        else
            QMessageBox::information(this, windowTitle(), text);
    };
    AskYesNo = QuestionBoxOf(this);

    BuildMenus();
    BuildToolBar();
    // The lists above and the log panes below share the height as the operator drags.
    auto* upper = new QWidget(this);
    auto* layout = new QVBoxLayout(upper);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(3);
    layout->addWidget(BuildMonitor(), 1);
    layout->addWidget(BuildInfoStrip());
    mainSplit_ = new QSplitter(Qt::Vertical, this);
    mainSplit_->setObjectName("MainSplit");
    mainSplit_->setChildrenCollapsible(false);
    mainSplit_->addWidget(upper);
    mainSplit_->addWidget(BuildLogTabs());
    mainSplit_->setSizes({290, 250});
    auto* central = new QWidget(this);
    auto* outer = new QVBoxLayout(central);
    outer->setContentsMargins(4, 2, 4, 2);
    outer->addWidget(mainSplit_);
    setCentralWidget(central);
    BuildStatusBar();
    setMinimumSize(kMinimumWidth, kMinimumHeight);
    resize(kClientWidth, kClientHeight);

    // The host creates "log", "down" and the two INI files when missing.
    host_ = std::make_unique<TFtpHost>(start.Dir);
    if (!start.Port.empty()) host_->SetPortOverride(start.Port);
    // The version lines, without time stamp.
    host_->WriteVersionLines();
    ShowTrayIcon(!HasHideTraySwitch(start.Params));
    startHidden_ = host_->ConfigFile().TrayIcon();
    // Lines the host wrote before the window was its view (the version lines).
    for (int p = 0; p < kLogPaneCount; ++p)
        for (const auto& line : host_->Log().Pane(p).Lines()) Panes[size_t(p)]->AddLine(line);
    host_->SetView(this);
    host_->RefreshUserCount();
    UserBoxSelectItem();
    MonitorRefreshed();
    host_->StartTimers();
    Web = std::make_unique<TWebService>(Q(host_->ConfigFile().ServiceURL()));
    host_->PublicAddress = [this] {
        const QString a = Web->PublicAddress();
        return a == QStringLiteral("connect_fail") ? std::string() : a.trimmed().toStdString();
    };
    mnuStart->trigger(); // the server starts on every program start

    for (QAction* a : {MnuOnline, JvXPButton1}) a->setEnabled(!Web->BaseAddress().isEmpty());
    VersionCheck = std::make_unique<TVersionCheck>(*Web, QCoreApplication::applicationDirPath());
    VersionCheck->CheckVersion(VersionCode());
    VersionCheck->Timer_verchk.start();
}

TfrmMain::~TfrmMain() {
    delete frm_portcheck; // it calls the web service, which goes before it otherwise
    // The host's last reports (its stop) must not reach a half-destroyed window.
    host_->SetView(nullptr);
    host_.reset();
}

// --- building the window ---

void TfrmMain::BuildMenus() {
    QMenu* file = menuBar()->addMenu(QStringLiteral("파일(&F)"));
    mnuClear = NamedAction(this, "mnuClear", QStringLiteral("로그 지우기"));
    mnuQuit = NamedAction(this, "mnuQuit", QStringLiteral("끝내기"));
    file->addAction(mnuClear);
    file->addSeparator();
    file->addAction(mnuQuit);
    connect(mnuClear, &QAction::triggered, this, &TfrmMain::mnuClearClick);
    connect(mnuQuit, &QAction::triggered, this, &TfrmMain::cmdQuitClick);

    QMenu* server = menuBar()->addMenu(QStringLiteral("서버(&S)"));
    mnuStart = NamedAction(this, "mnuStart", QStringLiteral("시작"));
    mnuStop = NamedAction(this, "mnuStop", QStringLiteral("정지"));
    mnuRestart = NamedAction(this, "mnuRestart", QStringLiteral("재시작"));
    server->addAction(mnuStart);
    server->addAction(mnuStop);
    server->addAction(mnuRestart);
    connect(mnuStart, &QAction::triggered, this, &TfrmMain::btn_startClick);
    connect(mnuStop, &QAction::triggered, this, &TfrmMain::btn_stopClick);
    connect(mnuRestart, &QAction::triggered, this, &TfrmMain::mnuRestartClick);
    mnuStart->setShortcut(QKeySequence(Qt::Key_F5));
    mnuStop->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F5));
    mnuRestart->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F5));
    mnuClear->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
    mnuQuit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));

    QMenu* setup = menuBar()->addMenu(QStringLiteral("설정(&O)"));
    mnuFTP = NamedAction(this, "mnuFTP", QStringLiteral("서버 설정"));
    mnuUser = NamedAction(this, "mnuUser", QStringLiteral("유저 설정"));
    mnuIPAccess = NamedAction(this, "mnuIPAccess", QStringLiteral("IP별 접근제어"));
    mnuBans = NamedAction(this, "mnuBans", QStringLiteral("차단 목록..."));
    N5 = NamedAction(this, "N5", QStringLiteral("포트체크"));
    for (QAction* a : {mnuFTP, mnuUser, mnuIPAccess, mnuBans, N5}) setup->addAction(a);
    connect(mnuFTP, &QAction::triggered, this, &TfrmMain::btn_ftpconfigClick);
    connect(mnuUser, &QAction::triggered, this, &TfrmMain::btn_userconfigClick);
    connect(mnuIPAccess, &QAction::triggered, this, &TfrmMain::btn_ipaccessClick);
    connect(mnuBans, &QAction::triggered, this, &TfrmMain::mnuBansClick);
    connect(N5, &QAction::triggered, this, &TfrmMain::btn_PortCheckClick);
    mnuFTP->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
    mnuUser->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_U));
    mnuIPAccess->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_I));

    QMenu* help = menuBar()->addMenu(QStringLiteral("도움말(&H)"));
    MnuOnline = NamedAction(this, "MnuOnline", QStringLiteral("온라인 도움말"));
    MnuOnline->setEnabled(false);
    mnuAbout = NamedAction(this, "mnuAbout", QStringLiteral("About"));
    help->addAction(MnuOnline);
    help->addSeparator();
    help->addAction(mnuAbout);
    connect(mnuAbout, &QAction::triggered, this, [this] {
        QMessageBox::about(this, QStringLiteral("About"),
                           QStringLiteral("<b>Nubo FTP Server</b> %1<br>"
                                          "FTP 서버와 관리 콘솔")
                               .arg(QStringLiteral(NUBO_VERSION)));
    });

    connect(Tray.popShow, &QAction::triggered, this, &TfrmMain::Activate);
    connect(Tray.popStart, &QAction::triggered, this, &TfrmMain::btn_startClick);
    connect(Tray.popStop, &QAction::triggered, this, &TfrmMain::btn_stopClick);
    connect(Tray.popRestart, &QAction::triggered, this, &TfrmMain::popRestartClick);
    connect(Tray.popExit, &QAction::triggered, this, &TfrmMain::cmdQuitClick);
    connect(&Tray, &TTrayIcon::Clicked, this, &TfrmMain::RxTrayIconClick);
}

void TfrmMain::BuildToolBar() {
    QToolBar* bar = addToolBar(QStringLiteral("ToolBar"));
    bar->setObjectName("ToolBar");
    bar->setMovable(false);
    bar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    bar->setIconSize(QSize(22, 22));
    QStyle* s = style();
    btn_start = NamedAction(this, "btn_start", QStringLiteral("서버시작"));
    btn_start->setIcon(s->standardIcon(QStyle::SP_MediaPlay));
    btn_stop = NamedAction(this, "btn_stop", QStringLiteral("서버중지"));
    btn_stop->setIcon(s->standardIcon(QStyle::SP_MediaStop));
    btn_ftpconfig = NamedAction(this, "btn_ftpconfig", QStringLiteral("서버설정"));
    btn_ftpconfig->setIcon(s->standardIcon(QStyle::SP_FileDialogDetailedView));
    btn_userconfig = NamedAction(this, "btn_userconfig", QStringLiteral("유저설정"));
    btn_userconfig->setIcon(s->standardIcon(QStyle::SP_DirHomeIcon));
    btn_ipaccess = NamedAction(this, "btn_ipaccess", QStringLiteral("접근제어"));
    btn_ipaccess->setIcon(s->standardIcon(QStyle::SP_MessageBoxWarning));
    btn_portcheck = NamedAction(this, "btn_portcheck", QStringLiteral("포트체크"));
    btn_portcheck->setIcon(s->standardIcon(QStyle::SP_DriveNetIcon));
    JvXPButton1 = NamedAction(this, "JvXPButton1", QStringLiteral("웹누보 고객센터"));
    JvXPButton1->setIcon(s->standardIcon(QStyle::SP_DialogHelpButton));
    bar->addAction(btn_start);
    bar->addAction(btn_stop);
    bar->addSeparator();
    for (QAction* a : {btn_ftpconfig, btn_userconfig, btn_ipaccess, btn_portcheck}) bar->addAction(a);
    bar->addSeparator();
    bar->addAction(JvXPButton1);
    // The web site is known once the online services are set up.
    JvXPButton1->setEnabled(false);
    connect(btn_start, &QAction::triggered, this, &TfrmMain::btn_startClick);
    connect(btn_stop, &QAction::triggered, this, &TfrmMain::btn_stopClick);
    connect(btn_ftpconfig, &QAction::triggered, this, &TfrmMain::btn_ftpconfigClick);
    connect(btn_userconfig, &QAction::triggered, this, &TfrmMain::btn_userconfigClick);
    connect(btn_ipaccess, &QAction::triggered, this, &TfrmMain::btn_ipaccessClick);
    connect(btn_portcheck, &QAction::triggered, this, &TfrmMain::btn_PortCheckClick);
    for (QAction* a : {MnuOnline, JvXPButton1}) connect(a, &QAction::triggered, this, &TfrmMain::MnuOnlineClick);
}

QWidget* TfrmMain::BuildMonitor() {
    MonitorTabs = new QTabWidget(this);
    MonitorTabs->setObjectName("MonitorTabs");
    MonitorTabs->setMinimumHeight(150);
    Current_UserBox = NewCurrentUserBox(MonitorTabs);
    Current_UpDownBox = NewCurrentUpDownBox(MonitorTabs);
    userSplit_ = new QSplitter(Qt::Horizontal, MonitorTabs);
    userSplit_->setObjectName("UserSplit");
    userSplit_->setChildrenCollapsible(false);
    auto* manage = userSplit_;
    UserBox = NewUserBox(manage);
    Detail = new TDetailPanel(manage);
    Detail->setMinimumWidth(300);
    userSplit_->addWidget(UserBox);
    userSplit_->addWidget(Detail);
    userSplit_->setStretchFactor(0, 1);
    userSplit_->setSizes({390, 400});
    MonitorTabs->addTab(Current_UserBox, QStringLiteral("실시간 접속현황"));
    MonitorTabs->addTab(Current_UpDownBox, QStringLiteral("파일 Upload / Download 상태"));
    MonitorTabs->addTab(manage, QStringLiteral("실시간 접속자 관리"));

    UserMenu = new QMenu(this);
    UserMenu->setObjectName("UserMenu");
    popKick = UserMenu->addAction(QStringLiteral("선택ID 접속 끊기"));
    popKick->setObjectName("popKick");
    popBAN = UserMenu->addAction(QStringLiteral("접근제한 IP리스트에 추가"));
    popBAN->setObjectName("popBAN");
    connect(popKick, &QAction::triggered, this, &TfrmMain::popKickClick);
    connect(popBAN, &QAction::triggered, this, &TfrmMain::popBANClick);
    connect(UserBox, &QWidget::customContextMenuRequested, this, &TfrmMain::UserMenuPopup);
    connect(UserBox, &QTreeWidget::itemClicked, this, &TfrmMain::UserBoxClick);
    connect(UserBox, &QTreeWidget::itemSelectionChanged, this, &TfrmMain::UserBoxSelectItem);
    connect(Detail->btn_disconnect, &QPushButton::clicked, this, &TfrmMain::btn_disconnectClick);

    const std::pair<QTreeWidget*, TMonitorList> lists[] = {{Current_UserBox, TMonitorList::CurrentUsers},
                                                           {Current_UpDownBox, TMonitorList::Transfers},
                                                           {UserBox, TMonitorList::Users}};
    for (auto [list, which] : lists)
        connect(list->header(), &QHeaderView::sectionClicked, this,
                [this, list = list, which = which](int column) { sorter_.ColumnClick(*list, which, column); });
    return MonitorTabs;
}

QWidget* TfrmMain::BuildInfoStrip() {
    auto* strip = new QWidget(this);
    auto* row = new QHBoxLayout(strip);
    row->setContentsMargins(4, 0, 4, 0);
    auto label = [&](const char* caption, const char* name, const char* initial) {
        row->addWidget(new QLabel(QString::fromUtf8(caption), strip));
        auto* value = new QLabel(QString::fromUtf8(initial), strip);
        value->setObjectName(name);
        value->setMinimumWidth(60);
        QFont f = value->font();
        f.setBold(true);
        value->setFont(f);
        row->addWidget(value);
        return value;
    };
    Iblport = label("실행포트    :", "Iblport", "");
    Iblc_user = label("현재접속수 :", "Iblc_user", "0");
    IblMaxuser = label("최대접속수 :", "IblMaxuser", "0");
    row->addStretch();
    return strip;
}

QWidget* TfrmMain::BuildLogTabs() {
    LogTabs = new QTabWidget(this);
    LogTabs->setObjectName("LogTabs");
    const char* names[] = {"Info", "info_connect", "info_trans"};
    const char* captions[] = {"[ 시스템 로그 ]", "[ 접속 로그 ]", "[ 전송 로그 ]"};
    for (int p = 0; p < kLogPaneCount; ++p) {
        auto* pane = new TLogPaneView(LogTabs);
        pane->setObjectName(names[p]);
        Panes[size_t(p)] = pane;
        LogTabs->addTab(pane, QString::fromUtf8(captions[p]));
    }
    return LogTabs;
}

void TfrmMain::BuildStatusBar() {
    auto* bar = new QStatusBar(this);
    bar->setObjectName("StatusBar");
    bar->setSizeGripEnabled(false);
    const int widths[] = {100, 100, 20};
    for (size_t i = 0; i < StatusPanels.size(); ++i) {
        StatusPanels[i] = new QLabel(bar);
        StatusPanels[i]->setFixedWidth(widths[i]);
        bar->addWidget(StatusPanels[i]);
    }
    setStatusBar(bar);
}

// --- server control ---

void TfrmMain::btn_startClick() {
    try {
        host_->Start();
    } catch (const std::exception& e) {
        ReportError(Q(e.what()));
    }
}

void TfrmMain::btn_stopClick() {
    host_->Stop();
}

// A disabled item ignores its click, so a restart of a stopped server only starts.
void TfrmMain::mnuRestartClick() {
    mnuStop->trigger();
    mnuStart->trigger();
}

void TfrmMain::popRestartClick() {
    Tray.popStop->trigger();
    Tray.popStart->trigger();
}

void TfrmMain::RunCommandLine(const QString& joined) {
    try {
        host_->RunCommandLine(joined.toStdString());
    } catch (const std::exception& e) {
        ReportError(Q(e.what()));
    }
}

// --- window life ---

void TfrmMain::ShowAtStart() {
    if (startHidden_ && Tray.Shown()) return;
    show();
}

void TfrmMain::Activate() {
    if (isMinimized())
        showNormal();
    else
        show();
    raise();
    activateWindow();
}

void TfrmMain::RxTrayIconClick() {
    Activate();
}

void TfrmMain::cmdQuitClick() {
    const auto running = host_->CurrentTransfers().size();
    if (running > 0 &&
        !AskYesNo(QStringLiteral("전송 중인 파일이 %1개 있습니다. 끝내면 전송이 모두 끊깁니다.\r\r프로그램을 끝낼까요?")
                      .arg(running)))
        return;
    Quit();
}

void TfrmMain::Quit() {
    quitting_ = true;
    close();
}

void TfrmMain::closeEvent(QCloseEvent* e) {
    SaveWindowLayout();
    if (quitting_) {
        Tray.SetShown(false);
        host_->Shutdown();
        e->accept();
        QCoreApplication::quit();
        return;
    }
    e->ignore();
    if (!Tray.Shown()) {
        // Without a notification area a hidden window could not be brought back.
        showMinimized();
        return;
    }
    hide(); // the server keeps running; the tray icon stays
    QSettings settings;
    if (!settings.value(QStringLiteral("trayNoticeShown")).toBool()) {
        settings.setValue(QStringLiteral("trayNoticeShown"), true);
        Tray.Notify(QStringLiteral("창을 닫아도 서버는 트레이에서 계속 실행됩니다. "
                                   "끝내려면 트레이 메뉴의 \"프로그램 끝내기\"를 고르세요."));
    }
}

void TfrmMain::showEvent(QShowEvent* e) {
    QMainWindow::showEvent(e);
    if (!layoutRestored_) {
        layoutRestored_ = true;
        RestoreWindowLayout();
    }
}

// Size, position and the splitters are the operator's, kept per user.
void TfrmMain::SaveWindowLayout() {
    QSettings settings;
    settings.setValue(QStringLiteral("window/geometry"), saveGeometry());
    settings.setValue(QStringLiteral("window/mainSplit"), mainSplit_->saveState());
    settings.setValue(QStringLiteral("window/userSplit"), userSplit_->saveState());
}

void TfrmMain::RestoreWindowLayout() {
    QSettings settings;
    mainSplit_->restoreState(settings.value(QStringLiteral("window/mainSplit")).toByteArray());
    userSplit_->restoreState(settings.value(QStringLiteral("window/userSplit")).toByteArray());
    if (restoreGeometry(settings.value(QStringLiteral("window/geometry")).toByteArray())) return;
    if (const QScreen* screen = this->screen()) {
        // A first start fits the screen even where scaling makes 800x600 too large.
        const QRect avail = screen->availableGeometry();
        resize(std::min(width(), avail.width()), std::min(height(), avail.height()));
        move(avail.center() - rect().center());
    }
}

void TfrmMain::changeEvent(QEvent* e) {
    QMainWindow::changeEvent(e);
    // Minimised, the program lives in the tray only; without an icon it stays
    // reachable on the task bar.
    if (e->type() == QEvent::WindowStateChange && isMinimized() && Tray.Shown()) hide();
}

void TfrmMain::ShowTrayIcon(bool show) {
    Tray.SetShown(show);
    if (show && !TTrayIcon::Available() && !noTraySaid_) {
        noTraySaid_ = true;
        host_->Log().WriteLog(lpSystem, "트레이 아이콘을 표시할 알림 영역이 없습니다. "
                                        "창은 작업 표시줄에 남습니다.");
    }
}

void TfrmMain::TrayRequested(bool show) {
    ShowTrayIcon(show);
}

void TfrmMain::CloseRequested() {
    close();
}

// --- the log panes ---

void TfrmMain::mnuClearClick() {
    if (!AskYesNo(QStringLiteral("세 로그 창의 내용을 모두 지울까요? 로그 파일은 지워지지 않습니다."))) return;
    host_->Log().Clear();
}

void TfrmMain::LineAdded(int pane, const TLogLine& line) {
    Panes.at(size_t(pane))->AddLine(line);
}

void TfrmMain::FirstLineRemoved(int pane) {
    Panes.at(size_t(pane))->RemoveFirstLine();
}

void TfrmMain::PanesCleared() {
    for (auto* p : Panes) p->ClearLines();
}

// --- state reports ---

// Every control that tells whether the server runs reads the same state.
void TfrmMain::ServerStateChanged(const TServerState& state) {
    const bool listening = state.Listening();
    const bool idle = state.Phase != TServerState::TPhase::Starting;
    for (QAction* a : {btn_start, mnuStart, Tray.popStart}) a->setEnabled(idle && !listening);
    for (QAction* a : {btn_stop, mnuStop, Tray.popStop}) a->setEnabled(listening);
    Iblport->setText(PortLabelText(state));
    Iblport->setToolTip(Q(state.Reason));
    Iblc_user->setText(QString::number(state.Users));
    IblMaxuser->setText(state.MaxUsers > 0 ? QString::number(state.MaxUsers) : QStringLiteral("제한 없음"));
    StatusPanels[0]->setText(Q(state.UsersText));
    const QString summary = StateSummary(state);
    setWindowTitle(QStringLiteral("Nubo FTP Server V%1 — %2").arg(QStringLiteral(NUBO_VERSION), summary));
    setWindowIcon(TTrayIcon::StateIcon(state.Tray()));
    Tray.SetImage(state.Tray());
    Tray.SetHint(QStringLiteral("Nubo FTP Server — ") + summary);
}

// --- the live monitor ---

int TfrmMain::SelectedUser() const {
    const auto sel = UserBox->selectedItems();
    return sel.isEmpty() ? 0 : RowConnection(sel.first());
}

void TfrmMain::UserRowsChanged() {
    SyncUserBox(*UserBox, host_->UserBox());
}

void TfrmMain::MonitorRefreshed() {
    SyncCurrentUsers(*Current_UserBox, host_->CurrentUsers());
    SyncTransfers(*Current_UpDownBox, host_->CurrentTransfers());
    UserBoxClick();
}

void TfrmMain::UserBoxClick() {
    const int id = SelectedUser();
    Detail->Show(id ? host_->ShowSelectedUser(id) : TFtpHost::IdleDetail(host_->Lang()));
}

void TfrmMain::UserBoxSelectItem() {
    Detail->btn_disconnect->setEnabled(SelectedUser() != 0);
}

void TfrmMain::UserMenuPopup(const QPoint& pos) {
    const bool any = SelectedUser() != 0;
    popKick->setEnabled(any);
    popBAN->setEnabled(any);
    UserMenu->popup(UserBox->viewport()->mapToGlobal(pos));
}

QString TfrmMain::SelectedUserText() const {
    const auto sel = UserBox->selectedItems();
    if (sel.isEmpty()) return {};
    return QStringLiteral("%1 (%2)").arg(sel.first()->text(1), sel.first()->text(2));
}

// After an action on a client nothing stays selected, so that a second click cannot
// hit the next client in the list.
void TfrmMain::ClearUserSelection() {
    UserBox->clearSelection();
    UserBox->setCurrentItem(nullptr);
    UserBoxSelectItem();
}

bool TfrmMain::Kick() {
    const int id = SelectedUser();
    if (!id) return false;
    if (!AskYesNo(QStringLiteral("%1의 접속을 끊을까요?").arg(SelectedUserText()))) return false;
    const bool done = host_->Disconnect(id);
    ClearUserSelection();
    if (done) Detail->ShowTransfer(TFtpHost::IdleDetail(host_->Lang()));
    return done;
}

void TfrmMain::popKickClick() {
    Kick();
}

void TfrmMain::btn_disconnectClick() {
    if (!SelectedUser()) {
        ShowMessage(QStringLiteral("ID를 먼저 선택해주세요."), false);
        return;
    }
    if (Kick()) Detail->txtusername->setText(Q(host_->Lang().LangText(sNoID)));
}

void TfrmMain::popBANClick() {
    const int id = SelectedUser();
    if (!id) return;
    if (!AskYesNo(QStringLiteral("%1의 주소를 접근 거부 목록에 넣고 그 주소의 접속을 모두 끊을까요?")
                      .arg(SelectedUserText())))
        return;
    const bool done = host_->Ban(id) > 0;
    ClearUserSelection();
    if (done) Detail->ShowTransfer(TFtpHost::IdleDetail(host_->Lang()));
}

// --- the settings dialogs ---

void TfrmMain::btn_ftpconfigClick() {
    TfrmSetupFTP dlg(host_->ConfigFile(), host_->Settings(), host_->Lang(),
                     TAutoStart::ForProgram(Q(host_->ProgramDir())), this);
    dlg.ShowMessage = ShowMessage;
    dlg.SetRunPort(Q(host_->PortOverride()));
    dlg.exec();
    ReloadSettings();
}

void TfrmMain::btn_ipaccessClick() {
    TfrmIPAccess dlg(host_->ConfigFile().Ini().FileName(), this);
    dlg.ShowMessage = ShowMessage;
    dlg.AskYesNo = AskYesNo;
    dlg.exec();
}

// Not modal: the list follows the host's reports while the server works.
void TfrmMain::mnuBansClick() {
    if (!frm_bans) frm_bans = new TfrmBanList(*host_, this);
    frm_bans->Refresh();
    frm_bans->show();
    frm_bans->raise();
}

void TfrmMain::BansChanged() {
    if (frm_bans) frm_bans->Refresh();
}

// After the settings dialog: the limits reach the next login at once; the listener
// keeps its port until the next start.
void TfrmMain::ReloadSettings() {
    try {
        host_->ReloadSettings();
    } catch (const std::exception& e) {
        ReportError(Q(e.what()));
    }
}

// --- the online services ---

void TfrmMain::btn_PortCheckClick() {
    // A window of its own: its messages stay over it, not over the main window.
    if (!frm_portcheck) {
        frm_portcheck = new Tfrm_portcheck(*Web);
        frm_portcheck->ServerPorts = [this] {
            const TFtpServer& s = host_->Server();
            const int start = s.PasvPortRangeStart();
            return Tfrm_portcheck::TServerPorts{host_->Listening() ? std::atoi(s.Port.c_str()) : 0, start,
                                                start + s.PasvPortRangeSize()};
        };
    }
    frm_portcheck->show();
    frm_portcheck->raise();
}

// The site's front page: the service's address without its "nuboftp/" folder.
void TfrmMain::MnuOnlineClick() {
    QDesktopServices::openUrl(QUrl(Web->BaseAddress()).resolved(QUrl(QStringLiteral(".."))));
}

// The accounts dialog, created when opened and freed when closed.
void TfrmMain::btn_userconfigClick() {
    Tfrm_User_Setup dlg(host_->UsersFile(), this);
    dlg.exec();
}

} // namespace nubo
