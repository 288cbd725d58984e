// Commands whose handlers are not built yet answer that they are not implemented.
// Each one moves to its own source file when it is built.
#include "engine/FtpSrv.h"

namespace nubo {

#define NUBO_PENDING_COMMAND(name)                                                                          \
    void TFtpServer::name(TFtpCtrlSocket& Client, TFtpString&, TFtpString&, TFtpString& Answer) {          \
        if (!CheckLoggedIn(Client, Answer)) return;                                                         \
        Answer = "502 Command not implemented.";                                                            \
    }

// File management commands.
NUBO_PENDING_COMMAND(CommandDELE)
NUBO_PENDING_COMMAND(CommandSIZE)
NUBO_PENDING_COMMAND(CommandRNFR)
NUBO_PENDING_COMMAND(CommandRNTO)
NUBO_PENDING_COMMAND(CommandMKD)
NUBO_PENDING_COMMAND(CommandRMD)
NUBO_PENDING_COMMAND(CommandMDTM)
NUBO_PENDING_COMMAND(CommandMD5)

// Data connections, transfers and listings.
NUBO_PENDING_COMMAND(CommandPORT)
NUBO_PENDING_COMMAND(CommandPASV)
NUBO_PENDING_COMMAND(CommandSTOR)
NUBO_PENDING_COMMAND(CommandRETR)
NUBO_PENDING_COMMAND(CommandAPPE)
NUBO_PENDING_COMMAND(CommandSTOU)
NUBO_PENDING_COMMAND(CommandREST)
NUBO_PENDING_COMMAND(CommandLIST)
NUBO_PENDING_COMMAND(CommandNLST)
NUBO_PENDING_COMMAND(CommandMLST)
NUBO_PENDING_COMMAND(CommandMLSD)

void TFtpServer::CommandABOR(TFtpCtrlSocket&, TFtpString&, TFtpString&, TFtpString& Answer) {
    Answer = "502 Command not implemented.";
}

void TFtpServer::StartSend(TFtpCtrlSocket&) {}
void TFtpServer::AbortData(TFtpCtrlSocket&) {}
void TFtpServer::CloseData(TFtpCtrlSocket&) {}
void TFtpServer::ReleasePasvPort(TFtpCtrlSocket& Client) { Client.PassiveOn = false; }

} // namespace nubo
