#pragma once
// Waiting in tests without sleeping blindly: a step is repeated until a condition
// holds or the time is up.

#include <functional>

namespace nubo::test {

// Repeats step until done() holds; false when ms milliseconds passed first.
bool WaitUntil(const std::function<bool()>& done, const std::function<void()>& step, int ms);

// Runs this thread's event loop until done() holds; false after ms milliseconds.
bool RunUntil(const std::function<bool()>& done, int ms = 2000);

// Runs this thread's event loop for a number of rounds, each waiting at most waitMs
// for something to do: for what has no condition to wait for, such as checking that
// nothing happens.
void RunRounds(int rounds, int waitMs = 2);

} // namespace nubo::test
