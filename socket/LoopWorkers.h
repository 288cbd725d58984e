#pragma once
// A few worker threads for slow work that must not run on the event loop (password
// hashes). A job runs on a worker and returns the call that finishes it; that call runs
// on the loop's thread, in a later round. The threads start with the first job, so a
// process that never needs them has none.
//
// Construct, Run and destroy on the loop's thread. A job must not touch objects of the
// loop; its finishing call may, and guards itself against their end (a weak pointer).

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/UniqueFd.h"
#include "socket/EventLoop.h"

namespace nubo {

class TLoopWorkers {
public:
    using TJob = std::function<std::function<void()>()>;

    TLoopWorkers(TEventLoop& loop, unsigned threads);
    // Waits for the jobs that are running; queued ones and unrun finishing calls are dropped.
    ~TLoopWorkers();
    TLoopWorkers(const TLoopWorkers&) = delete;
    TLoopWorkers& operator=(const TLoopWorkers&) = delete;

    void Run(TJob job);
    // Jobs queued or running.
    size_t Busy() const;

private:
    void Start();
    void Work();
    void TakeDone();

    TEventLoop& loop_;
    unsigned threads_;
    TUniqueFd wake_;
    uint64_t token_ = 0;
    std::vector<std::thread> pool_;
    mutable std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<TJob> queue_;
    std::deque<std::function<void()>> done_;
    size_t running_ = 0;
    bool stop_ = false;
};

} // namespace nubo
