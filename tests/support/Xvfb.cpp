#include "tests/support/Xvfb.h"

#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QThread>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

bool displayTaken(int n) {
    return QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(n)) ||
           QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(n));
}

pid_t spawnXvfb(int n, QSize screen) {
    const std::string display = ":" + std::to_string(n);
    const std::string geometry =
        std::to_string(screen.width()) + "x" + std::to_string(screen.height()) + "x24";
    const char* argv[] = {"Xvfb",           display.c_str(), "-screen", "0",
                          geometry.c_str(), "-nolisten",     "tcp",     nullptr};
    pid_t pid = -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const int rc = posix_spawnp(&pid, "Xvfb", &actions, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
}

} // namespace

Xvfb::Xvfb(QSize screen) {
    for (int n = 20; n < 120 && m_pid < 0; ++n) {
        if (displayTaken(n))
            continue;
        const pid_t pid = spawnXvfb(n, screen);
        if (pid < 0)
            return;
        for (int i = 0; i < 100; ++i) { // up to 5 s for the socket to appear
            if (QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(n))) {
                m_pid = pid;
                m_number = n;
                break;
            }
            if (waitpid(pid, nullptr, WNOHANG) == pid)
                break; // lost a race for this display number: try the next
            QThread::msleep(50);
        }
        if (m_pid < 0 && waitpid(pid, nullptr, WNOHANG) == 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
    }
}

Xvfb::~Xvfb() {
    if (m_pid > 0) {
        kill(m_pid, SIGTERM);
        waitpid(m_pid, nullptr, 0);
    }
}

QString runOnDisplay(const QString& display, const QString& program, const QStringList& args) {
    QProcess p;
    auto env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", display);
    p.setProcessEnvironment(env);
    p.start(program, args);
    if (!p.waitForFinished(10000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return {};
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}
