#include "tests/support/Weston.h"

#include <QDir>
#include <QFile>
#include <QPainter>
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
    const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
}

void stop(pid_t pid) {
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
}

constexpr QSize kOutput{1024, 768};
// The margin of the pointer's server beside the output's window, by which the pointer leaves it,
// and the corner of the output where the pointer waits between clicks (weston goes on drawing it
// where it last was).
constexpr int kParkedCorner = 32;

bool blank(const QImage& shot) {
    QImage background(shot.size(), shot.format());
    background.fill(Weston::kBackground);
    return shot == background;
}

} // namespace

Weston::Weston(int scale, Input input) {
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

    std::vector<std::string> args = {"weston", "--backend=headless-backend.so"};
    if (input == Input::Pointer) {
        // Room beside the output's window for the pointer to leave it.
        m_outputSize = kOutput * scale;
        m_x = std::make_unique<Xvfb>(m_outputSize + QSize(kParkedCorner, kParkedCorner));
        if (!m_x->running())
            return;
        args = {"env", "DISPLAY=" + m_x->display().toStdString(), "weston",
                "--backend=x11-backend.so"};
    }
    args.insert(args.end(),
                {"--use-pixman", "--debug", "--width=" + std::to_string(kOutput.width()),
                 "--height=" + std::to_string(kOutput.height()), "--scale=" + std::to_string(scale),
                 "--socket=" + m_socket.toStdString(), "--config=" + config.toStdString()});
    const pid_t pid = spawnWeston(args, m_dir.filePath("weston.log"));
    if (pid < 0)
        return;
    m_pid = pid;
    // Up to ten seconds for the socket and the shell's background.
    for (int i = 0; i < 200; ++i) {
        if (waitpid(pid, nullptr, WNOHANG) == pid)
            break;
        if (QFile::exists(runtimeDir + "/" + m_socket)) {
            const QImage shot = screenshot();
            if (!shot.isNull() && shot.pixel(0, 0) == kBackground && (!m_x || blank(shot)))
                return;
            // Weston draws the pointer where the server's pointer started, until it is parked.
            if (m_x)
                movePointer({});
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
    QImage shot = QImage(where.filePath(files.first())).convertToFormat(QImage::Format_RGB32);
    if (m_x && !shot.isNull())
        QPainter(&shot).fillRect(shot.width() - kParkedCorner, shot.height() - kParkedCorner,
                                 kParkedCorner, kParkedCorner, QColor(kBackground));
    return shot;
}

bool Weston::click(QPoint at) const {
    // It comes in beside the point and moves onto it, as a hand does: a menu takes a click on
    // an entry only once the pointer has moved over it.
    return m_x && movePointer({"mousemove", QString::number(at.x() - 1), QString::number(at.y()),
                               "mousemove", QString::number(at.x()), QString::number(at.y()),
                               "click", "1"});
}

// Runs xdotool's commands, the pointer coming into the output's window from outside first, and
// then parks the pointer, again from outside (a move to where the pointer already is tells
// weston nothing).
bool Weston::movePointer(const QStringList& commands) const {
    const QSize screen = m_outputSize + QSize(kParkedCorner, kParkedCorner);
    const QStringList leave = {"mousemove", QString::number(screen.width() - 1),
                               QString::number(screen.height() - 1)};
    const QStringList park = {"mousemove", QString::number(m_outputSize.width() - 1),
                              QString::number(m_outputSize.height() - 1)};
    QProcess xdotool;
    auto env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", m_x->display());
    xdotool.setProcessEnvironment(env);
    xdotool.start("xdotool", leave + commands + leave + park);
    return xdotool.waitForFinished(10000) && xdotool.exitStatus() == QProcess::NormalExit &&
           xdotool.exitCode() == 0;
}
