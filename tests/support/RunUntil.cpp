#include "tests/support/RunUntil.h"

#include "socket/EventLoop.h"

namespace nubo::test {

bool WaitUntil(const std::function<bool()>& done, const std::function<void()>& step, int ms) {
    const uint64_t start = TickCount();
    while (!done()) {
        if (TicksSince(start) > uint64_t(ms)) return false;
        step();
    }
    return true;
}

bool RunUntil(const std::function<bool()>& done, int ms) {
    return WaitUntil(
        done, [] { TEventLoop::Current().RunOnce(10); }, ms);
}

void RunRounds(int rounds, int waitMs) {
    for (int i = 0; i < rounds; ++i) TEventLoop::Current().RunOnce(waitMs);
}

} // namespace nubo::test
