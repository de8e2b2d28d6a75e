#include "tests/support/Xvfb.h"

#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QThread>
#include <QtEndian>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

// Starts a server program with its output discarded and, when given, `passFd` as its fd 3;
// -1 when it cannot be started.
pid_t spawnQuietly(const std::vector<const char*>& argv, int passFd = -1) {
    std::vector<const char*> args = argv;
    args.push_back(nullptr);
    pid_t pid = -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    if (passFd >= 0)
        posix_spawn_file_actions_adddup2(&actions, passFd, 3);
    const int rc =
        posix_spawnp(&pid, args[0], &actions, nullptr, const_cast<char**>(args.data()), environ);
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
}

// Reads the display number that Xvfb writes once it listens; -1 if none comes in time.
int readDisplayNumber(int fd) {
    std::string text;
    char c = 0;
    pollfd p{fd, POLLIN, 0};
    while (poll(&p, 1, 15000) == 1 && read(fd, &c, 1) == 1 && c != '\n')
        text += c;
    return c == '\n' && !text.empty() ? std::stoi(text) : -1;
}

void stopByPid(pid_t& pid) {
    if (pid <= 0)
        return;
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    pid = -1;
}

} // namespace

// Xvfb picks a free display number itself (-displayfd), so that servers started at the same
// time by tests running side by side never race for one.
Xvfb::Xvfb(QSize screen) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return;
    const std::string geometry =
        std::to_string(screen.width()) + "x" + std::to_string(screen.height()) + "x24";
    const std::string frameBufferDir = m_frameBufferDir.path().toStdString();
    m_pid = spawnQuietly({"Xvfb", "-displayfd", "3", "-screen", "0", geometry.c_str(), "-nolisten",
                          "tcp", "-fbdir", frameBufferDir.c_str()},
                         fds[1]);
    close(fds[1]);
    if (m_pid > 0)
        m_number = readDisplayNumber(fds[0]);
    close(fds[0]);
    if (m_number < 0)
        stopByPid(m_pid);
}

Xvfb::~Xvfb() {
    stopByPid(m_pid);
}

// The file is the server's frame buffer itself (mapped shared), so it is always up to date. Its
// XWD header is big-endian 32-bit fields; the pixels follow the colour map, in the server's byte
// order, which on this machine is that of QImage::Format_RGB32.
QImage Xvfb::screen() const {
    QFile file(m_frameBufferDir.filePath(QStringLiteral("Xvfb_screen0")));
    const QByteArray xwd = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    auto field = [&](int index) {
        return xwd.size() < 100 ? 0u : qFromBigEndian<quint32>(xwd.constData() + 4 * index);
    };
    const qsizetype start = field(0) + qsizetype(field(19)) * 12; // header, then colour map
    const int width = int(field(4)), height = int(field(5)), stride = int(field(12));
    const bool leastSignificantByteFirst = field(7) == 0;
    if (field(11) != 32 || leastSignificantByteFirst != (Q_BYTE_ORDER == Q_LITTLE_ENDIAN) ||
        xwd.size() < start + qsizetype(stride) * height)
        return {};
    return QImage(reinterpret_cast<const uchar*>(xwd.constData() + start), width, height, stride,
                  QImage::Format_RGB32)
        .copy();
}

WindowManager::WindowManager(const QString& display) : m_display(display) {
    const std::string displayVariable = "DISPLAY=" + display.toStdString();
    m_pid = spawnQuietly({"env", displayVariable.c_str(), "openbox", "--sm-disable"});
    for (int i = 0; i < 300 && m_pid > 0 && !managing(); ++i) // up to 15 s on a busy machine
        QThread::msleep(50);
    if (!managing())
        stopByPid(m_pid);
}

WindowManager::~WindowManager() {
    stopByPid(m_pid);
}

bool WindowManager::managing() const {
    // An EWMH window manager announces itself on the root window once it manages the screen.
    return runOnDisplay(m_display, "xprop", {"-root", "_NET_SUPPORTING_WM_CHECK"})
        .contains("window id");
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
