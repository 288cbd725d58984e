// Transfer tracking and accounting: start and end lines with rates and sizes, the
// activity refresh during transfers, and the account's totals.
#include "host/FtpHost.h"
#include "host/LogRuns.h"

namespace nubo {

namespace {
constexpr int kCodeAppe = 23;
} // namespace

void TFtpHost::FtpServerRetrSessionConnected(TFtpServer&, TFtpCtrlSocket& Client, TWSocket&, int) {
    if (!Client.RetrInProgress) return;
    Client.XferStartTick = TickCount();
    const std::string path = LogRun(kLogFile, Client.TransferPath);
    if (Client.RestartOffset != 0)
        WriteLog(lpTransfer, ClientLine(Client, FormatText(Lang.LangText(sRetrRes), {UserArg(Client), path,
                                                                                   FormatThousands(Client.RestartOffset)})));
    else
        WriteLog(lpTransfer, ClientLine(Client, FormatText(Lang.LangText(sRetrStart), {UserArg(Client), path})));
}

void TFtpHost::FtpServerRetrDataSent(TFtpServer&, TFtpCtrlSocket& Client, TWSocket&, int) { Client.RefreshActivity(); }

void TFtpHost::FtpServerStorDataAvailable(TFtpServer&, TFtpCtrlSocket& Client, TWSocket&, const char*, int, int) {
    Client.RefreshActivity();
}

void TFtpHost::FtpServerStorSessionConnected(TFtpServer&, TFtpCtrlSocket& Client, TWSocket&, int) {
    if (!Client.StorInProgress) return;
    const std::string path = LogRun(kLogFile, Client.TransferPath);
    Client.XferStartTick = TickCount();
    if (Client.RestartOffset != 0 || Client.XferCommandCode == kCodeAppe) {
        Client.TransferBytes = SizeOrZero(Client.TransferPath);
        WriteLog(lpTransfer, ClientLine(Client, FormatText(Lang.LangText(sStorRes), {UserArg(Client), path,
                                                                                   FormatThousands(Client.RestartOffset)})));
    } else {
        Client.TransferBytes = 0;
        WriteLog(lpTransfer, ClientLine(Client, FormatText(Lang.LangText(sStorStart), {UserArg(Client), path})));
    }
}

void TFtpHost::FtpServerRetrSessionClosed(TFtpServer&, TFtpCtrlSocket& Client, TWSocket&, int AError) {
    if (Client.UserData == ListingMarker) {
        Client.FreeStream();
        Client.UserData = 0;
    }
    if (!Client.RetrInProgress) return;
    const int64_t s = SecondsSince(Client.XferStartTick);
    const bool failed = AError != 0 || Client.AbortFlag;
    int64_t b;
    double rate;
    if (failed && s > 0) {
        b = Client.TransferBytes;
        rate = double(b) / double(s) / 1024.0;
    } else {
        b = SizeOrZero(Client.TransferPath);
        rate = s > 0 ? double(b) / double(s) / 1024.0 : double(b) / 1024.0;
    }
    const std::string text = FormatText(Lang.LangText(failed ? sRetrFail : sRetrOK),
                                        {UserArg(Client), LogRun(kLogFile, Client.TransferPath)});
    WriteLog(lpTransfer, ClientLine(Client, text + " (" + FormatRate(rate) + " K/S - " + FormatThousands(b) + " bytes)"));
    Client.TotalDownload = totals_.AddDownload(Client.UserName, Client.TransferBytes / 1024);
    Client.RetrInProgress = false;
    Client.RefreshActivity();
    Client.UserData = 0;
}

void TFtpHost::FtpServerStorSessionClosed(TFtpServer&, TFtpCtrlSocket& Client, TWSocket& Data, int AError) {
    if (Client.UserData == ListingMarker) {
        Client.FreeStream();
        Client.UserData = 0;
    }
    if (!Client.StorInProgress) return;
    const int64_t s = SecondsSince(Client.XferStartTick);
    const bool failed = AError != 0 || Client.AbortFlag;
    const int64_t b = SizeOrZero(Client.TransferPath);
    const double rate = s > 0 ? double(b) / double(s) / 1024.0 : double(b) / 1024.0;
    const std::string text = FormatText(Lang.LangText(failed ? sStorFail : sStorOK),
                                        {UserArg(Client), LogRun(kLogFile, Client.TransferPath)});
    WriteLog(lpTransfer, ClientLine(Client, text + " (" + FormatRate(rate) + " K/S - " + FormatThousands(b) + " bytes)"));
    Client.TotalUpload = totals_.AddUpload(Client.UserName, Data.ReadCount() / 1024);
    Client.RefreshActivity();
    Client.StorInProgress = false;
}

} // namespace nubo
