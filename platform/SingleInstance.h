#pragma once
// One running copy per program folder. The running copy listens on a local channel
// (a Unix-domain socket ".nuboftp.sock" in the folder); a second start hands it the
// joined command line and an activate request there, waits until the running copy has
// run the command, and exits.

#include <functional>
#include <string>
#include <vector>

namespace nubo {

struct TInstanceRequest {
    bool Activate = false;
    std::string CommandLine; // the joined parameters; empty when there were none
};

class TInstanceChannel {
public:
    explicit TInstanceChannel(std::string folder);
    ~TInstanceChannel();
    TInstanceChannel(const TInstanceChannel&) = delete;
    TInstanceChannel& operator=(const TInstanceChannel&) = delete;

    // Becomes the running copy's channel. False when another copy answers there (or
    // the channel cannot be made: then Error() says why).
    bool Listen();
    const std::string& Error() const { return error_; }
    // Readable when a second start is waiting; -1 before Listen().
    int Fd() const { return fd_; }
    // Takes one waiting request, runs handler on it, then answers the second start.
    void Serve(const std::function<void(const TInstanceRequest&)>& handler);

    // The second start's side: false when no running copy answered.
    static bool Send(const std::string& folder, const TInstanceRequest& request);

private:
    std::string path_;
    std::string error_;
    int fd_ = -1;
};

// The parameters joined with single blanks, trimmed at both ends: the text a second
// start hands to the running copy.
std::string JoinCommandLine(const std::vector<std::string>& params);

} // namespace nubo
