#include "tests/support/SessionBus.h"

#include "tests/support/ServerProcess.h"

#include <QFile>
#include <cstdlib>

namespace {

QByteArray configuration(const QString& socket) {
    return "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
           " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
           "<busconfig>\n"
           "  <type>session</type>\n"
           "  <listen>unix:path=" +
           socket.toUtf8() +
           "</listen>\n"
           "  <auth>EXTERNAL</auth>\n"
           "  <policy context=\"default\">\n"
           "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
           "    <allow eavesdrop=\"true\"/>\n"
           "    <allow own=\"*\"/>\n"
           "  </policy>\n"
           "</busconfig>\n";
}

} // namespace

SessionBus::SessionBus() {
    if (!m_root.isValid())
        return;
    const QString config = m_root.filePath("session.conf");
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly) || file.write(configuration(m_root.filePath("bus"))) < 0)
        return;
    file.close();
    const pid_t pid = serverprocess::spawn(
        {"dbus-daemon", "--config-file=" + config.toStdString(), "--nofork", "--nopidfile"}, {});
    if (pid > 0 && serverprocess::waitForSocket(pid, m_root.filePath("bus").toStdString(), 5000))
        m_pid = pid;
}

SessionBus::~SessionBus() {
    serverprocess::stop(m_pid);
}

QString SessionBus::address() const {
    return "unix:path=" + m_root.filePath("bus");
}

void SessionBus::exportAddress() const {
    setenv("DBUS_SESSION_BUS_ADDRESS", address().toLocal8Bit().constData(), 1);
}
