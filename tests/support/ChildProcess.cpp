#include "tests/support/ChildProcess.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

constexpr rlim_t kChildAddressSpaceBytes = rlim_t(1) << 30;
constexpr auto kChildDeadline = std::chrono::seconds(20);

} // namespace

int exitCodeInChild(const std::function<int()>& body, const QString& errorFile) {
    const QByteArray errorPath = errorFile.toLocal8Bit();
    const pid_t child = ::fork();
    if (child == 0) {
        const int fd =
            ::open(errorPath.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        ::dup2(fd, STDERR_FILENO);
        const rlimit memory{kChildAddressSpaceBytes, kChildAddressSpaceBytes};
        if (!kSanitized)
            ::setrlimit(RLIMIT_AS, &memory);
        ::_exit(body());
    }
    if (child < 0)
        return -1;
    const auto deadline = std::chrono::steady_clock::now() + kChildDeadline;
    int status = 0;
    while (::waitpid(child, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
