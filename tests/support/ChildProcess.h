#pragma once

#include <QString>
#include <functional>

// Runs `body` in a forked child whose standard error goes to the file `errorFile`, and returns
// the child's exit code; -1 when it died of a signal or did not end within 20 seconds (it is
// then killed). For cases whose failure is a hang or a runaway allocation: the child's address
// space is capped at 1 GiB (not under the sanitizers, which reserve more than that up front),
// so a fault fails the case instead of taking the test program or the machine with it.
int exitCodeInChild(const std::function<int()>& body, const QString& errorFile);
