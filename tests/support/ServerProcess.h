#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

// Private servers that tests start for themselves: started without a shell, with their output
// thrown away, and stopped by their PID only.
namespace serverprocess {

// Starts a program (looked up in PATH) with extra environment entries, which win over the
// test's own; standard output and error go to /dev/null. Returns its PID, or -1.
pid_t spawn(const std::vector<std::string>& args, const std::vector<std::string>& extraEnv);

// Stops a child by its PID: SIGTERM, then SIGKILL after two seconds; reaps it. No-op for <= 0.
void stop(pid_t pid);

// Whether something accepts connections on the Unix socket at `path` now.
bool socketAnswers(const std::string& path);

// Waits up to timeoutMs for the child's socket to answer. False when the child ended first or
// the time ran out; the child is gone (reaped, or stopped) either way then.
bool waitForSocket(pid_t pid, const std::string& path, int timeoutMs);

} // namespace serverprocess
