// The host's core: construction, server control, the log helpers and formats.
#include "host/FtpHost.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "host/LoadSettings.h"
#include "host/LogRuns.h"

namespace nubo {

namespace {
std::string DirWithSlash(std::string d) {
    if (d.empty()) d = ".";
    if (d.back() != '/') d += '/';
    return d;
}
} // namespace

int64_t SecondsSince(uint64_t tick) { return int64_t(TicksSince(tick) / 1000); }

int64_t SizeOrZero(const std::string& path) { return path.empty() ? 0 : std::max<int64_t>(FileSizeOf(path), 0); }

std::string FormatSeconds(int64_t n) {
    if (n < 0) n = 0;
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", int((n % 86400) / 3600), int((n % 3600) / 60), int(n % 60));
    return buf;
}

std::string FormatThousands(int64_t n) {
    std::string digits = std::to_string(n < 0 ? -n : n);
    std::string out;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return n < 0 ? "-" + out : out;
}

std::string FormatRate(double v, int decimals) {
    if (!std::isfinite(v) || v <= 0) v = 0;
    if (v > 0) {
        // At most five significant digits.
        const int digits = int(std::floor(std::log10(v))) + 1;
        const double scale = std::pow(10.0, 5 - digits);
        v = std::round(v * scale) / scale;
    }
    const double whole = std::floor(v);
    char frac[16];
    std::snprintf(frac, sizeof frac, "%.*f", decimals, v - whole);
    // "%.2f" of the fraction may round up to 1.00.
    int64_t w = int64_t(whole);
    std::string f = frac;
    if (f[0] == '1') ++w;
    return FormatThousands(w) + (decimals > 0 ? f.substr(1) : "");
}

TFtpHost::TFtpHost(std::string programDir, TEventLoop& loop)
    : FtpServer(loop), Lang(DirWithSlash(programDir)), Log(Settings, DirWithSlash(programDir)),
      dir_(DirWithSlash(programDir)), timer_(loop), timerUpdown_(loop),
      totals_([this] { return UsersFile(); }, loop) {
    totals_.OnError = [this](const std::string& error) { WriteLog(lpSystem, LogRun(kLogText, error)); };
    try {
        CreateFirstStartFiles(dir_);
    } catch (const std::exception& e) {
        Log.WriteLog(lpSystem, LogRun(kLogText, e.what()));
    }
    Lang.SetLangSpec(ConfigFile().LangSpec());
    // The component as the console stores it; the greeting is composed per client.
    FtpServer.Banner = "220 VELMORA FTP Server ready.";
    FtpServer.Port = "ftp";

    using namespace std::placeholders;
    FtpServer.OnStart = [this](TFtpServer& s) { FtpServerStart(s); };
    FtpServer.OnAcceptTrouble = [this](TFtpServer&, int error) { AcceptTrouble(error); };
    FtpServer.OnStop = [this](TFtpServer& s) { FtpServerStop(s); };
    FtpServer.OnClientConnect = std::bind(&TFtpHost::FtpServerClientConnect, this, _1, _2, _3);
    FtpServer.OnClientDisconnect = std::bind(&TFtpHost::FtpServerClientDisconnect, this, _1, _2, _3);
    FtpServer.OnAuthenticate = std::bind(&TFtpHost::FtpServerAuthenticate, this, _1, _2, _3, _4, _5);
    FtpServer.OnChangeDirectory = std::bind(&TFtpHost::FtpServerChangeDirectory, this, _1, _2, _3, _4);
    FtpServer.OnMakeDirectory = FtpServer.OnChangeDirectory;
    FtpServer.OnBuildFilePath = std::bind(&TFtpHost::FtpServerBuildFilePath, this, _1, _2, _3, _4, _5);
    FtpServer.OnBuildDirectory = std::bind(&TFtpHost::FtpServerBuildDirectory, this, _1, _2, _3, _4);
    FtpServer.OnValidateGet = std::bind(&TFtpHost::FtpServerValidateGet, this, _1, _2, _3, _4);
    FtpServer.OnValidatePut = std::bind(&TFtpHost::FtpServerValidatePut, this, _1, _2, _3, _4);
    FtpServer.OnValidateDele = std::bind(&TFtpHost::FtpServerValidateDele, this, _1, _2, _3, _4);
    FtpServer.OnValidateRmd = std::bind(&TFtpHost::FtpServerValidateRmd, this, _1, _2, _3, _4);
    FtpServer.OnValidateRnFr = std::bind(&TFtpHost::FtpServerValidateRnFr, this, _1, _2, _3, _4);
    FtpServer.OnValidateRnTo = std::bind(&TFtpHost::FtpServerValidateRnTo, this, _1, _2, _3, _4);
    FtpServer.OnValidateSize = std::bind(&TFtpHost::FtpServerValidateSize, this, _1, _2, _3, _4);
    FtpServer.OnValidateMfmt = std::bind(&TFtpHost::FtpServerValidateMfmt, this, _1, _2, _3, _4);
    FtpServer.OnCalculateMd5 = std::bind(&TFtpHost::FtpServerCalculateMd5, this, _1, _2, _3, _4, _5);
    FtpServer.OnAnswerToClient = std::bind(&TFtpHost::FtpServerAnswerToClient, this, _1, _2, _3);
    FtpServer.OnRetrSessionConnected = std::bind(&TFtpHost::FtpServerRetrSessionConnected, this, _1, _2, _3, _4);
    FtpServer.OnRetrDataSent = std::bind(&TFtpHost::FtpServerRetrDataSent, this, _1, _2, _3, _4);
    FtpServer.OnRetrSessionClosed = std::bind(&TFtpHost::FtpServerRetrSessionClosed, this, _1, _2, _3, _4);
    FtpServer.OnStorSessionConnected = std::bind(&TFtpHost::FtpServerStorSessionConnected, this, _1, _2, _3, _4);
    FtpServer.OnStorDataAvailable =
        std::bind(&TFtpHost::FtpServerStorDataAvailable, this, _1, _2, _3, _4, _5, _6);
    FtpServer.OnStorSessionClosed = std::bind(&TFtpHost::FtpServerStorSessionClosed, this, _1, _2, _3, _4);
}

TFtpHost::~TFtpHost() {
    // Disconnect handlers must not run into a half-destroyed host.
    FtpServer.OnClientDisconnect = nullptr;
    FtpServer.OnStop = nullptr;
    Log.SetView(nullptr);
    totals_.Flush();
}

void TFtpHost::SetView(THostView* view) {
    view_ = view;
    Log.SetView(view);
}

TSettingsFile TFtpHost::ConfigFile() const { return TSettingsFile(dir_ + std::string(kSettingsFileName)); }
TUserFile TFtpHost::UsersFile() const { return TUserFile(dir_ + std::string(kUsersFileName)); }

TUserFile TFtpHost::RoundUsers() const {
    if (!roundUsers_) {
        roundUsers_ = UsersFile().Held();
        FtpServer.Loop().Post(alive_, [this] { roundUsers_.reset(); });
    }
    return *roundUsers_;
}

void TFtpHost::WriteLog(int pane, const std::string& text) { Log.WriteLog(pane, text); }

std::string TFtpHost::ClientLine(const TFtpCtrlSocket& Client, const std::string& text) const {
    return ConnectionPrefix(Client.ConnectionId) + text;
}

// --- server control -----------------------------------------------------------

// What an operator must know before clients arrive: files an interrupted write left,
// and an account file that lets nobody in.
void TFtpHost::CheckFilesAtStart() {
    for (const std::string& f : {ConfigFile().Ini().FileName(), UsersFile().Ini().FileName()})
        for (const std::string& stale : RemoveStaleTemporaries(f))
            WriteLog(lpSystem, LogRun(kLogText, "Removed the unfinished write ") + LogRun(kLogFile, stale));
    const std::string users = UsersFile().Ini().FileName();
    std::string problem;
    std::error_code ec;
    if (!std::filesystem::exists(users, ec))
        problem = " is missing: every login fails until it is restored.";
    else if (std::filesystem::is_directory(users, ec))
        problem = " is a folder, not a file: every login fails until it is replaced.";
    else if (!std::ifstream(users))
        problem = " cannot be read: every login fails until it is fixed.";
    else if (UsersFile().Accounts().empty())
        problem = " holds no accounts: every login fails until one is added.";
    if (!problem.empty()) WriteLog(lpSystem, LogRun(kLogText, "The account file ") + LogRun(kLogFile, users) + LogRun(kLogText, problem));
}

void TFtpHost::Start() {
    if (Listening()) return;
    CheckFilesAtStart();
    LoadSettings(ConfigFile(), FtpServer, Settings);
    if (!portOverride_.empty()) FtpServer.Port = portOverride_;
    if (view_) view_->TrayIconChanged(TTrayState::Stopped);
    try {
        FtpServer.Start();
        if (view_) view_->TrayIconChanged(TTrayState::Idle);
    } catch (const std::exception&) {
        if (view_) view_->TrayIconChanged(TTrayState::Stopped);
        WriteLog(lpSystem, FormatText(Lang.LangText(sNoPort), {FtpServer.Port}));
        WriteLog(lpSystem, Lang.LangText(sNotStart));
    }
}

void TFtpHost::Stop() {
    if (!Listening()) return;
    if (view_) view_->TrayIconChanged(TTrayState::Stopped);
    FtpServer.DropAllClients();
    FtpServer.Stop();
}

void TFtpHost::Restart() {
    Stop();
    Start();
}

void TFtpHost::RunCommandLine(const std::string& commandLine) {
    try {
        if (commandLine == "/start") {
            Start();
        } else if (commandLine == "/stop") {
            Stop();
        } else if (commandLine == "/restart") {
            Restart();
        } else if (commandLine == "/close") {
            Stop();
            if (view_) view_->CloseRequested();
        } else if (commandLine == "/hidetray" || commandLine == "/showtray") {
            if (view_) view_->TrayRequested(commandLine == "/showtray");
        }
    } catch (const std::exception& e) {
        WriteLog(lpSystem, LogRun(kLogText, e.what())); // an invalid setting: the server stays as it was
    }
}

void TFtpHost::Shutdown() {
    timer_.Stop();
    timerUpdown_.Stop();
    FtpServer.DropAllClients();
    FtpServer.Stop();
    totals_.Flush();
    WriteLog(lpSystem, Lang.LangText(sSrvShutDown));
}

void TFtpHost::FtpServerStart(TFtpServer& Sender) {
    WriteLog(lpSystem, Lang.LangText(sSerStart));
    WriteLog(lpSystem, Lang.LangText(sFTPPort) + " " + LogRun(kLogPort, Sender.Port));
    if (view_) view_->ServerStateChanged(true, Sender.Port);
}

// Once when connections cannot be taken any more, once when they can again.
void TFtpHost::AcceptTrouble(int error) {
    if (error == 0)
        WriteLog(lpSystem, LogRun(kLogText, "New connections are accepted again."));
    else
        WriteLog(lpSystem, LogRun(kLogText, "New connections cannot be accepted (" + SocketErrorMessage(error, "Accept") +
                                                "); they are answered \"421\" and closed until connections end."));
}

void TFtpHost::FtpServerStop(TFtpServer&) {
    WriteLog(lpSystem, Lang.LangText(sSerStop));
    if (view_) view_->ServerStateChanged(false, "");
}

void TFtpHost::RefreshUserCount() {
    const int n = int(userBox_.size());
    std::string status;
    int count;
    TTrayState icon;
    if (FtpServer.ConnectionCount() > 0) {
        status = std::to_string(n) + " " + Lang.LangText(sUser);
        count = n;
        icon = TTrayState::Busy;
    } else {
        status = Lang.LangText(sNoUser);
        count = 0;
        icon = TTrayState::Idle;
    }
    const std::string hint = Lang.LangText(sFTP) + " Client: " + std::to_string(n);
    if (view_) view_->UserCountChanged(status, count, FtpServer.MaxClients, icon, hint);
}

} // namespace nubo
