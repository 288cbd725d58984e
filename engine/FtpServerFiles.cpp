// File management commands: DELE, SIZE, RNFR and RNTO, MKD and RMD (with their X forms),
// MDTM and MFMT; the digests are in FtpServerDigest. Each resolves its argument, asks the
// host through its validation event, acts on the file system and replies.
#include "engine/FtpDateTime.h"
#include "engine/FtpServer.h"
#include "platform/FileSearch.h"
#include "platform/FileSystem.h"

namespace nubo {

namespace {

const char* const kSyntaxError = "501 Syntax error in parameter.";
const char* const kNoSuchFile = "550 '%s': no such file or directory.";
const char* const kMdtmSyntax = "501 Syntax error in MDTM/MFMT parameter.";
const char* const kMdtmCannotSet = "550 MDTM/MFMT cannot change date/time on this server";

// The resolved argument of a command: Shown for the replies, Path as the host left it.
struct TFileArg {
    std::string Path;
    std::string Shown;
    bool Allowed = true;
};

TFileArg ResolveAndValidate(TFtpServer& server, const TFtpSrvValidateXferEvent& ev, TFtpCtrlSocket& client,
                            const std::string& params) {
    TFileArg arg;
    arg.Path = server.ResolveFilePath(client, client.CurrentDir, params);
    arg.Shown = arg.Path;
    if (ev) ev(server, client, arg.Path, arg.Allowed);
    return arg;
}

} // namespace

void TFtpServer::CommandDELE(TFtpCtrlSocket& Client, TFtpString&, TFtpString& Params, TFtpString& Answer) {
    if (!CheckLoggedIn(Client, Answer)) return;
    Client.LastCommandCode = TFtpCommandCode::Dele;
    TTempDirStep step(Client, Params);
    TFileArg arg = ResolveAndValidate(*this, OnValidateDele, Client, Params);
    if (!arg.Allowed)
        Answer = "550 Cannot delete.";
    else if (Params.empty())
        Answer = kSyntaxError;
    else if (!FileExists(arg.Path))
        Answer = Fmt(kNoSuchFile, arg.Shown);
    else if (RemoveFile(arg.Path))
        Answer = Fmt("250 File '%s' deleted.", arg.Shown);
    else
        Answer = Fmt("450 File '%s' can't be deleted.", arg.Shown);
}

void TFtpServer::CommandSIZE(TFtpCtrlSocket& Client, TFtpString&, TFtpString& Params, TFtpString& Answer) {
    if (!CheckLoggedIn(Client, Answer)) return;
    Client.LastCommandCode = TFtpCommandCode::Size;
    TFileArg arg = ResolveAndValidate(*this, OnValidateSize, Client, Params);
    if (!arg.Allowed) {
        Answer = "501 Permission Denied";
    } else if (Params.empty()) {
        Answer = kSyntaxError;
    } else if (DirectoryExists(arg.Path)) {
        // A folder has no size a client could use: mirror tools would take it for a file.
        Answer = Fmt("550 Command failed: %s.", "Not a plain file");
    } else {
        try {
            const int64_t size = FileSizeOf(arg.Path);
            Answer = size < 0 ? Fmt("550 Command failed: %s.", "File not found") : "213 " + std::to_string(size);
        } catch (const std::exception& e) {
            Answer = Fmt("550 Command failed: %s.", e.what());
        }
    }
}

void TFtpServer::CommandRNFR(TFtpCtrlSocket& Client, TFtpString&, TFtpString& Params, TFtpString& Answer) {
    if (!CheckLoggedIn(Client, Answer)) return;
    Client.LastCommandCode = TFtpCommandCode::Rnfr;
    TTempDirStep step(Client, Params);
    TFileArg arg = ResolveAndValidate(*this, OnValidateRnFr, Client, Params);
    if (!arg.Allowed) {
        Answer = "500 Cannot RNFR.";
    } else if (Params.empty()) {
        Answer = "501 Syntax error is parameter.";
    } else if (FileExists(arg.Path) || DirectoryExists(arg.Path)) {
        Client.RenameSource = arg.Path;
        Answer = "350 File exists, ready for destination name.";
    } else {
        Answer = Fmt(kNoSuchFile, arg.Shown);
    }
}

// A file is renamed, a folder moved; an existing entry of the same kind at the target is
// refused, and the platform never replaces an entry of the other kind either.
void TFtpServer::CommandRNTO(TFtpCtrlSocket& Client, TFtpString&, TFtpString& Params, TFtpString& Answer) {
    if (!CheckLoggedIn(Client, Answer)) return;
    Client.LastCommandCode = TFtpCommandCode::Rnto;
    TTempDirStep step(Client, Params);
    TFileArg arg = ResolveAndValidate(*this, OnValidateRnTo, Client, Params);
    const std::string& source = Client.RenameSource;
    const bool isFile = FileExists(source);
    if (!arg.Allowed) {
        Answer = "500 Cannot RNTO.";
    } else if (Params.empty()) {
        Answer = kSyntaxError;
    } else if (!isFile && !DirectoryExists(source)) {
        Answer = Fmt(kNoSuchFile, source);
    } else if (isFile ? FileExists(arg.Path) : DirectoryExists(arg.Path)) {
        Answer = Fmt("553 '%s': file already exists.", arg.Path);
    } else {
        Client.RenameTarget = arg.Path;
        if (isFile ? RenameFile(source, arg.Path) : MoveDir(source, arg.Path))
            Answer = Fmt("250 File '%s' renamed to '%s'.", source, Client.RenameTarget);
        else
            Answer = Fmt("450 File '%s' can't be renamed.", source);
    }
}

void TFtpServer::CommandMKD(TFtpCtrlSocket& Client, TFtpString&, TFtpString& Params, TFtpString& Answer) {
    if (!CheckLoggedIn(Client, Answer)) return;
    Client.LastCommandCode = TFtpCommandCode::Mkd;
    TTempDirStep step(Client, Params);
    try {
        TFileArg arg = ResolveAndValidate(*this, OnValidateRmd, Client, Params);
        if (!arg.Allowed)
            Answer = Fmt("550 '%s': can't create directory.", arg.Shown);
        else if (Params.empty())
            Answer = kSyntaxError;
        else if (FileExists(arg.Path))
            Answer = Fmt("550 '%s': file or directory already exists.", arg.Shown);
        else if (CreateDir(arg.Path))
            Answer = Fmt("257 \"%s\": directory created.", QuotedPath(arg.Shown));
        else
            Answer = Fmt("550 '%s': can't create directory.", arg.Shown);
    } catch (const std::exception& e) {
        Answer = Fmt("550 '%s': can't create directory.", e.what());
    }
}

void TFtpServer::CommandRMD(TFtpCtrlSocket& Client, TFtpString&, TFtpString& Params, TFtpString& Answer) {
    if (!CheckLoggedIn(Client, Answer)) return;
    Client.LastCommandCode = TFtpCommandCode::Rmd;
    TTempDirStep step(Client, Params);
    TFileArg arg = ResolveAndValidate(*this, OnValidateRmd, Client, Params);
    if (!arg.Allowed) {
        Answer = "500 Cannot remove directory.";
        return;
    }
    if (Params.empty()) {
        Answer = kSyntaxError;
        return;
    }
    std::string lookup = arg.Path;
    if (lookup.size() > 1 && lookup.back() == '\\') lookup.pop_back();
    TSearchRec rec;
    if (!FindFirstEntry(lookup, faDirectory | faHidden, rec))
        Answer = Fmt("550 '%s': no such directory.", arg.Shown);
    else if (RemoveDir(arg.Path))
        Answer = Fmt("250 '%s': directory removed.", arg.Shown);
    else
        Answer = Fmt("550 '%s': can't remove directory.", arg.Shown);
}

// MDTM queries a file's time, or sets it when a time comes first; MFMT only sets.
void TFtpServer::CommandMDTM(TFtpCtrlSocket& Client, TFtpString& Keyword, TFtpString& Params, TFtpString& Answer) {
    if (!CheckLoggedIn(Client, Answer)) return;
    const bool mfmt = Keyword == "MFMT";
    Client.LastCommandCode = mfmt ? TFtpCommandCode::Mfmt : TFtpCommandCode::Mdtm;
    try {
        TDateTime time = 0;
        size_t digits = 0;
        while (digits < Params.size() && Params[digits] >= '0' && Params[digits] <= '9') ++digits;
        size_t argStart = 0;
        if (digits == 14) {
            time = ParseTimeText(Params.substr(0, 14));
            if (time < 10) { // 0, -1, or before 9 January 1900
                Answer = kMdtmSyntax;
                return;
            }
            // Both forms take the time as UTC, as every reply that shows a time does.
            const std::string zone = ZoneSuffix(Params, 14);
            if (!mfmt && !zone.empty()) time += ZoneMinutes(zone) / 1440.0;
            argStart = 14 + zone.size();
        }
        // One blank separates the time from the name, which may begin with blanks itself.
        if (argStart > 0 && argStart < Params.size() && Params[argStart] == ' ') ++argStart;
        std::string FilePath = ResolveFilePath(Client, Client.CurrentDir, Params.substr(argStart, 999));
        if (Params.empty()) {
            Answer = kMdtmSyntax;
        } else if (!FileExists(FilePath)) {
            Answer = Fmt(kNoSuchFile, FilePath);
        } else if (time != 0) {
            TDateTime fileTime = 0;
            if (!Validate(OnValidateMfmt, Client, FilePath))
                Answer = "501 Permission Denied";
            else if (ToFileDateTime(time, fileTime) && SetFileLastWrite(FilePath, fileTime, true))
                Answer = mfmt ? "213 Date/time changed OK" : "253 Date/time changed OK";
            else
                Answer = kMdtmCannotSet;
        } else if (mfmt) {
            Answer = kMdtmSyntax;
        } else {
            TDateTime local = 0;
            if (FileLastWrite(FilePath, local)) {
                const int64_t ms = DateTimeToMs(local + TimeZoneBias() / 1440.0);
                Answer = "213 " + TimeText(MsToDateTime(ms - ms % 1000)); // whole seconds
            } else {
                Answer = Fmt("550 %s", "UTC File time retrieval failed");
            }
        }
    } catch (const std::exception&) {
        Answer = kMdtmCannotSet;
    }
}

} // namespace nubo
