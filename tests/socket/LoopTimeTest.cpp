// The loop's clock and timers at their limits: the 32-bit tick counter's wrap, and a
// timer started when the process has no descriptor left.
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "socket/EventLoop.h"

using namespace nubo;

TEST(LoopTime, DurationsHoldAcrossTheWrapOfTheTickCounter) {
    // 40 ms before the counter wraps to 0, as after 49.7 days of uptime.
    ShiftTickCount(0x100000000ull - TickCount() - 40);
    const uint64_t before = TickCount();
    ASSERT_GT(before, 0xFFFFFF00ull);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (TickCount() >= before && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_LT(TickCount(), before) << "the counter did not wrap";
    const uint64_t elapsed = TicksSince(before);
    EXPECT_GE(elapsed, 40u);
    EXPECT_LT(elapsed, 2000u); // not 49.7 days
}

TEST(LoopTime, TimerStartsWithTheDescriptorTableFull) {
#ifdef __SANITIZE_ADDRESS__
    // The sanitizers' own checks open descriptors; with none left they report falsely.
    GTEST_SKIP() << "run in the build without sanitizers";
#endif
    TEventLoop loop;
    TLoopTimer timer(loop);
    int fired = 0;
    timer.OnTimer = [&] { ++fired; };
    // A low limit for this process keeps the filling short.
    rlimit saved{};
    getrlimit(RLIMIT_NOFILE, &saved);
    rlimit low = saved;
    low.rlim_cur = 256;
    setrlimit(RLIMIT_NOFILE, &low);
    std::vector<int> fillers;
    for (int fd; (fd = open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;) fillers.push_back(fd);
    const int openError = errno;
    timer.Start(10);
    for (int i = 0; i < 100 && fired == 0; ++i) loop.RunOnce(50);
    timer.Stop();
    for (int fd : fillers) close(fd);
    setrlimit(RLIMIT_NOFILE, &saved);
    EXPECT_EQ(openError, EMFILE);
    EXPECT_GT(fired, 0);
}
