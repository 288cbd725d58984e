// Admission of connections, logins and the end of sessions.
#include <algorithm>
#include <ctime>
#include <thread>

#include "host/FtpHost.h"
#include "host/LogRuns.h"
#include "platform/FileSystem.h"
#include "store/AddressLists.h"
#include "store/PasswordHash.h"

namespace nubo {

namespace {
std::string TimeOfDay() {
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    char buf[16];
    std::strftime(buf, sizeof buf, "%H:%M:%S", &tm);
    return buf;
}
} // namespace

std::string TFtpHost::UserArg(const TFtpCtrlSocket& Client) const {
    return LogRun(kLogUser, UpperCase(Client.UserName));
}

std::string TFtpHost::AddressArg(const TFtpCtrlSocket& Client) const {
    return LogRun(kLogAddress, const_cast<TFtpCtrlSocket&>(Client).PeerAddr());
}

void TFtpHost::SendNow(TFtpCtrlSocket& Client, const std::string& line) {
    try {
        Client.SendAnswer(line);
    } catch (const ESocketException&) {
        // The client is already gone; its close is on its way.
    }
}

void TFtpHost::FtpServerClientConnect(TFtpServer&, TFtpCtrlSocket& Client, int) {
    const TSettingsFile config = ConfigFile();
    const std::string fallback = settings_.HideVersion ? "Connected to " + Client.BoundAddr() + " ready..."
                                                       : std::string("Nubo FTP Server " NUBO_VERSION " ready...");
    const std::string enter = config.EnterMessage();
    Client.Banner = "220 " + (enter.empty() ? fallback : enter);
    // The limit counts logged-in sessions: it refuses at the limit and above it.
    if (settings_.MaxUser != 0 && int64_t(userBox_.size()) >= settings_.MaxUser) {
        SendNow(Client, "421 Too many users connected.");
        Client.Close();
        return;
    }
    // A banned address is refused as the deny list refuses it; its ban was logged once
    // when it began, so only the deny list's refusals are logged one by one.
    const bool denied = !AccessCheck(config.Ini(), Client.PeerAddr());
    if (denied || loginGuard_.Banned(Client.PeerAddr())) {
        SendNow(Client, "421 Access Denied.");
        if (denied)
            WriteLog(lpConnect, AddressArg(Client) + LogRun(kLogText, " refused: the address is on the deny list."));
        Client.Close();
        return;
    }
    // One address cannot fill the table with connections that never log in.
    if (settings_.MaxPendingIP > 0 && PendingFrom(Client) >= settings_.MaxPendingIP) {
        SendNow(Client, "421 Too many connections from your address.");
        Client.Close();
        return;
    }
    // The first greeting line only for an admitted client: a refused one gets its "421"
    // alone, since a "220-" line would open a reply that the "421" cannot close.
    SendNow(Client, Fmt("220- %s", Fmt("Nubo FTP Server (Version %s)", NUBO_VERSION)));
    WriteLog(lpConnect, ClientLine(Client, FormatText(lang_.LangText(sConnectTo), {AddressArg(Client)})));
}

// Whether a session is encrypted, and with what, is for the operator to see.
void TFtpHost::FtpServerClientSecured(TFtpServer&, TFtpCtrlSocket& Client, int AError) {
    const TTlsStage* tls = Client.Tls();
    if (!tls) return;
    WriteLog(lpConnect,
             ClientLine(Client, LogRun(kLogText, AError == 0 ? "Encrypted: " + tls->Description() + "."
                                                             : "TLS handshake failed: " + tls->Error() + ".")));
}

// An older client sends names in its code page; the operator sees which session does.
void TFtpHost::FtpServerNamesFromCp949(TFtpServer&, TFtpCtrlSocket& Client) {
    WriteLog(lpConnect, ClientLine(Client, LogRun(kLogText, "Names that are not UTF-8 are read as CP949.")));
}

int64_t TFtpHost::PendingFrom(TFtpCtrlSocket& Client) const {
    const std::string address = Client.PeerAddr();
    int64_t n = 0;
    for (int i = 0; i < server_.ConnectionCount(); ++i) {
        TFtpCtrlSocket* c = server_.Connection(i);
        if (c != &Client && !c->LoggedIn && c->State() == wsConnected && c->PeerAddr() == address) ++n;
    }
    return n;
}

void TFtpHost::CountSession(int id, const std::string& account, const std::string& address) {
    const std::string key = UpperCase(account);
    ++accountSessions_[key];
    ++addressSessions_[key + "-" + address];
    countedAs_[id] = account;
}

void TFtpHost::UncountSession(int id, const std::string& address) {
    auto it = countedAs_.find(id);
    if (it == countedAs_.end()) return;
    const std::string key = UpperCase(it->second);
    for (auto* entry : {&accountSessions_[key], &addressSessions_[key + "-" + address]}) --*entry;
    if (accountSessions_[key] <= 0) accountSessions_.erase(key);
    if (addressSessions_[key + "-" + address] <= 0) addressSessions_.erase(key + "-" + address);
    countedAs_.erase(it);
}

void TFtpHost::FtpServerClientDisconnect(TFtpServer&, TFtpCtrlSocket& Client, int) {
    ReleaseListing(Client);
    if (Client.ConnectionId == 0 || !Client.LoggedIn) return;
    const int id = Client.ConnectionId;
    std::erase_if(userBox_, [id](const TUserRow& r) { return r.ConnectionId == id; });
    std::erase(liveClients_, id);
    RefreshUserCount();
    if (view_) view_->UserRowsChanged();
    const int64_t seconds = SecondsSince(Client.GreetingTick);
    WriteLog(lpConnect,
             ClientLine(Client, FormatText(lang_.LangText(sDisconnect), {UserArg(Client), AddressArg(Client)}) + " (" +
                                    LogRun(kLogDuration, FormatSeconds(seconds) + " Min") + ")"));
    // The session's copies never lower a total that another session of the account
    // has raised meanwhile; the write creates missing keys.
    totals_.Settle(Client.UserName, Client.TotalDownload, Client.TotalUpload);
    UncountSession(id, Client.PeerAddr());
}

// The checks of a login that do not depend on the password.
bool TFtpHost::LoginAllowed(TFtpCtrlSocket& Client, const TUserFile& users, const std::string& account) {
    const std::string address = Client.PeerAddr();
    if (users.UserDisable(account)) return false;
    // An unknown name is refused as a wrong password is, so that names cannot be tried
    // out; only the connect pane tells the two apart.
    if (!users.HasAccount(account)) {
        WriteLog(lpConnect,
                 ClientLine(Client, FormatText(lang_.LangText(sAuthFail), {UserArg(Client), AddressArg(Client)}) +
                                        " (no such account)"));
        return false;
    }

    // This connection's own session does not count against a login that replaces it.
    const std::string key = UpperCase(account);
    const bool sameAccountAgain =
        Client.LoggedIn && countedAs_.count(Client.ConnectionId) && UpperCase(countedAs_[Client.ConnectionId]) == key;
    const int n = accountSessions_.count(key) ? accountSessions_[key] - (sameAccountAgain ? 1 : 0) : 0;
    const std::string addrKey = key + "-" + address;
    const int k = addressSessions_.count(addrKey) ? addressSessions_[addrKey] - (sameAccountAgain ? 1 : 0) : 0;
    const int64_t maxUser = users.MaxUser(account), maxUserIP = users.MaxUserIP(account);
    if ((maxUser != 0 && n >= maxUser) || (maxUserIP != 0 && k >= maxUserIP)) {
        SendNow(Client, "530 Too Many Users Connected.");
        Client.Close();
        WriteLog(lpConnect,
                 ClientLine(Client, FormatText(lang_.LangText(sTooManyUser), {UserArg(Client), AddressArg(Client)})));
        return false;
    }
    return true;
}

void TFtpHost::LogAuthFail(TFtpCtrlSocket& Client) {
    WriteLog(lpConnect,
             ClientLine(Client, FormatText(lang_.LangText(sAuthFail), {UserArg(Client), AddressArg(Client)})));
}

TLoopWorkers& TFtpHost::HashWorkers() {
    if (!hashWorkers_) {
        const unsigned cores = std::thread::hardware_concurrency();
        hashWorkers_ = std::make_unique<TLoopWorkers>(server_.Loop(), std::clamp(cores, 1u, 4u));
    }
    return *hashWorkers_;
}

TFtpHost::TPasswordCheck TFtpHost::CheckPassword(TFtpCtrlSocket& Client, const std::string& account,
                                                 const std::string& password, const std::string& stored) {
    // Refused before any hashing: nobody types such a password, and its hash would cost
    // us more than the guesser.
    if (password.size() > kMaxPasswordLength) return TPasswordCheck::Mismatch;
    const TStoredKind kind = StoredKind(stored);
    if (kind == TStoredKind::Malformed) {
        WriteLog(lpSystem, LogRun(kLogText, "The stored password of the account ") +
                               LogRun(kLogUser, UpperCase(account)) +
                               LogRun(kLogText, " is not a valid hash: its login is refused."));
        return TPasswordCheck::Mismatch;
    }
    if (kind == TStoredKind::Plain) {
        if (!SamePassword(password, stored)) return TPasswordCheck::Mismatch;
        // Matched; another login of the account is already storing the hash.
        if (settings_.PlainPasswords || upgrading_.count(UpperCase(account))) return TPasswordCheck::Match;
    } else if (loginCache_.Has(account, stored, password)) {
        return TPasswordCheck::Match;
    }
    // A flood of logins cannot queue hashes without end: beyond this, they are refused.
    constexpr size_t kMaxQueuedHashes = 128;
    if (HashWorkers().Busy() >= kMaxQueuedHashes) return TPasswordCheck::Mismatch;

    const std::string key = kind == TStoredKind::Hashed ? loginCache_.Key(account, stored, password) : std::string();
    if (kind == TStoredKind::Hashed && key.empty()) return TPasswordCheck::Mismatch;

    // The connection owns the token: when it goes, the result finds the guard expired.
    auto token = std::make_shared<char>(0);
    std::weak_ptr<char> guard = token;
    Client.HoldCommands(token);
    TFtpCtrlSocket* client = &Client;
    if (kind == TStoredKind::Plain) {
        // The password matched; its hash replaces it in the file before the reply.
        upgrading_.insert(UpperCase(account));
        HashWorkers().Run([this, guard, client, account, password, stored]() -> std::function<void()> {
            std::string hashed;
            try {
                hashed = MakePasswordHash(password);
            } catch (const std::exception&) {
                // Stays plain this time; the next login tries again.
            }
            return [this, guard, client, account, password, stored, hashed] {
                upgrading_.erase(UpperCase(account));
                if (!hashed.empty()) {
                    StorePasswordHash(account, stored, hashed);
                    loginCache_.Add(account, hashed, password);
                }
                if (!guard.expired()) FinishPasswordCheck(*client, true);
            };
        });
    } else {
        auto& waiting = checking_[key];
        waiting.emplace_back(guard, client);
        if (waiting.size() > 1) return TPasswordCheck::Pending; // the running check answers it too
        HashWorkers().Run(
            [this, key, account, password, stored, parsed = *ParsePasswordHash(stored)]() -> std::function<void()> {
                bool match = false;
                try {
                    match = VerifyPasswordHash(password, parsed);
                } catch (const std::exception&) {
                }
                return [this, key, account, password, stored, match] {
                    auto node = checking_.extract(key);
                    if (match) loginCache_.Add(account, stored, password);
                    if (node.empty()) return;
                    for (auto& [waiter, connection] : node.mapped())
                        if (!waiter.expired()) FinishPasswordCheck(*connection, match);
                };
            });
    }
    return TPasswordCheck::Pending;
}

void TFtpHost::StorePasswordHash(const std::string& account, const std::string& plain, const std::string& hashed) {
    try {
        // An edit made meanwhile (a new password, a removed account, also by another
        // program between this check and the write) wins.
        UsersFile().Update([&](const TUserFile& now) -> std::vector<TIniFile::TEntry> {
            if (!now.HasAccount(account) || now.Password(account) != plain) return {};
            return {{account, "Password", hashed}};
        });
        roundUsers_.reset();
    } catch (const std::exception& e) {
        WriteLog(lpSystem, LogRun(kLogText, "The password of the account ") + LogRun(kLogUser, UpperCase(account)) +
                               LogRun(kLogText, std::string(" stays plain text: ") + e.what()));
    }
}

void TFtpHost::FinishPasswordCheck(TFtpCtrlSocket& Client, bool match) {
    // A connection that closed meanwhile is on its way out: it gets no login.
    if (Client.State() != wsConnected) return;
    if (Client.PeerClosed()) {
        Client.Close();
        return;
    }
    // The address may have been banned while the hash was computed.
    if (loginGuard_.Banned(Client.PeerAddr())) {
        RefuseLater(Client);
        return;
    }
    bool ok = false;
    try {
        // The account is read afresh: it may have been disabled or filled up meanwhile.
        const TUserFile users = RoundUsers();
        const std::string account = Client.UserName;
        if (LoginAllowed(Client, users, account)) {
            ok = match && AcceptLogin(Client, users, account);
            if (!ok) LogAuthFail(Client);
        }
    } catch (...) {
        server_.ReportCaught("login");
        ok = false;
    }
    if (!ok && LoginFailed(Client)) return;
    server_.FinishLogin(Client, ok);
}

void TFtpHost::FtpServerAuthenticate(TFtpServer&, TFtpCtrlSocket& Client, const TFtpString& UserName,
                                     const TFtpString& Password, bool& Authenticated) {
    Authenticated = false;
    // A connection opened before its address was banned guesses no further: no password
    // is checked, and it is closed after its "530".
    if (loginGuard_.Banned(Client.PeerAddr())) {
        RefuseLater(Client);
        return;
    }
    const TUserFile users = RoundUsers();
    const std::string& account = UserName;
    if (!LoginAllowed(Client, users, account)) {
        LoginFailed(Client);
        return;
    }
    if (UpperCase(account) == "ANONYMOUS") {
        Authenticated = AcceptLogin(Client, users, account); // any password
    } else {
        switch (CheckPassword(Client, account, Password, users.Password(account))) {
        case TPasswordCheck::Pending: return;
        case TPasswordCheck::Match: Authenticated = AcceptLogin(Client, users, account); break;
        case TPasswordCheck::Mismatch: break;
        }
    }
    if (!Authenticated) {
        LogAuthFail(Client);
        LoginFailed(Client);
    }
}

// --- failed logins ------------------------------------------------------------

void TFtpHost::ApplyLoginLimits() {
    loginGuard_.SetLimits({settings_.BanFailures, std::chrono::seconds(settings_.BanWindow),
                           std::chrono::seconds(settings_.BanTime), settings_.BanLoopback});
    if (view_) view_->BansChanged();
}

namespace {
// "60분", "90초": how long a ban lasts, as the connect pane says it.
std::string BanDuration(std::chrono::seconds d) {
    const int64_t s = d.count();
    return s % 60 == 0 ? std::to_string(s / 60) + "분" : std::to_string(s) + "초";
}
} // namespace

void TFtpHost::CountFailedLogin(const std::string& address, int connectionId) {
    if (!loginGuard_.Failed(address)) return;
    const TLoginGuardLimits& limits = loginGuard_.Limits();
    WriteLog(lpConnect, (connectionId ? ConnectionPrefix(connectionId) : std::string()) + LogRun(kLogAddress, address) +
                            LogRun(kLogText, " 로그인 실패 " + std::to_string(limits.Failures) +
                                                 "회: " + BanDuration(limits.BanTime) + " 동안 차단합니다."));
    if (view_) view_->BansChanged();
}

bool TFtpHost::LoginFailed(TFtpCtrlSocket& Client) {
    // Refusals that answered and closed already (too many sessions, a missing home)
    // came after a right password or none at all: they are no guesses.
    if (Client.State() != wsConnected) return false;
    CountFailedLogin(Client.PeerAddr(), Client.ConnectionId);
    RefuseLater(Client);
    return true;
}

void TFtpHost::RefuseLater(TFtpCtrlSocket& Client) {
    auto token = std::make_shared<char>(0);
    Client.HoldCommands(token); // replaces a finished hash check's hold
    refusals_.emplace(TLoginGuard::TClock::now() + std::chrono::seconds(settings_.LoginFailDelay),
                      TRefusal{token, &Client});
    ArmRefusals();
}

void TFtpHost::ArmRefusals() {
    if (refusals_.empty()) {
        refusalTimer_.Stop();
        return;
    }
    using namespace std::chrono;
    const auto wait = ceil<milliseconds>(refusals_.begin()->first - TLoginGuard::TClock::now()).count();
    refusalTimer_.Start(unsigned(std::clamp<int64_t>(wait, 1, 3'600'000))); // 0 would disarm it
}

void TFtpHost::AnswerRefusals() {
    const auto now = TLoginGuard::TClock::now();
    // Answering may run held lines that refuse another login: each pass takes the first
    // entry afresh.
    while (!refusals_.empty() && refusals_.begin()->first <= now) {
        const TRefusal refusal = refusals_.extract(refusals_.begin()).mapped();
        if (refusal.Guard.expired()) continue; // the connection went during the delay
        TFtpCtrlSocket& Client = *refusal.Client;
        if (Client.State() != wsConnected) continue;
        if (Client.PeerClosed()) {
            Client.Close();
            continue;
        }
        // A banned address's connection gets its answer and no further guesses.
        try {
            server_.FinishLogin(Client, false, loginGuard_.Banned(Client.PeerAddr()));
        } catch (...) {
            server_.ReportCaught("login");
        }
    }
    ArmRefusals();
}

std::vector<TBanRow> TFtpHost::BanRows() const {
    using namespace std::chrono;
    const auto now = TLoginGuard::TClock::now();
    const auto wallNow = system_clock::now();
    std::vector<TBanRow> rows;
    for (const TLoginGuard::TBan& ban : loginGuard_.Bans(now)) {
        const std::time_t t = system_clock::to_time_t(wallNow + ceil<seconds>(ban.Ends - now));
        std::tm tm{};
        localtime_r(&t, &tm);
        char buf[32];
        std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
        rows.push_back({ban.Address, buf, ban.Failures});
    }
    return rows;
}

bool TFtpHost::LiftBan(const std::string& address) {
    if (!loginGuard_.Lift(address)) return false;
    WriteLog(lpConnect, LogRun(kLogAddress, address) + LogRun(kLogText, " 차단을 해제했습니다."));
    if (view_) view_->BansChanged();
    return true;
}

// The password matched: the home must exist; the session is counted and shown.
bool TFtpHost::AcceptLogin(TFtpCtrlSocket& Client, const TUserFile& users, const std::string& account) {
    const std::string address = Client.PeerAddr();
    const std::string home = users.HomePath(account);
    if (home.empty() || !DirectoryExists(home)) {
        SendNow(Client, "530 Not logged in, cannot find home directory.");
        Client.Close();
        WriteLog(lpConnect, ClientLine(Client, "User " + UserArg(Client) + " IP: " + AddressArg(Client) +
                                                   ": home directory not found: " + FileRun(home)));
        return false;
    }
    if (Client.LoggedIn) {
        auto row = std::find_if(userBox_.begin(), userBox_.end(),
                                [&](const TUserRow& r) { return r.ConnectionId == Client.ConnectionId; });
        if (row != userBox_.end()) {
            WriteLog(lpConnect, ClientLine(Client, lang_.LangText(sChangeUser) + UserArg(Client)));
            row->User = UpperCase(account);
            row->Address = address;
        }
        // The session now counts under the new account.
        UncountSession(Client.ConnectionId, address);
        CountSession(Client.ConnectionId, account, address);
    } else {
        userBox_.push_back({Client.ConnectionId, UpperCase(account), address, TimeOfDay()});
        liveClients_.push_back(Client.ConnectionId);
        WriteLog(lpConnect,
                 ClientLine(Client, FormatText(lang_.LangText(sConnected), {UserArg(Client), AddressArg(Client)})));
        Client.LoggedIn = true;
        CountSession(Client.ConnectionId, account, address);
    }
    if (view_) view_->UserRowsChanged();
    Client.HomePath = WithSlash(home);
    WriteLog(lpConnect,
             ClientLine(Client, FormatText(lang_.LangText(sRepNow), {UserArg(Client), FileRun(Client.HomePath)})));
    RefreshUserCount();
    Client.DownGate = speed_.Gate(account, TSpeedDirection::Download, users.MaxSpeed(account));
    Client.UpGate = speed_.Gate(account, TSpeedDirection::Upload, users.MaxUpSpeed(account));
    Client.ChangeDir(Client.HomePath);
    Client.TotalDownload = totals_.AddDownload(account, 0);
    Client.TotalUpload = totals_.AddUpload(account, 0);
    const std::string enter = users.EnterMessage(account);
    if (!enter.empty()) SendNow(Client, Fmt("230-%s", enter));
    return true;
}

} // namespace nubo
