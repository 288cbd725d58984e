// What the server tells a client about itself: FEAT, OPTS and HELP. All three answer
// before the login as well, since clients ask before USER (lftp sends FEAT and OPTS UTF8
// first, and FEAT tells whether AUTH TLS is offered).
#include <algorithm>

#include "engine/FileDigest.h"
#include "engine/FtpServer.h"

namespace nubo {

namespace {
// Without TLS these are answered as unknown commands, so HELP does not list them either.
bool IsTlsCommand(const std::string& keyword) {
    return keyword == "AUTH" || keyword == "PBSZ" || keyword == "PROT" || keyword == "CCC";
}
} // namespace

std::vector<std::string> TFtpServer::FeatureLines(const TFtpCtrlSocket& Client) const {
    std::string hash = "HASH ";
    for (TDigestAlgorithm a : kDigestAlgorithms) {
        if (a != kDigestAlgorithms[0]) hash += ';';
        hash += DigestName(a);
        if (a == Client.HashAlgorithm) hash += '*';
    }
    std::vector<std::string> lines = {"EPRT",
                                      "EPSV",
                                      "SIZE",
                                      "REST STREAM",
                                      "MDTM",
                                      "MDTM YYYYMMDDHHMMSS[+-TZ] filename",
                                      "MLST size*;type*;perm*;create*;modify*;",
                                      "MFMT",
                                      "MD5",
                                      "UTF8",
                                      hash,
                                      "XSHA256",
                                      "XSHA1",
                                      "XMD5",
                                      "XCRC"};
    if (TlsContext) lines.insert(lines.end(), {"AUTH TLS", "PBSZ", "PROT"});
    return lines;
}

// One blank before each feature, as clients that parse the list strictly expect it.
void TFtpServer::CommandFEAT(TFtpCtrlSocket& Client, TFtpString&, TFtpString&, TFtpString& Answer) {
    Client.LastCommandCode = TFtpCommandCode::Feat;
    Answer = "211-Extensions supported:\r\n";
    for (const std::string& line : FeatureLines(Client)) Answer += " " + line + "\r\n";
    Answer += "211 END";
}

// OPTS UTF8 ON or OFF: names on the wire are UTF-8 either way; the session keeps what the
// client said. OPTS HASH alone names the session's algorithm, with a name it chooses one.
void TFtpServer::CommandOPTS(TFtpCtrlSocket& Client, TFtpString&, TFtpString& Params, TFtpString& Answer) {
    Client.LastCommandCode = TFtpCommandCode::Opts;
    const std::string text = TrimBlanks(Params);
    const size_t blank = text.find(' ');
    const std::string option = UpperCase(text.substr(0, blank));
    const std::string value = blank == std::string::npos ? "" : TrimBlanks(text.substr(blank + 1));
    if (option == "UTF8") {
        const std::string mode = UpperCase(value);
        if (mode == "ON" || mode == "OFF") {
            Client.Utf8Mode = mode == "ON";
            Answer = Client.Utf8Mode ? "200 UTF8 mode enabled." : "200 UTF8 mode disabled.";
        } else {
            Answer = "501 OPTS UTF8 takes ON or OFF.";
        }
    } else if (option == "HASH") {
        TDigestAlgorithm algorithm = Client.HashAlgorithm;
        if (!value.empty() && !DigestByName(value, algorithm)) {
            Answer = "501 Unknown algorithm, current selection not changed.";
            return;
        }
        Client.HashAlgorithm = algorithm;
        Answer = std::string("200 ") + DigestName(algorithm);
    } else if (option.empty()) {
        Answer = "501 OPTS needs an option.";
    } else {
        Answer = Fmt("501 Option '%s' not understood.", option);
    }
}

// HELP lists the command table (so the list never falls behind it), HELP cmd gives the
// command's syntax line. OVER is the control connection's own substitute for an
// over-long line, not a command to offer.
void TFtpServer::CommandHELP(TFtpCtrlSocket& Client, TFtpString&, TFtpString& Params, TFtpString& Answer) {
    Client.LastCommandCode = TFtpCommandCode::Help;
    std::vector<const TCommandSlot*> offered;
    for (int i = 0; i < commandCount_; ++i) {
        const TCommandSlot& slot = commands_[size_t(i)];
        if (slot.Keyword == "OVER" || (IsTlsCommand(slot.Keyword) && !TlsContext)) continue;
        offered.push_back(&slot);
    }
    const std::string text = TrimBlanks(Params);
    if (!text.empty()) {
        const std::string asked = UpperCase(text.substr(0, text.find(' ')));
        auto it =
            std::find_if(offered.begin(), offered.end(), [&](const TCommandSlot* s) { return s->Keyword == asked; });
        if (it == offered.end())
            Answer = Fmt("502 Unknown command '%s'.", asked);
        else
            Answer = "214 Syntax: " + ((*it)->Syntax.empty() ? (*it)->Keyword : (*it)->Syntax);
        return;
    }
    std::sort(offered.begin(), offered.end(),
              [](const TCommandSlot* a, const TCommandSlot* b) { return a->Keyword < b->Keyword; });
    offered.erase(std::unique(offered.begin(), offered.end(),
                              [](const TCommandSlot* a, const TCommandSlot* b) { return a->Keyword == b->Keyword; }),
                  offered.end());
    // Eight to a line in columns, each line led by a blank so that none can read as a
    // reply code.
    constexpr size_t kPerLine = 8, kColumn = 8;
    Answer = "214-The following commands are recognized:\r\n";
    for (size_t i = 0; i < offered.size(); i += kPerLine) {
        std::string line;
        for (size_t j = i; j < std::min(i + kPerLine, offered.size()); ++j) {
            std::string k = offered[j]->Keyword;
            if (j + 1 < std::min(i + kPerLine, offered.size())) k.resize(std::max(k.size() + 1, kColumn), ' ');
            line += k;
        }
        Answer += " " + line + "\r\n";
    }
    Answer += "214 HELP command successful.";
}

} // namespace nubo
