#pragma once
// The server policy: the host of the FTP server component. It owns the server, the
// session tables, the live client map and the monitor's rows, and its methods are the
// handlers of the server's events (admission, login, the virtual tree and its
// permission letters, transfer accounting) and of the operator's commands (start,
// stop, restart, disconnect, ban, the one-second timers).
//
// It reports to the screen only through THostView; nuboftpd's view prints, the
// console's draws. Everything runs on the event loop's thread.

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "engine/FtpServer.h"
#include "host/LogPane.h"
#include "host/LogWriter.h"
#include "host/LoginCache.h"
#include "host/ServerState.h"
#include "host/SpeedLimits.h"
#include "host/TlsSetup.h"
#include "host/TotalsLedger.h"
#include "host/VirtualTree.h"
#include "socket/EventLoop.h"
#include "socket/LoopWorkers.h"
#include "store/LangText.h"
#include "store/Settings.h"
#include "store/UserFile.h"

namespace nubo {

// One row of UserBox: the logged-in clients (added at login, removed at disconnect).
struct TUserRow {
    int ConnectionId = 0;
    std::string User; // account name, upper case
    std::string Address;
    std::string LoginTime; // time of day of the login
};

// One row of Current_UserBox: connections now, rebuilt every second.
struct TConnectionRow {
    int ConnectionId = 0;
    std::string User, Status, ConnectTime, IdleTime, Address, Ratio, Totals;
    std::string Encryption; // protocol and cipher of an encrypted session ("TLSv1.3, ..."); empty: clear
};

// One row of Current_UpDownBox: transfers now, rebuilt every second.
struct TTransferRow {
    int ConnectionId = 0;
    std::string Status, File, TransferTime, Remaining, Bytes, Speed;
};

// The detail panel of one selected client.
struct TClientDetail {
    std::string UserName, Time, Idle, Status, Seconds, Speed, Down, DownSize, TotalUp, TotalDown, File;
    int Percent = 0;
};

// What the host shows; every method has a default that does nothing.
class THostView : public TLogView {
public:
    void LineAdded(int, const TLogLine&) override {}
    void FirstLineRemoved(int) override {}
    void PanesCleared() override {}
    // The server's state changed: started, stopped, failed, or its logged-in count.
    virtual void ServerStateChanged(const TServerState& /*state*/) {}
    virtual void UserRowsChanged() {}  // UserBox gained, lost or relabelled a row
    virtual void MonitorRefreshed() {} // the one-second rows were rebuilt
    // "/close": stop was done; the console hides its window. "/hidetray", "/showtray".
    virtual void CloseRequested() {}
    virtual void TrayRequested(bool /*show*/) {}
};

class TFtpHost {
public:
    // programDir: the folder of the INI files, "log" and "down" (with or without a
    // trailing '/'). The files and folders are created there when missing.
    explicit TFtpHost(std::string programDir, TEventLoop& loop = TEventLoop::Current());
    ~TFtpHost();
    TFtpHost(const TFtpHost&) = delete;
    TFtpHost& operator=(const TFtpHost&) = delete;

    void SetView(THostView* view); // not owned; nullptr detaches

    // --- server control (the menu items' clicks) ---
    // Loads the settings and starts listening. An invalid setting throws its error
    // (shown by the caller); a port that cannot be bound is logged, not thrown.
    void Start();
    void Stop();    // drops every client, then closes the listener; nothing while stopped
    void Restart(); // Stop, then Start
    bool Listening() const { return server_.Listening(); }
    const TServerState& State() const { return state_; }
    // A port given on the command line overrides the settings file for this run.
    void SetPortOverride(std::string port) { portOverride_ = std::move(port); }
    const std::string& PortOverride() const { return portOverride_; }
    // The machine's public address as an online service sees it, for PassiveAddress=auto;
    // empty when it cannot be had. Unset: "auto" announces the local address.
    std::function<std::string()> PublicAddress;
    // The joined command line of a second start: "/start", "/stop", "/restart",
    // "/close", "/hidetray", "/showtray"; anything else does nothing.
    void RunCommandLine(const std::string& commandLine);
    // Quit: drop all clients, stop, log the shutdown line.
    void Shutdown();
    // Tells the view the state with the current logged-in count and limit.
    void RefreshUserCount();

    // --- live monitor ---
    void TimerTimer();        // Current_UserBox rows and idle time-outs, every second
    void Timer_updownTimer(); // Current_UpDownBox rows, every second
    void StartTimers();       // both timers at 1000 ms on the loop
    const std::vector<TUserRow>& UserBox() const { return userBox_; }
    const std::vector<TConnectionRow>& CurrentUsers() const { return currentUsers_; }
    const std::vector<TTransferRow>& CurrentTransfers() const { return currentTransfers_; }
    // The detail panel for a connection number; the idle panel when it is not live.
    TClientDetail ShowSelectedUser(int connectionId) const;
    static TClientDetail IdleDetail(const TLangTexts& lang);
    bool Disconnect(int connectionId); // false: no such live client
    // The client's address to "IP Deny", then every session from it is disconnected.
    // Returns how many were (0: no such live client).
    int Ban(int connectionId);
    TFtpCtrlSocket* LiveClient(int connectionId) const;

    // --- the parts, for the console and the tests ---
    TFtpServer& Server() { return server_; }
    const TFtpServer& Server() const { return server_; }
    // The settings dialog switches the log on in memory when the file asks for it.
    TSettings& Settings() { return settings_; }
    const TSettings& Settings() const { return settings_; }
    const TLangTexts& Lang() const { return lang_; }
    TLogWriter& Log() { return log_; }
    const std::string& ProgramDir() const { return dir_; }
    // After the settings dialog: the settings file's limits and language reach the next
    // login at once; the listener keeps its port until the next start. An invalid
    // setting is thrown after everything else was applied.
    void ReloadSettings();
    // The version lines at the top of the system pane.
    void WriteVersionLines();
    TSettingsFile ConfigFile() const;
    TUserFile UsersFile() const;
    // One reading of the user file serves every step of one loop round (a command's
    // checks, its replies, the monitor); the next round reads the file afresh.
    TUserFile RoundUsers() const;

    // --- handlers of the server's events ---
    void FtpServerStart(TFtpServer& Sender);
    void FtpServerStop(TFtpServer& Sender);
    void FtpServerClientConnect(TFtpServer& Sender, TFtpCtrlSocket& Client, int AError);
    void FtpServerClientSecured(TFtpServer& Sender, TFtpCtrlSocket& Client, int AError);
    void FtpServerNamesFromCp949(TFtpServer& Sender, TFtpCtrlSocket& Client);
    void FtpServerClientDisconnect(TFtpServer& Sender, TFtpCtrlSocket& Client, int AError);
    void FtpServerAuthenticate(TFtpServer& Sender, TFtpCtrlSocket& Client, const TFtpString& UserName,
                               const TFtpString& Password, bool& Authenticated);
    void FtpServerChangeDirectory(TFtpServer& Sender, TFtpCtrlSocket& Client, const TFtpString& Directory,
                                  bool& Allowed);
    void FtpServerBuildFilePath(TFtpServer& Sender, TFtpCtrlSocket& Client, const TFtpString& Directory,
                                const TFtpString& FileName, TFtpString& NewFileName);
    void FtpServerBuildDirectory(TFtpServer& Sender, TFtpCtrlSocket& Client, TFtpString& Directory, TListingKind Kind);
    void FtpServerValidateGet(TFtpServer& Sender, TFtpCtrlSocket& Client, TFtpString& FilePath, bool& Allowed);
    void FtpServerValidatePut(TFtpServer& Sender, TFtpCtrlSocket& Client, TFtpString& FilePath, bool& Allowed);
    void FtpServerValidateDele(TFtpServer& Sender, TFtpCtrlSocket& Client, TFtpString& FilePath, bool& Allowed);
    void FtpServerValidateRmd(TFtpServer& Sender, TFtpCtrlSocket& Client, TFtpString& FilePath, bool& Allowed);
    void FtpServerValidateRnFr(TFtpServer& Sender, TFtpCtrlSocket& Client, TFtpString& FilePath, bool& Allowed);
    void FtpServerValidateRnTo(TFtpServer& Sender, TFtpCtrlSocket& Client, TFtpString& FilePath, bool& Allowed);
    void FtpServerValidateSize(TFtpServer& Sender, TFtpCtrlSocket& Client, TFtpString& FilePath, bool& Allowed);
    void FtpServerValidateMfmt(TFtpServer& Sender, TFtpCtrlSocket& Client, TFtpString& FilePath, bool& Allowed);
    void FtpServerCalculateMd5(TFtpServer& Sender, TFtpCtrlSocket& Client, TFtpString& FilePath, TFtpString& Md5Sum,
                               bool& Allowed);
    void FtpServerAnswerToClient(TFtpServer& Sender, TFtpCtrlSocket& Client, TFtpString& Answer);
    void FtpServerRetrSessionConnected(TFtpServer& Sender, TFtpCtrlSocket& Client, TWSocket& Data, int AError);
    void FtpServerRetrDataSent(TFtpServer& Sender, TFtpCtrlSocket& Client, TWSocket& Data, int AError);
    void FtpServerRetrSessionClosed(TFtpServer& Sender, TFtpCtrlSocket& Client, TWSocket& Data, int AError);
    void FtpServerStorSessionConnected(TFtpServer& Sender, TFtpCtrlSocket& Client, TWSocket& Data, int AError);
    void FtpServerStorDataAvailable(TFtpServer& Sender, TFtpCtrlSocket& Client, TWSocket& Data, const char* Buf,
                                    int Len, int AError);
    void FtpServerStorSessionClosed(TFtpServer& Sender, TFtpCtrlSocket& Client, TWSocket& Data, int AError);

private:
    TFtpServer server_;
    TSettings settings_;
    TLangTexts lang_;
    TLogWriter log_; // after settings_, which it reads
    void WriteLog(int pane, const std::string& text);
    std::string ClientLine(const TFtpCtrlSocket& Client, const std::string& text) const;
    void SendNow(TFtpCtrlSocket& Client, const std::string& line);
    // Other connections from the client's address that have not logged in.
    int64_t PendingFrom(TFtpCtrlSocket& Client) const;
    void CloseSlowLogins();
    void AcceptTrouble(int error);
    void CheckFilesAtStart();
    void StartTls();
    void StartPassiveAddress();
    void SetPhase(TServerState::TPhase phase, std::string port, std::string reason = {});
    bool CheckFile(TFtpCtrlSocket& Client, TFtpString& FilePath, char letter);
    void ReleaseListing(TFtpCtrlSocket& Client);
    void LogTransferEnd(const TFtpCtrlSocket& Client, const TLangKey& key, int64_t seconds, int64_t bytes);

    std::string dir_;
    std::string portOverride_;
    TServerState state_;
    THostView* view_ = nullptr;
    // Session counts by account and by account + "-" + address (keys upper-cased:
    // they match without regard to case).
    std::map<std::string, int> accountSessions_, addressSessions_;
    std::vector<int> liveClients_; // LiveClients: connection numbers in login order
    // The account each logged-in connection is counted under in the session tables.
    std::map<int, std::string> countedAs_;
    // The listing this host built and lent to a connection's transfer, by connection number.
    std::map<int, std::unique_ptr<TMemoryStream>> listings_;
    bool resolvingPath_ = false;
    TVirtualTree TreeOf(const TFtpCtrlSocket& Client) const;
    std::string UserArg(const TFtpCtrlSocket& Client) const;
    std::string AddressArg(const TFtpCtrlSocket& Client) const;
    void CountSession(int id, const std::string& account, const std::string& address);
    void UncountSession(int id, const std::string& address);
    std::vector<TUserRow> userBox_;
    std::vector<TConnectionRow> currentUsers_;
    std::vector<TTransferRow> currentTransfers_;
    TLoopTimer timer_, timerUpdown_;
    TTotalsLedger totals_;
    TSpeedLimits speed_;
    TTlsSetup tls_;
    mutable std::optional<TUserFile> roundUsers_;
    std::shared_ptr<char> alive_ = std::make_shared<char>(0);

    // Logins. LoginAllowed: the checks that do not look at the password (false: refused,
    // and said so where it is said). CheckPassword may hand a slow hash to the workers
    // and answer Pending; FinishPasswordCheck then completes the login on the loop.
    enum class TPasswordCheck { Match, Mismatch, Pending };
    bool LoginAllowed(TFtpCtrlSocket& Client, const TUserFile& users, const std::string& account);
    TPasswordCheck CheckPassword(TFtpCtrlSocket& Client, const std::string& account, const std::string& password,
                                 const std::string& stored);
    void FinishPasswordCheck(TFtpCtrlSocket& Client, bool match);
    bool AcceptLogin(TFtpCtrlSocket& Client, const TUserFile& users, const std::string& account);
    // Replaces a plain stored password by its hash, unless the file changed meanwhile.
    void StorePasswordHash(const std::string& account, const std::string& plain, const std::string& hashed);
    void LogAuthFail(TFtpCtrlSocket& Client);
    TLoopWorkers& HashWorkers();
    TLoginCache loginCache_;
    // Accounts (upper-cased) whose plain password is being replaced by its hash.
    std::set<std::string> upgrading_;
    // Checks under way by the cache's key: logins that send the same password for the
    // same stored value at once wait for one check.
    std::map<std::string, std::vector<std::pair<std::weak_ptr<char>, TFtpCtrlSocket*>>> checking_;
    // Last member: its threads are joined before anything a finishing call uses goes.
    std::unique_ptr<TLoopWorkers> hashWorkers_;
};

// Whole seconds since a tick of TickCount().
int64_t SecondsSince(uint64_t tick);
// The size of the file at a local path; 0 for no path or no such file.
int64_t SizeOrZero(const std::string& path);

// HH:MM:SS of a count of seconds; whole days are dropped.
std::string FormatSeconds(int64_t seconds);
// "###,###,###,##0".
std::string FormatThousands(int64_t n);
// A rate with thousands separators, rounded to five significant digits, and the
// given number of decimals: 1464.84375 -> "1,464.80".
std::string FormatRate(double v, int decimals = 2);

} // namespace nubo
