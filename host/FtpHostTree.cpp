// The virtual directory tree and the permission letters: directory changes, file
// checks, listings built by the host, and the replies as the client sees them.
#include "host/FtpHost.h"
#include "host/LogRuns.h"
#include "platform/DateTime.h"
#include "platform/FileSearch.h"
#include "platform/FileSystem.h"
#include "platform/Wildcard.h"

namespace nubo {

TVirtualTree TFtpHost::TreeOf(const TFtpCtrlSocket& Client) const {
    return TVirtualTree::ForAccount(RoundUsers(), Client.UserName, Client.HomePath);
}

void TFtpHost::FtpServerChangeDirectory(TFtpServer&, TFtpCtrlSocket& Client, const TFtpString&, bool& Allowed) {
    const TVirtualTree tree = TreeOf(Client);
    const std::string& home = Client.HomePath;
    // Inside a virtual folder the client is in the tree already; the parent of an
    // alias's folder (where CDUP from the alias's top lands) is the client's root.
    if (tree.AboveAlias(Client.CurrentDir))
        Client.ChangeDir(home);
    else if (!tree.InTree(Client.CurrentDir) && FindNoCase(Client.CurrentDir, home) == std::string::npos)
        Client.ChangeDir(home + (Client.CurrentDir.size() > 3 ? Client.CurrentDir.substr(3) : ""));
    const size_t tilde = Client.CurrentDir.find("\\~\\");
    if (tilde != std::string::npos) Client.ChangeDir(home + Client.CurrentDir.substr(tilde + 3));
    std::string f = FolderPart(NormalizePath(Client.CurrentDir));
    if (f == home || f.size() < 3) {
        Client.ChangeDir(home);
        f = home;
    }
    f = tree.MapVirtualPath(f);
    Client.ChangeDir(f);
    Allowed = DirectoryExists(f) && !tree.IsRestricted(f) && tree.Contains(f);
}

// Every file argument: alias paths are mapped for every command. A path outside the
// tree is left to the command's own check, or refused here for the commands that have
// no check of their own (MDTM, MFMT and MLST).
void TFtpHost::FtpServerBuildFilePath(TFtpServer& Sender, TFtpCtrlSocket& Client, const TFtpString& Directory,
                                      const TFtpString& FileName, TFtpString& NewFileName) {
    if (resolvingPath_ || Client.FtpState != ftpcReady) return;
    std::string local;
    {
        // The engine's resolution calls this handler again; that inner call passes.
        struct TResolving {
            bool& flag;
            explicit TResolving(bool& f) : flag(f) { flag = true; }
            ~TResolving() { flag = false; }
        } resolving(resolvingPath_);
        local = Sender.ResolveFilePath(Client, Directory, FileName);
    }
    const TVirtualTree tree = TreeOf(Client);
    const std::string t = tree.MapVirtualPath(NormalizePath(local));
    const TFtpCommandCode code = Client.LastCommandCode;
    if ((code == TFtpCommandCode::Mdtm || code == TFtpCommandCode::Mlst || code == TFtpCommandCode::Mfmt) &&
        (tree.IsRestricted(t) || !tree.Contains(t)))
        throw FtpServerException("Permission denied");
    NewFileName = t;
}

bool TFtpHost::CheckFile(TFtpCtrlSocket& Client, TFtpString& FilePath, char letter) {
    const TVirtualTree tree = TreeOf(Client);
    const std::string t = tree.MapVirtualPath(NormalizePath(FilePath));
    if (tree.IsRestricted(t) || !tree.Contains(t)) return false;
    FilePath = t;
    return tree.HasLetter(t, letter);
}

void TFtpHost::FtpServerValidateGet(TFtpServer&, TFtpCtrlSocket& Client, TFtpString& FilePath, bool& Allowed) {
    Allowed = CheckFile(Client, FilePath, 'D');
    if (Allowed) Client.RetrInProgress = true;
}

void TFtpHost::FtpServerValidatePut(TFtpServer&, TFtpCtrlSocket& Client, TFtpString& FilePath, bool& Allowed) {
    Allowed = CheckFile(Client, FilePath, 'U');
    if (Allowed) Client.StorInProgress = true;
}

void TFtpHost::FtpServerValidateDele(TFtpServer&, TFtpCtrlSocket& Client, TFtpString& FilePath, bool& Allowed) {
    Allowed = CheckFile(Client, FilePath, 'E');
    if (Allowed)
        WriteLog(lpTransfer,
                 ClientLine(Client, FormatText(lang_.LangText(sFDel), {UserArg(Client), FileRun(FilePath)})));
}

// The home and the virtual folders hold the account together: removing or renaming one
// would leave every later login without its home or its alias.
void TFtpHost::FtpServerValidateRmd(TFtpServer&, TFtpCtrlSocket& Client, TFtpString& FilePath, bool& Allowed) {
    Allowed = CheckFile(Client, FilePath, 'R') && !TreeOf(Client).IsRoot(FilePath);
}

void TFtpHost::FtpServerValidateRnFr(TFtpServer&, TFtpCtrlSocket& Client, TFtpString& FilePath, bool& Allowed) {
    Allowed = CheckFile(Client, FilePath, 'Y') && !TreeOf(Client).IsRoot(FilePath);
}

void TFtpHost::FtpServerValidateRnTo(TFtpServer&, TFtpCtrlSocket& Client, TFtpString& FilePath, bool& Allowed) {
    Allowed = CheckFile(Client, FilePath, 'Y');
    if (Allowed)
        WriteLog(lpTransfer, ClientLine(Client, FormatText(lang_.LangText(sRFile),
                                                           {UserArg(Client), FileRun(Client.RenameSource) + " - " +
                                                                                 FileRun(FilePath)})));
}

// SIZE needs no letter; it stays inside the tree.
void TFtpHost::FtpServerValidateSize(TFtpServer&, TFtpCtrlSocket& Client, TFtpString& FilePath, bool& Allowed) {
    const TVirtualTree tree = TreeOf(Client);
    FilePath = tree.MapVirtualPath(NormalizePath(FilePath));
    if (tree.IsRestricted(FilePath) || !tree.Contains(FilePath)) Allowed = false;
}

// Changing a file's time changes the file: it needs the upload letter.
void TFtpHost::FtpServerValidateMfmt(TFtpServer&, TFtpCtrlSocket& Client, TFtpString& FilePath, bool& Allowed) {
    Allowed = CheckFile(Client, FilePath, 'U');
}

// A digest reveals the content: it needs the download letter.
void TFtpHost::FtpServerCalculateMd5(TFtpServer&, TFtpCtrlSocket& Client, TFtpString& FilePath, TFtpString&,
                                     bool& Allowed) {
    Allowed = CheckFile(Client, FilePath, 'D');
}

void TFtpHost::FtpServerBuildDirectory(TFtpServer&, TFtpCtrlSocket& Client, TFtpString& Directory, TListingKind Kind) {
    // A grant whose data connection never opened ends with the next listing command.
    if (!Client.DataOpen) Client.EndGrant();
    const TVirtualTree tree = TreeOf(Client);
    const std::string arg = (!Directory.empty() && Directory[0] == '-') ? "" : Directory;
    const std::string mask = arg.empty() ? "*.*" : arg;
    // An absolute client path starts at the home, as for every other command.
    const std::string p = ListingPattern(tree.MapVirtualPath(
        NormalizePath(mask[0] == '\\' ? Client.HomePath + mask.substr(1) : Client.CurrentDir + mask)));
    const std::string folder = FolderPart(p);

    bool covered = false, subfolders = false;
    for (const auto& e : tree.Entries()) {
        if (FindNoCase(p, WithSlash(e.Folder)) == std::string::npos) continue;
        covered = true;
        subfolders = subfolders || HasLetter(e.Letters, 'S');
    }
    // Outside the account's tree is missing as far as the client can tell.
    if (!covered || !tree.Contains(folder) || !ListingTargetExists(p)) throw ENoSuchEntry(Directory);

    TListingWriter listing(Kind, NamePrefix(arg, p));
    const std::string folderNoSlash = folder.substr(0, folder.size() - 1);
    TFileSearch search;
    TSearchRec rec;
    for (bool found = search.First(p, faAnyFile, rec); found; found = search.Next(rec)) {
        if ((rec.Attr & faDirectory) && !subfolders) continue;
        // Restricted folders and hidden items have no detailed line; names list them all.
        bool hidden = (rec.Attr & (faHidden | faVolumeID)) != 0;
        for (const auto& e : tree.Entries())
            if (HasLetter(e.Letters, 'A') && FindNoCase(e.Folder, rec.Name) != std::string::npos &&
                FindNoCase(e.Folder, folderNoSlash) != std::string::npos)
                hidden = true;
        if (!hidden || Kind == TListingKind::Names) listing.Add(rec);
    }
    // The virtual folders appear in the home under their aliases.
    if (folder == Client.HomePath) {
        const auto& entries = tree.Entries();
        const std::string name = p.substr(folder.size());
        for (size_t i = 1; i < entries.size(); ++i) {
            const auto& e = entries[i];
            std::string real = WithSlash(e.Folder);
            real.pop_back();
            if (!HasLetter(e.Letters, 'V') || !MatchesMask(e.Alias, name) || !StatEntry(real, rec) ||
                !(rec.Attr & faDirectory))
                continue;
            rec.Name = e.Alias;
            if (Kind == TListingKind::Lines)
                listing.AddLine(e.Alias, "drwxrwxrwx   1 ftp      ftp            0 Apr 30 19:00 " + e.Alias + "\r\n");
            else
                listing.Add(rec);
        }
    }
    auto stream = std::make_unique<TMemoryStream>();
    listing.WriteTo(*stream);
    stream->Seek(0, TSeekOrigin::Begin);
    Client.LendStream(stream.get());
    listings_[Client.ConnectionId] = std::move(stream);
}

void TFtpHost::FtpServerAnswerToClient(TFtpServer&, TFtpCtrlSocket& Client, TFtpString& Answer) {
    if (Answer.compare(0, 3, "221") == 0) {
        std::string msg = RoundUsers().ExitMessage(Client.UserName);
        if (msg.empty()) msg = ConfigFile().ExitMessage();
        // The farewell goes out as the first line of a multi-line reply: a line without
        // a code would break the client's reading of the reply.
        Answer = msg.empty() ? "221 Goodbye!" : "221-" + msg + "\r\n221 Goodbye!";
        return;
    }
    if (Client.UserName.empty()) return;
    const TVirtualTree tree = TreeOf(Client);
    auto pathReply = [&] {
        return Answer.compare(0, 3, "250") == 0 || Answer.compare(0, 3, "257") == 0 || Answer.compare(0, 3, "550") == 0;
    };
    if (RoundUsers().VirtualDir(Client.UserName)) {
        std::string r = ToClientSeparators(Answer);
        bool changed = tree.ShowAliases(r);
        const std::string h = ToClientSeparators(Client.HomePath);
        if (FindNoCase(r, h) != std::string::npos) {
            r = ReplaceAllNoCase(r, h, "/");
            changed = true;
        }
        if (changed) Answer = r;
        for (const char* sep : {":/", ":\\"}) {
            size_t pos = Answer.find(sep);
            if (pathReply() && pos != std::string::npos && pos > 0) Answer.replace(pos - 1, 3, "/");
        }
        const size_t dbl = Answer.find("//");
        if (dbl != std::string::npos) Answer.erase(dbl, 1);
    } else {
        std::string r = ToClientSeparators(Answer);
        tree.ShowAliases(r);
        const size_t pos = r.find(":/");
        if (pathReply() && pos != std::string::npos && pos > 0) r.insert(pos - 1, "/");
        Answer = r;
    }
}

} // namespace nubo
