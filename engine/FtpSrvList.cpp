// Directory listings: LIST, NLST and MLSD over the data connection, MLST on the
// control connection, and the engine's own listing lines.
#include <cstdio>

#include "engine/FtpSrv.h"
#include "platform/DateTime.h"

namespace nubo {

namespace {
constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

std::string UpperExt(const std::string& name) {
    size_t dot = name.rfind('.');
    return dot == std::string::npos ? "" : UpperCase(name.substr(dot));
}
} // namespace

std::string FormatListLine(const TSearchRec& e, int currentYear) {
    if (e.Attr & faVolumeID) return "";
    std::string perm = "-rw-rw-rw-";
    if (e.Attr & faDirectory) perm[0] = 'd';
    if (e.Attr & faReadOnly) perm[2] = perm[5] = perm[8] = '-';
    const std::string ext = UpperExt(e.Name);
    if (ext == ".EXE" || ext == ".COM" || ext == ".BAT") perm[3] = perm[6] = perm[9] = 'x';
    const TDateParts d = DecodeDateTime(e.Time);
    char when[16];
    if (d.Year == currentYear)
        std::snprintf(when, sizeof when, "%2.2d:%2.2d", d.Hour, d.Minute);
    else
        std::snprintf(when, sizeof when, "%5d", d.Year);
    char text[96];
    std::snprintf(text, sizeof text, "%11s %s %2.2d %5s ", std::to_string(e.Size).c_str(),
                  kMonths[(d.Month >= 1 && d.Month <= 12) ? d.Month - 1 : 0], d.Day, when);
    return perm + "   1 ftp      ftp  " + text + e.Name + "\r\n";
}

std::string FileTimeText(int64_t fileTime) {
    const TDateParts d = DecodeDateTime(FileTimeToDateTime(fileTime));
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d%02d%02d%02d%02d%02d", d.Year, d.Month, d.Day, d.Hour, d.Minute, d.Second);
    return buf;
}

std::string FormatFacts(const TSearchRec& e) {
    if (e.Attr & faVolumeID) return "";
    std::string facts;
    if (e.Attr & faDirectory)
        facts = e.Name == "." ? "size=0;type=cdir;perm=fdelcmp;"
                : e.Name == ".." ? "size=0;type=pdir;perm=fdelcmp;"
                                 : "size=0;type=dir;perm=fdelcmp;";
    else
        facts = "size=" + std::to_string(e.Size) + ";type=file;perm=" + ((e.Attr & faReadOnly) ? "rw;" : "fdrwa;");
    return facts + "create=" + FileTimeText(e.CreationTime) + ";modify=" + FileTimeText(e.LastWriteTime) + "; " +
           e.Name;
}

void TFtpServer::BuildListing(TFtpCtrlSocket& Client, const std::string& Argument, int Kind, TStream& Stream) {
    const int year = DecodeDateTime(Now()).Year;
    std::string pattern;
    bool hidden = false;
    const std::string upper = UpperCase(Argument);
    if (Argument.empty()) {
        pattern = Client.CurrentDir + "*.*";
    } else if (upper == "-LA" || upper == "-AL") {
        pattern = Client.CurrentDir + "*.*";
        hidden = true;
    } else {
        pattern = ResolveFilePath(Client, Client.CurrentDir, Argument);
    }
    if (!pattern.empty() && pattern.back() == '\\') pattern += "*.*";

    const int attr = faReadOnly | faDirectory | faArchive | (hidden ? faHidden | faSysFile : 0);
    bool wrote = false;
    TFileSearch search;
    TSearchRec rec;
    for (bool found = search.First(pattern, attr, rec); found; found = search.Next(rec)) {
        std::string line = Kind == 0   ? rec.Name + "\r\n"
                           : Kind == 1 ? FormatListLine(rec, year)
                                       : FormatFacts(rec) + "\r\n";
        if (line.empty() || line == "\r\n") continue;
        Stream.WriteBuffer(line.data(), line.size());
        wrote = true;
    }
    if (!wrote) {
        const std::string line = pattern + " not found\r\n";
        Stream.WriteBuffer(line.data(), line.size());
    }
}

void TFtpServer::ListingCommand(TFtpCtrlSocket& Client, TFtpString& Params, TFtpString& Answer, int Kind) {
    // A transfer still running on the data channel ends first (its reply goes out),
    // so that its stream is released before the listing takes the field.
    if (Client.DataOpen) Client.DataChannel->Close();
    Client.FreeStream();
    const bool detailed = Kind != 0;
    try {
        std::string argument = ToLocalSeparators(Params);
        if (OnBuildDirectory) OnBuildDirectory(*this, Client, argument, detailed);
        if (!Client.TransferStream) {
            auto* ms = new TMemoryStream;
            Client.TransferStream = ms;
            Client.OwnsStream = true;
            BuildListing(Client, argument, Kind, *ms);
            if (OnAlterDirectory) OnAlterDirectory(*this, Client, argument, detailed);
            Client.TransferStream->Seek(0, TSeekOrigin::Begin);
        }
        Client.TransferPath.clear();
        Answer = "150 Opening data connection for directory list.";
        OpenRetrChannel(Client);
    } catch (const std::exception& e) {
        Answer = Fmt("451 Failed: %s.", e.what());
    }
    DisarmPassive(Client, Answer, TDataHandlers::Retr);
}

void TFtpServer::CommandLIST(TFtpCtrlSocket& Client, TFtpString&, TFtpString& Params, TFtpString& Answer) {
    if (!CheckLoggedIn(Client, Answer)) return;
    Client.LastCommandCode = 8;
    ListingCommand(Client, Params, Answer, 1);
}

void TFtpServer::CommandNLST(TFtpCtrlSocket& Client, TFtpString&, TFtpString& Params, TFtpString& Answer) {
    if (!CheckLoggedIn(Client, Answer)) return;
    Client.LastCommandCode = 18;
    ListingCommand(Client, Params, Answer, 0);
}

void TFtpServer::CommandMLSD(TFtpCtrlSocket& Client, TFtpString&, TFtpString& Params, TFtpString& Answer) {
    if (!CheckLoggedIn(Client, Answer)) return;
    Client.LastCommandCode = 29;
    ListingCommand(Client, Params, Answer, 2);
}

void TFtpServer::CommandMLST(TFtpCtrlSocket& Client, TFtpString&, TFtpString& Params, TFtpString& Answer) {
    if (!CheckLoggedIn(Client, Answer)) return;
    Client.LastCommandCode = 28;
    const std::string argument = Params.empty() ? "*.*" : Params;
    const std::string path = ResolveFilePath(Client, Client.CurrentDir, argument);
    TSearchRec rec;
    if (!FindFirstEntry(path, faReadOnly | faDirectory | faArchive, rec)) {
        Answer = Fmt("550 '%s': no such file or directory.", argument);
        return;
    }
    Answer = "250-Listing " + argument + "\r\n " + FormatFacts(rec) + "\r\n250 END";
}

} // namespace nubo
