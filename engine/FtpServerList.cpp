// Directory listings: LIST, NLST and MLSD over the data connection, MLST on the
// control connection.
#include "engine/FtpServer.h"
#include "platform/FileSystem.h"

namespace nubo {

void TFtpServer::BuildListing(TFtpCtrlSocket& Client, const std::string& Argument, TListingKind Kind, TStream& Stream) {
    std::string pattern;
    bool hidden = false, options = false;
    const std::string upper = UpperCase(Argument);
    if (Argument.empty()) {
        pattern = Client.CurrentDir + "*.*";
    } else if (upper == "-LA" || upper == "-AL") {
        pattern = Client.CurrentDir + "*.*";
        hidden = true;
    } else {
        pattern = ListingPattern(ResolveFilePath(Client, Client.CurrentDir, Argument));
        // Anything else beginning with "-" is taken as a name that lists as "not found".
        options = Argument[0] == '-';
        if (!options && !ListingTargetExists(pattern)) throw ENoSuchEntry(Argument);
    }

    const int attr = faReadOnly | faDirectory | faArchive | (hidden ? faHidden | faSysFile : 0);
    TListingWriter listing(Kind, options || hidden ? "" : NamePrefix(Argument, pattern));
    TFileSearch search;
    TSearchRec rec;
    for (bool found = search.First(pattern, attr, rec); found; found = search.Next(rec)) listing.Add(rec);
    if (listing.Empty() && Kind != TListingKind::Names) {
        const std::string line = pattern + " not found\r\n";
        Stream.WriteBuffer(line.data(), line.size());
        return;
    }
    listing.WriteTo(Stream);
}

void TFtpServer::ListingCommand(TFtpCtrlSocket& Client, TFtpString& Params, TFtpString& Answer, TListingKind Kind) {
    if (!CheckDataProtection(Client, Answer)) return;
    // A transfer still running on the data channel ends first (its reply goes out),
    // so that its stream is released before the listing takes the field.
    if (Client.DataOpen) Client.DataChannel->Close();
    Client.DropStream();
    try {
        std::string argument = ToLocalSeparators(Params);
        if (OnBuildDirectory) OnBuildDirectory(*this, Client, argument, Kind);
        if (!Client.TransferStream()) {
            auto listing = std::make_unique<TMemoryStream>();
            BuildListing(Client, argument, Kind, *listing);
            Client.OwnStream(std::move(listing));
            if (OnAlterDirectory) OnAlterDirectory(*this, Client, argument, Kind);
            Client.TransferStream()->Seek(0, TSeekOrigin::Begin);
        }
        Client.TransferPath.clear();
        Answer = "150 Opening data connection for directory list.";
        OpenRetrChannel(Client);
    } catch (const ENoSuchEntry&) {
        // Refused before any data connection, so that a client stops instead of retrying.
        Client.DropStream();
        Answer = Fmt("550 '%s': no such file or directory.", Params);
    } catch (const std::exception& e) {
        Answer = Fmt("451 Failed: %s.", e.what());
    }
    DisarmPassive(Client, Answer);
}

void TFtpServer::CommandLIST(TFtpCtrlSocket& Client, TFtpString&, TFtpString& Params, TFtpString& Answer) {
    if (!CheckLoggedIn(Client, Answer)) return;
    Client.LastCommandCode = TFtpCommandCode::List;
    ListingCommand(Client, Params, Answer, TListingKind::Lines);
}

void TFtpServer::CommandNLST(TFtpCtrlSocket& Client, TFtpString&, TFtpString& Params, TFtpString& Answer) {
    if (!CheckLoggedIn(Client, Answer)) return;
    Client.LastCommandCode = TFtpCommandCode::Nlst;
    ListingCommand(Client, Params, Answer, TListingKind::Names);
}

void TFtpServer::CommandMLSD(TFtpCtrlSocket& Client, TFtpString&, TFtpString& Params, TFtpString& Answer) {
    if (!CheckLoggedIn(Client, Answer)) return;
    Client.LastCommandCode = TFtpCommandCode::Mlsd;
    ListingCommand(Client, Params, Answer, TListingKind::Facts);
}

void TFtpServer::CommandMLST(TFtpCtrlSocket& Client, TFtpString&, TFtpString& Params, TFtpString& Answer) {
    if (!CheckLoggedIn(Client, Answer)) return;
    Client.LastCommandCode = TFtpCommandCode::Mlst;
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
