// The shared speed limit on the real loop and its timer: transfers that always have
// data share the rate evenly, a waiter that leaves is never called and gives its grant
// back, and no limit costs nothing.
#include <chrono>
#include <gtest/gtest.h>

#include "engine/RateGate.h"
#include "tests/support/RunUntil.h"

using namespace nubo;
using nubo::test::RunUntil;

namespace {

// A transfer that moves whatever it is allowed, in blocks of at most 64 KiB, and asks
// again at once: always backlogged, as a large download is.
struct TDrawer {
    TRateWaiter W;
    int64_t Moved = 0;
    int Grants = 0;
    bool Stopped = false;
    void Draw() {
        while (!Stopped) {
            const int64_t n = W.Allowed(64 * 1024);
            if (n == 0) return;
            W.Spend(n);
            Moved += n;
        }
    }
    explicit TDrawer(std::shared_ptr<TRateGate> gate) {
        W.Join(std::move(gate));
        W.OnGrant = [this] {
            ++Grants;
            Draw();
        };
    }
};

} // namespace

TEST(RateGate, BackloggedWaitersShareTheRateEvenly) {
    TEventLoop& loop = TEventLoop::Current();
    for (const int64_t rate : {int64_t(20 * 1024), int64_t(8 * 1024 * 1024)}) {
        SCOPED_TRACE(rate);
        auto gate = std::make_shared<TRateGate>(rate, loop);
        TDrawer a(gate), b(gate);
        const auto start = std::chrono::steady_clock::now();
        a.Draw();
        b.Draw();
        RunUntil([] { return false; }, 1000);
        const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        a.Stopped = b.Stopped = true;
        const double total = double(a.Moved + b.Moved);
        // One second of the rate, plus at most the first slice and a slice in hand each.
        EXPECT_GT(total, 0.9 * double(rate) * secs);
        EXPECT_LT(total, double(rate) * secs + 3.0 * double(gate->Slice()));
        EXPECT_NEAR(double(a.Moved) / double(b.Moved), 1.0, 0.15);
        EXPECT_GT(a.Grants, 10);
    }
}

TEST(RateGate, LeavingDropsTheQueuedWaiterAndReturnsItsGrant) {
    TEventLoop& loop = TEventLoop::Current();
    auto gate = std::make_shared<TRateGate>(100 * 1024, loop);
    TRateWaiter a, b;
    int aGrants = 0, bGrants = 0;
    a.OnGrant = [&] { ++aGrants; };
    b.OnGrant = [&] { ++bGrants; };
    a.Join(gate);
    b.Join(gate);
    // a spends until it is queued; b then queues behind it and leaves before its turn.
    for (int64_t n; (n = a.Allowed(1 << 20)) > 0;) a.Spend(n);
    EXPECT_EQ(b.Allowed(1), 0);
    b.Leave();
    ASSERT_TRUE(RunUntil([&] { return aGrants > 0; }, 1000));
    nubo::test::RunRounds(5, 20);
    EXPECT_EQ(bGrants, 0);

    // a leaves without spending its grant: it goes back, and the next one is served at once.
    a.Leave();
    TRateWaiter c;
    c.Join(gate);
    EXPECT_GT(c.Allowed(1), 0);
}

TEST(RateGate, NoGateAllowsEverything) {
    TRateWaiter w;
    EXPECT_FALSE(w.Limited());
    EXPECT_EQ(w.Allowed(256 * 1024), 256 * 1024);
}
