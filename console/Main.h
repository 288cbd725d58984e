#pragma once
// TfrmMain: the console's main window. It owns the host (server, settings, log,
// monitor rows) and draws what the host reports through THostView; every button,
// menu item and tray item only forwards to the host. The server's event loop runs on
// this thread through a socket notifier, so it keeps serving while menus and dialogs
// are open.

#include <QAction>
#include <QCoreApplication>
#include <QLabel>
#include <QMainWindow>
#include <QSplitter>
#include <QStringList>
#include <QTabWidget>
#include <QTreeWidget>
#include <array>
#include <functional>
#include <memory>

#include "console/DetailPanel.h"
#include "console/ListSort.h"
#include "console/LogPaneView.h"
#include "console/LoopNotifier.h"
#include "console/MessageBox.h"
#include "console/TrayIcon.h"
#include "host/FtpHost.h"
#include "online/VersionCheck.h"
#include "online/WebService.h"

namespace nubo {

class Tfrm_portcheck;

struct TConsoleStart {
    std::string Dir;    // folder of the INI files, "log" and "down"
    std::string Port;   // --port: overrides the settings for this run; empty: none
    QStringList Params; // the rest of the command line ("/stop", "-hidetray", ...)
};

// Qt's own texts (Yes/No, the folder chooser, context menus) in Korean, where the
// system has Qt's translations. False: they stay English.
bool InstallQtTranslations(QCoreApplication& app);

// Whether a parameter is "hidetray" after "-" or "/", in any case.
bool HasHideTraySwitch(const QStringList& params);
// The port label: the port listened on, "중지됨", "시작 중" or "시작 실패 (port)".
QString PortLabelText(const TServerState& state);
// The tray tooltip's and the title's tail: "2421, 3 users" while listening, else the label.
QString StateSummary(const TServerState& state);

class TfrmMain : public QMainWindow, public THostView {
    Q_OBJECT
public:
    // Makes the first-start files, the settings, the panes, the timers and the
    // server start.
    explicit TfrmMain(const TConsoleStart& start, QWidget* parent = nullptr);
    ~TfrmMain() override;

    TFtpHost& Host() { return *host_; }

    // Shows the window unless the settings ask to start in the tray (and there is one).
    void ShowAtStart();
    // The command runner: "/start", "/stop", "/restart", "/close", "/hidetray",
    // "/showtray"; anything else does nothing.
    void RunCommandLine(const QString& joined);
    // A second start asked for the window.
    void Activate();

    // Message boxes and questions go through here, so tests can take them instead of a
    // modal box.
    std::function<void(const QString& text, bool error)> ShowMessage;
    TAskYesNo AskYesNo;

    // --- controls (object names as the window's components) ---
    QAction* mnuClear;
    QAction* mnuQuit;
    QAction* mnuStart;
    QAction* mnuStop;
    QAction* mnuRestart;
    QAction* mnuFTP;
    QAction* mnuUser;
    QAction* mnuIPAccess;
    QAction* N5;
    QAction* MnuOnline;
    QAction* mnuAbout;
    QAction* btn_start;
    QAction* btn_stop;
    QAction* btn_ftpconfig;
    QAction* btn_userconfig;
    QAction* btn_ipaccess;
    QAction* btn_portcheck;
    QAction* JvXPButton1;
    QTabWidget* MonitorTabs;
    QTreeWidget* Current_UserBox;
    QTreeWidget* Current_UpDownBox;
    QTreeWidget* UserBox;
    TDetailPanel* Detail;
    QMenu* UserMenu;
    QAction* popKick;
    QAction* popBAN;
    QTabWidget* LogTabs;
    std::array<TLogPaneView*, kLogPaneCount> Panes; // Info, info_connect, info_trans
    QLabel* Iblport;
    QLabel* Iblc_user;
    QLabel* IblMaxuser;
    std::array<QLabel*, 3> StatusPanels;
    TTrayIcon Tray;

    // --- handlers ---
    void btn_startClick();
    void btn_stopClick();
    void mnuRestartClick();
    void popRestartClick();
    void cmdQuitClick(); // asks first while files are being transferred
    void Quit();         // no question: a signal or "/close" asked for it
    void mnuClearClick();
    void RxTrayIconClick();
    void UserBoxClick();
    void UserBoxSelectItem();
    void UserMenuPopup(const QPoint& pos);
    void popKickClick();
    void btn_disconnectClick();
    void popBANClick();
    void btn_ftpconfigClick(); // also mnuFTP
    void btn_ipaccessClick();  // also mnuIPAccess
    void btn_PortCheckClick(); // also N5
    void MnuOnlineClick();     // also JvXPButton1: the maker's web site

    // The online services: the web calls and the version check (at start and every
    // 12 hours); the port check window, created when first shown.
    std::unique_ptr<TWebService> Web;
    std::unique_ptr<TVersionCheck> VersionCheck;
    Tfrm_portcheck* frm_portcheck = nullptr;
    void btn_userconfigClick();

    // --- THostView ---
    void LineAdded(int pane, const TLogLine& line) override;
    void FirstLineRemoved(int pane) override;
    void PanesCleared() override;
    void ServerStateChanged(const TServerState& state) override;
    void UserRowsChanged() override;
    void MonitorRefreshed() override;
    void CloseRequested() override;
    void TrayRequested(bool show) override;

protected:
    void closeEvent(QCloseEvent* e) override;
    void showEvent(QShowEvent* e) override;
    void changeEvent(QEvent* e) override; // minimise to the tray

private:
    void BuildMenus();
    void BuildToolBar();
    QWidget* BuildMonitor();
    QWidget* BuildInfoStrip();
    QWidget* BuildLogTabs();
    void BuildStatusBar();
    void ShowTrayIcon(bool show);
    int SelectedUser() const;
    QString SelectedUserText() const; // "NAME (address)" of the selected row
    void ClearUserSelection();
    void SaveWindowLayout();
    void RestoreWindowLayout();
    bool Kick();
    void ReportError(const QString& text) { ShowMessage(text, true); }
    void ReloadSettings();

    std::unique_ptr<TFtpHost> host_;
    TLoopNotifier loopDriver_;
    TListSorter sorter_;
    bool quitting_ = false;
    bool startHidden_ = false;
    bool noTraySaid_ = false;
    bool layoutRestored_ = false;
    QSplitter* mainSplit_ = nullptr; // the monitor above, the log panes below
    QSplitter* userSplit_ = nullptr; // UserBox beside the detail panel
};

} // namespace nubo
