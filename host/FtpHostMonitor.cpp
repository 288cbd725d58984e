// The live monitor: the one-second rows, idle time-outs, the detail panel, disconnect
// and ban.
#include "host/FtpHost.h"
#include "host/LogRuns.h"
#include "host/Units.h"
#include "platform/PathMap.h"
#include "store/AddressLists.h"

namespace nubo {

namespace {
// Progress of a download, in 64 bits: position, size, percent, remaining seconds.
struct TProgress {
    int64_t Position = 0, Size = 0, Seconds = 1, Percent = 0, Remaining = 0;
    double Speed = 0; // bytes per second
};

// An upload: what the file holds so far and the rate of this transfer; its size and
// what remains are not known.
TProgress UploadProgress(const TFtpCtrlSocket& c) {
    TProgress p;
    const int64_t received = c.DataChannel->ReadCount();
    p.Position = received + c.RestartOffset;
    p.Seconds = std::max<int64_t>(SecondsSince(c.XferStartTick), 1);
    p.Speed = double(received) / double(p.Seconds);
    return p;
}

TProgress DownloadProgress(const TFtpCtrlSocket& c) {
    TProgress p;
    p.Position = c.RestartOffset + c.TransferBytes;
    p.Size = SizeOrZero(c.TransferPath);
    p.Seconds = std::max<int64_t>(SecondsSince(c.XferStartTick), 1);
    p.Percent = p.Size > 0 ? p.Position * 100 / p.Size : 0;
    const int64_t perSecond = p.Position / p.Seconds;
    if (perSecond > 0) p.Remaining = std::max<int64_t>(p.Size / perSecond - p.Seconds, 0);
    p.Speed = double(c.TransferBytes) / double(p.Seconds);
    return p;
}
} // namespace

void TFtpHost::StartTimers() {
    timer_.OnTimer = [this] { TimerTimer(); };
    timerUpdown_.OnTimer = [this] { Timer_updownTimer(); };
    timer_.Start(1000);
    timerUpdown_.Start(1000);
}

TFtpCtrlSocket* TFtpHost::LiveClient(int connectionId) const {
    if (std::find(liveClients_.begin(), liveClients_.end(), connectionId) == liveClients_.end()) return nullptr;
    for (int i = 0; i < server_.ConnectionCount(); ++i)
        if (server_.Connection(i)->ConnectionId == connectionId) return server_.Connection(i);
    return nullptr;
}

// A connection that has not logged in within the time-out is closed, so that silent
// connections cannot hold the table.
void TFtpHost::CloseSlowLogins() {
    if (settings_.LoginTimeOut <= 0) return;
    for (int i = 0; i < server_.ConnectionCount(); ++i) {
        TFtpCtrlSocket* c = server_.Connection(i);
        if (c->LoggedIn || c->State() != wsConnected || SecondsSince(c->GreetingTick) < settings_.LoginTimeOut)
            continue;
        SendNow(*c, "421 Login time-out, closing control connection.");
        c->CloseLater();
        WriteLog(lpConnect, ClientLine(*c, lang_.LangText(sTimeOutDisc) + " " + AddressArg(*c)));
    }
}

void TFtpHost::TimerTimer() {
    CloseSlowLogins();
    if (loginGuard_.Sweep() && view_) view_->BansChanged();
    const TUserFile users = RoundUsers();
    currentUsers_.clear();
    for (int id : liveClients_) {
        TFtpCtrlSocket* c = LiveClient(id);
        if (!c) continue;
        const bool transfer = c->RetrInProgress || c->StorInProgress;
        const int64_t idle = SecondsSince(c->ActivityTick);
        TConnectionRow row;
        row.ConnectionId = id;
        row.User = c->UserName;
        row.Status = lang_.LangText(c->RetrInProgress ? sDown : c->StorInProgress ? sUP : sNoTrans);
        row.ConnectSeconds = SecondsSince(c->GreetingTick);
        row.IdleSeconds = transfer ? -1 : idle;
        row.Address = c->PeerAddr();
        row.Ratio = "1:1";
        // The account's totals are kept in KB.
        row.TotalUp = c->TotalUpload * 1024;
        row.TotalDown = c->TotalDownload * 1024;
        if (const TTlsStage* tls = c->Tls()) row.Encryption = tls->Description();
        currentUsers_.push_back(std::move(row));
        const int64_t timeOut = users.TimeOut(c->UserName);
        if (timeOut != 0 && idle > timeOut * 60) {
            c->CloseLater();
            WriteLog(lpConnect, ConnectionPrefix(id) + lang_.LangText(sTimeOutDisc) + " " +
                                    LogRun(kLogUser, UpperCase(c->UserName)));
        }
    }
    if (view_) view_->MonitorRefreshed();
}

void TFtpHost::Timer_updownTimer() {
    currentTransfers_.clear();
    for (int id : liveClients_) {
        TFtpCtrlSocket* c = LiveClient(id);
        if (!c || !(c->RetrInProgress || c->StorInProgress)) continue;
        TTransferRow row;
        row.ConnectionId = id;
        row.File = DisplayPath(c->TransferPath);
        if (c->RetrInProgress) {
            const TProgress p = DownloadProgress(*c);
            row.Status = lang_.LangText(sDown);
            row.Seconds = p.Seconds;
            row.Remaining = p.Remaining;
            row.Position = p.Position;
            row.Size = p.Size;
            row.BytesPerSecond = p.Speed;
        } else {
            const TProgress p = UploadProgress(*c);
            row.Upload = true;
            row.Status = lang_.LangText(sUP);
            row.Seconds = p.Seconds;
            row.Position = p.Position;
            row.BytesPerSecond = p.Speed;
        }
        currentTransfers_.push_back(std::move(row));
    }
    if (view_) view_->MonitorRefreshed();
}

TClientDetail TFtpHost::IdleDetail(const TLangTexts& lang) {
    TClientDetail d;
    d.UserName = lang.LangText(sNoID);
    d.Time = d.Idle = d.Seconds = FormatDuration(0);
    d.Speed = FormatSpeed(0);
    d.Down = d.DownSize = d.TotalUp = d.TotalDown = FormatSize(0);
    d.Status = lang.LangText(sNoTrans);
    d.File = lang.LangText(sNoFile);
    return d;
}

TClientDetail TFtpHost::ShowSelectedUser(int connectionId) const {
    TClientDetail d = IdleDetail(lang_);
    TFtpCtrlSocket* c = LiveClient(connectionId);
    if (!c) return d;
    d.Time = FormatDuration(SecondsSince(c->GreetingTick));
    d.UserName = c->UserName;
    d.File = c->TransferPath.empty() ? lang_.LangText(sNoFile) : DisplayPath(c->TransferPath);
    // The account's totals are kept in KB.
    d.TotalDown = FormatSize(c->TotalDownload * 1024);
    d.TotalUp = FormatSize(c->TotalUpload * 1024);
    d.Idle = FormatDuration(SecondsSince(c->ActivityTick));
    if (c->RetrInProgress) {
        const TProgress p = DownloadProgress(*c);
        d.Status = lang_.LangText(sDown);
        d.Down = FormatSize(p.Position);
        d.DownSize = FormatSize(p.Size);
        d.Seconds = FormatDuration(p.Seconds);
        d.Percent = int(std::clamp<int64_t>(p.Percent, 0, 100));
        d.Speed = FormatSpeed(p.Speed);
    } else if (c->StorInProgress) {
        const TProgress p = UploadProgress(*c);
        d.Status = lang_.LangText(sUP);
        d.Down = FormatSize(p.Position);
        d.Seconds = FormatDuration(p.Seconds);
        d.DownSize = "-";
        d.Percent = -1;
        d.Speed = FormatSpeed(p.Speed);
    }
    return d;
}

bool TFtpHost::Disconnect(int connectionId) {
    TFtpCtrlSocket* c = LiveClient(connectionId);
    if (!c) return false;
    c->CloseLater();
    return true;
}

int TFtpHost::Ban(int connectionId) {
    TFtpCtrlSocket* c = LiveClient(connectionId);
    if (!c) return 0;
    const std::string address = c->PeerAddr();
    TSettingsFile config = ConfigFile();
    AppendDeny(config.Ini(), address);
    // Every session from the address goes, not only the selected one.
    int closed = 0;
    for (int i = 0; i < server_.ConnectionCount(); ++i) {
        TFtpCtrlSocket* other = server_.Connection(i);
        if (other->State() == wsClosed || other->PeerAddr() != address) continue;
        other->CloseLater();
        ++closed;
    }
    WriteLog(lpConnect, LogRun(kLogAddress, address) +
                            LogRun(kLogText, " added to the deny list; " + std::to_string(closed) +
                                                 (closed == 1 ? " session" : " sessions") + " disconnected."));
    return closed;
}

} // namespace nubo
