#pragma once

#include <chrono>
#include <thread>

// How long a test waits for something another thread or process is to bring about: ample on a
// loaded machine, and still an end to a hang.
constexpr int kPatienceMs = 20000;

// Polls `done` every `intervalMs` until it holds or `timeoutMs` have passed; whether it came to
// hold. It blocks the calling thread: a test that needs Qt's event loop to run meanwhile waits
// with QTest::qWaitFor instead.
template <typename Condition>
bool eventually(Condition done, int timeoutMs = kPatienceMs, int intervalMs = 20) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(intervalMs));
    }
    return true;
}
