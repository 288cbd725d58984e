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

} // namespace nubo
