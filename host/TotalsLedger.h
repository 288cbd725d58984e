#pragma once
// The accounts' transfer totals on their way to the user file. A transfer end adds its
// kilobytes here and learns the account's new total at once; the sums reach the file
// together a second after the first addition, so a burst of small transfers costs one
// flushed rewrite of the file instead of one per transfer. A session's end settles its
// account at once.

#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "socket/EventLoop.h"
#include "store/UserFile.h"

namespace nubo {

class TTotalsLedger {
public:
    static constexpr unsigned kDelayMs = 1000;

    // openFile gives the user file each time it is needed.
    TTotalsLedger(std::function<TUserFile()> openFile, TEventLoop& loop);
    ~TTotalsLedger(); // writes what is still waiting, silently
    TTotalsLedger(const TTotalsLedger&) = delete;
    TTotalsLedger& operator=(const TTotalsLedger&) = delete;

    // Adds kb and returns the account's total: the stored value plus what waits
    // (kb 0 only reads it).
    int64_t AddDownload(const std::string& account, int64_t kb);
    int64_t AddUpload(const std::string& account, int64_t kb);
    // A session of the account ends holding these copies of its totals: the stored
    // totals become at least these (another session may have raised them), written now
    // together with everything waiting.
    void Settle(const std::string& account, int64_t download, int64_t upload);
    // Writes everything waiting. A failed write keeps it waiting and reports the error.
    void Flush();
    bool Pending() const { return !pending_.empty(); }

    std::function<void(const std::string& error)> OnError;

private:
    struct TEntry {
        std::string account; // as first given; sections match without regard to case
        int64_t download = 0, upload = 0;
        int64_t floorDownload = 0, floorUpload = 0;
    };
    int64_t Add(const std::string& account, int64_t kb, bool download);
    static std::string KeyOf(const std::string& account);
    TEntry& EntryOf(const std::string& account);
    void Arm();

    std::function<TUserFile()> openFile_;
    std::map<std::string, TEntry> pending_; // by upper-cased account
    TLoopTimer timer_;
};

} // namespace nubo
