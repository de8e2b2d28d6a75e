#include "tests/support/PlayerProcess.h"

#include "platform/ui/ListBox.h"
#include "player/Fonts.h"
#include "tests/support/Poll.h"

#include <QFile>
#include <QProcessEnvironment>
#include <QRegularExpression>

bool registerVolumeControl(const QString& library) {
    return QProcess::execute(buildDir() + "/bin/quiva-regsvr", {library}) == 0;
}

QByteArray settingsText(const QString& dir, int height) {
    const QString dirLine = dir.isEmpty() ? QString() : settings::kDirKey + '=' + dir + "/\n";
    return QStringLiteral("[%1]\n%2%3=%4\n")
        .arg(settings::kSection, dirLine, settings::kHeightKey, QString::number(height))
        .toUtf8();
}

PlayerProcess::PlayerProcess(TempTree& tree) : m_programDir(tree.folder("program")) {
    QFile::copy(buildDir() + "/bin/quiva", m_programDir + "/quiva");
}

PlayerProcess::~PlayerProcess() {
    if (m_process.state() != QProcess::NotRunning) {
        m_process.terminate();
        if (!m_process.waitForFinished(3000)) {
            m_process.kill();
            m_process.waitForFinished(3000);
        }
    }
}

QString PlayerProcess::start(const QByteArray& settings) {
    QFile file(settingsFile());
    if (!m_x.running() || !m_windowManager.running() || !file.open(QIODevice::WriteOnly) ||
        file.write(settings) != settings.size() || !file.flush())
        return {};
    auto env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", m_x.display());
    env.insert("QT_QPA_PLATFORM", "xcb");
    m_process.setProcessEnvironment(env);
    if (m_errorFile.isEmpty()) {
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    } else {
        m_process.setProcessChannelMode(QProcess::ForwardedOutputChannel);
        m_process.setStandardErrorFile(m_errorFile);
    }
    m_process.start(m_programDir + "/quiva", {});
    return m_process.waitForStarted(5000) ? waitForWindow() : QString();
}

QString PlayerProcess::waitForWindow() {
    const QString found = runOnDisplay(
        m_x.display(), "timeout",
        {"10", "xdotool", "search", "--sync", "--onlyvisible", "--name", "^Quiva Media Player$"});
    m_windowId = found.section('\n', 0, 0);
    return m_windowId;
}

QRect PlayerProcess::geometry(const QString& windowId) const {
    const QString info = runOnDisplay(m_x.display(), "xwininfo", {"-id", windowId});
    auto field = [&](const char* name) {
        const QRegularExpression re(QString("%1:\\s+(-?\\d+)").arg(name));
        return re.match(info).captured(1).toInt();
    };
    return QRect(field("Absolute upper-left X"), field("Absolute upper-left Y"), field("Width"),
                 field("Height"));
}

QString PlayerProcess::topLevel(const QString& windowId) const {
    const QRegularExpression parentLine("Parent window id: (0x[0-9a-f]+)( \\(the root window\\))?");
    QString id = windowId;
    for (int depth = 0; depth < 8; ++depth) {
        const auto parent =
            parentLine.match(runOnDisplay(m_x.display(), "xwininfo", {"-tree", "-id", id}));
        if (!parent.hasMatch() || !parent.captured(2).isEmpty())
            return id;
        id = QString::number(parent.captured(1).toULongLong(nullptr, 16));
    }
    return id;
}

bool PlayerProcess::alive() {
    return m_process.state() != QProcess::NotRunning && !m_process.waitForFinished(0);
}

bool PlayerProcess::waitForExit(int milliseconds) {
    return m_process.waitForFinished(milliseconds);
}

QString PlayerProcess::xdotool(const QStringList& args) const {
    return runOnDisplay(m_x.display(), "xdotool", args);
}

bool PlayerProcess::openMenu() const {
    const auto shownWindows = [this] {
        return xdotool({"search", "--onlyvisible", "--pid", QString::number(processId())})
            .count('\n');
    };
    const auto before = shownWindows();
    clickAt(layout::Image5);
    return eventually([&] { return shownWindows() > before; });
}

void PlayerProcess::clickAt(int x, int y, int repeat, int button) const {
    const QRect g = geometry(m_windowId);
    xdotool({"mousemove", QString::number(g.x() + x), QString::number(g.y() + y), "click",
             "--repeat", QString::number(repeat), "--delay", "80", QString::number(button)});
}

int PlayerProcess::entryHeight() {
    ListBox list;
    list.setFont(fonts::playlist());
    list.addItem(QStringLiteral("entry"));
    return list.rowHeight();
}

void PlayerProcess::doubleClickEntry(int row) const {
    clickAt(entryPoint(row), 2);
}
