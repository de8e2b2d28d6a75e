#pragma once

#include <QThread>
#include <chrono>

// Polls every 20 ms until `done` holds or timeoutMs have passed; whether it held.
template <typename Condition> bool eventually(Condition done, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        QThread::msleep(20);
    }
    return true;
}
