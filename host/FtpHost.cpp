// The host's core: construction, server control, the log helpers and formats.
#include "host/FtpHost.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "host/LoadSettings.h"
#include "host/LogRuns.h"
#include "platform/ProcessSetup.h"

namespace nubo {

namespace {
std::string DirWithSlash(std::string d) {
    if (d.empty()) d = ".";
    if (d.back() != '/') d += '/';
    return d;
}
} // namespace

int64_t SecondsSince(uint64_t tick) {
    return int64_t(TicksSince(tick) / 1000);
}

int64_t SizeOrZero(const std::string& path) {
    return path.empty() ? 0 : std::max<int64_t>(FileSizeOf(path), 0);
}

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
    : server_(loop), lang_(DirWithSlash(programDir)), log_(settings_, DirWithSlash(programDir)),
      dir_(DirWithSlash(programDir)), timer_(loop), timerUpdown_(loop), totals_([this] { return UsersFile(); }, loop),
      speed_(loop) {
    totals_.OnError = [this](const std::string& error) { WriteLog(lpSystem, LogRun(kLogText, error)); };
    try {
        CreateFirstStartFiles(dir_);
    } catch (const std::exception& e) {
        log_.WriteLog(lpSystem, LogRun(kLogText, e.what()));
    }
    lang_.SetLangSpec(ConfigFile().LangSpec());
    // The component as the console stores it; the greeting is composed per client.
    server_.Banner = "220 VELMORA FTP Server ready.";
    server_.Port = "ftp";

    using namespace std::placeholders;
    server_.OnStart = [this](TFtpServer& s) { FtpServerStart(s); };
    server_.OnAcceptTrouble = [this](TFtpServer&, int error) { AcceptTrouble(error); };
    server_.OnCaughtError = [this](TFtpServer&, const std::string& where, const std::string& what) {
        WriteLog(lpSystem, LogRun(kLogText, "Error in the " + where + ": " + what));
    };
    server_.OnStop = [this](TFtpServer& s) { FtpServerStop(s); };
    server_.OnClientConnect = std::bind(&TFtpHost::FtpServerClientConnect, this, _1, _2, _3);
    server_.OnClientSecured = std::bind(&TFtpHost::FtpServerClientSecured, this, _1, _2, _3);
    server_.OnNamesFromCp949 = std::bind(&TFtpHost::FtpServerNamesFromCp949, this, _1, _2);
    server_.OnClientDisconnect = std::bind(&TFtpHost::FtpServerClientDisconnect, this, _1, _2, _3);
    server_.OnAuthenticate = std::bind(&TFtpHost::FtpServerAuthenticate, this, _1, _2, _3, _4, _5);
    server_.OnChangeDirectory = std::bind(&TFtpHost::FtpServerChangeDirectory, this, _1, _2, _3, _4);
    server_.OnMakeDirectory = server_.OnChangeDirectory;
    server_.OnBuildFilePath = std::bind(&TFtpHost::FtpServerBuildFilePath, this, _1, _2, _3, _4, _5);
    server_.OnBuildDirectory = std::bind(&TFtpHost::FtpServerBuildDirectory, this, _1, _2, _3, _4);
    server_.OnValidateGet = std::bind(&TFtpHost::FtpServerValidateGet, this, _1, _2, _3, _4);
    server_.OnValidatePut = std::bind(&TFtpHost::FtpServerValidatePut, this, _1, _2, _3, _4);
    server_.OnValidateDele = std::bind(&TFtpHost::FtpServerValidateDele, this, _1, _2, _3, _4);
    server_.OnValidateRmd = std::bind(&TFtpHost::FtpServerValidateRmd, this, _1, _2, _3, _4);
    server_.OnValidateRnFr = std::bind(&TFtpHost::FtpServerValidateRnFr, this, _1, _2, _3, _4);
    server_.OnValidateRnTo = std::bind(&TFtpHost::FtpServerValidateRnTo, this, _1, _2, _3, _4);
    server_.OnValidateSize = std::bind(&TFtpHost::FtpServerValidateSize, this, _1, _2, _3, _4);
    server_.OnValidateMfmt = std::bind(&TFtpHost::FtpServerValidateMfmt, this, _1, _2, _3, _4);
    server_.OnCalculateMd5 = std::bind(&TFtpHost::FtpServerCalculateMd5, this, _1, _2, _3, _4, _5);
    server_.OnAnswerToClient = std::bind(&TFtpHost::FtpServerAnswerToClient, this, _1, _2, _3);
    server_.OnRetrSessionConnected = std::bind(&TFtpHost::FtpServerRetrSessionConnected, this, _1, _2, _3, _4);
    server_.OnRetrDataSent = std::bind(&TFtpHost::FtpServerRetrDataSent, this, _1, _2, _3, _4);
    server_.OnRetrSessionClosed = std::bind(&TFtpHost::FtpServerRetrSessionClosed, this, _1, _2, _3, _4);
    server_.OnStorSessionConnected = std::bind(&TFtpHost::FtpServerStorSessionConnected, this, _1, _2, _3, _4);
    server_.OnStorDataAvailable = std::bind(&TFtpHost::FtpServerStorDataAvailable, this, _1, _2, _3, _4, _5, _6);
    server_.OnStorSessionClosed = std::bind(&TFtpHost::FtpServerStorSessionClosed, this, _1, _2, _3, _4);
}

TFtpHost::~TFtpHost() {
    // Disconnect handlers must not run into a half-destroyed host.
    server_.OnClientDisconnect = nullptr;
    server_.OnStop = nullptr;
    server_.OnCaughtError = nullptr;
    server_.OnClientSecured = nullptr;
    log_.SetView(nullptr);
    totals_.Flush();
}

void TFtpHost::SetView(THostView* view) {
    view_ = view;
    log_.SetView(view);
}

TSettingsFile TFtpHost::ConfigFile() const {
    return TSettingsFile(dir_ + std::string(kSettingsFileName));
}
TUserFile TFtpHost::UsersFile() const {
    return TUserFile(dir_ + std::string(kUsersFileName));
}

TUserFile TFtpHost::RoundUsers() const {
    if (!roundUsers_) {
        roundUsers_ = UsersFile().Held();
        server_.Loop().Post(alive_, [this] { roundUsers_.reset(); });
    }
    return *roundUsers_;
}

void TFtpHost::WriteLog(int pane, const std::string& text) {
    log_.WriteLog(pane, text);
}

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
    if (!problem.empty())
        WriteLog(lpSystem, LogRun(kLogText, "The account file ") + LogRun(kLogFile, users) + LogRun(kLogText, problem));
}

void TFtpHost::Start() {
    if (Listening()) return;
    try {
        CheckFilesAtStart();
        LoadSettings(ConfigFile(), server_, settings_);
        if (!portOverride_.empty()) server_.Port = portOverride_;
        StartTls();
        StartPassiveAddress();
    } catch (const std::exception& e) {
        SetPhase(TServerState::TPhase::Failed, server_.Port, e.what());
        throw;
    }
    SetPhase(TServerState::TPhase::Starting, server_.Port);
    try {
        server_.Start(); // FtpServerStart reports the listening state
    } catch (const std::exception& e) {
        // The socket error's text has two lines: where, then why.
        std::string reason = e.what();
        for (size_t at; (at = reason.find("\r\n")) != std::string::npos;) reason.replace(at, 2, ": ");
        SetPhase(TServerState::TPhase::Failed, server_.Port, reason);
        WriteLog(lpSystem, LogRun(kLogText, "Port ") + LogRun(kLogPort, server_.Port) +
                               LogRun(kLogText, " cannot be opened: " + reason));
        WriteLog(lpSystem, FormatText(lang_.LangText(sNoPort), {server_.Port}));
        WriteLog(lpSystem, lang_.LangText(sNotStart));
    }
}

// Connections already encrypted keep the context they were made with.
void TFtpHost::StartTls() {
    tls_ = SetUpTls(ConfigFile(), MachineName(),
                    [this](const std::string& line) { WriteLog(lpSystem, LogRun(kLogText, line)); });
    server_.TlsContext = tls_.Context ? tls_.Context->Native() : nullptr;
    server_.TlsRequired = tls_.Required;
    server_.ImplicitTlsPort = ConfigFile().ImplicitTlsPort();
}

// The address PASV announces to clients from outside the local network: an address or a
// name from the settings, resolved now, or "auto": what the online service sees.
void TFtpHost::StartPassiveAddress() {
    server_.PasvIpAddr.clear();
    const std::string want = TrimBlanks(ConfigFile().PassiveAddress());
    if (want.empty()) return;
    const auto report = [this](const std::string& line) { WriteLog(lpSystem, LogRun(kLogText, line)); };
    const bool automatic = LowerCase(want) == "auto";
    const std::string name = !automatic ? want : PublicAddress ? PublicAddress() : "";
    if (name.empty()) {
        report("PassiveAddress=auto: no public address could be learned; PASV announces the local address.");
        return;
    }
    try {
        server_.PasvIpAddr = WSocketResolveHost(name, AF_INET).Text();
    } catch (const ESocketException& e) {
        report("PassiveAddress " + want + ": " + e.what() + " PASV announces the local address.");
        return;
    }
    report("PASV announces " + server_.PasvIpAddr + " to clients outside the local network.");
}

void TFtpHost::ReloadSettings() {
    std::exception_ptr invalid;
    try {
        LoadSettings(ConfigFile(), server_, settings_);
    } catch (const std::exception&) {
        invalid = std::current_exception();
    }
    lang_.SetLangSpec(ConfigFile().LangSpec());
    RefreshUserCount();
    if (invalid) std::rethrow_exception(invalid);
}

void TFtpHost::WriteVersionLines() {
    log_.WriteVersionLines(lang_);
}

void TFtpHost::Stop() {
    if (!Listening()) return;
    server_.DropAllClients();
    server_.Stop();
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
    server_.DropAllClients();
    server_.Stop();
    totals_.Flush();
    WriteLog(lpSystem, lang_.LangText(sSrvShutDown));
}

void TFtpHost::FtpServerStart(TFtpServer& Sender) {
    WriteLog(lpSystem, lang_.LangText(sSerStart));
    WriteLog(lpSystem, lang_.LangText(sFTPPort) + " " + LogRun(kLogPort, Sender.Port));
    SetPhase(TServerState::TPhase::Listening, Sender.Port);
}

// Once when connections cannot be taken any more, once when they can again.
void TFtpHost::AcceptTrouble(int error) {
    if (error == 0)
        WriteLog(lpSystem, LogRun(kLogText, "New connections are accepted again."));
    else
        WriteLog(lpSystem,
                 LogRun(kLogText, "New connections cannot be accepted (" + SocketErrorMessage(error, "Accept") +
                                      "); they are answered \"421\" and closed until connections end."));
}

void TFtpHost::FtpServerStop(TFtpServer&) {
    WriteLog(lpSystem, lang_.LangText(sSerStop));
    SetPhase(TServerState::TPhase::Stopped, "");
}

void TFtpHost::SetPhase(TServerState::TPhase phase, std::string port, std::string reason) {
    state_.Phase = phase;
    state_.Port = std::move(port);
    state_.Reason = std::move(reason);
    RefreshUserCount();
}

void TFtpHost::RefreshUserCount() {
    const int n = int(userBox_.size());
    state_.Users = n;
    state_.MaxUsers = int(settings_.MaxUser);
    state_.UsersText =
        server_.ConnectionCount() > 0 ? std::to_string(n) + " " + lang_.LangText(sUser) : lang_.LangText(sNoUser);
    if (view_) view_->ServerStateChanged(state_);
}

} // namespace nubo
