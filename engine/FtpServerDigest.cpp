// Digest commands: MD5, HASH (with the algorithm OPTS HASH chose) and the X forms XSHA256,
// XSHA1, XMD5 and XCRC. The host's digest event decides each of them, as it does MD5.
#include <functional>
#include <memory>

#include "engine/FileDigest.h"
#include "engine/FtpServer.h"
#include "platform/FileSystem.h"

namespace nubo {

namespace {

// A digest runs in slices of about this many milliseconds, so that one large file never
// stalls the other clients; a file that fits in one slice is answered at once.
constexpr int kDigestSliceMs = 20;

// How a command words the end of its digest: the reply of the finished digest, and the
// reply of a failure (a file that cannot be opened or read) with its message.
struct TDigestWording {
    std::function<std::string(const TFileDigest& digest, const std::string& hex)> Done;
    std::function<std::string(const std::string& error)> Failed;
};

std::string Md5Answer(const std::string& params, const std::string& digest) {
    return Fmt("251 \"%s\" %s", params, UpperCase(digest));
}

// Finishes the digest of a large file between rounds of the loop. The connection owns the
// job and holds its later commands until the reply is out; a connection that goes away
// takes the job (and the open file) with it.
class TDigestJob : public std::enable_shared_from_this<TDigestJob> {
public:
    TDigestJob(TFtpServer& server, TFtpCtrlSocket& client, std::unique_ptr<TFileDigest> digest, TDigestWording wording)
        : server_(server), client_(client), digest_(std::move(digest)), wording_(std::move(wording)) {}

    void Start() {
        client_.HoldCommands(shared_from_this());
        PostSlice();
    }

private:
    void PostSlice() {
        std::weak_ptr<TDigestJob> self = weak_from_this();
        client_.Loop().Post(self, [self] {
            if (auto job = self.lock()) job->Slice();
        });
    }

    void Slice() {
        std::string answer;
        try {
            if (!digest_->Step(kDigestSliceMs)) {
                PostSlice();
                return;
            }
            answer = wording_.Done(*digest_, digest_->HexDigest());
        } catch (const std::exception& e) {
            answer = wording_.Failed(e.what());
        }
        digest_.reset(); // the file is closed before the client hears of it
        server_.SendReply(client_, answer);
        client_.ReleaseCommands();
    }

    TFtpServer& server_;
    TFtpCtrlSocket& client_;
    std::unique_ptr<TFileDigest> digest_;
    TDigestWording wording_;
};

// Digests the file at path: Answer holds the reply when one slice was enough; otherwise
// Answer stays empty, the connection holds its commands and a job replies later. Raises
// EStreamError when the file cannot be opened or read.
void RunDigest(TFtpServer& server, TFtpCtrlSocket& client, const std::string& path, TDigestAlgorithm algorithm,
               TDigestWording wording, TFtpString& Answer) {
    auto digest = std::make_unique<TFileDigest>(path, algorithm);
    if (!digest->Step(kDigestSliceMs)) {
        std::make_shared<TDigestJob>(server, client, std::move(digest), std::move(wording))->Start();
        return;
    }
    Answer = wording.Done(*digest, digest->HexDigest());
}

// HASH and the X forms. The digest event refuses as for MD5 (its sum, an MD5 sum, is not
// used here); a folder and a missing file are both refused with 550, naming the argument.
void DigestCommand(TFtpServer& server, TFtpCtrlSocket& client, const std::string& params, TDigestAlgorithm algorithm,
                   const TDigestWording& wording, TFtpString& Answer) {
    try {
        if (params.empty()) {
            Answer = "501 Syntax error in parameter.";
            return;
        }
        bool allowed = true;
        std::string sum;
        std::string path = server.ResolveFilePath(client, client.CurrentDir, params);
        if (server.OnCalculateMd5) server.OnCalculateMd5(server, client, path, sum, allowed);
        if (!allowed)
            Answer = Fmt("550 '%s': permission denied.", params);
        else if (DirectoryExists(path))
            Answer = Fmt("550 '%s': not a plain file.", params);
        else if (!FileExists(path))
            Answer = Fmt("550 '%s': no such file.", params);
        else
            RunDigest(server, client, path, algorithm, wording, Answer);
    } catch (const std::exception& e) {
        Answer = wording.Failed(e.what());
    }
}

} // namespace

void TFtpServer::CommandMD5(TFtpCtrlSocket& Client, TFtpString&, TFtpString& Params, TFtpString& Answer) {
    if (!CheckLoggedIn(Client, Answer)) return;
    Client.LastCommandCode = TFtpCommandCode::Md5;
    const TDigestWording wording{
        [params = Params](const TFileDigest&, const std::string& hex) { return Md5Answer(params, hex); },
        [](const std::string& error) { return Fmt("550 MD5 SUM failed : '%s'.", error); }};
    try {
        bool allowed = true;
        std::string md5Sum;
        std::string FilePath = ResolveFilePath(Client, Client.CurrentDir, Params);
        if (OnCalculateMd5) OnCalculateMd5(*this, Client, FilePath, md5Sum, allowed);
        if (!allowed)
            Answer = "500 Cannot RETR.";
        else if (!md5Sum.empty())
            Answer = Md5Answer(Params, md5Sum);
        else if (!FileExists(FilePath))
            Answer = Fmt("550 '%s': no such file.", Params);
        else
            RunDigest(*this, Client, FilePath, TDigestAlgorithm::Md5, wording, Answer);
    } catch (const std::exception& e) {
        Answer = wording.Failed(e.what());
    }
}

// "213 <algorithm> <first>-<end> <digest> <name>": the range covers the whole file, its
// end being the offset after the last byte (so an empty file is "0-0").
void TFtpServer::CommandHASH(TFtpCtrlSocket& Client, TFtpString&, TFtpString& Params, TFtpString& Answer) {
    if (!CheckLoggedIn(Client, Answer)) return;
    Client.LastCommandCode = TFtpCommandCode::Hash;
    const TDigestWording wording{[params = Params](const TFileDigest& digest, const std::string& hex) {
                                     return std::string("213 ") + DigestName(digest.Algorithm()) + " 0-" +
                                            std::to_string(digest.BytesRead()) + " " + hex + " " + params;
                                 },
                                 [](const std::string& error) { return Fmt("550 HASH failed: '%s'.", error); }};
    DigestCommand(*this, Client, Params, Client.HashAlgorithm, wording, Answer);
}

// "250 <DIGEST>" in upper-case hexadecimal, as the servers that brought these commands
// answer them.
void TFtpServer::CommandXDIGEST(TFtpCtrlSocket& Client, TFtpString& Keyword, TFtpString& Params, TFtpString& Answer) {
    if (!CheckLoggedIn(Client, Answer)) return;
    struct TForm {
        const char* Keyword;
        TFtpCommandCode Code;
        TDigestAlgorithm Algorithm;
    };
    static constexpr TForm kForms[] = {
        {"XSHA256", TFtpCommandCode::Xsha256, TDigestAlgorithm::Sha256},
        {"XSHA1", TFtpCommandCode::Xsha1, TDigestAlgorithm::Sha1},
        {"XMD5", TFtpCommandCode::Xmd5, TDigestAlgorithm::Md5},
        {"XCRC", TFtpCommandCode::Xcrc, TDigestAlgorithm::Crc32},
    };
    const TForm* form = &kForms[0];
    for (const TForm& f : kForms)
        if (Keyword == f.Keyword) form = &f;
    Client.LastCommandCode = form->Code;
    const TDigestWording wording{[](const TFileDigest&, const std::string& hex) { return "250 " + UpperCase(hex); },
                                 [keyword = std::string(form->Keyword)](const std::string& error) {
                                     return Fmt("550 " + keyword + " failed: '%s'.", error);
                                 }};
    DigestCommand(*this, Client, Params, form->Algorithm, wording, Answer);
}

} // namespace nubo
