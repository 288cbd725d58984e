#include "socket/LoopWorkers.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <stdexcept>

namespace nubo {

TLoopWorkers::TLoopWorkers(TEventLoop& loop, unsigned threads) : loop_(loop), threads_(threads ? threads : 1) {}

TLoopWorkers::~TLoopWorkers() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
        queue_.clear();
    }
    ready_.notify_all();
    for (auto& t : pool_) t.join();
    if (token_) loop_.Remove(token_);
}

void TLoopWorkers::Start() {
    wake_.Reset(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    if (!wake_) throw std::runtime_error("eventfd for the worker threads failed");
    token_ = loop_.Add(wake_.Get(), ioRead, [this](uint32_t) { TakeDone(); });
    if (!token_) throw std::runtime_error("the event loop refused the worker threads' descriptor");
    for (unsigned i = 0; i < threads_; ++i) pool_.emplace_back([this] { Work(); });
}

void TLoopWorkers::Run(TJob job) {
    if (pool_.empty()) Start();
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(job));
    }
    ready_.notify_one();
}

size_t TLoopWorkers::Busy() const {
    std::lock_guard lock(mutex_);
    return queue_.size() + running_;
}

void TLoopWorkers::Work() {
    for (;;) {
        TJob job;
        {
            std::unique_lock lock(mutex_);
            ready_.wait(lock, [this] { return stop_ || !queue_.empty(); });
            if (stop_) return;
            job = std::move(queue_.front());
            queue_.pop_front();
            ++running_;
        }
        std::function<void()> finish;
        try {
            finish = job();
        } catch (...) {
            // A job reports its own failures through its finishing call; one that throws
            // anyway loses only its result, never the thread.
        }
        {
            std::lock_guard lock(mutex_);
            --running_;
            if (finish) done_.push_back(std::move(finish));
        }
        const uint64_t one = 1;
        (void)!write(wake_.Get(), &one, sizeof one);
    }
}

void TLoopWorkers::TakeDone() {
    uint64_t count;
    (void)!read(wake_.Get(), &count, sizeof count);
    std::deque<std::function<void()>> done;
    {
        std::lock_guard lock(mutex_);
        done.swap(done_);
    }
    for (auto& fn : done) fn();
}

} // namespace nubo
