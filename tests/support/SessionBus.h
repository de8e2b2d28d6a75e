#pragma once

#include <QString>
#include <QTemporaryDir>
#include <sys/types.h>

// A private D-Bus session bus for tests: dbus-daemon on a socket in its own folder, with a
// configuration of its own that starts no services (nothing of the host's is activated) and
// lets the test's user own any name and monitor everything. Started in the constructor (ready,
// or running() false), stopped by its PID in the destructor.
class SessionBus {
public:
    SessionBus();
    ~SessionBus();
    SessionBus(const SessionBus&) = delete;
    SessionBus& operator=(const SessionBus&) = delete;

    bool running() const { return m_pid > 0; }
    // The bus address for clients, "unix:path=/.../bus".
    QString address() const;
    // Points this process's clients (and programs it starts) at the bus: sets
    // DBUS_SESSION_BUS_ADDRESS.
    void exportAddress() const;

private:
    QTemporaryDir m_root;
    pid_t m_pid = -1;
};
