#include "host/TotalsLedger.h"

#include <algorithm>
#include <exception>
#include <vector>

#include "platform/Text.h"

namespace nubo {

TTotalsLedger::TTotalsLedger(std::function<TUserFile()> openFile, TEventLoop& loop)
    : openFile_(std::move(openFile)), timer_(loop) {
    timer_.OnTimer = [this] {
        timer_.Stop();
        Flush();
    };
}

TTotalsLedger::~TTotalsLedger() {
    OnError = nullptr; // the owner may be gone; its own shutdown flushed and reported
    Flush();
}

std::string TTotalsLedger::KeyOf(const std::string& account) {
    return UpperCase(account);
}

TTotalsLedger::TEntry& TTotalsLedger::EntryOf(const std::string& account) {
    TEntry& e = pending_[KeyOf(account)];
    if (e.account.empty()) e.account = account;
    return e;
}

void TTotalsLedger::Arm() {
    if (!timer_.Enabled()) timer_.Start(kDelayMs);
}

int64_t TTotalsLedger::AddDownload(const std::string& account, int64_t kb) {
    return Add(account, kb, true);
}
int64_t TTotalsLedger::AddUpload(const std::string& account, int64_t kb) {
    return Add(account, kb, false);
}

int64_t TTotalsLedger::Add(const std::string& account, int64_t kb, bool download) {
    int64_t waiting = 0;
    if (kb != 0 || pending_.count(KeyOf(account))) {
        TEntry& e = EntryOf(account);
        waiting = (download ? e.download : e.upload) += kb;
        Arm();
    }
    const TUserFile users = openFile_();
    return (download ? users.TotalDownload(account) : users.TotalUpload(account)) + waiting;
}

void TTotalsLedger::Settle(const std::string& account, int64_t download, int64_t upload) {
    TEntry& e = EntryOf(account);
    e.floorDownload = std::max(e.floorDownload, download);
    e.floorUpload = std::max(e.floorUpload, upload);
    Flush();
}

void TTotalsLedger::Flush() {
    if (pending_.empty()) return;
    try {
        TUserFile users = openFile_();
        std::vector<TUserFile::TTotals> totals;
        for (const auto& [key, e] : pending_)
            totals.push_back({e.account, std::max(users.TotalDownload(e.account) + e.download, e.floorDownload),
                              std::max(users.TotalUpload(e.account) + e.upload, e.floorUpload)});
        users.WriteTotals(totals);
        pending_.clear();
        timer_.Stop();
    } catch (const std::exception& ex) {
        if (OnError) OnError(ex.what());
    }
}

} // namespace nubo
