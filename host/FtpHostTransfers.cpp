// Transfer tracking and accounting: start and end lines with rates and sizes, the
// activity refresh during transfers, and the account's totals.
#include "host/FtpHost.h"
#include "host/LogRuns.h"

namespace nubo {

void TFtpHost::FtpServerRetrSessionConnected(TFtpServer&, TFtpCtrlSocket& Client, TWSocket&, int) {
    if (!Client.RetrInProgress) return;
    Client.XferStartTick = TickCount();
    const std::string path = FileRun(Client.TransferPath);
    if (Client.RestartOffset != 0)
        WriteLog(lpTransfer,
                 ClientLine(Client, FormatText(lang_.LangText(sRetrRes),
                                               {UserArg(Client), path, FormatThousands(Client.RestartOffset)})));
    else
        WriteLog(lpTransfer, ClientLine(Client, FormatText(lang_.LangText(sRetrStart), {UserArg(Client), path})));
}

void TFtpHost::FtpServerRetrDataSent(TFtpServer&, TFtpCtrlSocket& Client, TWSocket&, int) {
    Client.RefreshActivity();
}

void TFtpHost::FtpServerStorDataAvailable(TFtpServer&, TFtpCtrlSocket& Client, TWSocket&, const char*, int, int) {
    Client.RefreshActivity();
}

void TFtpHost::FtpServerStorSessionConnected(TFtpServer&, TFtpCtrlSocket& Client, TWSocket&, int) {
    if (!Client.StorInProgress) return;
    const std::string path = FileRun(Client.TransferPath);
    Client.XferStartTick = TickCount();
    if (Client.RestartOffset != 0 || Client.XferCommandCode == TFtpCommandCode::Appe) {
        Client.TransferBytes = SizeOrZero(Client.TransferPath);
        WriteLog(lpTransfer,
                 ClientLine(Client, FormatText(lang_.LangText(sStorRes),
                                               {UserArg(Client), path, FormatThousands(Client.RestartOffset)})));
    } else {
        Client.TransferBytes = 0;
        WriteLog(lpTransfer, ClientLine(Client, FormatText(lang_.LangText(sStorStart), {UserArg(Client), path})));
    }
}

// A listing built by the host ends with its data connection.
void TFtpHost::ReleaseListing(TFtpCtrlSocket& Client) {
    const auto it = listings_.find(Client.ConnectionId);
    if (it == listings_.end()) return;
    if (Client.TransferStream() == it->second.get()) Client.DropStream();
    listings_.erase(it);
}

// The end line: the rate is per whole second of the transfer, or the bytes themselves
// when it took less than a second.
void TFtpHost::LogTransferEnd(const TFtpCtrlSocket& Client, const TLangKey& key, int64_t seconds, int64_t bytes) {
    const double rate = (seconds > 0 ? double(bytes) / double(seconds) : double(bytes)) / 1024.0;
    const std::string text = FormatText(lang_.LangText(key), {UserArg(Client), FileRun(Client.TransferPath)});
    WriteLog(lpTransfer,
             ClientLine(Client, text + " (" + FormatRate(rate) + " K/S - " + FormatThousands(bytes) + " bytes)"));
}

void TFtpHost::FtpServerRetrSessionClosed(TFtpServer&, TFtpCtrlSocket& Client, TWSocket&, int AError) {
    ReleaseListing(Client);
    if (!Client.RetrInProgress) return;
    const int64_t s = SecondsSince(Client.XferStartTick);
    const bool failed = AError != 0 || Client.AbortFlag;
    // A failed download reports what was sent; otherwise the file's size.
    const int64_t b = failed ? Client.TransferBytes : SizeOrZero(Client.TransferPath);
    LogTransferEnd(Client, failed ? sRetrFail : sRetrOK, s, b);
    Client.TotalDownload = totals_.AddDownload(Client.UserName, Client.TransferBytes / 1024);
    Client.RetrInProgress = false;
    Client.RefreshActivity();
}

void TFtpHost::FtpServerStorSessionClosed(TFtpServer&, TFtpCtrlSocket& Client, TWSocket& Data, int AError) {
    ReleaseListing(Client);
    if (!Client.StorInProgress) return;
    const int64_t s = SecondsSince(Client.XferStartTick);
    const bool failed = AError != 0 || Client.AbortFlag;
    LogTransferEnd(Client, failed ? sStorFail : sStorOK, s, SizeOrZero(Client.TransferPath));
    Client.TotalUpload = totals_.AddUpload(Client.UserName, Data.ReadCount() / 1024);
    Client.RefreshActivity();
    Client.StorInProgress = false;
}

} // namespace nubo
