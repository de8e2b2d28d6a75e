#pragma once

#include "tests/support/Poll.h"

#include <QTest>
#include <QTimer>

// Returns once every timer of this thread that was started before this call and is due within
// `intervalMs` has had its turn: the moment a check that nothing ticked waits for, where a fixed
// nap is outrun by a loaded machine. Coarse timers may fire a little late: pass an interval with
// room to spare.
inline bool waitPastTimers(int intervalMs) {
    bool fired = false;
    QTimer::singleShot(intervalMs, Qt::PreciseTimer, [&] { fired = true; });
    return QTest::qWaitFor([&] { return fired; }, kPatienceMs);
}
