#include "tests/support/Weston.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QThread>
#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

// Desktop shell with a solid background, no panel, no lock screen, no idle blanking.
QByteArray configFor(QRgb background) {
    return QStringLiteral("[core]\nidle-time=0\n[shell]\nbackground-color=0xff%1\n"
                          "panel-position=none\nlocking=false\n")
        .arg(background & 0xffffff, 6, 16, QLatin1Char('0'))
        .toLatin1();
}

pid_t spawnWeston(const std::vector<std::string>& args, const QString& logFile) {
    std::vector<char*> argv;
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    const QByteArray log = QFile::encodeName(logFile);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, log.constData(), O_WRONLY | O_CREAT, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, "weston", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
}

void stop(pid_t pid) {
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
}

} // namespace

Weston::Weston(int scale) {
    const QString runtimeDir = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!m_dir.isValid() || runtimeDir.isEmpty())
        return;
    static std::atomic<int> serial{0};
    m_socket = QStringLiteral("quiva-weston-%1-%2").arg(getpid()).arg(serial++);
    const QString config = m_dir.filePath("weston.ini");
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly) || file.write(configFor(kBackground)) < 0)
        return;
    file.close();

    const pid_t pid =
        spawnWeston({"weston", "--backend=headless-backend.so", "--use-pixman", "--debug",
                     "--width=1024", "--height=768", "--scale=" + std::to_string(scale),
                     "--socket=" + m_socket.toStdString(), "--config=" + config.toStdString()},
                    m_dir.filePath("weston.log"));
    if (pid < 0)
        return;
    m_pid = pid;
    // Up to ten seconds for the socket and the shell's background.
    for (int i = 0; i < 200; ++i) {
        if (waitpid(pid, nullptr, WNOHANG) == pid)
            break;
        if (QFile::exists(runtimeDir + "/" + m_socket)) {
            const QImage shot = screenshot();
            if (!shot.isNull() && shot.pixel(0, 0) == kBackground)
                return;
        }
        QThread::msleep(50);
    }
    if (waitpid(pid, nullptr, WNOHANG) == 0)
        stop(pid);
    m_pid = -1;
}

Weston::~Weston() {
    if (m_pid > 0)
        stop(m_pid);
}

QImage Weston::screenshot() const {
    QTemporaryDir where;
    QProcess shooter;
    auto env = QProcessEnvironment::systemEnvironment();
    env.insert("WAYLAND_DISPLAY", m_socket);
    shooter.setProcessEnvironment(env);
    shooter.setWorkingDirectory(where.path());
    shooter.start("weston-screenshooter", {});
    if (!shooter.waitForFinished(10000) || shooter.exitStatus() != QProcess::NormalExit ||
        shooter.exitCode() != 0)
        return {};
    const QStringList files = QDir(where.path()).entryList({"*.png"}, QDir::Files);
    if (files.size() != 1)
        return {};
    return QImage(where.filePath(files.first())).convertToFormat(QImage::Format_RGB32);
}
