#include "app/ProgramShell.h"

#include <cstdio>

namespace nubo {

TProgramShell::TProgramShell(const char* program, const char* switches, const char* more)
    : program_(program), switches_(switches), more_(more) {}

TProgramShell::~TProgramShell() {
    if (!loop_) return;
    for (const uint64_t token : {signalToken_, channelToken_})
        if (token) loop_->Remove(token);
}

int TProgramShell::Begin(int argc, char** argv, bool sayHandedOver) {
    if (const int rc = ParseProgramOptions(argc, argv, program_, switches_, opts_, more_); rc >= 0) return rc;
    IgnoreBrokenPipes();
    joined_ = JoinCommandLine(opts_.Params);
    // One copy per folder: a second start hands over its command line (to nuboftpd or
    // the console, whichever runs there) and exits once the running copy has run it.
    channel_ = std::make_unique<TInstanceChannel>(opts_.Dir);
    if (!channel_->Listen()) {
        if (TInstanceChannel::Send(opts_.Dir, {true, joined_})) {
            if (sayHandedOver) std::printf("%s: handed to the copy running in %s\n", program_, opts_.Dir.c_str());
            return 0;
        }
        std::fprintf(stderr, "%s: %s; running without the instance channel\n", program_, channel_->Error().c_str());
    }
    signals_ = std::make_unique<TQuitSignals>();
    return -1;
}

void TProgramShell::Attach(TEventLoop& loop, std::function<void()> quit,
                           std::function<void(const TInstanceRequest&)> serve) {
    loop_ = &loop;
    const int sfd = signals_->Fd();
    signalToken_ = loop.Add(sfd, ioRead, [this, quit = std::move(quit)](uint32_t) {
        signals_->Drain();
        quit();
    });
    TInstanceChannel& channel = *channel_;
    if (channel.Fd() >= 0)
        channelToken_ =
            loop.Add(channel.Fd(), ioRead, [&channel, serve = std::move(serve)](uint32_t) { channel.Serve(serve); });
}

} // namespace nubo
